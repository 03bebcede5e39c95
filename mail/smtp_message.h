// One outgoing mail: sender, recipient lists, subject and a tree of body parts,
// and the rules that turn them into the exact bytes of an Internet message. The
// same bytes go to the SMTP server (CSMTPSession::SendMessage) or into a queue
// file (SaveToDisk), which the queue monitor later resends as it stands.
//
// How the forwarding step composes a fax mail:
//   CSMTPMessage msg(log);
//   msg.SetSender(CMailAddress(name, address));
//   msg.SetSubject(subject);
//   msg.AddRecipients(recipientText);          // "a@x;B <b@y>"
//   msg.AddTextBody(bodyText);                 // text first ...
//   msg.AddAttachments(pagePaths);             // ... then the pages, "p1.jpg;p2.jpg"
//   session.SendMessage(msg) or msg.SaveToDisk(queueFolder + title + ".eml")
//
// Texts are UTF-8; a part declared "iso-8859-1" is written in ISO-8859-1 bytes,
// or declared and written as "utf-8" when ISO-8859-1 cannot hold it.
// Not thread-safe: a message belongs to the thread that built it.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_log.h"
#include "mail/mail_address.h"
#include "mail/mail_part.h"

namespace kestrel {

class CSMTPMessage {
 public:
  enum RecipientKind { kTo = 0, kCc = 1, kBcc = 2 };

  explicit CSMTPMessage(IEventLog& log);
  virtual ~CSMTPMessage();
  CSMTPMessage(const CSMTPMessage&) = default;

  // CR and LF in the sender or the subject become blanks: no data starts a new
  // header line.
  void SetSender(const CMailAddress& sender);
  const CMailAddress& Sender() const { return sender_; }
  void SetSubject(std::string_view subject);
  const std::string& Subject() const { return subject_; }
  const std::string& XMailer() const { return xMailer_; }

  // Parses `text` with ParseAddressList and appends the entries to the list.
  void AddRecipients(std::string_view text, RecipientKind kind = kTo);
  const std::vector<CMailAddress>& Recipients(RecipientKind kind) const;

  // Single-part mode: the root's text. Multipart mode: the text of the first
  // "text/plain" child, created after any existing children when missing.
  void AddTextBody(std::string_view text);
  // `paths` separated by "," or ";": each readable file becomes the last child
  // (switching multipart mode on); unreadable ones are skipped silently.
  // Returns the number of parts added.
  int AddAttachments(std::string_view paths);
  // Changing the flag discards the root's children; switching on keeps the
  // root's text as the "text/plain" child under a "multipart/mixed" root.
  void SetMultipart(int flag);
  int Multipart() const { return multipart_; }

  CMailPart& RootPart() { return root_; }
  const CMailPart& RootPart() const { return root_; }

  // The header block, each line ended by CR LF, dated now.
  virtual std::string GetHeader() const;
  // The header block with the Date line for `local` (a localtime_r result).
  std::string GetHeader(const std::tm& local) const;

  // True when the body is written as a part tree (children or multipart mode);
  // otherwise the body is SinglePartBody().
  bool UsesPartTree() const { return multipart_ || root_.ChildCount() > 0; }
  // The root's text in its declared charset, with the dot rule applied.
  std::string SinglePartBody() const;

  // Writes the whole message to `path` (a temporary file renamed into place,
  // so a reader never sees half a message). False without an event text when
  // the file cannot be created; false with one event text on a write or part
  // failure. No terminating "." line is written.
  bool SaveToDisk(const std::string& path);
  // Appends `part` (its header unless `isRoot`, body, children, footer) to
  // `file`. A part that cannot be produced writes one event text and ends the
  // walk with false.
  bool WriteToDisk(std::string& file, const CMailPart& part, bool isRoot);

  // The value of the first "To" header (any case) of a queue file's header
  // block, trimmed; " " when the file is missing (event text "Mail file not
  // found!") or empty.
  std::string GetRecipientsFromFile(const std::string& path);

 private:
  IEventLog* log_;
  CMailAddress sender_;
  std::string subject_;
  std::string xMailer_ = "Osprey v2.2.016";
  CMailPart root_;
  std::vector<CMailAddress> to_, cc_, bcc_;
  int multipart_ = 0;
};

// "%a, %d %b %Y %H:%M:%S +hhmm" of `local` with English day and month names
// whatever the locale, the zone from its tm_gmtoff.
std::string FormatMailDate(const std::tm& local);

}  // namespace kestrel

// One outgoing mail: sender, recipient lists, subject and a tree of body parts,
// and the rules that turn them into the exact bytes of an Internet message. The
// same bytes go to the SMTP server (CSMTPSession::SendMessage) or into a queue
// file (SaveToDisk), which the queue monitor later resends as it stands, with
// the same Message-ID, made once per message. A queue file that exists is
// complete: it is written under another name, synced and renamed.
//
// How the forwarding step composes a fax mail:
//   CSMTPMessage msg(log);
//   msg.SetSender(CMailAddress(name, address));
//   msg.SetSubject(subject);
//   msg.AddRecipients(recipientText);          // "a@x;B <b@y>"; bad entries dropped alone
//   msg.AddTextBody(bodyText);                 // text first ...
//   msg.AddAttachment(pagePath);               // ... then the pages, one file each
//   session.SendMessage(msg) or msg.SaveToDisk(queueFolder + title + ".eml")
//
// Texts are UTF-8; a part declared "iso-8859-1" is written in ISO-8859-1 bytes,
// or declared and written as "utf-8" when ISO-8859-1 cannot hold it.
// Failure style: calls return false (or drop what cannot be read) and write
// the event text of the failure to the message's log.
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

  // Replaces the list of `kind`.
  void SetRecipients(RecipientKind kind, std::vector<CMailAddress> list);
  // Parses `text` with ParseAddressList and appends the entries to the list.
  // Each entry that cannot be read is left out with the event text
  // "CSMTPMessage::AddRecipients, Dropped an address that cannot be read: "
  // and the entry; the others are kept. What is kept reads back unchanged
  // from the To header of a queue file (GetRecipientsFromFile).
  void AddRecipients(std::string_view text, RecipientKind kind = kTo);
  const std::vector<CMailAddress>& Recipients(RecipientKind kind) const;

  // Single-part mode: the root's text. Multipart mode: the text of the first
  // "text/plain" child, created after any existing children when missing.
  void AddTextBody(std::string_view text);
  // The file at `path` (any characters, "," and ";" included) becomes the
  // last child, switching multipart mode on. False, silently and with nothing
  // changed, when it is not a regular file whose status can be read.
  bool AddAttachment(const std::string& path);
  // `paths` separated by "," or ";": AddAttachment for each piece, trimmed.
  // Returns the number of parts added.
  int AddAttachments(std::string_view paths);
  // Changing the flag discards the root's children; switching on keeps the
  // root's text as the "text/plain" child under a "multipart/mixed" root.
  void SetMultipart(int flag);
  int Multipart() const { return multipart_; }

  CMailPart& RootPart() { return root_; }
  const CMailPart& RootPart() const { return root_; }

  // "<unique@host>": random, made when the message is constructed, kept by
  // copies and written into every serialisation.
  const std::string& MessageId() const { return messageId_; }
  // Takes `id` as the message's id, so a mail composed again (after a
  // restart) carries the id it had the first time. Refused (false) unless it
  // has the form "<...>" with printable ASCII and no blank inside.
  bool SetMessageId(const std::string& id);

  // The header block, each line ended by CR LF, dated now.
  virtual std::string GetHeader() const;
  // The header block with the Date line for `local` (a localtime_r result).
  std::string GetHeader(const std::tm& local) const;

  // True when the body is written as a part tree (children or multipart mode);
  // otherwise the body is SinglePartBody().
  bool UsesPartTree() const { return multipart_ || root_.ChildCount() > 0; }
  // The root's text in its declared charset, with the dot rule applied.
  std::string SinglePartBody() const;

  // Writes the whole message to `path`: into `path` + ".tmp", synced, renamed
  // into place and the folder synced, so a file under `path` is always
  // complete. Every failure (the file cannot be created or written, an
  // attachment cannot be read, the sync or rename fails) returns false with
  // one event text and leaves nothing under `path` or the temporary name;
  // only a failing sync of the folder after the rename leaves the complete
  // file in place (and still returns false). No terminating "." line.
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
  std::string messageId_;
};

// The bytes of a queue file with `recipients` in place of its To header (the
// first one, as GetRecipientsFromFile reads it, with its folded lines), or in
// a To header put in front when it has none. The rest stays byte for byte.
std::string WithToHeader(std::string_view fileBytes, const std::vector<CMailAddress>& recipients);

// "%a, %d %b %Y %H:%M:%S +hhmm" of `local` with English day and month names
// whatever the locale, the zone from its tm_gmtoff.
std::string FormatMailDate(const std::tm& local);

}  // namespace kestrel

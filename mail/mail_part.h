// One body part of an outgoing mail: a text part or a file attachment, with an
// ordered list of owned child parts. A part produces the exact bytes of its
// header, body and closing boundary; the message and the SMTP session only put
// them in order. Attachment files are read whole at each serialisation; their
// names may hold any character and are written as one header value each.
//
// Failures are returned as Result<std::string>: an attachment file that cannot
// be read (step = its path, text = the system's reason).
// Not thread-safe: a part belongs to the thread that built its message.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace kestrel {

class CMailPart {
 public:
  CMailPart();
  ~CMailPart();
  // Copies are deep and keep the boundaries of the parts they copy.
  CMailPart(const CMailPart& other);
  CMailPart& operator=(const CMailPart& other);
  CMailPart(CMailPart&& other) noexcept;
  CMailPart& operator=(CMailPart&& other) noexcept;

  // A text part: line ends normalised to CR LF (CR LF, lone CR and lone LF all
  // count as one), content type "text/plain". `text` is UTF-8.
  void SetText(std::string_view text);
  // An attachment with the media type its name's end says, any letter case
  // (".pdf", ".jpg"/".jpeg", ".png", ".tif"/".tiff"), which mail clients then
  // show inline, else "application/octet-stream"; false (and nothing changed) when `path` is not a readable
  // regular file's status.
  bool SetFromFile(const std::string& path);

  // Appends a deep copy of `part` as the last child, with this part as parent.
  void AddChild(const CMailPart& part);
  void RemoveAllChildren();
  // The first child whose content type equals `type` exactly, or nullptr.
  CMailPart* FindFirstChildOfContentType(std::string_view type);

  // The bytes of the part header (starting with its parent's boundary line);
  // a part without parent has none and fails. An attachment's title follows name= as
  // it stands when it is a MIME token, quoted otherwise; filename= is always
  // quoted ('"' and '\' escaped). Control characters in the title are blanks.
  Result<std::string> GetHeader() const;
  // The bytes of the body: a text part as quoted-printable (when its flag is
  // set) with the dot rule applied; an attachment as base64 lines of 76
  // characters, each ended by CR LF. Fails when the attachment file cannot
  // be read.
  Result<std::string> GetBody() const;
  // The closing boundary line "\r\n--boundary--" of a part with children;
  // empty otherwise.
  std::string GetFooter() const;

  // The text in the bytes of the charset the part is declared with, and that
  // charset ("utf-8" when "iso-8859-1" cannot hold the text).
  std::string DeclaredCharset() const;
  std::string TextBytes() const;

  const std::string& FilePath() const { return filePath_; }
  const std::string& FileTitle() const { return fileTitle_; }
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(std::string type) { contentType_ = std::move(type); }
  const std::string& Charset() const { return charset_; }
  void SetCharset(std::string charset) { charset_ = std::move(charset); }
  const std::string& Text() const { return text_; }
  const std::string& Boundary() const { return boundary_; }
  int QuotedPrintable() const { return quotedPrintable_; }
  void SetQuotedPrintable(int flag) { quotedPrintable_ = flag; }

  size_t ChildCount() const { return children_.size(); }
  const CMailPart& Child(size_t i) const { return *children_[i]; }
  CMailPart& Child(size_t i) { return *children_[i]; }
  const CMailPart* Parent() const { return parent_; }

 private:
  void CopyFrom(const CMailPart& other);
  void AdoptChildren();

  std::string filePath_;
  std::string fileTitle_;
  std::string contentType_ = "text/plain";
  std::string charset_ = "iso-8859-1";
  std::string text_;
  std::vector<std::unique_ptr<CMailPart>> children_;
  CMailPart* parent_ = nullptr;
  std::string boundary_;
  int quotedPrintable_ = 1;
};

// A random version-4 UUID in its 36-character lower-case form.
std::string NewBoundaryUuid();

}  // namespace kestrel

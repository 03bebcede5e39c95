#include "mail/mail_part.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mail/base64_codec.h"
#include "mail/mail_error.h"
#include "mail/mime_encoding.h"

namespace kestrel {
namespace {

constexpr size_t kBase64LineLength = 76;

// The media types an attachment is announced with, by the end of its name, so
// that mail programs and phones show the pages; anything else (the SFF among
// them) goes as "application/octet-stream".
struct AttachmentType {
  const char* extension;
  const char* contentType;
};
constexpr AttachmentType kAttachmentTypes[] = {
    {".pdf", "application/pdf"}, {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},
    {".png", "image/png"},       {".tif", "image/tiff"}, {".tiff", "image/tiff"},
};

std::string AttachmentContentType(const std::string& name) {
  for (const AttachmentType& type : kAttachmentTypes) {
    const std::string_view extension = type.extension;
    if (name.size() < extension.size()) continue;
    bool same = true;
    for (size_t i = 0; i < extension.size() && same; ++i) {
      const char c = name[name.size() - extension.size() + i];
      same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == extension[i];
    }
    if (same) return type.contentType;
  }
  return "application/octet-stream";
}

// The whole content of `path`, or the system's reason why not.
Result<std::string> ReadWholeFile(const std::string& path) {
  auto failed = [&] { return Failure{path, SystemErrorText(errno)}; };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed();
  std::string out;
  char block[65536];
  for (;;) {
    ssize_t n = ::read(fd, block, sizeof(block));
    if (n < 0) {
      if (errno == EINTR) continue;
      Failure failure = failed();
      ::close(fd);
      return failure;
    }
    if (n == 0) break;
    out.append(block, size_t(n));
  }
  ::close(fd);
  return out;
}

// A parameter value of a header line: bare when it is a token, otherwise a
// quoted string, so that a file title with blanks, ";" or "," stays one value.
bool IsToken(std::string_view value) {
  constexpr std::string_view kSpecials = "()<>@,;:\\\"/[]?= \t";
  return !value.empty() && value.find_first_of(kSpecials) == std::string_view::npos;
}

std::string Quoted(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string ParameterValue(std::string_view value) { return IsToken(value) ? std::string(value) : Quoted(value); }

std::string NormalisedLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string NewBoundaryUuid() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof(b)) {
    ssize_t n = ::getrandom(b + got, sizeof(b) - got, 0);
    if (n > 0)
      got += size_t(n);
    else if (errno != EINTR)
      break;
  }
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof(text), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

CMailPart::CMailPart() : boundary_(NewBoundaryUuid()) {}
CMailPart::~CMailPart() = default;

CMailPart::CMailPart(const CMailPart& other) { CopyFrom(other); }

CMailPart& CMailPart::operator=(const CMailPart& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

CMailPart::CMailPart(CMailPart&& other) noexcept
    : filePath_(std::move(other.filePath_)),
      fileTitle_(std::move(other.fileTitle_)),
      contentType_(std::move(other.contentType_)),
      charset_(std::move(other.charset_)),
      text_(std::move(other.text_)),
      children_(std::move(other.children_)),
      boundary_(std::move(other.boundary_)),
      quotedPrintable_(other.quotedPrintable_) {
  AdoptChildren();
}

CMailPart& CMailPart::operator=(CMailPart&& other) noexcept {
  if (this != &other) {
    filePath_ = std::move(other.filePath_);
    fileTitle_ = std::move(other.fileTitle_);
    contentType_ = std::move(other.contentType_);
    charset_ = std::move(other.charset_);
    text_ = std::move(other.text_);
    children_ = std::move(other.children_);
    boundary_ = std::move(other.boundary_);
    quotedPrintable_ = other.quotedPrintable_;
    AdoptChildren();
  }
  return *this;
}

void CMailPart::CopyFrom(const CMailPart& other) {
  filePath_ = other.filePath_;
  fileTitle_ = other.fileTitle_;
  contentType_ = other.contentType_;
  charset_ = other.charset_;
  text_ = other.text_;
  boundary_ = other.boundary_;
  quotedPrintable_ = other.quotedPrintable_;
  children_.clear();
  for (const auto& child : other.children_) children_.push_back(std::make_unique<CMailPart>(*child));
  AdoptChildren();
}

void CMailPart::AdoptChildren() {
  for (auto& child : children_) child->parent_ = this;
}

void CMailPart::SetText(std::string_view text) {
  text_ = NormalisedLineEnds(text);
  contentType_ = "text/plain";
}

bool CMailPart::SetFromFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  filePath_ = path;
  size_t slash = path.find_last_of('/');
  // The title goes into name= and filename=: a control character there could
  // end the header line.
  fileTitle_ = OneLine(slash == std::string::npos ? path : path.substr(slash + 1));
  contentType_ = AttachmentContentType(fileTitle_);
  return true;
}

void CMailPart::AddChild(const CMailPart& part) {
  children_.push_back(std::make_unique<CMailPart>(part));
  children_.back()->parent_ = this;
}

void CMailPart::RemoveAllChildren() { children_.clear(); }

CMailPart* CMailPart::FindFirstChildOfContentType(std::string_view type) {
  for (auto& child : children_)
    if (child->contentType_ == type) return child.get();
  return nullptr;
}

std::string CMailPart::DeclaredCharset() const {
  if (!filePath_.empty()) return charset_;
  return InDeclaredCharset(text_, charset_).charset;
}

std::string CMailPart::TextBytes() const { return InDeclaredCharset(text_, charset_).bytes; }

Result<std::string> CMailPart::GetHeader() const {
  if (!parent_) return Failure{"header", "the root part has no header of its own"};
  const std::string& parentBoundary = parent_->boundary_;
  std::string out;
  if (!filePath_.empty()) {
    // Binary content has no character set.
    out = "\r\n\r\n--" + parentBoundary + "\r\nContent-Type: " + contentType_ + "; name=" + ParameterValue(fileTitle_);
    if (!children_.empty()) out += "; Boundary=\"" + boundary_ + "\"";
    out += "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" + Quoted(fileTitle_) +
           "\r\n";
  } else {
    out = "\r\n--" + parentBoundary + "\r\nContent-Type: " + contentType_ + "; charset=" + DeclaredCharset();
    if (!children_.empty()) out += "; Boundary=\"" + boundary_ + "\"";
    out += "\r\n";
    if (quotedPrintable_) out += "Content-Transfer-Encoding: quoted-printable\r\n";
  }
  out += "\r\n";
  return out;
}

Result<std::string> CMailPart::GetBody() const {
  if (filePath_.empty()) {
    std::string bytes = TextBytes();
    return DoubleLeadingDots(quotedPrintable_ ? QuotedPrintableEncode(bytes) : bytes);
  }
  Result<std::string> content = ReadWholeFile(filePath_);
  if (!content) return content;
  std::string encoded = CBase64Codec::Encode(*content);
  std::string out;
  out.reserve(encoded.size() + encoded.size() / kBase64LineLength * 2 + 2);
  for (size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
    out.append(encoded, i, kBase64LineLength);
    out += "\r\n";
  }
  return out;
}

std::string CMailPart::GetFooter() const { return children_.empty() ? std::string() : "\r\n--" + boundary_ + "--"; }

}  // namespace kestrel

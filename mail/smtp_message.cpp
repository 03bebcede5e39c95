#include "mail/smtp_message.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <strings.h>
#include <unistd.h>

#include "mail/mail_error.h"
#include "mail/mime_encoding.h"

namespace kestrel {
namespace {

constexpr char kPreamble[] = "This is a multi-part message in MIME format";

// The host part of a Message-ID: this computer's name, keeping only what a
// domain may hold.
std::string MessageIdHost() {
  char name[256] = {};
  std::string host;
  if (::gethostname(name, sizeof(name) - 1) == 0)
    for (const char* c = name; *c; ++c)
      if (std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' || *c == '.') host += *c;
  return host.empty() ? "localhost" : host;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

// The printed form of `address` for a header: only the display name becomes an
// encoded word, so the address itself stays readable to every mail program.
// A plain name is quoted where it holds more than words, so that the list
// reads back as the same addresses.
std::string HeaderAddress(const CMailAddress& address, std::string_view charset) {
  if (address.Name().empty()) return address.Address();
  const std::string name = EncodeHeaderWord(address.Name(), charset, true);
  return (name == address.Name() ? DisplayNameForm(name) : name) + " <" + address.Address() + ">";
}

std::string HeaderAddressList(const std::vector<CMailAddress>& list, std::string_view charset) {
  std::string out;
  for (const CMailAddress& a : list) {
    if (!out.empty()) out += ",";
    out += HeaderAddress(a, charset);
  }
  return out;
}

// Whether `line` (without its line end) opens a To header the way
// GetRecipientsFromFile finds it.
bool IsToHeaderLine(std::string_view line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t') return false;
  const std::string trimmed = TrimmedText(line);
  const size_t colon = trimmed.find(':');
  return colon != std::string::npos &&
         strcasecmp(TrimmedText(std::string_view(trimmed).substr(0, colon)).c_str(), "TO") == 0;
}

}  // namespace

std::string FormatMailDate(const std::tm& local) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offsetMinutes = local.tm_gmtoff / 60;
  char sign = offsetMinutes < 0 ? '-' : '+';
  long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  const char* day = (local.tm_wday >= 0 && local.tm_wday < 7) ? kDays[local.tm_wday] : "Sun";
  const char* month = (local.tm_mon >= 0 && local.tm_mon < 12) ? kMonths[local.tm_mon] : "Jan";
  char text[64];
  std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", day, local.tm_mday, month,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign, absMinutes / 60,
                absMinutes % 60);
  return text;
}

CSMTPMessage::CSMTPMessage(IEventLog& log)
    : log_(&log), messageId_("<" + NewBoundaryUuid() + "@" + MessageIdHost() + ">") {}
CSMTPMessage::~CSMTPMessage() = default;

void CSMTPMessage::SetSender(const CMailAddress& sender) {
  sender_ = CMailAddress(WithoutLineBreaks(sender.Name()), WithoutLineBreaks(sender.Address()));
}

void CSMTPMessage::SetSubject(std::string_view subject) { subject_ = WithoutLineBreaks(std::string(subject)); }

void CSMTPMessage::AddRecipients(std::string_view text, RecipientKind kind) {
  std::vector<CMailAddress>& list = kind == kCc ? cc_ : kind == kBcc ? bcc_ : to_;
  std::vector<std::string> unreadable;
  for (CMailAddress& a : ParseAddressList(text, &unreadable)) list.push_back(std::move(a));
  for (const std::string& entry : unreadable)
    log_->WriteEventText(OneLine("CSMTPMessage::AddRecipients, Dropped an address that cannot be read: " + entry));
}

void CSMTPMessage::SetRecipients(RecipientKind kind, std::vector<CMailAddress> list) {
  (kind == kCc ? cc_ : kind == kBcc ? bcc_ : to_) = std::move(list);
}

const std::vector<CMailAddress>& CSMTPMessage::Recipients(RecipientKind kind) const {
  return kind == kCc ? cc_ : kind == kBcc ? bcc_ : to_;
}

void CSMTPMessage::AddTextBody(std::string_view text) {
  if (!multipart_) {
    root_.SetText(text);
    return;
  }
  if (CMailPart* body = root_.FindFirstChildOfContentType("text/plain")) {
    body->SetText(text);
    return;
  }
  root_.SetText(kPreamble);
  root_.SetContentType("multipart/mixed");
  CMailPart part;
  part.SetCharset(root_.Charset());
  part.SetText(text);
  root_.AddChild(part);
}

bool CSMTPMessage::AddAttachment(const std::string& path) {
  CMailPart part;
  if (!part.SetFromFile(path)) return false;
  SetMultipart(1);
  root_.AddChild(part);
  return true;
}

int CSMTPMessage::AddAttachments(std::string_view paths) {
  int added = 0;
  for (const std::string& path : SplitList(paths))
    if (AddAttachment(path)) ++added;
  return added;
}

void CSMTPMessage::SetMultipart(int flag) {
  if (flag == multipart_) return;
  multipart_ = flag;
  root_.RemoveAllChildren();
  if (flag) {
    std::string kept = root_.Text();
    root_.SetText(kPreamble);
    root_.SetContentType("multipart/mixed");
    if (!kept.empty()) AddTextBody(kept);
  }
}

bool CSMTPMessage::SetMessageId(const std::string& id) {
  if (id.size() < 3 || id.size() > 250 || id.front() != '<' || id.back() != '>') return false;
  for (std::size_t n = 1; n + 1 < id.size(); ++n)
    if (id[n] <= ' ' || id[n] > '~' || id[n] == '<' || id[n] == '>') return false;
  messageId_ = id;
  return true;
}

std::string CSMTPMessage::GetHeader() const {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return GetHeader(local);
}

std::string CSMTPMessage::GetHeader(const std::tm& local) const {
  const std::string& charset = root_.Charset();
  std::string out = "From: " + HeaderAddress(sender_, charset) + "\r\n";
  out += "To: " + HeaderAddressList(to_, charset) + "\r\n";
  std::string cc = HeaderAddressList(cc_, charset);
  if (!cc.empty()) out += "Cc: " + cc + "\r\n";
  out += "Subject: " + EncodeHeaderWord(subject_, charset) + "\r\n";
  out += "Date: " + FormatMailDate(local) + "\r\n";
  out += "X-Mailer: " + xMailer_ + "\r\n";
  out += "Message-ID: " + messageId_ + "\r\n";
  if (multipart_) {
    // A multipart entity takes no transfer encoding of its own; its text
    // part announces quoted-printable itself.
    out += "MIME-Version: 1.0\r\nContent-Type: " + root_.ContentType();
    if (root_.ChildCount() > 0) out += "; boundary=\"" + root_.Boundary() + "\"";
    out += "\r\n";
  } else {
    out += "Content-Type: " + root_.ContentType() + ";\r\n\tcharset=" + root_.DeclaredCharset() + "\r\n";
  }
  return out;
}

std::string CSMTPMessage::SinglePartBody() const { return DoubleLeadingDots(root_.TextBytes()); }

bool CSMTPMessage::WriteToDisk(std::string& file, const CMailPart& part, bool isRoot) {
  if (!isRoot) {
    const Result<std::string> header = part.GetHeader();
    if (!header) {
      log_->WriteEventText(
          "CSMTPMessage::WriteToDisk, Failed in call to send body parts header, GetLastError returns: ");
      return false;
    }
    file += *header;
  }
  const Result<std::string> body = part.GetBody();
  if (!body) {
    log_->WriteEventText("CSMTPMessage::WriteToDisk, Failed in call to send body parts body, GetLastError returns: " +
                         body.Error().text);
    return false;
  }
  file += *body;
  for (size_t i = 0; i < part.ChildCount(); ++i)
    if (!WriteToDisk(file, part.Child(i), false)) return false;
  file += part.GetFooter();
  return true;
}

bool CSMTPMessage::SaveToDisk(const std::string& path) {
  const std::string temp = path + ".tmp";
  auto fail = [&](int fd, const char* text) {
    log_->WriteEventText(OneLine(text + path));
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  constexpr const char* kWriteFailed =
      "CSMTPMessage::SaveToDisk, A file exception occured while trying to save the message to file ";
  constexpr const char* kCloseFailed =
      "CSMTPMessage::SaveToDisk, A file exception occured while closing the file when saving the message to file ";

  // Not following a link at the temporary name keeps the write inside the
  // queue folder.
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640);
  if (fd < 0) {
    log_->WriteEventText(OneLine(kWriteFailed + path));
    return false;
  }
  std::string bytes = GetHeader() + "\r\n";
  bool produced = UsesPartTree() ? WriteToDisk(bytes, root_, true) : (bytes += SinglePartBody(), true);
  if (!produced) {  // WriteToDisk has said which part
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  if (!WriteAll(fd, bytes)) return fail(fd, kWriteFailed);
  // The data must be on disk before the name says the file is complete.
  if (::fsync(fd) != 0) return fail(fd, kCloseFailed);
  if (::close(fd) != 0) return fail(-1, kCloseFailed);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail(-1, kCloseFailed);
  // And the rename must be on disk before the caller forgets the mail.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool synced = dir >= 0 && (::fsync(dir) == 0 || errno == EINVAL);
  if (dir >= 0) ::close(dir);
  if (!synced) {
    log_->WriteEventText(OneLine(kCloseFailed + path));
    return false;
  }
  return true;
}

std::string WithToHeader(std::string_view fileBytes, const std::vector<CMailAddress>& recipients) {
  std::string header = "To: ";
  for (size_t i = 0; i < recipients.size(); ++i) header += (i ? "," : "") + recipients[i].PrintedForm();
  header += "\r\n";
  // One line of the header block at a time: [start, next), its text up to the line end.
  auto lineAt = [&](size_t start) {
    const size_t end = fileBytes.find('\n', start);
    return end == std::string_view::npos ? fileBytes.size() : end + 1;
  };
  for (size_t start = 0; start < fileBytes.size();) {
    const size_t next = lineAt(start);
    const std::string_view line = fileBytes.substr(start, next - start);
    if (TrimmedText(line).empty()) break;  // end of the header block
    if (IsToHeaderLine(line)) {
      size_t after = next;
      while (after < fileBytes.size() && (fileBytes[after] == ' ' || fileBytes[after] == '\t') &&
             !TrimmedText(fileBytes.substr(after, lineAt(after) - after)).empty())
        after = lineAt(after);
      return std::string(fileBytes.substr(0, start)) + header + std::string(fileBytes.substr(after));
    }
    start = next;
  }
  return header + std::string(fileBytes);
}

std::string CSMTPMessage::GetRecipientsFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    log_->WriteEventText("Mail file not found!");
    return " ";
  }
  std::string line;
  while (std::getline(in, line)) {
    std::string trimmed = TrimmedText(line);
    if (trimmed.empty()) break;  // end of the header block
    if (IsToHeaderLine(line)) return TrimmedText(std::string_view(trimmed).substr(trimmed.find(':') + 1));
  }
  return " ";
}

}  // namespace kestrel

// kestrel.xml through pugixml: the export builds the element tree and replaces
// the file atomically; the import parses the whole (untrusted) file and reads
// each value as its element's text. The password element's two forms are
// defined here, beside their writer.
#include "core/settings_file.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <pugixml.hpp>
#include <sstream>
#include <string_view>

#include "core/event_log.h"
#include "core/version.h"
#include "platform/atomic_file.h"

namespace kestrel {
namespace {

// The mark of the hexadecimal password form: U+017F, UTF-8 bytes C5 BF.
// Older files can never hold the byte C5 there: their element is a UTF-8
// password shifted by 5, and UTF-8 has no byte C0 that could become C5.
constexpr const char* kHexPasswordMark = "\xC5\xBF";

const char* Bool(std::int32_t flag) { return flag ? "TRUE" : "FALSE"; }

// "%d" semantics: leading white space, an optional sign, digits. Values beyond
// the 32-bit range are clamped rather than left undefined.
std::optional<std::int32_t> ScanInt(const char* text) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text) return std::nullopt;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<std::int32_t>(v);
}

class CSettingsReader {
 public:
  explicit CSettingsReader(const pugi::xml_document& doc) : doc_(doc) {}

  // The text of Kestrel/Settings/<name>, or nothing when the element is missing.
  std::optional<std::string> Lookup(const char* name) const {
    pugi::xml_node node = doc_.child("Kestrel").child("Settings").child(name);
    if (!node) return std::nullopt;
    return std::string(node.text().get());
  }

 private:
  const pugi::xml_document& doc_;
};

// The byte shift of the password element: reversed, each byte plus `shift`
// modulo 256.
std::string ShiftReversed(std::string_view bytes, int shift) {
  std::string out(bytes.rbegin(), bytes.rend());
  for (char& c : out) c = static_cast<char>(static_cast<unsigned char>(c) + shift);
  return out;
}

// Shifted by 5, these bytes stay printable ASCII (0x25 to 0x7F), as the
// element has always held them; "{|}~" would become bytes 0x80 to 0x83.
bool ShiftsToAscii(std::string_view password) {
  for (char c : password) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 'z') return false;
  }
  return true;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

}  // namespace

std::string SettingsFilePath(const std::string& appFolder) { return appFolder + "kestrel.xml"; }

// The element's text. An empty password is " ". A password of printable ASCII
// other than "{|}~" is written as it always was: reversed, each byte plus 5.
// Any other password would come out as bytes that are not UTF-8 (or not XML
// characters), so it is written as U+017F followed by the same shifted bytes
// in upper-case hexadecimal: "\xC3\xA4{|}~" becomes "\xC5\xBF" "83828180A9C8".
std::string ScramblePassword(const std::string& password) {
  if (password.empty()) return " ";
  std::string shifted = ShiftReversed(password, 5);
  if (ShiftsToAscii(password)) return shifted;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = kHexPasswordMark;
  for (char c : shifted) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 0x0F];
  }
  return out;
}

std::string UnscramblePassword(const std::string& stored) {
  if (stored == " ") return {};
  const std::string_view mark = kHexPasswordMark;
  if (stored.compare(0, mark.size(), mark) == 0) {
    if (auto shifted = FromHex(std::string_view(stored).substr(mark.size())))
      return ShiftReversed(*shifted, -5);
  }
  return ShiftReversed(stored, -5);
}

int ImportSettings(const std::string& path, ServiceSettings& s, IEventLog& log) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    log.WriteEventText("File was not found");
    return -static_cast<int>(pugi::status_file_not_found);
  }
  std::ostringstream raw;
  raw << in.rdbuf();
  const std::string bytes = raw.str();

  pugi::xml_document doc;
  pugi::xml_parse_result result =
      doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
  if (!result) {
    log.WriteEventText(result.description());
    // Line and position of the offending byte, both counted from 1.
    size_t offset = result.offset < 0 ? 0 : std::min(bytes.size(), static_cast<size_t>(result.offset));
    int line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
      if (bytes[i] == '\n') { ++line; column = 1; } else { ++column; }
    }
    if (line > 0) {
      char buf[64];
      std::snprintf(buf, sizeof(buf), "Error on line %d, position %d in \"", line, column);
      log.WriteEventText(std::string(buf) + path + "\".");
    }
    return -static_cast<int>(result.status);
  }
  log.WriteEventText("Settings file loaded successfully");

  CSettingsReader r(doc);
  if (!doc.child("Kestrel").child("Version")) return 1;

  auto callerFilter = r.Lookup("CallerIDFiltering");
  if (!callerFilter) return 1;
  s.RejectCallerID = *callerFilter == "TRUE";

  auto imageFormat = r.Lookup("ImageFormat");
  if (!imageFormat) return 1;
  auto imageScale = r.Lookup("ImageScale");
  if (!imageScale) return 1;
  auto useImageScale = r.Lookup("UseImageScale");
  if (!useImageScale) return 1;
  auto receiverId = r.Lookup("ReceiverID");
  if (!receiverId) return 1;
  auto header = r.Lookup("EmailHeader");
  if (!header) return 1;
  auto address = r.Lookup("EmailAddress");
  if (!address) return 1;
  auto database = r.Lookup("Database");
  if (!database) return 1;
  auto name = r.Lookup("EmailName");
  if (!name) return 1;
  auto port = r.Lookup("SmtpPortReceive");
  if (!port) return 1;
  auto server = r.Lookup("SmtpServerReceive");
  if (!server) return 1;

  s.Name = *name;
  s.ODBCConnect = *database;
  s.Number = *receiverId;
  if (auto v = ScanInt(port->c_str())) s.SMTPPort = *v;
  s.Address = *address;
  s.SMTPServer = *server;
  s.Header = *header;

  auto emailAll = r.Lookup("EmailAll");
  if (!emailAll) return 1;
  s.EmailAll = *emailAll;
  s.UseImageScale = *useImageScale == "TRUE";
  if (auto v = ScanInt(imageFormat->c_str())) s.ImageFormat = ImageFormatFromNumber(*v);
  if (auto v = ScanInt(imageScale->c_str())) s.ImageScaleX = *v;

  auto faxDir = r.Lookup("FaxDir");
  if (!faxDir) return 1;
  s.ReceivedDir = *faxDir;

  auto msnAll = r.Lookup("MSNAll");
  if (!msnAll) return 1;
  s.All = *msnAll == "TRUE";

  // The SMTP login, so that a restart keeps it.
  auto method = r.Lookup("UseReceiverAuthentification");
  if (!method) return 1;
  if (auto v = ScanInt(method->c_str())) s.AuthenticationMethod = *v;
  auto user = r.Lookup("ReceiverUserName");
  if (!user) return 1;
  s.SMTP_User = *user;
  auto pass = r.Lookup("ReceiverPassword");
  if (!pass) return 1;
  s.SMTP_Pass = UnscramblePassword(*pass);

  // The connection security came later: a file without it reads as plain
  // SMTP without further certificates.
  s.SMTPSecurity = 0;
  s.SMTPCAFile.clear();
  if (auto security = r.Lookup("SmtpSecurity"))
    if (auto v = ScanInt(security->c_str())) s.SMTPSecurity = *v;
  if (auto caFile = r.Lookup("SmtpCAFile")) s.SMTPCAFile = *caFile;
  // So did the PDF's text layer: without the element it is off.
  s.OcrLanguages.clear();
  if (auto languages = r.Lookup("OcrLanguages")) s.OcrLanguages = *languages;
  return 0;
}

int ExportSettings(const std::string& path, const ServiceSettings& s, IEventLog& log) {
  log.WriteEventText("Build Settings begin");
  int status = -1;
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("Kestrel");
  pugi::xml_node version = root ? root.append_child("Version") : pugi::xml_node();
  pugi::xml_node settings = version ? root.append_child("Settings") : pugi::xml_node();
  bool ok = settings && version.text().set(kProductVersion);

  const std::pair<const char*, std::string> elements[] = {
      {"ImageFormat", std::to_string(ImageFormatNumber(s.ImageFormat))},
      {"ImageScale", std::to_string(s.ImageScaleX)},
      {"CallerIDFiltering", Bool(s.RejectCallerID)},
      {"ReceiverID", s.Number},
      {"Database", s.ODBCConnect},
      {"EmailAddress", s.Address},
      {"EmailName", s.Name},
      {"EmailHeader", s.Header},
      {"SmtpPortReceive", std::to_string(s.SMTPPort)},
      {"SmtpServerReceive", s.SMTPServer},
      {"UseReceiverAuthentification", std::to_string(s.AuthenticationMethod)},
      {"ReceiverPassword", ScramblePassword(s.SMTP_Pass)},
      {"ReceiverUserName", s.SMTP_User},
      {"EmailAll", s.All ? s.EmailAll : std::string(" ")},
      {"UseImageScale", Bool(s.UseImageScale)},
      {"FaxDir", s.ReceivedDir},
      {"MSNAll", Bool(s.All)},
      {"SmtpSecurity", std::to_string(s.SMTPSecurity)},
      {"SmtpCAFile", s.SMTPCAFile},
      {"OcrLanguages", s.OcrLanguages},
  };
  for (const auto& [name, value] : elements) {
    if (!ok) break;
    pugi::xml_node e = settings.append_child(name);
    ok = e && e.append_child(pugi::node_pcdata).set_value(value.c_str());
  }

  if (ok) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    if (WriteFileAtomically(path, out.str(), 0600)) status = 0;
  }
  log.WriteEventText("Build Settings end");
  return status;
}

}  // namespace kestrel

// kestrel.xml through pugixml: the export builds the element tree from the
// settings table and replaces the file atomically; the import parses the
// whole (untrusted) file and checks each element's text against its row
// before any value is taken. The password element's two forms are defined
// here, beside their writer.
#include "core/settings_file.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <pugixml.hpp>
#include <sstream>
#include <string_view>

#include "core/event_log.h"
#include "core/setting_table.h"
#include "core/version.h"
#include "platform/atomic_file.h"

namespace kestrel {
namespace {

// The mark of the hexadecimal password form: U+017F, UTF-8 bytes C5 BF.
// Older files can never hold the byte C5 there: their element is a UTF-8
// password shifted by 5, and UTF-8 has no byte C0 that could become C5.
constexpr const char* kHexPasswordMark = "\xC5\xBF";

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
    if (auto shifted = FromHex(std::string_view(stored).substr(mark.size()))) return ShiftReversed(*shifted, -5);
  }
  return ShiftReversed(stored, -5);
}

Status ImportSettings(const std::string& path, ServiceSettings& settings, IEventLog& log) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    log.WriteEventText("File was not found");
    return Status::Failed(path, "File was not found");
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
      if (bytes[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    char buf[64];
    std::snprintf(buf, sizeof(buf), "Error on line %d, position %d in \"", line, column);
    log.WriteEventText(std::string(buf) + path + "\".");
    return Status::Failed(path, std::string(result.description()) + " (line " + std::to_string(line) + ", position " +
                                    std::to_string(column) + ")");
  }
  log.WriteEvent(EventSeverity::kInfo, "Settings file loaded successfully");

  const pugi::xml_node root = doc.child("Kestrel");
  const pugi::xml_node elements = root.child("Settings");
  ServiceSettings read = settings;
  std::string problems;
  auto problem = [&](const std::string& text) { problems += (problems.empty() ? "" : " ") + text; };
  if (!root.child("Version")) problem("The element Kestrel/Version is missing.");
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    const std::string element(row.element);
    const pugi::xml_node node = elements.child(element.c_str());
    if (!node) {
      if (row.optional)
        row.set(read, row.defaultValue);
      else
        problem("The element " + element + " is missing.");
      continue;
    }
    const std::string text = node.text().get();
    auto value = ParseSetting(row, row.secret ? UnscramblePassword(text) : text, SettingSyntax::kFile);
    if (value)
      row.set(read, *value);
    else
      problem(value.Error().text);
  }
  if (!problems.empty()) return Status::Failed(path, problems);
  settings = read;
  return {};
}

Status ExportSettings(const std::string& path, const ServiceSettings& s, IEventLog& log) {
  log.WriteEvent(EventSeverity::kInfo, "Build Settings begin");
  Status status = CheckSettings(s);
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("Kestrel");
  pugi::xml_node version = root ? root.append_child("Version") : pugi::xml_node();
  pugi::xml_node settings = version ? root.append_child("Settings") : pugi::xml_node();
  bool ok = settings && version.text().set(kProductVersion);

  for (const SettingRow& row : SettingRows()) {
    if (!ok || !status) break;
    if (!row.InFile()) continue;
    std::string text = FormatSetting(row, row.get(s));
    if (row.secret) text = ScramblePassword(text);
    // The accept-all address is kept only while every call is accepted.
    if (row.element == "EmailAll" && !s.All) text = " ";
    pugi::xml_node e = settings.append_child(std::string(row.element).c_str());
    ok = e && e.append_child(pugi::node_pcdata).set_value(text.c_str());
  }

  if (status && !ok) status = Status::Failed(path, "the element tree could not be built");
  if (status) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    if (!WriteFileAtomically(path, out.str(), 0600)) status = Status::Failed(path, "cannot be written");
  }
  log.WriteEvent(EventSeverity::kInfo, "Build Settings end");
  return status;
}

}  // namespace kestrel

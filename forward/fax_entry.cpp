#include "forward/fax_entry.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

namespace kestrel {
namespace {

constexpr std::string_view kFirstLine = "Kestrel fax entry 1";

std::string Escaped(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value) {
    if (c < 0x20 || c == '%' || c == 0x7f) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Unescaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out.push_back(value[i]);
      continue;
    }
    if (i + 2 >= value.size()) return std::nullopt;
    const int high = HexDigit(value[i + 1]);
    const int low = HexDigit(value[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  out = value;
  return true;
}

}  // namespace

std::string FaxEntryText(const FaxEntry& entry) {
  const FaxCallRecord& c = entry.call;
  std::string text(kFirstLine);
  text += "\nCapture=" + Escaped(c.captureFilePath);
  text += "\nCaller=" + Escaped(c.callerNumber);
  text += "\nStation=" + Escaped(c.remoteStationId);
  text += "\nPages=" + std::to_string(c.pages);
  text += "\nRate=" + std::to_string(c.rate);
  text += "\nStart=" + std::to_string(static_cast<long long>(c.startTime));
  text += "\nEnd=" + std::to_string(static_cast<long long>(c.endTime));
  text += "\nRecipients=" + Escaped(c.recipients);
  text += "\nIncomplete=" + Escaped(c.incomplete);
  text += "\nMail=" + std::to_string(static_cast<int>(entry.mail));
  text += "\nMessageId=" + Escaped(entry.messageId);
  text += "\nFaxFile=" + Escaped(entry.faxFile);
  text += "\nStatus=" + Escaped(entry.status);
  text += "\nJournaled=" + std::string(entry.journaled ? "1" : "0");
  text += "\nRefused=" + Escaped(entry.refusedRecipients);
  text += "\n";
  return text;
}

std::optional<FaxEntry> ParseFaxEntry(const std::string& text) {
  if (text.size() > kMaxEntryBytes) return std::nullopt;
  std::string_view rest(text);
  const auto firstEnd = rest.find('\n');
  if (firstEnd == std::string_view::npos || rest.substr(0, firstEnd) != kFirstLine) return std::nullopt;
  rest.remove_prefix(firstEnd + 1);

  FaxEntry entry;
  bool haveCapture = false;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // a torn last line
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const auto value = Unescaped(line.substr(equals + 1));
    if (!value) return std::nullopt;
    FaxCallRecord& c = entry.call;
    bool ok = true;
    if (key == "Capture") {
      c.captureFilePath = *value;
      haveCapture = !value->empty();
    } else if (key == "Caller") {
      c.callerNumber = *value;
    } else if (key == "Station") {
      c.remoteStationId = *value;
    } else if (key == "Pages") {
      ok = ParseNumber(*value, c.pages);
    } else if (key == "Rate") {
      ok = ParseNumber(*value, c.rate);
    } else if (key == "Start" || key == "End") {
      long long seconds = 0;
      ok = ParseNumber(*value, seconds);
      (key == "Start" ? c.startTime : c.endTime) = static_cast<std::time_t>(seconds);
    } else if (key == "Recipients") {
      c.recipients = *value;
    } else if (key == "Incomplete") {
      c.incomplete = *value;
    } else if (key == "Mail") {
      int step = 0;
      ok = ParseNumber(*value, step) && step >= 0 && step <= 3;
      entry.mail = static_cast<MailStep>(step);
    } else if (key == "MessageId") {
      entry.messageId = *value;
    } else if (key == "FaxFile") {
      entry.faxFile = *value;
    } else if (key == "Status") {
      entry.status = *value;
    } else if (key == "Refused") {
      entry.refusedRecipients = *value;
    } else if (key == "Journaled") {
      ok = *value == "0" || *value == "1";
      entry.journaled = *value == "1";
    }
    if (!ok) return std::nullopt;
  }
  if (!haveCapture) return std::nullopt;
  return entry;
}

}  // namespace kestrel

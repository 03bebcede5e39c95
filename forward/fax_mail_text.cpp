#include "forward/fax_mail_text.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace kestrel {
namespace {

std::string FormatLocal(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof(buf), format, &tm);
  return std::string(buf, n);
}

// A span of seconds as a time of day: 24 hours and more wrap around.
std::string DurationText(std::time_t start, std::time_t end) {
  long long seconds = end > start ? static_cast<long long>(end - start) : 0;
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%02lld:%02lld:%02lld", (seconds / 3600) % 24, (seconds / 60) % 60, seconds % 60);
  return buf;
}

std::string BadLinesText(std::uint32_t badLines) {
  return std::to_string(badLines) + (badLines == 1 ? " bad line" : " bad lines");
}

}  // namespace

std::string ExpandSubjectTemplate(const std::string& headerTemplate, const std::string& value) {
  const std::string replacement = value.empty() ? "Unbekannt" : value;
  std::string upper = headerTemplate;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  size_t p = upper.find("%TSID%");
  if (p == std::string::npos) return headerTemplate;
  return headerTemplate.substr(0, p) + replacement + headerTemplate.substr(p + 6);
}

std::string FaxMailBodyText(const std::string& computerName, const FaxCallRecord& call) {
  return "Received By Kestrel v1.3.33 on " + computerName + ".\n" +
         "Date of Receiving :" + FormatLocal(call.endTime, "%d.%m.%Y") + "\n" +
         "Time of Receiving: " + FormatLocal(call.endTime, "%H:%M:%S") + "\n\n" +
         "Connection Time: " + DurationText(call.startTime, call.endTime) + "\n" +
         "Number of Pages: " + std::to_string(call.pages) + "\n" + "Connection Speed: " + std::to_string(call.rate) +
         "\n\n" + "Incomming Fax Number: " + call.callerNumber + "\n" + "Incomming Fax ID: " + call.remoteStationId +
         "\n\n";
}

std::string IncompleteNoteText(const std::string& reason, int wholePages) {
  return "Incomplete: " + reason + ", pages after " + std::to_string(wholePages) + " may be missing.";
}

std::string DamagedPageNoteText(const DamagedPage& page) {
  return "Page " + std::to_string(page.page) + " arrived with errors that could not be repaired" +
         (page.badLines > 0 ? " (" + BadLinesText(page.badLines) + ")." : ".");
}

std::string DamagedPagesJournalText(const std::vector<DamagedPage>& pages) {
  std::string text = "Pages with errors that could not be repaired: ";
  for (std::size_t i = 0; i < pages.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(pages[i].page);
    if (pages[i].badLines > 0) text += " (" + BadLinesText(pages[i].badLines) + ")";
  }
  return text + ".";
}

std::string NotConvertedNoteText(const std::vector<int>& pages) {
  std::string text = "Pages not converted: ";
  for (std::size_t i = 0; i < pages.size(); ++i) text += (i ? ", " : "") + std::to_string(pages[i]);
  return text;
}

std::string ComputerName() {
  char buf[100] = {};
  if (::gethostname(buf, sizeof(buf) - 1) != 0) return {};
  return buf;
}

}  // namespace kestrel

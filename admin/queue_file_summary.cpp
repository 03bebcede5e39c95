// Reading the summary of one queue file: stat for age and size, the mail
// layer's To reader, and a bounded scan of the header block for Subject.
#include "admin/queue_file_summary.h"

#include <strings.h>
#include <sys/stat.h>

#include <fstream>

#include "mail/smtp_message.h"

namespace kestrel {
namespace {

constexpr std::size_t kHeaderLimit = 64 * 1024;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string SubjectOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string block(kHeaderLimit, '\0');
  in.read(block.data(), static_cast<std::streamsize>(block.size()));
  block.resize(static_cast<std::size_t>(in.gcount()));
  std::string subject;
  bool inSubject = false;
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    start = end + 1;
    if (Trimmed(line).empty()) break;  // end of the header block
    if (line[0] == ' ' || line[0] == '\t') {
      if (inSubject) subject += " " + Trimmed(line);
      continue;
    }
    if (inSubject) break;
    if (line.size() > 8 && ::strncasecmp(line.c_str(), "Subject:", 8) == 0) {
      subject = Trimmed(line.substr(8));
      inSubject = true;
    }
  }
  return subject;
}

}  // namespace

bool SummariseQueueFile(const std::string& folder, const std::string& name, std::time_t now, IEventLog& log,
                        QueueFileSummary& summary) {
  const std::string path = folder + "/" + name;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  summary.name = name;
  summary.size = st.st_size;
  summary.ageSeconds = now > st.st_mtime ? now - st.st_mtime : 0;
  CSMTPMessage reader(log);
  summary.recipients = Trimmed(reader.GetRecipientsFromFile(path));
  summary.subject = SubjectOf(path);
  return true;
}

}  // namespace kestrel

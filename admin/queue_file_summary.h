// What kestrel-admin shows of a queued mail: its age, size, recipients (the
// To header, read as the monitor reads it) and subject.
//
// Queue files are untrusted: at most the first 64 KiB are read, only up to
// the end of the header block; a folded Subject is joined and kept as its
// raw header text (encoded words are not decoded).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kestrel {

class IEventLog;

struct QueueFileSummary {
  std::string name;  // file name in the queue folder
  std::int64_t ageSeconds = 0;
  std::int64_t size = 0;
  std::string recipients;
  std::string subject;
};

// The summary of `folder` + "/" + `name`, ages counted to `now`; false when
// the file is gone.
bool SummariseQueueFile(const std::string& folder, const std::string& name, std::time_t now, IEventLog& log,
                        QueueFileSummary& summary);

}  // namespace kestrel

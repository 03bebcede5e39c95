#include "core/notice_sink.h"

#include <cstdio>
#include <mutex>

#include "core/event_log.h"

namespace kestrel {

void CConsoleNoticeSink::Notify(const std::string& text, NoticeIcon /*icon*/) {
  static std::mutex m;
  {
    std::lock_guard<std::mutex> lock(m);
    std::fprintf(stderr, "kestreld: %s\n", text.c_str());
    std::fflush(stderr);
  }
  log_.WriteEventText(text);
}

}  // namespace kestrel

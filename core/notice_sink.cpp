#include "core/notice_sink.h"

#include "core/event_log.h"

namespace kestrel {

void CConsoleNoticeSink::Notify(const std::string& text, NoticeIcon icon) {
  switch (icon) {
    case NoticeIcon::kError: return log_.WriteEvent(EventSeverity::kError, text);
    case NoticeIcon::kExclamation: return log_.WriteEvent(EventSeverity::kWarning, text);
    case NoticeIcon::kInformation:
    case NoticeIcon::kQuestion: return log_.WriteEvent(EventSeverity::kNotice, text);
  }
}

}  // namespace kestrel

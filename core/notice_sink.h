// Notices: the message boxes the core raises outside the user interface
// (configuration incomplete, CAPI not available, database errors). The core
// only reports them; the desktop shows a message box captioned with the
// application title, kestreld writes them to the event log, which echoes them
// to standard error (the system journal).
#pragma once

#include <string>

namespace kestrel {

class IEventLog;

enum class NoticeIcon { kInformation, kExclamation, kError, kQuestion };

class INoticeSink {
 public:
  virtual ~INoticeSink() = default;
  // Reports `text`. May be called from any thread; implementations that show
  // a box marshal it to their UI thread.
  virtual void Notify(const std::string& text, NoticeIcon icon) = 0;
};

// The headless sink: the text as an event whose severity follows the icon;
// kestreld's event log echoes it to standard error. Thread-safe.
class CConsoleNoticeSink final : public INoticeSink {
 public:
  explicit CConsoleNoticeSink(IEventLog& log) : log_(log) {}
  void Notify(const std::string& text, NoticeIcon icon) override;

 private:
  IEventLog& log_;
};

}  // namespace kestrel

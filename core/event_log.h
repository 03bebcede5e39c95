// The event log: kestrel.log in the application folder, in the W3C extended
// log style. Every thread reports through it; for the reception side it is the
// only voice. Each event opens the file, appends one line and closes it again;
// an event is always exactly one line, whatever bytes its text holds.
// kestreld also echoes each event to standard error, which under systemd is
// the system journal: there each line carries its severity as a priority.
//
// Never fails visibly: an event that cannot be written is dropped.
// Thread-safe: writes from every CEventLog in the process are serialised by one
// mutex, so no event is lost when several threads write at once.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// How much an event matters, numbered as the system journal's priorities
// (sd-daemon(3): "<3>" error ... "<6>" informational).
enum class EventSeverity { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

// What subsystems report to. The service wires a CEventLog; every subsystem
// takes an IEventLog& so that tests can point it at a temporary folder.
class IEventLog {
 public:
  virtual ~IEventLog() = default;
  // Appends one event. Never fails visibly; the caller never waits on it.
  // Most events tell of something that went wrong and is retried or worked
  // around, so an event without a stated severity counts as a warning.
  virtual void WriteEventText(std::string_view text) = 0;
  // Appends one event of the given severity; a log that keeps no severity
  // writes the text alone.
  virtual void WriteEvent(EventSeverity severity, std::string_view text) {
    (void)severity;
    WriteEventText(text);
  }
};

// The log's file name in the application folder.
inline constexpr char kEventLogFileName[] = "kestrel.log";

class CEventLog final : public IEventLog {
 public:
  // `folder` is the application folder with its trailing "/".
  explicit CEventLog(std::string folder);
  // The same, and every event is also written to `echoFd`: as "<N>text" when
  // that descriptor is the journal's stream (JOURNAL_STREAM names its device
  // and inode), else as "program: text" for a person at a terminal.
  CEventLog(std::string folder, int echoFd, std::string program);

  // Writes the four header lines first when the file is shorter than 5 bytes,
  // then "%Y-%m-%d %H:%M:%S Kestrel: <EventDescription(text)> OK". The file
  // keeps no severity; the echo does.
  void WriteEvent(EventSeverity severity, std::string_view text) override;
  void WriteEventText(std::string_view text) override { WriteEvent(EventSeverity::kWarning, text); }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int echoFd_ = -1;
  bool echoIsJournal_ = false;
  std::string program_;
};

// The description field of an event line: control characters (bytes below
// 0x20 and 0x7F) become blanks, then every blank becomes "_". Other bytes,
// UTF-8 sequences included, stay as they are.
std::string EventDescription(std::string_view text);

}  // namespace kestrel

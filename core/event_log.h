// The event log: kestrel.log in the application folder, in the W3C extended
// log style. Every thread reports through it; for the reception side it is the
// only voice. Each event opens the file, appends one line and closes it again;
// an event is always exactly one line, whatever bytes its text holds.
//
// Thread-safe: writes from every CEventLog in the process are serialised by one
// mutex, so no event is lost when several threads write at once.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// What subsystems report to. The service wires a CEventLog; every subsystem
// takes an IEventLog& so that tests can point it at a temporary folder.
class IEventLog {
 public:
  virtual ~IEventLog() = default;
  // Appends one event. Never fails visibly; the caller never waits on it.
  virtual void WriteEventText(std::string_view text) = 0;
};

// The log's file name in the application folder.
inline constexpr char kEventLogFileName[] = "kestrel.log";

class CEventLog final : public IEventLog {
 public:
  // `folder` is the application folder with its trailing "/".
  explicit CEventLog(std::string folder);

  // Writes the four header lines first when the file is shorter than 5 bytes,
  // then "%Y-%m-%d %H:%M:%S Kestrel: <EventDescription(text)> OK".
  void WriteEventText(std::string_view text) override;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The description field of an event line: control characters (bytes below
// 0x20 and 0x7F) become blanks, then every blank becomes "_". Other bytes,
// UTF-8 sequences included, stay as they are.
std::string EventDescription(std::string_view text);

}  // namespace kestrel

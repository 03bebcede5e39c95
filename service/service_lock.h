// CServiceLock: one service per application folder. kestreld and the tray
// program both hold an exclusive lock on "kestrel.lock" in the application
// folder while they serve it, so two of them never answer the same line or
// send the same queued mail twice. The file holds the holder's process id,
// for the message that names it. The lock goes with the process: a killed
// service leaves no stale lock behind. A probe (kestrel-admin status, the
// tray program) only asks who holds it and never takes it, so probing can
// never make a service's start fail. Acquire reports with core/result.h's
// Status; one CServiceLock is used by one thread.
#pragma once

#include <sys/types.h>

#include <string>

#include "core/result.h"

namespace kestrel {

class CServiceLock {
 public:
  CServiceLock() = default;
  ~CServiceLock();
  CServiceLock(const CServiceLock&) = delete;
  CServiceLock& operator=(const CServiceLock&) = delete;

  // Takes the lock of `applicationFolder` (ending in "/"). Fails (step
  // "start") with OtherServiceText when another holds it (HolderPid then
  // names it), or with "cannot open <file>: <reason>".
  Status Acquire(const std::string& applicationFolder);
  void Release();
  bool Held() const { return fd_ >= 0; }

  // The process id the holder wrote, 0 when unknown.
  pid_t HolderPid() const { return holder_; }

  // The holder of `applicationFolder`'s lock: its process id, -1 when it is
  // held but the id cannot be read, 0 when none holds it. Looks without
  // taking the lock.
  static pid_t RunningService(const std::string& applicationFolder);

 private:
  int fd_ = -1;
  pid_t holder_ = 0;
};

// The text that tells why a second service does not start: "Kestrel already
// runs for <folder> (process <pid>)."
std::string OtherServiceText(const std::string& applicationFolder, pid_t holder);

}  // namespace kestrel

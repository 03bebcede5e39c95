// CAdminContext: what every kestrel-admin command works with: the application
// folder, its event log, the output form (text or JSON), and the few acts all
// commands share: refusing input (exit 1) or a command line (exit 2), loading
// the settings as the service does, and saving them through the one writer of
// kestrel.xml, then asking the service that holds the folder to re-read them.
//
// One command a process; not thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "core/event_log.h"
#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

enum AdminExit : int { kAdminOk = 0, kAdminRefused = 1, kAdminUsage = 2 };

class CAdminContext {
 public:
  // `folder` is the application folder with its trailing "/".
  CAdminContext(std::string folder, bool json, std::FILE* out = stdout, std::FILE* err = stderr);

  const std::string& Folder() const { return folder_; }
  bool Json() const { return json_; }
  IEventLog& Log() { return log_; }
  std::FILE* Out() const { return out_; }

  // "kestrel-admin: <text>" on standard error; returns kAdminRefused.
  int Refuse(const std::string& text) const;
  // The same with the usage line of the command; returns kAdminUsage.
  int Usage(const std::string& text) const;
  // Prints one line (a line end is added) on standard output.
  void Say(const std::string& line) const;

  // The settings as the service loads them at start-up (kestrel.xml, or the
  // one-time registry migration, or nothing); fails as the service would
  // refuse to start, naming what is wrong.
  Result<ServiceSettings> LoadSettings();
  // Writes kestrel.xml and signals SIGHUP to the service holding the folder;
  // says which. kAdminOk, or kAdminRefused when the file cannot be written
  // (or a value could not be read back).
  int SaveSettings(const ServiceSettings& settings);

  // Sends `signal` to the process holding the folder's service lock: its id,
  // or 0 when none does or its id is unknown. When the signal cannot reach
  // it (another user's process), the id is negated and `failure` says why.
  pid_t SignalService(int signal, std::string* failure = nullptr) const;

 private:
  std::string folder_;
  bool json_;
  std::FILE* out_;
  std::FILE* err_;
  CEventLog log_;
};

}  // namespace kestrel

// CAdminContext: what every kestrel-admin command works with: the application
// folder, its event log, the output form (text or JSON), and the few acts all
// commands share: refusing input (exit 1) or a command line (exit 2), loading
// the settings as the service does, and saving them through the one writer of
// kestrel.xml, then asking the service that holds the folder to re-read them.
//
// Failures come as Result values of core/result.h and leave as exit statuses.
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
  ~CAdminContext();
  CAdminContext(const CAdminContext&) = delete;
  CAdminContext& operator=(const CAdminContext&) = delete;

  const std::string& Folder() const { return folder_; }
  bool Json() const { return json_; }
  IEventLog& Log() { return log_; }
  std::FILE* Out() const { return out_; }

  // "kestrel-admin: <text>" on standard error; returns kAdminRefused.
  int Refuse(const std::string& text) const;
  // The same for a failure; one with code EACCES as PermissionDenied.
  int Refuse(const Failure& failure) const;
  // The same with the usage line of the command; returns kAdminUsage.
  int Usage(const std::string& text) const;
  // Prints one line (a line end is added) on standard output.
  void Say(const std::string& line) const;

  // The settings as the service loads them at start-up (kestrel.xml, or the
  // one-time registry migration, or for a new folder the first-run values);
  // fails as the service would refuse to start, naming what is wrong, or
  // with code EACCES when kestrel.xml is closed to the caller.
  Result<ServiceSettings> LoadSettings();
  // For the commands that only show: LoadSettings, or for a caller to whom
  // kestrel.xml is closed (a member of the folder's group) its secrets-free
  // view (core/settings_view.h). Fails with code EACCES, the step naming the
  // file, when neither can be read.
  Result<ServiceSettings> ReadSettings();

  // 0 when the caller may read `path`, else errno (ENOENT, EACCES...).
  static int Readable(const std::string& path);
  // "permission denied" naming `path` and the two ways in (sudo, or the
  // folder's group); returns kAdminRefused. Never empty data with exit 0.
  int PermissionDenied(const std::string& path) const;
  // Writes kestrel.xml and signals SIGHUP to the service holding the folder;
  // says which. kAdminOk, or kAdminRefused when the file cannot be written
  // (or a value could not be read back).
  int SaveSettings(const ServiceSettings& settings);

  // Keeps `bytes`, read from `path` with the caller's rights before they were
  // dropped, in an anonymous file of this process; ReadablePath(path) then
  // names it. Without it (or for another path) ReadablePath is `path` itself.
  void HoldImportedFile(const std::string& path, const std::string& bytes);
  std::string ReadablePath(const std::string& path) const;

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
  std::string heldPath_;
  int heldFd_ = -1;
};

}  // namespace kestrel

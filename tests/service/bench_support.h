// What the service benchmarks (and the service tests' fixture) share: an
// application folder and home of their own for each run, the settings of a
// complete configuration, and notices that go to standard error instead of a
// window.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/image_format.h"
#include "core/notice_sink.h"
#include "core/service_settings.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel::test {

class CQuietNotices final : public INoticeSink {
 public:
  void Notify(const std::string& text, NoticeIcon) override { std::fprintf(stderr, "notice: %s\n", text.c_str()); }
};

// The run's application folder and home: the embedded SQLite database in `app`.
inline void UseBenchFolders(const CTempDir& app, const CTempDir& home) {
  ::setenv("KESTREL_HOME", app.Path().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home.Path() + ".config").c_str(), 1);
  WriteFileBytes(home.File("odbc.ini"), "");
  ::setenv("ODBCINI", home.File("odbc.ini").c_str(), 1);
}

// Every call taken and mailed as `format` to office@kestrel.test through 127.0.0.1:`smtpPort`.
inline ServiceSettings BenchSettings(const CTempDir& app, int smtpPort, ImageFormat format = ImageFormat::Png) {
  ServiceSettings s;
  s.ODBCConnect = "DSN=Kestrel";
  s.ReceivedDir = app.Path() + "received/";
  s.All = 1;
  s.EmailAll = "office@kestrel.test";
  s.ImageFormat = format;
  s.SMTPPort = smtpPort;
  s.Address = "fax@kestrel.test";
  s.Name = "Kestrel Fax";
  s.Header = "Fax from %TSID%";
  s.SMTPServer = "127.0.0.1";
  return s;
}

}  // namespace kestrel::test

// kestreld: the Kestrel service without a desktop, for servers and systemd.
// Settings come from kestrel.xml (or the one-time registry migration) in the
// application folder; every event goes to the event log and, while the
// service runs, to standard error (under systemd the journal, with severity).
//
//   kestreld [--home DIR]                 run until SIGTERM or SIGINT; SIGHUP
//                                         re-reads kestrel.xml, SIGUSR1 sends
//                                         the mail queue at once
//   kestreld [--home DIR] --journal       print the journal, newest first
//   kestreld [--home DIR] --test-mail TO  send one short message with the
//                                         mail settings: prints the server's
//                                         reply, or the reason of the failure
//   kestreld --version
// --journal and --test-mail end at SIGINT or SIGTERM, with status 1 (the
// journal: 128 + the signal).
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <unistd.h>

#include "core/event_log.h"
#include "core/notice_sink.h"
#include "core/setting_table.h"
#include "core/settings_file.h"
#include "core/version.h"
#include "platform/app_folder.h"
#include "platform/folder_owner.h"
#include "service/service_app.h"
#include "service/service_lock.h"
#include "service/test_mail.h"
#include "store/journal.h"

namespace {

using namespace kestrel;

constexpr char kUsage[] =
    "usage: kestreld [--home DIR] [--journal | --test-mail ADDRESS]\n"
    "       kestreld --version | --help\n";

// Asked for, the usage goes to standard output; after a wrong argument, to
// standard error with status 2.
int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int PrintJournal() {
  // Row by row: a journal of any size prints in the memory of one row.
  const Status listed = ForEachJournalEntry([](const JournalEntry& e) {
    char when[32] = "";
    if (e.receivingTime) {
      const SqlTimestamp& t = *e.receivingTime;
      std::snprintf(when, sizeof(when), "%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute,
                    t.second);
    }
    std::printf("%d\t%s\t%s\t%d\t%s\t%s\n", e.id, e.senderNr.c_str(), when, e.numberOfPages, e.faxFile.c_str(),
                e.status.c_str());
    return true;
  });
  if (!listed) {
    std::fprintf(stderr, "kestreld: journal: %s\n", listed.Error().text.c_str());
    return 1;
  }
  return 0;
}

// --journal and --test-mail may wait minutes for a database or a mail
// server: a stop signal ends them. The mail session looks at the flag while
// it waits; the journal listing has nothing to finish and ends on the spot.
std::atomic<bool> stopRequested{false};
void RequestStop(int) { stopRequested = true; }
void EndAtOnce(int sig) { ::_exit(128 + sig); }

void OnStopSignals(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  bool journal = false;
  std::string testMail;
  std::string home;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--version") {
      std::printf("Kestrel %s\n", kProductVersion);
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg == "--journal") {
      journal = true;
    } else if (arg == "--test-mail" && i + 1 < argc) {
      testMail = argv[++i];
    } else {
      return Usage();
    }
  }

  // Root on a folder of the service user becomes that user before the log,
  // the lock or anything else is written, so no file there is ever root's.
  const std::string folder = SettleApplicationFolder("kestreld", FolderUser::kService, home);
  if (folder.empty()) {
    std::fprintf(stderr, "kestreld: cannot create the application folder: %s\n", std::strerror(errno));
    return 1;
  }
  if (!BecomeFolderOwner(folder)) {
    std::fprintf(stderr, "kestreld: cannot act as the owner of %s: %s\n", folder.c_str(), std::strerror(errno));
    return 1;
  }

  std::signal(SIGPIPE, SIG_IGN);
  // The running service echoes its events; --journal and --test-mail keep
  // standard error for their own answer.
  const bool service = !journal && testMail.empty();
  CEventLog log = service ? CEventLog(folder, STDERR_FILENO, "kestreld") : CEventLog(folder);
  if (journal) {
    OnStopSignals(EndAtOnce);
    return PrintJournal();
  }
  if (!testMail.empty()) {
    OnStopSignals(RequestStop);
    return SendTestMail(testMail, log, "kestreld", &stopRequested);
  }

  // Signals are taken synchronously by the main thread; every other thread
  // inherits the blocked mask and never sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  CConsoleNoticeSink notices(log);
  CServiceApp app(log, notices, nullptr);
  if (Status started = app.InitInstance(); !started) {
    std::fprintf(stderr, "kestreld: %s\n", started.Error().text.c_str());
    return started.Error().step == "settings" ? 2 : 1;  // 2: as for incomplete settings, a restart cannot help
  }
  if (!app.Settings().IsComplete()) {
    // After the notice that reception cannot start: which settings it lacks.
    std::string names;
    for (std::string_view name : MissingSettings(app.Settings()))
      names += (names.empty() ? "" : ", ") + std::string(name);
    notices.Notify("Missing settings: " + names + " (kestrel-admin settings set KEY VALUE sets them).",
                   NoticeIcon::kError);
    app.ExitInstance();
    return 2;
  }
  std::fprintf(stderr, "kestreld: running in %s\n", app.ApplicationFolder().c_str());

  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) continue;
    if (sig == SIGHUP) {
      std::fprintf(stderr, "kestreld: re-reading %s\n", SettingsFilePath(app.ApplicationFolder()).c_str());
      if (Status reloaded = app.ReloadSettingsFile(); !reloaded)
        std::fprintf(stderr, "kestreld: %s not re-read, the running settings stay: %s\n",
                     SettingsFilePath(app.ApplicationFolder()).c_str(), reloaded.Error().text.c_str());
      continue;
    }
    if (sig == SIGUSR1) {
      app.TryMailQueueNow();
      continue;
    }
    break;
  }
  return app.ExitInstance();
}

// bench_journal: a journal of 1,000,000 rows in the embedded SQLite store.
// Measures, each in a process of its own so that peak memory is that
// program's: the Jotter view until its first rows are in the list (targets
// <= 0.5 s, <= 150 MB peak), a filter over every row, scrolling batch by
// batch, and `kestreld --journal` streaming every row (target < 30 MB peak).
// Prints the ratio measured/target for each; never fails a build.
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/report_list.h"
#include "journal_view/journal_view.h"
#include "store/data_source.h"
#include "tests/desktop/desktop_home.h"

namespace {

int kRows = 1000000;  // or the first argument
constexpr double kFirstRowsTargetSeconds = 0.5;
constexpr double kViewTargetMb = 150;
constexpr double kStreamTargetMb = 30;

// Rows as the forwarding step writes them, in one transaction: one a minute
// from 2020 on, senders from a few hundred numbers.
bool FillJournal(const std::string& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages, FaxFile) "
                     "VALUES (?, datetime('2020-01-01 00:00:00', ? || ' minutes'), ?, ?)",
                     -1, &insert, nullptr);
  for (int i = 0; i < kRows; ++i) {
    const std::string sender = "030" + std::to_string(1000000 + (i * 7919) % 400);
    const std::string file = "/var/spool/kestrel/received/" + sender + "_" + std::to_string(i) + ".pdf";
    sqlite3_bind_text(insert, 1, sender.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, i);
    sqlite3_bind_int(insert, 3, 1 + i % 9);
    sqlite3_bind_text(insert, 4, file.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(insert) != SQLITE_DONE) return false;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

struct Run {
  bool ok = false;
  double seconds = 0;
  double peakMb = 0;
};

// Runs `argv` with standard output to /dev/null; its time and peak memory.
Run RunChild(const std::vector<std::string>& args, const std::string& output = "/dev/null") {
  std::fflush(stdout);
  QElapsedTimer timer;
  timer.start();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(output.c_str(), "w", stdout)) _exit(127);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return Run{WIFEXITED(status) && WEXITSTATUS(status) == 0, timer.nsecsElapsed() / 1e9, usage.ru_maxrss / 1024.0};
}

// The Jotter view of the data source in KESTREL_HOME: prints its times on
// standard output.
int ViewMain(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QElapsedTimer timer;
  timer.start();
  kestrel::CJournalView dialog(kestrel::CJournalView::Host::kJotter);
  dialog.Start();
  dialog.show();
  auto* list = dialog.findChild<kestrel::CReportList*>(QStringLiteral("journalList"));
  while (list->ItemCount() == 0 && timer.elapsed() < 60000) QApplication::processEvents();
  QApplication::processEvents();
  const double firstRows = timer.nsecsElapsed() / 1e9;
  const QString summary = dialog.Summary();
  // Scrolling to the end of what is loaded, fifty times: each fetches a batch.
  timer.restart();
  for (int i = 0; i < 50; ++i) {
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    QApplication::processEvents();
  }
  const double scroll = timer.nsecsElapsed() / 1e9;
  const int loaded = list->ItemCount();
  timer.restart();
  dialog.SetFilter(QStringLiteral("0301000123"));
  QApplication::processEvents();
  const double filter = timer.nsecsElapsed() / 1e9;
  std::printf("%f %f %d %f %s\n", firstRows, scroll, loaded, filter, summary.toUtf8().constData());
  return 0;
}

void Ratio(const char* what, double value, double target, const char* unit) {
  std::printf("  %-48s %9.3f %s  target %6.1f %s  ratio %.2f\n", what, value, unit, target, unit, value / target);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--view") return ViewMain(argc, argv);
  if (argc > 1) kRows = std::max(1, std::atoi(argv[1]));
  kestrel::test::CDesktopHome home;
  home.CreateTables();
  QElapsedTimer timer;
  timer.start();
  if (!FillJournal(home.File(kestrel::kEmbeddedDatabaseFile))) {
    std::fprintf(stderr, "bench_journal: could not fill the journal\n");
    return 1;
  }
  std::printf("journal of %d rows in SQLite (filled in %.1f s)\n", kRows, timer.nsecsElapsed() / 1e9);

  const std::string results = home.File("view.txt");
  // Filled around the programs, the journal has no list index, as one written
  // by an older version: the first view makes it once. Every later start (and
  // any journal the service has written to since) has it.
  for (const char* label : {"first start, journal without the list index", "with the list index"}) {
    const Run view = RunChild({"/proc/self/exe", "--view"}, results);
    double firstRows = 0, scroll = 0, filter = 0;
    int loaded = 0;
    char summary[256] = "";
    if (FILE* f = std::fopen(results.c_str(), "r")) {
      if (std::fscanf(f, "%lf %lf %d %lf %255[^\n]", &firstRows, &scroll, &loaded, &filter, summary) < 4)
        firstRows = -1;
      std::fclose(f);
    }
    if (!view.ok || firstRows < 0) {
      std::fprintf(stderr, "bench_journal: the view did not run\n");
      return 1;
    }
    std::printf("Jotter view, %s (summary \"%s\"):\n", label, summary);
    Ratio("time to first rows", firstRows, kFirstRowsTargetSeconds, "s ");
    Ratio("peak memory of the view process", view.peakMb, kViewTargetMb, "MB");
    std::printf("  %d rows after 50 scrolls to the end: %.3f s, %.1f ms a batch\n", loaded, scroll, 1000 * scroll / 50);
    std::printf("  filter \"0301000123\" over every row: %.3f s\n", filter);
  }

#ifdef KESTREL_PROGRAM_KESTRELD
  const Run stream = RunChild({KESTREL_PROGRAM_KESTRELD, "--home", home.Path(), "--journal"});
  if (!stream.ok) {
    std::fprintf(stderr, "bench_journal: kestreld --journal failed\n");
    return 1;
  }
  std::printf("kestreld --journal, every row (%.2f s):\n", stream.seconds);
  Ratio("peak memory", stream.peakMb, kStreamTargetMb, "MB");
#endif
  return 0;
}

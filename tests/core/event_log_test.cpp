// The event log: header rule, line format, one line per event whatever the
// text holds, no lost events between threads, and the echo with priorities
// for the system journal.
#include "core/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

TEST(EventLog, NewFileGetsHeaderThenEventLine) {
  CTempDir dir;
  CEventLog log(dir.Path());
  log.WriteEventText("End of FAX-receive.");
  std::string text = ReadFileBytes(dir.File("kestrel.log"));
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "#Software: Kestrel ");
  EXPECT_EQ(lines[1], "#Version: 1.3.3.3 ");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(#Date: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
  EXPECT_EQ(lines[3], "#Fields: Date Time Service Description Status");
  EXPECT_TRUE(
      std::regex_match(lines[4], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Kestrel: End_of_FAX-receive\. OK)")));
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(EventLog, HeaderWrittenOnlyWhileFileIsShorterThanFiveBytes) {
  for (std::string start : {std::string(), std::string("abcd"), std::string("abcde")}) {
    CTempDir dir;
    if (!start.empty()) WriteFileBytes(dir.File("kestrel.log"), start);
    CEventLog(dir.Path()).WriteEventText("x");
    std::string text = ReadFileBytes(dir.File("kestrel.log"));
    ASSERT_EQ(text.compare(0, start.size(), start), 0) << "existing bytes are kept";
    bool header = text.find("#Software: Kestrel \n") != std::string::npos;
    EXPECT_EQ(header, start.size() < 5) << "file of " << start.size() << " bytes";
    if (header) {
      EXPECT_EQ(text.find("#Software"), start.size()) << "header follows the old bytes";
    }
  }
}

TEST(EventLog, BlanksBecomeUnderscoresOneEach) {
  CTempDir dir;
  CEventLog log(dir.Path());
  log.WriteEventText("a  b_c   d");
  log.WriteEventText("");
  auto events = test::EventDescriptions(dir.Path());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "a__b_c___d");
  EXPECT_EQ(events[1], "");
}

TEST(EventLog, ControlCharactersOfOutsideTextCannotSplitAnEvent) {
  const struct {
    std::string text, description;
  } cases[] = {
      {"535 Authentication failed\r\n", "535_Authentication_failed__"},
      {"line one\nline two", "line_one_line_two"},
      {"a\tb\vc\fd", "a_b_c_d"},
      {std::string("nul\0bel\a esc\x1b[0m", 16), "nul_bel__esc_[0m"},
      {"\x01\x1f\x7f", "___"},
      {"M\xC3\xBCller ok", "M\xC3\xBCller_ok"},
  };
  CTempDir dir;
  CEventLog log(dir.Path());
  for (const auto& c : cases) log.WriteEventText(c.text);
  auto events = test::EventDescriptions(dir.Path());
  ASSERT_EQ(events.size(), std::size(cases));
  for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(events[i], cases[i].description) << i;
  EXPECT_EQ(Lines(ReadFileBytes(dir.File("kestrel.log"))).size(), 4 + std::size(cases))
      << "four header lines and one line per event";
}

TEST(EventLog, UnwritableFolderLosesEventSilently) {
  CEventLog log("/nonexistent-folder/for/kestrel/");
  log.WriteEventText("nobody hears this");  // must neither throw nor crash
  EXPECT_FALSE(test::FileExists("/nonexistent-folder/for/kestrel/kestrel.log"));
}

// kestreld's standard error: the journal's stream gets each event's priority,
// any other stream (a terminal) the program's name; the file is the same.
TEST(EventLog, EchoCarriesThePriorityOnlyToTheJournalStream) {
  for (bool journal : {true, false}) {
    CTempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    struct stat st;
    ASSERT_EQ(::fstat(fds[1], &st), 0);
    const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    journal ? ::setenv("JOURNAL_STREAM", stream.c_str(), 1) : ::unsetenv("JOURNAL_STREAM");
    CEventLog log(dir.Path(), fds[1], "kestreld");
    ::unsetenv("JOURNAL_STREAM");
    log.WriteEvent(EventSeverity::kError, "CAPI not\navailable");
    log.WriteEventText("Failed to connect");
    log.WriteEvent(EventSeverity::kInfo, "Queued mail sent");
    ::close(fds[1]);
    std::string echoed;
    char buf[256];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof(buf))) > 0;) echoed.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    EXPECT_EQ(echoed, journal
                          ? "<3>CAPI not available\n<4>Failed to connect\n<6>Queued mail sent\n"
                          : "kestreld: CAPI not available\nkestreld: Failed to connect\nkestreld: Queued mail sent\n");
    EXPECT_EQ(test::EventDescriptions(dir.Path()),
              (std::vector<std::string>{"CAPI_not_available", "Failed_to_connect", "Queued_mail_sent"}));
  }
}

TEST(EventLog, TwoThreadsWritingThousandEventsEachLoseNone) {
  CTempDir dir;
  auto writer = [&](char tag) {
    CEventLog log(dir.Path());  // separate objects share the one process-wide lock
    for (int i = 0; i < 1000; ++i) log.WriteEventText(std::string(1, tag) + " " + std::to_string(i));
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  auto events = test::EventDescriptions(dir.Path());
  ASSERT_EQ(events.size(), 2000u);
  std::vector<int> next(2, 0);
  for (const auto& e : events) {
    ASSERT_TRUE(e.size() > 2 && (e[0] == 'A' || e[0] == 'B') && e[1] == '_') << e;
    int who = e[0] - 'A';
    EXPECT_EQ(std::stoi(e.substr(2)), next[who]++) << "events of one thread stay in order";
  }
  EXPECT_EQ(next[0], 1000);
  EXPECT_EQ(next[1], 1000);
  std::string text = ReadFileBytes(dir.File("kestrel.log"));
  EXPECT_EQ(Lines(text).size(), 2004u) << "one header, no interleaved lines";
}

}  // namespace
}  // namespace kestrel

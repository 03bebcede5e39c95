// The single-instance guard: the lock file with the first instance's pid, a
// later start that brings the first instance's window forward (restoring it
// from minimised) and gives up, a killed first instance that leaves no stale
// guard, and real jotter processes meeting each other and this test.
#include "desktop/instance_checker.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"

namespace kestrel {
namespace {

using test::WaitUntil;

class InstanceCheckerTest : public ::testing::Test {
 protected:
  test::CDesktopHome home;
};

TEST_F(InstanceCheckerTest, FirstInstanceHoldsTheLockWithItsPid) {
  CInstanceChecker first(QStringLiteral("Jotter"));
  EXPECT_FALSE(first.PreviousInstanceRunning());
  EXPECT_TRUE(first.HoldsLock());
  EXPECT_EQ(first.LockFilePath().toStdString(), home.Home() + "run/CInstanceChecker_MMF_Jotter");
  EXPECT_EQ(test::ReadFileBytes(first.LockFilePath().toStdString()), std::to_string(::getpid()) + "\n");
}

TEST_F(InstanceCheckerTest, LaterStartBringsTheMinimisedWindowBackAndGivesUp) {
  QWidget window;
  window.showMinimized();
  CInstanceChecker first(QStringLiteral("Brightwater Kestrel"));
  ASSERT_FALSE(first.PreviousInstanceRunning());
  first.TrackFirstInstanceRunning(&window);
  QSignalSpy activations(&first, &CInstanceChecker::ActivationRequested);

  CInstanceChecker second(QStringLiteral("Brightwater Kestrel"));
  EXPECT_TRUE(second.PreviousInstanceRunning());
  EXPECT_FALSE(second.HoldsLock());
  ASSERT_TRUE(WaitUntil([&] { return activations.size() == 1; }));
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
}

TEST_F(InstanceCheckerTest, GuardsOfOtherProgramsDoNotMeet) {
  CInstanceChecker kestrel(QStringLiteral("Brightwater Kestrel"));
  ASSERT_FALSE(kestrel.PreviousInstanceRunning());
  CInstanceChecker jotter(QStringLiteral("Jotter"));
  EXPECT_FALSE(jotter.PreviousInstanceRunning());
}

#ifdef KESTREL_PROGRAM_JOTTER
// Starts jotter and waits until it holds its guard (its pid in the lock file).
bool StartJotter(QProcess& process, const std::string& lockFile) {
  test::EndWithThisProcess(process);
  process.setProgram(QStringLiteral(KESTREL_PROGRAM_JOTTER));
  process.start();
  if (!process.waitForStarted(5000)) return false;
  const std::string pid = std::to_string(process.processId()) + "\n";
  return WaitUntil([&] { return test::FileExists(lockFile) && test::ReadFileBytes(lockFile) == pid; }, 20000);
}

TEST_F(InstanceCheckerTest, SecondJotterBringsTheFirstForwardAndEnds) {
  QWidget window;
  window.show();
  CInstanceChecker first(QStringLiteral("Jotter"));
  ASSERT_FALSE(first.PreviousInstanceRunning());
  first.TrackFirstInstanceRunning(&window);
  QSignalSpy activations(&first, &CInstanceChecker::ActivationRequested);

  QProcess second;
  test::EndWithThisProcess(second);
  second.setProgram(QStringLiteral(KESTREL_PROGRAM_JOTTER));
  second.start();
  ASSERT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 20000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  ASSERT_TRUE(WaitUntil([&] { return activations.size() == 1; }));
  // It never reached the database.
  EXPECT_FALSE(test::FileExists(home.File("kestrel.db")));
}

TEST_F(InstanceCheckerTest, TwoJotterProcessesLeaveOneRunning) {
  const std::string lockFile = home.Home() + "run/CInstanceChecker_MMF_Jotter";
  QProcess first;
  ASSERT_TRUE(StartJotter(first, lockFile));
  QProcess second;
  test::EndWithThisProcess(second);
  second.setProgram(QStringLiteral(KESTREL_PROGRAM_JOTTER));
  second.start();
  ASSERT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 20000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);
  first.kill();
  first.waitForFinished(5000);
}

TEST_F(InstanceCheckerTest, KilledFirstInstanceLeavesNoStaleGuard) {
  const std::string lockFile = home.Home() + "run/CInstanceChecker_MMF_Jotter";
  QProcess killed;
  ASSERT_TRUE(StartJotter(killed, lockFile));
  ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
  ASSERT_TRUE(killed.waitForFinished(5000));

  QWidget window;
  window.show();
  CInstanceChecker next(QStringLiteral("Jotter"));
  EXPECT_FALSE(next.PreviousInstanceRunning());
  // The killed process's socket file is still there; the new first instance
  // takes the name over and answers later starts.
  next.TrackFirstInstanceRunning(&window);
  QSignalSpy activations(&next, &CInstanceChecker::ActivationRequested);
  CInstanceChecker later(QStringLiteral("Jotter"));
  EXPECT_TRUE(later.PreviousInstanceRunning());
  EXPECT_TRUE(WaitUntil([&] { return activations.size() == 1; }));
}
#endif

}  // namespace
}  // namespace kestrel

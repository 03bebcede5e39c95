// One service per application folder: the lock against probes that ask who
// holds it, and a lock file that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "service/service_lock.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

TEST(ServiceLock, ProbingWhileTheServiceStartsNeverMakesTheStartFail) {
  test::CTempDir folder;
  std::atomic<bool> done{false};
  std::atomic<int> probes{0}, sawHolder{0};
  std::thread prober([&] {
    while (!done) {
      if (CServiceLock::RunningService(folder.Path()) != 0) ++sawHolder;
      ++probes;
    }
  });
  while (probes == 0) std::this_thread::yield();
  // Each start meets probes in flight; the probes saw it held at times.
  for (int start = 0; start < 2000 || sawHolder == 0; ++start) {
    CServiceLock lock;
    const Status acquired = lock.Acquire(folder.Path());
    ASSERT_TRUE(acquired) << acquired.Describe() << " at start " << start;
  }
  done = true;
  prober.join();
  EXPECT_GT(probes, 0);
}

TEST(ServiceLock, AnUnopenableLockFileIsNamedWithItsReason) {
  test::CTempDir folder;
  ASSERT_EQ(::mkdir(folder.File("kestrel.lock").c_str(), 0755), 0);
  CServiceLock lock;
  const Status acquired = lock.Acquire(folder.Path());
  ASSERT_FALSE(acquired);
  EXPECT_EQ(acquired.Error().text, "cannot open " + folder.File("kestrel.lock") + ": Is a directory");
  EXPECT_FALSE(lock.Held());
}

}  // namespace
}  // namespace kestrel

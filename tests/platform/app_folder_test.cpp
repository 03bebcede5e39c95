#include "platform/app_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrel {
namespace {

TEST(ApplicationFolder, KestrelHomeWinsAndGetsItsTrailingSlash) {
  ::setenv("KESTREL_HOME", "/srv/kestrel", 1);
  EXPECT_EQ(ApplicationFolder(), "/srv/kestrel/");
  ::setenv("KESTREL_HOME", "/srv/kestrel/", 1);
  EXPECT_EQ(ApplicationFolder(), "/srv/kestrel/");
  ::unsetenv("KESTREL_HOME");
  std::string folder = ApplicationFolder();
  EXPECT_EQ(folder, ExecutableFolder());
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(folder.find("tests/platform"), std::string::npos) << folder;
}

}  // namespace
}  // namespace kestrel

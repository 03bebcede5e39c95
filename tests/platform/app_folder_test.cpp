#include "platform/app_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

TEST(ApplicationFolder, ChosenByOptionEnvironmentPackageThenUser) {
  using enum FolderUser;
  struct Case {
    FolderSources sources;
    std::string folder;
  };
  // home, packaged folder exists, who asks, XDG_DATA_HOME, HOME -> folder
  const Case cases[] = {
      {{"/srv/kestrel", true, kService, "", ""}, "/srv/kestrel/"},
      {{"/srv/kestrel/", false, kService, "", "/home/a"}, "/srv/kestrel/"},
      {{"", true, kService, "", "/home/a"}, kPackagedFolder},
      {{"", true, kDesktop, "", "/home/a"}, "/home/a/.local/share/kestrel/"},
      {{"", false, kService, "/home/a/data", "/home/a"}, "/home/a/data/kestrel/"},
      {{"", false, kService, "relative", "/home/a/"}, "/home/a/.local/share/kestrel/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseApplicationFolder(c.sources), c.folder) << c.sources.home;
}

TEST(ApplicationFolder, MissingUserFolderIsMadePrivateNamedOnceAndKept) {
  if (std::filesystem::exists(kPackagedFolder)) GTEST_SKIP() << kPackagedFolder << " exists here";
  test::CTempDir data;
  ::unsetenv("KESTREL_HOME");
  ::setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
  const std::string expected = data.Path() + "kestrel/";
  for (const bool first : {true, false}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(SettleApplicationFolder("kestreld", FolderUser::kService), expected);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("kestreld: created the application folder " + expected) == 0, first) << said;
    EXPECT_EQ(ApplicationFolder(), expected);
  }
  struct stat st {};
  ASSERT_EQ(::stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ::unsetenv("KESTREL_HOME");
  ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace kestrel

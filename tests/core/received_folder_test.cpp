// Emptying the received-faxes folder below the desktop: what a folder that
// cannot be read reports, and that no folder means nothing to do. What is
// deleted and what is kept is driven through the options sheet's Fax page
// (tests/ui/fax_settings_page_test.cpp).
#include "core/received_folder.h"

#include <gtest/gtest.h>

#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::FileExists;
using test::WriteFileBytes;

TEST(ReceivedFolder, FolderThatCannotBeReadFailsNamingIt) {
  CTempDir tmp;
  WriteFileBytes(tmp.File("plain"), "not a folder");
  for (const std::string& folder : {tmp.File("missing"), tmp.File("plain")}) {
    const Status status = ClearReceivedFolder(folder, [] { return true; }).status;
    ASSERT_FALSE(status.Ok()) << folder;
    EXPECT_EQ(status.Error().step, folder);
  }
  EXPECT_TRUE(FileExists(tmp.File("plain")));
}

TEST(ReceivedFolder, NoFolderDeletesNothingAndAsksNothing) {
  bool asked = false;
  EXPECT_TRUE(ClearReceivedFolder("", [&] { return asked = true; }).status.Ok());
  EXPECT_FALSE(asked);
}

}  // namespace
}  // namespace kestrel

// Emptying the received-faxes folder below the desktop: what a folder that
// cannot be read reports, that no folder means nothing to do, and that the
// captures of faxes not yet forwarded stay. What is
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

TEST(ReceivedFolder, CapturesOfFaxesNotYetForwardedStayAndAreCounted) {
  CTempDir tmp;
  for (const char* name : {"0301_pending.sff", "0302_done.sff", "0302_done_1.png"})
    WriteFileBytes(tmp.File(name), "fax");
  // Named as an inbox entry names it: another spelling of the same file.
  const ReceivedFolderClearing cleared =
      ClearReceivedFolder(tmp.Path(), [] { return true; }, {tmp.Path() + "./0301_pending.sff"});
  EXPECT_TRUE(cleared.status.Ok()) << cleared.status.Describe();
  EXPECT_EQ(cleared.kept, 1u);
  EXPECT_TRUE(FileExists(tmp.File("0301_pending.sff")));
  EXPECT_FALSE(FileExists(tmp.File("0302_done.sff")));
  EXPECT_FALSE(FileExists(tmp.File("0302_done_1.png")));
  EXPECT_EQ(KeptFilesText(cleared.kept), "1 received fax file(s) kept: their faxes are not forwarded yet.");
}

TEST(ReceivedFolder, NoFolderDeletesNothingAndAsksNothing) {
  bool asked = false;
  EXPECT_TRUE(ClearReceivedFolder("", [&] { return asked = true; }).status.Ok());
  EXPECT_FALSE(asked);
}

}  // namespace
}  // namespace kestrel

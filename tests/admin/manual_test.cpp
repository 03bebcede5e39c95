// The manual pages and kestrel-admin's help name every setting of the table
// by its element and its older name, so that neither falls behind a new row.
#include <gtest/gtest.h>

#include <string>

#include "admin/admin_commands.h"
#include "core/setting_table.h"
#include "tests/support/file_util.h"

namespace kestrel {
namespace {

TEST(SettingsManual, ManPageAndHelpNameEveryElementAndItsOldName) {
  const std::string page = test::ReadFileBytes(std::string(KESTREL_SOURCE_DIR) + "/docs/man/kestrel.xml.5.scd");
  const std::string help = AdminHelpText();
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    const std::string element(row.element), member(row.member);
    EXPECT_NE(page.find("*" + element + "* (" + member + ")"), std::string::npos) << element;
    EXPECT_NE(help.find(element + " (" + member + ")"), std::string::npos) << element;
    if (!row.secret) {
      EXPECT_NE(help.find(DescribeAccepted(row)), std::string::npos) << element;
    }
  }
}

}  // namespace
}  // namespace kestrel

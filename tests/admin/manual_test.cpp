// kestrel.xml(5)'s settings section is the one the settings table writes, and
// kestrel-admin's help names every setting by its element and its older
// name, so that neither falls behind a new row.
#include <gtest/gtest.h>

#include <string>

#include "admin/admin_commands.h"
#include "core/setting_table.h"
#include "tests/support/file_util.h"
#include "tools/settings-manual/settings_manual.h"

namespace kestrel {
namespace {

TEST(SettingsManual, ManPageHoldsTheSectionTheTableWrites) {
  const std::string page = test::ReadFileBytes(std::string(KESTREL_SOURCE_DIR) + "/docs/man/kestrel.xml.5.scd");
  ASSERT_NE(page.find("\n# SETTINGS\n"), std::string::npos);
  EXPECT_EQ(page, WithSettingsManualSection(page))
      << "docs/man/kestrel.xml.5.scd differs from the settings table: cmake --build BUILD --target "
         "settings-manual-page writes it";
}

TEST(SettingsManual, HelpNamesEveryElementItsOldNameAndWhatItTakes) {
  const std::string help = AdminHelpText();
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    const std::string element(row.element), member(row.member);
    EXPECT_NE(help.find(element + " (" + member + ")"), std::string::npos) << element;
    if (!row.secret) {
      EXPECT_NE(help.find(DescribeAccepted(row)), std::string::npos) << element;
    }
  }
}

}  // namespace
}  // namespace kestrel

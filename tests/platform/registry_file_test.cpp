// The registry export file: both syntaxes, escapes, value types, odd lines,
// sub-key listing and key deletion rules.
#include "platform/registry_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/text_encoding.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

TEST(RegistryFile, ReadsStringsDwordsAndEscapesCaseInsensitively) {
  CTempDir dir;
  WriteFileBytes(dir.File("r.reg"),
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A\\B]\r\n"
                 "\"Path\"=\"C:\\\\fax\\\\in\"\r\n"
                 "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
                 "\"Count\"=dword:0000001a\r\n"
                 "\"Neg\"=dword:ffffffff\r\n"
                 "\"Bin\"=hex:01,02,\\\r\n  03\r\n"
                 "\"Broken\"=\"unterminated\r\n"
                 "\"BadDword\"=dword:xyz\r\n"
                 "\"Euro\"=\"\x80\"\r\n");
  CRegistryFile reg(dir.File("r.reg"));
  EXPECT_TRUE(reg.KeyExists("software\\a\\b"));
  EXPECT_TRUE(reg.KeyExists("Software\\A")) << "a parent of a section exists";
  EXPECT_FALSE(reg.KeyExists("Software\\A\\C"));
  EXPECT_EQ(reg.ReadString("Software\\A\\B", "path").value_or(""), "C:\\fax\\in");
  EXPECT_EQ(reg.ReadString("Software\\A\\B", "Quote").value_or(""), "say \"hi\"");
  EXPECT_EQ(reg.ReadDword("Software\\A\\B", "Count").value_or(0), 26u);
  EXPECT_EQ(reg.ReadDword("Software\\A\\B", "Neg").value_or(0), 0xFFFFFFFFu);
  EXPECT_FALSE(reg.ReadString("Software\\A\\B", "Count")) << "a dword is not a string";
  EXPECT_FALSE(reg.ReadString("Software\\A\\B", "Bin"));
  EXPECT_FALSE(reg.ReadString("Software\\A\\B", "Broken"));
  EXPECT_FALSE(reg.ReadDword("Software\\A\\B", "BadDword"));
  EXPECT_EQ(reg.ReadString("Software\\A\\B", "Euro").value_or(""), "\xE2\x82\xAC");
}

TEST(RegistryFile, OtherHivesAreNotTheUsers) {
  CTempDir dir;
  WriteFileBytes(dir.File("r.reg"), "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"x\"=\"1\"\r\n");
  CRegistryFile reg(dir.File("r.reg"));
  EXPECT_FALSE(reg.KeyExists("Software\\A"));
}

TEST(RegistryFile, MissingFileIsAnEmptyRegistry) {
  CRegistryFile reg("/nonexistent/registry.reg");
  EXPECT_FALSE(reg.KeyExists("Software"));
  EXPECT_FALSE(reg.OpenForWriting("Software"));
}

TEST(RegistryFile, DeleteKeyRefusesSubKeysAndKeepsUnrelatedLinesVerbatim) {
  CTempDir dir;
  const std::string path = dir.File("r.reg");
  WriteFileBytes(path,
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\K]\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\K\\Sub]\r\n\"v\"=\"1\"\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Bin\"=hex:01,\\\r\n  02\r\n");
  CRegistryFile reg(path);
  EXPECT_FALSE(reg.DeleteKey("Software\\K")) << "a key with sub-keys stays";
  EXPECT_FALSE(reg.DeleteKey("Software\\Missing"));
  EXPECT_TRUE(reg.DeleteKey("Software\\K\\Sub"));
  EXPECT_TRUE(reg.DeleteKey("Software\\K"));
  EXPECT_EQ(ReadFileBytes(path),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Bin\"=hex:01,\\\r\n  02\r\n");
  EXPECT_TRUE(reg.DeleteKey("Software\\Other"));
  EXPECT_FALSE(FileExists(path));
}

TEST(RegistryFile, SubKeysNamesEachDirectChildOnce) {
  CTempDir dir;
  WriteFileBytes(dir.File("r.reg"),
                 "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\K\\Fax]\r\n"
                 "[HKEY_CURRENT_USER\\Software\\K\\Recent File List\\Deep]\r\n"
                 "[HKEY_CURRENT_USER\\Software\\k\\FAX]\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Kx]\r\n");
  CRegistryFile reg(dir.File("r.reg"));
  EXPECT_EQ(reg.SubKeys("software\\k"), (std::vector<std::string>{"Fax", "Recent File List"}));
  EXPECT_TRUE(reg.SubKeys("Software\\K\\Fax").empty());
}

TEST(RegistryFile, ReadOnlyFileCannotBeOpenedForWritingNorChanged) {
  CTempDir dir;
  const std::string path = dir.File("r.reg");
  WriteFileBytes(path, "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\K]\r\n");
  ::chmod(path.c_str(), 0444);
  CRegistryFile reg(path);
  EXPECT_TRUE(reg.KeyExists("Software\\K"));
  EXPECT_FALSE(reg.OpenForWriting("Software\\K"));
  EXPECT_FALSE(reg.DeleteKey("Software\\K"));
  EXPECT_TRUE(FileExists(path));
}

TEST(RegistryFile, DefaultPathFollowsXdgConfigHome) {
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(CRegistryFile::DefaultPath(), "/cfg/Brightwater/registry.reg");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(CRegistryFile::DefaultPath(), "/home/u/.config/Brightwater/registry.reg");
}

}  // namespace
}  // namespace kestrel

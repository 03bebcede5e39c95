// Loading settings at start-up: registry migration (both export syntaxes,
// both keys), the failure rule for a registry that cannot be written, a
// migration that happens once and loses nothing, kestrel.xml winning over the
// registry, and the fall-back to nothing.
#include "core/settings_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/event_log.h"
#include "core/settings_file.h"
#include "platform/registry_file.h"
#include "platform/text_encoding.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A registry export of the current key, without SMTPPort, ImageScaleX,
// Logfile or All, so that those take their migration defaults.
std::string KestrelExport(const std::string& header, const std::string& keyName = "Brightwater Kestrel") {
  std::string k = "[HKEY_CURRENT_USER\\Software\\Brightwater\\" + keyName;
  return header + "\r\n\r\n" + k + "]\r\n\r\n" + k +
         "\\Fax]\r\n"
         "\"Number\"=\"+49 30 555\"\r\n"
         "\"ReceivedDir\"=\"/srv/fax/M\xfcller\"\r\n"
         "\"RejectCallerID\"=dword:00000001\r\n"
         "\"RejectStationID\"=dword:00000001\r\n\r\n" +
         k +
         "\\MSN]\r\n"
         "\"EmailAll\"=\"all@example.org\"\r\n\r\n" +
         k +
         "\\Email]\r\n"
         "\"ImageFormat\"=dword:00000002\r\n"
         "\"Address\"=\"fax@example.org\"\r\n"
         "\"Name\"=\"Fax \\\"Gateway\\\"\"\r\n"
         "\"SMTPServer\"=\"mail.example.org\"\r\n"
         "\"AuthenticationMethod\"=dword:00000003\r\n"
         "\"SMTP_User\"=\"u\"\r\n"
         "\"SMTP_Pass\"=\"p\\\\w\"\r\n\r\n";
}

class SettingsStore : public ::testing::Test {
 protected:
  std::string RegistryPath() const { return config_.File("registry.reg"); }
  SettingsSource Load(ServiceSettings& s) {
    CRegistryFile reg(RegistryPath());
    CEventLog log(app_.Path());
    auto loaded = LoadSettings(s, reg, app_.Path(), log);
    EXPECT_TRUE(loaded) << loaded.Describe();
    return loaded ? *loaded : SettingsSource::kNone;
  }
  void ExpectMigratedValues(const ServiceSettings& s) {
    EXPECT_EQ(s.Number, "+49 30 555");
    EXPECT_EQ(s.ODBCConnect, "DSN=Kestrel");
    EXPECT_EQ(s.ReceivedDir, "/srv/fax/M\xc3\xbcller");
    EXPECT_EQ(s.RejectCallerID, 1);
    EXPECT_EQ(s.RejectStationID, 1);
    EXPECT_EQ(s.Logfile, 1);
    EXPECT_EQ(s.All, 1);
    EXPECT_EQ(s.EmailAll, "all@example.org");
    EXPECT_EQ(s.ImageFormat, ImageFormat::Tiff);
    EXPECT_EQ(s.ImageScaleX, 750);
    EXPECT_EQ(s.UseImageScale, 0);
    EXPECT_EQ(s.SMTPPort, 25);
    EXPECT_EQ(s.Address, "fax@example.org");
    EXPECT_EQ(s.Name, "Fax \"Gateway\"");
    EXPECT_EQ(s.SMTPServer, "mail.example.org");
    EXPECT_EQ(s.AuthenticationMethod, SmtpAuthentication::LoginPlain);
    EXPECT_EQ(s.SMTP_User, "u");
    EXPECT_EQ(s.SMTP_Pass, "p\\w");
  }
  ServiceSettings ReadBackXml() {
    ServiceSettings s;
    CEventLog log(app_.Path());
    EXPECT_TRUE(ImportSettings(SettingsFilePath(app_.Path()), s, log));
    return s;
  }

  CTempDir app_;
  CTempDir config_;
};

TEST_F(SettingsStore, Regedit4MigrationFillsDefaultsStoresXmlAndRemovesKeys) {
  WriteFileBytes(RegistryPath(), KestrelExport("REGEDIT4"));
  ServiceSettings s;
  EXPECT_EQ(Load(s), SettingsSource::kRegistry);
  ExpectMigratedValues(s);
  EXPECT_FALSE(FileExists(RegistryPath())) << "a file left without keys is removed";
  ServiceSettings xml = ReadBackXml();
  EXPECT_EQ(xml.SMTPPort, 25);
  EXPECT_EQ(xml.ReceivedDir, s.ReceivedDir);
  EXPECT_EQ(xml.SMTP_Pass, "p\\w");
}

TEST_F(SettingsStore, Utf16MigrationAndOtherKeysSurviveTheRewrite) {
  std::string text = Cp1252ToUtf8(KestrelExport("Windows Registry Editor Version 5.00")) +
                     "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Keep\"=\"me\"\r\n";
  WriteFileBytes(RegistryPath(), std::string("\xFF\xFE", 2) + Utf8ToUtf16Le(text));
  ServiceSettings s;
  EXPECT_EQ(Load(s), SettingsSource::kRegistry);
  ExpectMigratedValues(s);
  ASSERT_TRUE(FileExists(RegistryPath()));
  CRegistryFile after(RegistryPath());
  EXPECT_FALSE(after.KeyExists(kRegistryKey));
  EXPECT_EQ(after.ReadString("Software\\Other", "Keep").value_or(""), "me");
  std::string bytes = ReadFileBytes(RegistryPath());
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2)) << "rewritten in its own encoding";
}

TEST_F(SettingsStore, ExistingXmlWinsOverRegistryWhichStaysUntouched) {
  ServiceSettings old;
  old.Name = "Old Name";
  old.SMTPPort = 2525;
  CEventLog log(app_.Path());
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), old, log));
  const std::string xml = ReadFileBytes(SettingsFilePath(app_.Path()));
  WriteFileBytes(RegistryPath(), KestrelExport("REGEDIT4"));
  ServiceSettings s;
  EXPECT_EQ(Load(s), SettingsSource::kSettingsFile);
  EXPECT_EQ(s.Name, "Old Name");
  EXPECT_EQ(s.SMTPPort, 2525);
  EXPECT_EQ(ReadFileBytes(SettingsFilePath(app_.Path())), xml);
  EXPECT_EQ(ReadFileBytes(RegistryPath()), KestrelExport("REGEDIT4"));
}

TEST_F(SettingsStore, FailedXmlWriteKeepsTheKeyForTheNextStart) {
  WriteFileBytes(RegistryPath(), KestrelExport("REGEDIT4"));
  CRegistryFile reg(RegistryPath());
  CEventLog log(app_.Path());
  const std::string missingFolder = app_.File("missing/");
  ServiceSettings s;
  auto loaded = LoadSettings(s, reg, missingFolder, log);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded, SettingsSource::kRegistry);
  ExpectMigratedValues(s);
  EXPECT_EQ(ReadFileBytes(RegistryPath()), KestrelExport("REGEDIT4"));
  EXPECT_FALSE(FileExists(MigrationMarkerPath(missingFolder)));
}

TEST_F(SettingsStore, ReadOnlyRegistryKeepsItsKeysAndMigratesOnceWritable) {
  WriteFileBytes(RegistryPath(), KestrelExport("REGEDIT4"));
  std::string before = ReadFileBytes(RegistryPath());
  ::chmod(RegistryPath().c_str(), 0444);
  ServiceSettings first;
  EXPECT_EQ(Load(first), SettingsSource::kNone);
  EXPECT_EQ(ReadFileBytes(RegistryPath()), before) << "keys untouched";
  EXPECT_FALSE(FileExists(SettingsFilePath(app_.Path())));

  ::chmod(RegistryPath().c_str(), 0644);
  ServiceSettings second;
  EXPECT_EQ(Load(second), SettingsSource::kRegistry);
  ExpectMigratedValues(second);
  EXPECT_FALSE(FileExists(RegistryPath()));
}

TEST_F(SettingsStore, KeyWithAnotherSubKeyIsMigratedOnceAndKeepsItsValuesButThePassword) {
  // "Recent File List" keeps the key from being deleted: the key stays, save
  // the password it held in clear, and every later start reads the values
  // from kestrel.xml.
  std::string registry = KestrelExport("REGEDIT4") +
                         "[HKEY_CURRENT_USER\\Software\\Brightwater\\Brightwater Kestrel\\"
                         "Recent File List]\r\n\"File1\"=\"/srv/fax/a.sff\"\r\n";
  WriteFileBytes(RegistryPath(), registry);
  const std::string password = "\"SMTP_Pass\"=\"p\\\\w\"\r\n";
  ASSERT_NE(registry.find(password), std::string::npos);
  registry.erase(registry.find(password), password.size());
  ServiceSettings first;
  for (SettingsSource expected :
       {SettingsSource::kRegistry, SettingsSource::kSettingsFile, SettingsSource::kSettingsFile}) {
    ServiceSettings s;
    EXPECT_EQ(Load(s), expected);
    if (expected == SettingsSource::kRegistry) {
      ExpectMigratedValues(s);
      first = s;
      first.Logfile = first.RejectStationID = 0;  // not in kestrel.xml
    } else {
      EXPECT_EQ(s, first);
    }
    EXPECT_TRUE(s.IsComplete());
    EXPECT_EQ(ReadFileBytes(RegistryPath()), registry);
  }
  EXPECT_EQ(ReadFileBytes(MigrationMarkerPath(app_.Path())), std::string(kRegistryKey) + "\n");

  ::unlink(SettingsFilePath(app_.Path()).c_str());
  ServiceSettings afterRemoval;
  EXPECT_EQ(Load(afterRemoval), SettingsSource::kNone) << "migrated at most once";
}

TEST_F(SettingsStore, OlderKeyIsReadFromItsOwnSections) {
  WriteFileBytes(RegistryPath(), KestrelExport("REGEDIT4", "Brightwater Osprey"));
  ServiceSettings s;
  EXPECT_EQ(Load(s), SettingsSource::kOlderRegistry);
  ExpectMigratedValues(s);
  EXPECT_FALSE(FileExists(RegistryPath()));
  EXPECT_EQ(ReadBackXml().SMTPServer, "mail.example.org");
}

TEST_F(SettingsStore, XmlIsUsedWithoutRegistrySource) {
  ServiceSettings stored;
  stored.Name = "From File";
  stored.Logfile = 1;
  CEventLog log(app_.Path());
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), stored, log));
  ServiceSettings s;
  EXPECT_EQ(Load(s), SettingsSource::kSettingsFile);
  EXPECT_EQ(s.Name, "From File");
  EXPECT_EQ(s.Logfile, 0) << "not in the file: keeps its start value";
}

TEST_F(SettingsStore, UnusableXmlFailsTheLoadAndLeavesTheRegistryAlone) {
  WriteFileBytes(SettingsFilePath(app_.Path()), "<Kestrel><Version>1</Version><Settings/></Kestrel>");
  WriteFileBytes(RegistryPath(), KestrelExport("REGEDIT4"));
  CRegistryFile reg(RegistryPath());
  CEventLog log(app_.Path());
  ServiceSettings s;
  auto loaded = LoadSettings(s, reg, app_.Path(), log);
  ASSERT_FALSE(loaded);
  EXPECT_NE(loaded.Error().text.find("The element ImageFormat is missing."), std::string::npos);
  EXPECT_EQ(s, ServiceSettings{});
  EXPECT_EQ(ReadFileBytes(RegistryPath()), KestrelExport("REGEDIT4"));
}

TEST_F(SettingsStore, NothingStoredLeavesEverythingEmptyAndIncomplete) {
  ServiceSettings s;
  EXPECT_EQ(Load(s), SettingsSource::kNone);
  EXPECT_EQ(s, ServiceSettings{});
  EXPECT_FALSE(s.IsComplete());
}

TEST(ServiceSettingsRecord, CompleteNeedsTheFiveReceptionValues) {
  ServiceSettings s;
  s.ReceivedDir = "/fax/";
  s.ODBCConnect = "DSN=Kestrel";
  s.Address = "a@b";
  s.Name = "n";
  s.SMTPServer = "smtp";
  EXPECT_TRUE(s.IsComplete());
  for (std::string ServiceSettings::*field :
       {&ServiceSettings::ReceivedDir, &ServiceSettings::ODBCConnect, &ServiceSettings::Address, &ServiceSettings::Name,
        &ServiceSettings::SMTPServer}) {
    ServiceSettings missing = s;
    (missing.*field).clear();
    EXPECT_FALSE(missing.IsComplete());
  }
}

}  // namespace
}  // namespace kestrel

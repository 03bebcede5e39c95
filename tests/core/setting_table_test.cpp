// The settings table, row by row: every value survives kestrel.xml and the
// registry migration, and every kind of bad value is refused by name with
// nothing changed.
#include "core/setting_table.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "core/event_log.h"
#include "core/settings_file.h"
#include "core/settings_store.h"
#include "platform/registry_file.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A value of `row` that is neither its default nor a start value.
SettingValue Sample(const SettingRow& row) {
  switch (row.type) {
    case SettingType::kText:
      if (row.check) {  // a text of its own kind: a URL or a word of the list
        for (std::string text : {"https://" + std::string(row.member) + ".example/a?b=1&c=\"ü\"", std::string("client"),
                                 std::string("sip.example.org:5080"), std::string("30000-30099")})
          if (row.check(row.Name(), text)) return text;
      }
      return "<" + std::string(row.member) + "> & \"ü\"";
    case SettingType::kNumber: return std::min<std::int32_t>(row.max, 1234);
    case SettingType::kFlag: return !std::get<bool>(row.defaultValue);
    case SettingType::kChoice: break;
  }
  return static_cast<std::int32_t>(row.choices.size() - 1);
}

ServiceSettings Sampled() {
  ServiceSettings s;
  for (const SettingRow& row : SettingRows()) row.set(s, Sample(row));
  s.All = true;  // EmailAll is written only while every call is accepted
  return s;
}

TEST(SettingTable, EveryFileRowRoundTripsThroughKestrelXml) {
  CTempDir dir;
  CEventLog log(dir.Path());
  const std::string path = SettingsFilePath(dir.Path());
  const ServiceSettings out = Sampled();
  ASSERT_TRUE(ExportSettings(path, out, log));
  ServiceSettings in;
  ASSERT_TRUE(ImportSettings(path, in, log));
  for (const SettingRow& row : SettingRows()) {
    const SettingValue expected = row.InFile() ? row.get(out) : row.get(ServiceSettings{});
    EXPECT_EQ(row.get(in), expected) << row.Name();
  }
}

TEST(SettingTable, EveryRegistryRowMigratesToTheSameValue) {
  const ServiceSettings sampled = Sampled();
  std::string reg = "REGEDIT4\r\n";
  for (const char* section : {"Fax", "MSN", "Email"}) {
    reg += "\r\n[HKEY_CURRENT_USER\\Software\\Brightwater\\Brightwater Kestrel\\" + std::string(section) + "]\r\n";
    for (const SettingRow& row : SettingRows()) {
      if (row.registrySection != section) continue;
      const SettingValue v = row.get(sampled);
      std::string data;
      if (row.type == SettingType::kText) {
        data = "\"" + std::string(row.member) + "\"";  // free of quotes and backslashes
      } else {
        char dword[16];
        const auto n = row.type == SettingType::kFlag ? (std::get<bool>(v) ? 7u : 0u)  // flags: not 0 is on
                                                      : static_cast<unsigned>(std::get<std::int32_t>(v));
        std::snprintf(dword, sizeof dword, "dword:%08x", n);
        data = dword;
      }
      reg += "\"" + std::string(row.member) + "\"=" + data + "\r\n";
    }
  }
  CTempDir dir;
  WriteFileBytes(dir.File("export.reg"), reg);
  CRegistryFile registry(dir.File("export.reg"));
  auto migrated = ReadRegistrySettings(registry, kRegistryKey);
  ASSERT_TRUE(migrated) << migrated.Describe();
  for (const SettingRow& row : SettingRows()) {
    SettingValue expected = row.get(ServiceSettings{});
    if (!row.registrySection.empty())
      expected = row.type == SettingType::kText ? SettingValue(std::string(row.member)) : row.get(sampled);
    EXPECT_EQ(row.get(*migrated), expected) << row.Name();
  }
}

TEST(SettingTable, RegistryValueOutOfRangeIsRefusedByName) {
  CTempDir dir;
  WriteFileBytes(dir.File("export.reg"),
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brightwater\\Brightwater Kestrel\\Email]\r\n"
                 "\"SMTPPort\"=dword:00011170\r\n");
  CRegistryFile registry(dir.File("export.reg"));
  auto migrated = ReadRegistrySettings(registry, kRegistryKey);
  ASSERT_FALSE(migrated);
  EXPECT_EQ(migrated.Error().text, "Email\\SMTPPort holds 70000; it takes a number from 1 to 65535.");
}

// The text of a complete, valid file with one element's text replaced (or,
// with `value` null, the element left out).
std::string FileWith(const std::string& element, const char* value) {
  std::string settings;
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    std::string text = row.element == element ? (value ? value : "") : FormatSetting(row, row.defaultValue);
    if (row.element == element && !value) continue;
    settings += "<" + std::string(row.element) + ">" + text + "</" + std::string(row.element) + ">";
  }
  return "<Kestrel><Version>1.3.3.3</Version><Settings>" + settings + "</Settings></Kestrel>";
}

TEST(SettingTable, BadValueOrMissingRequiredElementRefusesTheWholeFile) {
  const struct {
    const char* element;
    const char* value;  // null: the element is missing
    const char* says;
  } cases[] = {
      {"SmtpSecurity", "3", "SmtpSecurity holds \"3\"; it takes 0 (None), 1 (STARTTLS) or 2 (SSL/TLS)."},
      {"SmtpSecurity", "-1", "SmtpSecurity holds \"-1\""},
      {"SmtpSecurity", "STARTTLS", "SmtpSecurity holds \"STARTTLS\""},
      {"ImageFormat", "9", "ImageFormat holds \"9\"; it takes 0 (Jpg), 1 (Png), 2 (Tiff), 3 (Sff) or 4 (Pdf)."},
      {"UseReceiverAuthentification", "6", "UseReceiverAuthentification holds \"6\""},
      {"OAuthTokenUrl", "http://idp.example/token",
       "OAuthTokenUrl holds \"http://idp.example/token\"; it takes an https URL"},
      {"OAuthGrant", "password", "OAuthGrant holds \"password\"; it takes device, code, client or nothing"},
      {"SipRtpPorts", "20199-20000", "SipRtpPorts holds \"20199-20000\"; it takes two ports from 1024"},
      {"SipPeers", "192.0.2.0/33", "SipPeers holds \"192.0.2.0/33\"; it takes addresses, CIDRs or host names"},
      {"SipRegistrar", "sip.example.org:0", "SipRegistrar holds \"sip.example.org:0\"; it takes a host"},
      {"SipTransport", "3", "SipTransport holds \"3\"; it takes 0 (udp), 1 (tcp) or 2 (tls)."},
      {"SmtpPortReceive", "70000", "SmtpPortReceive holds \"70000\"; it takes a number from 1 to 65535."},
      {"SmtpPortReceive", "0", "SmtpPortReceive holds \"0\""},
      {"SmtpPortReceive", "25x", "SmtpPortReceive holds \"25x\""},
      {"ImageScale", "99999999999", "ImageScale holds \"99999999999\"; it takes a whole number."},
      {"CallerIDFiltering", "true", "CallerIDFiltering holds \"true\"; it takes TRUE or FALSE."},
      {"MSNAll", "", "MSNAll holds \"\""},
      {"FaxDir", nullptr, "The element FaxDir is missing."},
      {"ImageFormat", nullptr, "The element ImageFormat is missing."},
  };
  CTempDir dir;
  CEventLog log(dir.Path());
  const std::string path = dir.File("kestrel.xml");
  for (const auto& c : cases) {
    WriteFileBytes(path, FileWith(c.element, c.value));
    ServiceSettings in = Sampled();
    const Status imported = ImportSettings(path, in, log);
    ASSERT_FALSE(imported) << c.element;
    EXPECT_EQ(imported.Error().step, path);
    EXPECT_NE(imported.Error().text.find(c.says), std::string::npos) << imported.Error().text;
    EXPECT_EQ(in, Sampled()) << c.element << ": nothing is taken from a refused file";
  }
}

TEST(SettingTable, LaterElementsMayBeMissingAndTakeTheirDefaults) {
  CTempDir dir;
  CEventLog log(dir.Path());
  for (const SettingRow& row : SettingRows()) {
    if (!row.optional) continue;
    WriteFileBytes(dir.File("kestrel.xml"), FileWith(std::string(row.element), nullptr));
    ServiceSettings in = Sampled();
    ASSERT_TRUE(ImportSettings(dir.File("kestrel.xml"), in, log)) << row.Name();
    EXPECT_EQ(row.get(in), row.defaultValue) << row.Name();
  }
}

TEST(SettingTable, ExportRefusesAValueTheImportWouldRefuseAndKeepsTheFile) {
  CTempDir dir;
  CEventLog log(dir.Path());
  const std::string path = dir.File("kestrel.xml");
  WriteFileBytes(path, "old");
  for (auto spoil : {+[](ServiceSettings& s) { s.SMTPPort = 0; },
                     +[](ServiceSettings& s) { s.SMTPSecurity = static_cast<SmtpSecurity>(3); },
                     +[](ServiceSettings& s) { s.ImageFormat = ImageFormatFromNumber(-1); }}) {
    ServiceSettings s = Sampled();
    spoil(s);
    EXPECT_FALSE(ExportSettings(path, s, log));
    EXPECT_EQ(ReadFileBytes(path), "old");
  }
}

TEST(SettingTable, TypedValuesTakeWordsAndAnyCase) {
  const struct {
    const char* name;
    const char* typed;
    SettingValue value;
  } cases[] = {
      {"SmtpSecurity", "starttls", std::int32_t{1}},
      {"smtpsecurity", " 2 ", std::int32_t{2}},
      {"AuthenticationMethod", "CRAM MD5", std::int32_t{1}},
      {"MSNAll", "yes", true},
      {"All", "off", false},
      {"SmtpPortReceive", " 2525 ", std::int32_t{2525}},
  };
  for (const auto& c : cases) {
    const SettingRow* row = FindSetting(c.name);
    ASSERT_NE(row, nullptr) << c.name;
    auto v = ParseSetting(*row, c.typed, SettingSyntax::kTyped);
    ASSERT_TRUE(v) << c.name << " " << v.Describe();
    EXPECT_EQ(*v, c.value) << c.name;
  }
}

// The packaged service writes only below its own folder: a received folder
// elsewhere is refused for that folder, and taken for any other.
TEST(SettingTable, ReceivedFolderOutsideThePackagedFolderIsRefusedForItOnly) {
  const SettingRow& row = *FindSetting("FaxDir");
  const struct {
    const char* folder;
    const char* received;
    bool admitted;
  } cases[] = {
      {"/var/lib/kestrel/", "/var/lib/kestrel/faxes", true},
      {"/var/lib/kestrel/", "/srv/faxes", false},
      {"/var/lib/kestrel/", "/var/lib/kestrel/../kestrel-faxes", false},
      {"/srv/kestrel/", "/srv/faxes", true},
  };
  for (const auto& c : cases) {
    const Status admitted =
        AdmitSetting(row, std::string(c.received), {.folder = c.folder, .serviceFolder = "/var/lib/kestrel"});
    EXPECT_EQ(admitted.Ok(), c.admitted) << c.folder << " " << c.received;
    if (!admitted) {
      EXPECT_NE(admitted.Error().text.find("ReadWritePaths="), std::string::npos) << admitted.Describe();
    }
  }
}

// The rows marked required are exactly what reception needs.
TEST(SettingTable, EachRequiredSettingLeftEmptyIsNamedAndKeepsReceptionOff) {
  ServiceSettings complete;
  for (const SettingRow& row : SettingRows())
    if (row.required) row.set(complete, std::string("x"));
  ASSERT_TRUE(complete.IsComplete());
  for (const SettingRow& row : SettingRows()) {
    if (!row.required) continue;
    ServiceSettings missing = complete;
    row.set(missing, std::string());
    EXPECT_FALSE(missing.IsComplete()) << row.Name();
    EXPECT_EQ(MissingSettings(missing), std::vector<std::string_view>{row.Name()});
  }
}

}  // namespace
}  // namespace kestrel

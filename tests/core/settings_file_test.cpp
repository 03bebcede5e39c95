// kestrel.xml: exact bytes of an export, parser errors, the atomic, private
// write, and passwords that round-trip while the file stays readable by
// another XML parser. The rows' values and refusals: setting_table_test.cpp.
#include "core/settings_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "core/event_log.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::EventDescriptions;
using test::ReadFileBytes;
using test::WriteFileBytes;

ServiceSettings KnownRecord() {
  ServiceSettings s;
  s.Number = "+49 30 1234567";
  s.ODBCConnect = "DSN=Kestrel";
  s.ReceivedDir = "/var/spool/fax/";
  s.RejectCallerID = true;
  s.RejectStationID = true;
  s.Logfile = true;
  s.All = false;
  s.EmailAll = "all@example.org";
  s.ImageFormat = ImageFormat::Tiff;
  s.ImageScaleX = 750;
  s.UseImageScale = true;
  s.SMTPPort = 587;
  s.Address = "fax@example.org";
  s.Header = "Fax from %s";
  s.Name = "Fax Gateway";
  s.SMTPServer = "mail.example.org";
  s.AuthenticationMethod = SmtpAuthentication::Login;
  s.SMTP_User = "faxuser";
  s.SMTP_Pass = "";
  s.SMTPSecurity = SmtpSecurity::StartTls;
  s.SMTPCAFile = "/etc/kestrel/office-ca.pem";
  s.OcrLanguages = "deu+eng";
  return s;
}

TEST(SettingsFile, ExportWritesExactElementTree) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string path = SettingsFilePath(dir.Path());
  ASSERT_TRUE(ExportSettings(path, KnownRecord(), log));
  EXPECT_EQ(ReadFileBytes(path),
            "<Kestrel><Version>1.3.3.3</Version><Settings>"
            "<ImageFormat>2</ImageFormat><ImageScale>750</ImageScale>"
            "<CallerIDFiltering>TRUE</CallerIDFiltering><ReceiverID>+49 30 1234567</ReceiverID>"
            "<Database>DSN=Kestrel</Database><EmailAddress>fax@example.org</EmailAddress>"
            "<EmailName>Fax Gateway</EmailName><EmailHeader>Fax from %s</EmailHeader>"
            "<SmtpPortReceive>587</SmtpPortReceive><SmtpServerReceive>mail.example.org</SmtpServerReceive>"
            "<UseReceiverAuthentification>2</UseReceiverAuthentification>"
            "<ReceiverPassword> </ReceiverPassword><ReceiverUserName>faxuser</ReceiverUserName>"
            "<EmailAll> </EmailAll><UseImageScale>TRUE</UseImageScale>"
            "<FaxDir>/var/spool/fax/</FaxDir><MSNAll>FALSE</MSNAll>"
            "<SmtpSecurity>1</SmtpSecurity><SmtpCAFile>/etc/kestrel/office-ca.pem</SmtpCAFile>"
            "<OcrLanguages>deu+eng</OcrLanguages><OAuthProvider>2</OAuthProvider>"
            "<OAuthTenant>organizations</OAuthTenant><OAuthClientId></OAuthClientId>"
            "<OAuthClientSecret> </OAuthClientSecret><OAuthScope></OAuthScope><OAuthGrant></OAuthGrant>"
            "<OAuthTokenUrl></OAuthTokenUrl><OAuthDeviceUrl></OAuthDeviceUrl><OAuthAuthorizeUrl></OAuthAuthorizeUrl>"
            "<SipEnabled>FALSE</SipEnabled><SipRegistrar></SipRegistrar><SipUser></SipUser>"
            "<SipAuthUser></SipAuthUser><SipPassword> </SipPassword><SipTransport>0</SipTransport>"
            "<SipPort>5060</SipPort><SipRtpPorts>20000-20199</SipRtpPorts><SipT38>TRUE</SipT38>"
            "<SipPeers></SipPeers><SipChannels>4</SipChannels><CapiCalls>0</CapiCalls><NodeName></NodeName>"
            "</Settings></Kestrel>");
  auto events = EventDescriptions(dir.Path());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "Build_Settings_begin");
  EXPECT_EQ(events[1], "Build_Settings_end");
}

TEST(SettingsFile, ExportIsPrivateAndLeavesNoTemporaryFile) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string path = SettingsFilePath(dir.Path());
  WriteFileBytes(path, "old");
  ::chmod(path.c_str(), 0644);
  ASSERT_TRUE(ExportSettings(path, KnownRecord(), log));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2) << "kestrel.xml and kestrel.log only";
}

TEST(SettingsFile, ExportIntoMissingFolderFailsAndKeepsNothingHalfWritten) {
  CTempDir dir;
  CEventLog log(dir.Path());
  EXPECT_FALSE(ExportSettings(dir.File("no/such/kestrel.xml"), KnownRecord(), log));
  auto events = EventDescriptions(dir.Path());
  ASSERT_EQ(events.size(), 2u) << "begin and end are logged even when the write fails";
  EXPECT_EQ(events[1], "Build_Settings_end");
}

TEST(SettingsFile, RoundTripRestoresEverythingButTheTwoUnstoredFlags) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string path = SettingsFilePath(dir.Path());
  ServiceSettings out = KnownRecord();
  out.All = true;
  out.SMTP_Pass = "s3cr<et>&\"";
  ASSERT_TRUE(ExportSettings(path, out, log));

  ServiceSettings in;  // start values: empty and 0
  EXPECT_TRUE(ImportSettings(path, in, log));
  ServiceSettings expected = out;
  expected.Logfile = in.Logfile;
  expected.RejectStationID = in.RejectStationID;
  EXPECT_EQ(in, expected);
  EXPECT_FALSE(in.Logfile || in.RejectStationID) << "not in the file: they keep their start values";
  EXPECT_EQ(EventDescriptions(dir.Path()).back(), "Settings_file_loaded_successfully");
}

TEST(SettingsFile, AllOffStoresBlankEmailAllAndImportsIt) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string path = SettingsFilePath(dir.Path());
  ASSERT_TRUE(ExportSettings(path, KnownRecord(), log));
  ServiceSettings in;
  in.All = true;
  ASSERT_TRUE(ImportSettings(path, in, log));
  EXPECT_EQ(in.EmailAll, " ");
  EXPECT_FALSE(in.All);
  EXPECT_EQ(in.SMTP_Pass, "") << "one blank is an empty password";
}

TEST(SettingsFile, PasswordScramblingReversesAndShiftsBytes) {
  EXPECT_EQ(ScramblePassword("abc"), "hgf");
  EXPECT_EQ(ScramblePassword(""), " ");
  EXPECT_EQ(UnscramblePassword("hgf"), "abc");
  EXPECT_EQ(UnscramblePassword(" "), "");
  std::string wild = "\xfb\xff z\xc3\xbc";  // bytes that wrap around 256
  EXPECT_EQ(UnscramblePassword(ScramblePassword(wild)), wild);
}

// The text of Kestrel/Settings/ReceiverPassword in each file as Python's
// xml.etree (expat) reads it, or nothing when it refuses one of the files.
std::optional<std::vector<std::string>> PasswordsAsPythonReadsThem(const std::vector<std::string>& paths) {
  std::string command =
      "python3 -c 'import sys, xml.etree.ElementTree as E; "
      "sys.stdout.buffer.write(b\"\\0\".join(E.parse(p).find(\"Settings/ReceiverPassword\").text"
      ".encode(\"utf-8\") for p in sys.argv[1:]))'";
  for (const auto& p : paths) command += " '" + p + "'";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buf[256];
  for (size_t n; (n = std::fread(buf, 1, sizeof(buf), pipe)) > 0;) out.append(buf, n);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  std::vector<std::string> texts(1);
  for (char c : out) {
    if (c == '\0')
      texts.emplace_back();
    else
      texts.back() += c;
  }
  return texts;
}

TEST(SettingsFile, EveryPasswordRoundTripsAndTheFileStaysWellFormedUtf8) {
  const struct {
    std::string password, stored;
  } cases[] = {
      {"abc", "hgf"},  // printable ASCII: the form every older file holds
      {"Pass word", "iwt|%xxfU"},
      {"z", "\x7F"},
      {"\xC3\xA4{|}~",
       "\xC5\xBF"
       "83828180A9C8"},
      {"~",
       "\xC5\xBF"
       "83"},
      {"\xE2\x82\xACuro",
       "\xC5\xBF"
       "74777AB187E7"},
      {"tab\there",
       "\xC5\xBF"
       "6A776A6D0E676679"},
      {"\x1b",
       "\xC5\xBF"
       "20"},  // shifted alone, it would read back as the empty " "
  };
  CTempDir dir;
  CEventLog log(dir.Path());
  std::vector<std::string> paths, stored;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const std::string path = dir.File("kestrel" + std::to_string(paths.size()) + ".xml");
    ServiceSettings out = KnownRecord();
    out.SMTP_Pass = c.password;
    ASSERT_TRUE(ExportSettings(path, out, log));
    EXPECT_NE(ReadFileBytes(path).find("<ReceiverPassword>" + c.stored + "</ReceiverPassword>"), std::string::npos);
    ServiceSettings in;
    EXPECT_TRUE(ImportSettings(path, in, log));
    EXPECT_EQ(in.SMTP_Pass, c.password);
    paths.push_back(path);
    stored.push_back(c.stored);
  }
  EXPECT_EQ(PasswordsAsPythonReadsThem(paths), std::optional(stored));
}

std::string File(const std::string& settings) {
  return "<Kestrel><Version>1.3.3.3</Version><Settings>" + settings + "</Settings></Kestrel>";
}

const char* kFullSettings =
    "<ImageFormat>1</ImageFormat><ImageScale>800</ImageScale>"
    "<CallerIDFiltering>TRUE</CallerIDFiltering><ReceiverID>123</ReceiverID>"
    "<Database>DSN=Kestrel</Database><EmailAddress>a@b.c</EmailAddress>"
    "<EmailName>N</EmailName><EmailHeader>H</EmailHeader>"
    "<SmtpPortReceive>587</SmtpPortReceive><SmtpServerReceive>smtp</SmtpServerReceive>"
    "<UseReceiverAuthentification>1</UseReceiverAuthentification>"
    "<ReceiverPassword>hgf</ReceiverPassword><ReceiverUserName>u</ReceiverUserName>"
    "<EmailAll>x@y.z</EmailAll><UseImageScale>TRUE</UseImageScale>"
    "<FaxDir>/fax/</FaxDir><MSNAll>TRUE</MSNAll>";

TEST(SettingsFile, MalformedFileLogsReasonAndPositionAndChangesNothing) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string path = dir.File("kestrel.xml");
  WriteFileBytes(path, "<Kestrel>\n<Version>1.3.3.3</Version>\n  <Settings><ImageFormat>1</Oops>");
  ServiceSettings in = KnownRecord();
  const Status imported = ImportSettings(path, in, log);
  ASSERT_FALSE(imported);
  EXPECT_EQ(imported.Error().text, "Start-end tags mismatch (line 3, position 29)");
  EXPECT_EQ(in, KnownRecord());
  auto events = EventDescriptions(dir.Path());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "Start-end_tags_mismatch");
  EXPECT_EQ(events[1], test::LoggedForm("Error on line 3, position 29 in \"" + path + "\"."));
}

TEST(SettingsFile, BlankValuesSurviveParsing) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string path = dir.File("kestrel.xml");
  std::string s = kFullSettings;
  s.replace(s.find("<ReceiverID>123"), 15, "<ReceiverID> ");
  WriteFileBytes(path, File(s));
  ServiceSettings in;
  ASSERT_TRUE(ImportSettings(path, in, log));
  EXPECT_EQ(in.Number, " ");
}

}  // namespace
}  // namespace kestrel

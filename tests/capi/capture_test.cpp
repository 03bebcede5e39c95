// The fax results of the NCPI, the capture file name and the B3
// configuration: the byte-level rules of fax capture.
#include <gtest/gtest.h>

#include "capi/fax_capture.h"
#include "core/event_log.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

// NCPI content for B3 protocol 4: rate, options, format, pages, receive id.
std::string Ncpi(std::uint16_t rate, std::uint16_t pages, const std::string& id) {
  std::string s;
  s += static_cast<char>(rate & 0xff);
  s += static_cast<char>(rate >> 8);
  s += std::string(4, '\0');
  s += static_cast<char>(pages & 0xff);
  s += static_cast<char>(pages >> 8);
  s += static_cast<char>(id.size());
  s += id;
  return s;
}

FaxResults Parse(const std::string& ncpi) {
  return ParseFaxResults(reinterpret_cast<const std::uint8_t*>(ncpi.data()), ncpi.size());
}

TEST(FaxResultsTest, RateAndPagesComeFromTheirOffsets) {
  FaxResults r = Parse(Ncpi(14400, 3, "12345"));
  EXPECT_EQ(r.rate, 14400);
  EXPECT_EQ(r.pages, 3);
  EXPECT_EQ(r.remoteStationId, "12345");
}

TEST(FaxResultsTest, LeadingBlankThenSignedNumberKeepsEveryDigit) {
  EXPECT_EQ(Parse(Ncpi(9600, 1, " +12 34 5678")).remoteStationId, "12345678");
}

TEST(FaxResultsTest, IdStartingWithLettersGivesNoIdentifier) {
  EXPECT_EQ(Parse(Ncpi(9600, 1, "FAX 1234")).remoteStationId, "");
}

TEST(FaxResultsTest, LeadingZerosStayWhenTheNumberIsPositive) {
  EXPECT_EQ(Parse(Ncpi(9600, 1, "0012 34")).remoteStationId, "001234");
}

TEST(FaxResultsTest, ZeroNegativeAndHugeLeadingNumbers) {
  EXPECT_EQ(RemoteStationId("0000 1234"), "");
  EXPECT_EQ(RemoteStationId("-49 30 1234"), "");
  EXPECT_EQ(RemoteStationId("\t 99999999999999999999"), "99999999999999999999");
  EXPECT_EQ(RemoteStationId(""), "");
}

TEST(FaxResultsTest, ShortNcpiReadsMissingFieldsAsZeroOrEmpty) {
  EXPECT_EQ(Parse("").rate, 0);
  FaxResults onlyRate = Parse(std::string("\x80\x25\x00", 3));
  EXPECT_EQ(onlyRate.rate, 0x2580);
  EXPECT_EQ(onlyRate.pages, 0);
  EXPECT_EQ(onlyRate.remoteStationId, "");
  // The id length claims 12 characters; only 4 are there.
  std::string cut = Ncpi(4800, 2, "");
  cut.back() = 12;
  cut += "4930";
  FaxResults r = Parse(cut);
  EXPECT_EQ(r.pages, 2);
  EXPECT_EQ(r.remoteStationId, "4930");
  EXPECT_EQ(ParseFaxResults(nullptr, 10).pages, 0);
}

TEST(FaxResultsTest, ReceiveIdIsCutAtTwentyCharactersAndAtAZeroByte) {
  EXPECT_EQ(Parse(Ncpi(9600, 1, "1234567890123456789012345")).remoteStationId, "12345678901234567890");
  EXPECT_EQ(Parse(Ncpi(9600, 1,
                       std::string("123\0"
                                   "456",
                                   7)))
                .remoteStationId,
            "123");
}

std::tm December7() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 3;
  return t;
}

TEST(CaptureFileNameTest, BlanksAreRemovedAndTheTimeStampFollows) {
  EXPECT_EQ(CaptureFileName("/var/fax", "1234 5678", December7()), "/var/fax/12345678_07-12-2026-09-05-03.sff");
}

TEST(CaptureFileNameTest, NoSecondSlashAndAnEmptyCallerStartsWithTheUnderscore) {
  EXPECT_EQ(CaptureFileName("/var/fax/", "", December7()), "/var/fax/_07-12-2026-09-05-03.sff");
}

TEST(CaptureFileNameTest, OnlyDigitsPlusHashAndStarReachTheName) {
  EXPECT_EQ(FileNameCallerDigits("+49 (30) 12/../34*#x\n"), "+49301234*#");
  EXPECT_EQ(CaptureFileName("/f", "../../etc/passwd", December7()), "/f/_07-12-2026-09-05-03.sff");
}

TEST(B3ConfigurationTest, StationIdOfSevenCharactersGivesStructLength14) {
  std::string s = B3Configuration("1234567");
  ASSERT_EQ(s.size(), 15u);
  EXPECT_EQ(s[0], 14);
  EXPECT_EQ(s.substr(1, 4), std::string(4, '\0'));  // resolution and format 0
  EXPECT_EQ(s[5], 7);
  EXPECT_EQ(s.substr(6, 7), "1234567");
  EXPECT_EQ(s[13], 1);
  EXPECT_EQ(s[14], ' ');
}

TEST(B3ConfigurationTest, LongNumberIsCutToTwentyCharacters) {
  std::string s = B3Configuration("+49 30 1234567890123456789");
  EXPECT_EQ(s[0], 6 + 20 + 1);
  EXPECT_EQ(s[5], 20);
  EXPECT_EQ(s.substr(6, 20), "+49 30 1234567890123");
  EXPECT_EQ(B3Configuration("")[0], 7);
}

class FaxCaptureTest : public ::testing::Test {
 protected:
  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
  CFaxCapture capture_{log_};
};

TEST_F(FaxCaptureTest, BlocksAreAppendedOnlyWhileCaptureIsOn) {
  std::string path;
  ASSERT_TRUE(capture_.Create(dir_.Path(), "0301", path));
  EXPECT_EQ(path.rfind(dir_.Path() + "0301_", 0), 0u);
  const std::uint8_t a[] = {0, 1, 2, 0xff};
  capture_.DataAvailable(a, sizeof a);  // capture still off: dropped
  capture_.On();
  capture_.DataAvailable(a, sizeof a);
  capture_.DataAvailable(a, 0);
  capture_.DataAvailable(a + 1, 2);
  capture_.Off();
  capture_.DataAvailable(a, sizeof a);
  capture_.Close();
  EXPECT_EQ(test::ReadFileBytes(path), std::string("\x00\x01\x02\xff\x01\x02", 6));
  EXPECT_TRUE(test::EventDescriptions(dir_.Path()).empty());
}

TEST_F(FaxCaptureTest, CapturesOfOneCallerInOneSecondNeverShareAFile) {
  const std::uint8_t a[] = {'a'}, b[] = {'b'};
  std::string first, second, third, stem;
  // Three captures within one second; tried again in a fresh folder when the
  // clock's second turned between them.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string folder = dir_.Path() + "try" + std::to_string(attempt);
    ASSERT_TRUE(capture_.Create(folder, "0301", first));
    capture_.On();
    capture_.DataAvailable(a, 1);
    ASSERT_TRUE(capture_.Finish());
    ASSERT_TRUE(capture_.Create(folder, "0301", second));
    capture_.DataAvailable(b, 1);
    ASSERT_TRUE(capture_.Finish());
    ASSERT_TRUE(capture_.Create(folder, "0301", third));
    capture_.Close();
    stem = first.substr(0, first.size() - 4);
    if (second == stem + "-2.sff" && third == stem + "-3.sff") break;
  }
  EXPECT_EQ(second, stem + "-2.sff");
  EXPECT_EQ(third, stem + "-3.sff");
  EXPECT_EQ(test::ReadFileBytes(first), "a");
  EXPECT_EQ(test::ReadFileBytes(second), "b");
}

TEST_F(FaxCaptureTest, MissingFolderIsCreatedOneLevelWithAnEventText) {
  std::string path;
  ASSERT_TRUE(capture_.Create(dir_.Path() + "in", "1", path));
  EXPECT_TRUE(test::FileExists(path));
  EXPECT_EQ(test::EventDescriptions(dir_.Path()), std::vector<std::string>{"receive_fax_folder_not_exist."});
  EXPECT_FALSE(capture_.Create(dir_.Path() + "a/b", "1", path));
  EXPECT_EQ(path.rfind(dir_.Path() + "a/b/1_", 0), 0u);
}

}  // namespace
}  // namespace kestrel

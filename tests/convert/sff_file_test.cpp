// The SFF reader: document and page structure, record types, line counting,
// and how it meets files that are cut short, malformed or missing.
#include "convert/sff_file.h"

#include <gtest/gtest.h>

#include "convert/sff_error.h"
#include "core/event_log.h"
#include "tests/convert/open_sff.h"
#include "tests/convert/sff_bytes.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CSffBytes;
using test::CTempDir;
using test::kWhiteLine1728;

class SffFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    std::string path = dir_.File("fax.sff");
    test::WriteFileBytes(path, bytes);
    return path;
  }
  int ErrorOf(const std::string& bytes) {
    const Result<CSffFile> sff = CSffFile::Open(Write(bytes), log_);
    return sff ? -1 : sff.Error().code;
  }

  CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST_F(SffFileTest, ErrorTextsAreTheSystemsOwn) {
  EXPECT_EQ(SffErrorText(0), "Not a valid sff file.");
  EXPECT_EQ(SffErrorText(1), "File seems corrupt. Reading abandoned.");
  EXPECT_EQ(SffErrorText(5), "Line doesn't begin with white code.");
  EXPECT_EQ(SffErrorText(6), "White code not followed by black code.");
  EXPECT_EQ(SffErrorText(7), "Black MUC not followed by black TERM.");
  EXPECT_EQ(SffErrorText(8), "White MUC not followed by white TERM.");
  // The acute accent, not an apostrophe.
  EXPECT_EQ(SffErrorText(9), "Don\xC2\xB4t know how to handle this Fileversion.");
  EXPECT_EQ(SffErrorText(10), "Don\xC2\xB4t know how to handle this encoding.");
  EXPECT_EQ(SffErrorText(2), "Unknown error.");
  EXPECT_EQ(SffErrorText(11), "Unknown error.");
}

TEST_F(SffFileTest, VersionZeroAndOneAreReadGreaterIsRefused) {
  for (int version : {0, 1}) {
    CSffFile sff = test::OpenSff(
        Write(CSffBytes().DocumentHeader(version).PageHeader(1, 1728, 1).Line(kWhiteLine1728).End().Text()), log_);
    EXPECT_EQ(sff.PageCount(), 1) << version;
  }
  EXPECT_EQ(ErrorOf(CSffBytes().DocumentHeader(2).PageHeader(1, 1728, 1).End().Text()), 9);
}

TEST_F(SffFileTest, WrongMagicIsNotAnSffFile) {
  EXPECT_EQ(ErrorOf("%PDF-1.4 this is no fax at all"), 0);
  EXPECT_EQ(ErrorOf(""), 0);
  EXPECT_EQ(ErrorOf("Sff"), 0);
  std::string bytes = CSffBytes().DocumentHeader().End().Text();
  bytes[3] = 'F';
  EXPECT_EQ(ErrorOf(bytes), 0);
}

TEST_F(SffFileTest, FirstPageOffsetMustPointAtThePageMarker) {
  // The offset points at the length byte instead of the marker.
  EXPECT_EQ(ErrorOf(CSffBytes().DocumentHeader(1, 21).PageHeader(1, 1728, 1).End().Text()), 1);
  // A gap of four bytes before the first page, which the offset skips.
  CSffFile sff = test::OpenSff(
      Write(
          CSffBytes().DocumentHeader(1, 24).Add({1, 2, 3, 4}).PageHeader(1, 1728, 1).Line(kWhiteLine1728).End().Text()),
      log_);
  EXPECT_EQ(sff.PageCount(), 1);
  EXPECT_EQ(sff.PageLines(1), 1);
}

TEST_F(SffFileTest, FirstPageHeaderOfLengthZeroIsAnEmptyDocument) {
  CSffFile sff = test::OpenSff(Write(CSffBytes().DocumentHeader().End().Text()), log_);
  EXPECT_EQ(sff.PageCount(), 0);
  EXPECT_FALSE(sff.SeekPage(1));
}

TEST_F(SffFileTest, CodingOtherThanModifiedHuffmanIsRefused) {
  EXPECT_EQ(ErrorOf(CSffBytes().DocumentHeader().PageHeader(1, 1728, 1, 16, 1).Line(kWhiteLine1728).End().Text()), 10);
  // Also on a later page: the pages before it go with the reader.
  EXPECT_EQ(ErrorOf(CSffBytes()
                        .DocumentHeader()
                        .PageHeader(1, 1728, 1)
                        .Line(kWhiteLine1728)
                        .PageHeader(1, 1728, 1, 16, 2)
                        .Line(kWhiteLine1728)
                        .End()
                        .Text()),
            10);
}

TEST_F(SffFileTest, LongerPageHeaderIsSkippedToTheData) {
  CSffFile sff =
      test::OpenSff(Write(CSffBytes().DocumentHeader().PageHeader(1, 2048, 1, 20).Add({220}).End().Text()), log_);
  ASSERT_EQ(sff.PageCount(), 1);
  EXPECT_EQ(sff.PageWidth(1), 2048u);
  EXPECT_EQ(sff.PageLines(1), 4);  // the filler bytes 0xEE were not taken as records
  ASSERT_TRUE(sff.SeekPage(1));
  SffRecord r;
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::WhiteSkip);
  EXPECT_EQ(r.count, 4);
  EXPECT_FALSE(sff.NextRecord(r));
}

TEST_F(SffFileTest, RecordsOfEveryKindAreCountedAndReadInOrder) {
  std::vector<std::uint8_t> longLine(300, 0x00);
  longLine[0] = 0xB2;
  std::vector<std::uint8_t> line216(216, 0x11);
  const std::string bytes = CSffBytes()
                                .DocumentHeader()
                                .PageHeader(1, 1728, 1100)
                                .Add({217})            // 1 white line
                                .Add({253})            // 37 white lines
                                .Add({0, 0x2C, 0x01})  // 300-byte coded line, long form
                                .Add(longLine)
                                .Line(line216)                 // 216 bytes, short form
                                .Add({255, 0})                 // illegal line: counts one
                                .Add({255, 3, 'a', 'b', 'c'})  // user information: counts none
                                .Line(kWhiteLine1728)
                                .End()
                                .Text();
  CSffFile sff = test::OpenSff(Write(bytes), log_);
  ASSERT_EQ(sff.PageCount(), 1);
  EXPECT_EQ(sff.PageLines(1), 1 + 37 + 1 + 1 + 1 + 1);

  ASSERT_TRUE(sff.SeekPage(1));
  SffRecord r;
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::WhiteSkip);
  EXPECT_EQ(r.count, 1);
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::WhiteSkip);
  EXPECT_EQ(r.count, 37);
  EXPECT_TRUE(r.data.empty());
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::CodedLine);
  EXPECT_EQ(r.count, 300);
  EXPECT_EQ(r.data, longLine);
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.count, 216);
  EXPECT_EQ(r.data, line216);
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::IllegalLine);
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(r.data.empty());
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::UserInfo);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "abc");
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.data, kWhiteLine1728);
  EXPECT_FALSE(sff.NextRecord(r));
}

TEST_F(SffFileTest, CountedLinesReplaceWhatThePageHeaderClaims) {
  CSffBytes b;
  b.DocumentHeader().PageHeader(1, 1728, 1100);
  for (int i = 0; i < 1143; ++i) b.Line(kWhiteLine1728);
  CSffFile sff = test::OpenSff(Write(b.End().Text()), log_);
  EXPECT_EQ(sff.PageLines(1), 1143);
}

TEST_F(SffFileTest, LastPageHeaderDecidesTheResolution) {
  const auto twoPages = [](int first, int second) {
    return CSffBytes()
        .DocumentHeader()
        .PageHeader(first, 1728, 1)
        .Line(kWhiteLine1728)
        .PageHeader(second, 1728, 1)
        .Line(kWhiteLine1728)
        .End()
        .Text();
  };
  CSffFile normalThenFine = test::OpenSff(Write(twoPages(0, 1)), log_);
  EXPECT_EQ(normalThenFine.PageCount(), 2);
  EXPECT_NE(normalThenFine.VerticalResolution(), 0);
  CSffFile fineThenNormal = test::OpenSff(Write(twoPages(1, 0)), log_);
  EXPECT_EQ(fineThenNormal.VerticalResolution(), 0);
}

TEST_F(SffFileTest, PagesAreFoundByScanningAndAddressedFromOne) {
  CSffBytes b;
  b.DocumentHeader()
      .PageHeader(1, 1728, 0)
      .Add({220})
      .PageHeader(1, 2048, 0)
      .Line(kWhiteLine1728)
      .Line(kWhiteLine1728)
      .PageHeader(1, 2432, 0)
      .Add({255, 0})
      .End();
  CSffFile sff = test::OpenSff(Write(b.Text()), log_);
  ASSERT_EQ(sff.PageCount(), 3);
  EXPECT_EQ(sff.PageWidth(1), 1728u);
  EXPECT_EQ(sff.PageLines(1), 4);
  EXPECT_EQ(sff.PageWidth(2), 2048u);
  EXPECT_EQ(sff.PageLines(2), 2);
  EXPECT_EQ(sff.PageWidth(3), 2432u);
  EXPECT_EQ(sff.PageLines(3), 1);
  for (int outside : {0, -1, 4, 101}) {
    EXPECT_EQ(sff.PageWidth(outside), 0u);
    EXPECT_EQ(sff.PageLines(outside), 0);
    EXPECT_FALSE(sff.SeekPage(outside));
  }
  // Seeking back to an earlier page reads it again from its start.
  SffRecord r;
  ASSERT_TRUE(sff.SeekPage(2));
  ASSERT_TRUE(sff.NextRecord(r));
  ASSERT_TRUE(sff.SeekPage(1));
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::WhiteSkip);
}

TEST_F(SffFileTest, MissingFileHasNoPages) {
  CSffFile sff = test::OpenSff(dir_.File("nowhere.sff"), log_);
  EXPECT_EQ(sff.PageCount(), 0);
  EXPECT_EQ(sff.PageWidth(1), 0u);
  EXPECT_EQ(sff.PageLines(1), 0);
  EXPECT_FALSE(sff.SeekPage(1));
  SffRecord r;
  EXPECT_FALSE(sff.NextRecord(r));
  // A folder is no file either.
  CSffFile folder = test::OpenSff(dir_.Path(), log_);
  EXPECT_EQ(folder.PageCount(), 0);
}

TEST_F(SffFileTest, TruncatedFileKeepsThePagesAndLinesReadSoFar) {
  CSffBytes b;
  b.DocumentHeader().PageHeader(1, 1728, 5).Line(kWhiteLine1728).PageHeader(1, 1728, 5);
  b.Line(kWhiteLine1728).Line(kWhiteLine1728).Add({220});
  const std::string complete = b.Text();
  {
    CSffFile sff =
        test::OpenSff(Write(complete + std::string("\x0A\x01\x02", 3)), log_);  // a 10-byte line cut after 2 bytes
    ASSERT_EQ(sff.PageCount(), 2);
    EXPECT_EQ(sff.PageLines(2), 6);
    ASSERT_TRUE(sff.SeekPage(2));
    SffRecord r;
    int records = 0;
    while (sff.NextRecord(r)) ++records;
    EXPECT_EQ(records, 3);  // the cut line is not handed out
    EXPECT_FALSE(sff.NextRecord(r));
  }
  // Cut inside the second page's header: one page.
  CSffFile cutHeader = test::OpenSff(
      Write(CSffBytes().DocumentHeader().PageHeader(1, 1728, 5).Line(kWhiteLine1728).Add({254, 16, 1, 0}).Text()),
      log_);
  EXPECT_EQ(cutHeader.PageCount(), 1);
  // Cut in the document header, or right after it.
  CSffFile cutDocument = test::OpenSff(Write(CSffBytes().DocumentHeader().Text().substr(0, 12)), log_);
  EXPECT_EQ(cutDocument.PageCount(), 0);
  CSffFile headerOnly = test::OpenSff(Write(CSffBytes().DocumentHeader().Text()), log_);
  EXPECT_EQ(headerOnly.PageCount(), 0);
  // Long-form lengths that claim more than the file holds end the page too.
  CSffFile hugeClaim = test::OpenSff(
      Write(CSffBytes().DocumentHeader().PageHeader(1, 1728, 5).Line(kWhiteLine1728).Add({0, 0xFF, 0xFF, 1, 2}).Text()),
      log_);
  ASSERT_EQ(hugeClaim.PageCount(), 1);
  EXPECT_EQ(hugeClaim.PageLines(1), 1);
}

TEST_F(SffFileTest, PagesBeyondTheHundredthAreIgnoredAndLogged) {
  CSffBytes b;
  b.DocumentHeader();
  for (int i = 0; i < 103; ++i) b.PageHeader(i < 100 ? 1 : 0, 1728, 1).Line(kWhiteLine1728);
  CSffFile sff = test::OpenSff(Write(b.End().Text()), log_);
  EXPECT_EQ(sff.PageCount(), MaxSffPages);
  EXPECT_EQ(sff.PageLines(100), 1);
  EXPECT_NE(sff.VerticalResolution(), 0);  // the ignored pages' headers do not count
  const auto events = test::EventDescriptions(dir_.Path());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], test::LoggedForm("SFF file holds more than 100 pages, the pages after page 100 are ignored."));
}

TEST_F(SffFileTest, ShortPageHeaderLengthNeverMovesBack) {
  // L = 10 claims fewer header bytes than the 16 every header has; the data
  // still starts after those 16.
  CSffFile sff =
      test::OpenSff(Write(CSffBytes().DocumentHeader().PageHeader(1, 1728, 1, 10).Add({230}).End().Text()), log_);
  ASSERT_EQ(sff.PageCount(), 1);
  EXPECT_EQ(sff.PageLines(1), 14);
}

}  // namespace
}  // namespace kestrel

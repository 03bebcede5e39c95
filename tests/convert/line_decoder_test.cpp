// The Modified Huffman line decoder: the worked examples, the end of a line,
// every error state, the code tables against libtiff's coder, and the
// table-driven decoder against the table search that defines it.
#include "convert/line_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "convert/mh_code_tables.h"
#include "convert/sff_error.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

struct Decoded {
  int error = 0;  // 0 or the SffError code
  std::vector<std::uint8_t> row;
};

SffRecord CodedLine(const std::vector<std::uint8_t>& bytes) {
  SffRecord line;
  line.type = SffRecordType::CodedLine;
  line.data = bytes;
  line.count = static_cast<std::uint16_t>(bytes.size());
  return line;
}

Decoded Decode(const std::vector<std::uint8_t>& bytes, bool bySearch = false, std::size_t size = RowBufferSize) {
  Decoded d;
  d.row.assign(size, 0);
  const auto decode = bySearch ? DecodeLineBySearch : DecodeLine;
  const Status decoded = decode(CodedLine(bytes), {1, 1}, d.row.data(), size);
  if (!decoded) d.error = decoded.Error().code;
  return d;
}

constexpr int kBlackMakeUpNoTerm = static_cast<int>(SffError::kBlackMakeUpNoTerm);
constexpr int kWhiteMakeUpNoTerm = static_cast<int>(SffError::kWhiteMakeUpNoTerm);
constexpr int kNoWhiteCode = static_cast<int>(SffError::kNoWhiteCode);
constexpr int kNoBlackCode = static_cast<int>(SffError::kNoBlackCode);

// Packs codes given as bit strings ("00111" first bit left) least significant
// bit first, padded with zero bits to a whole byte.
std::vector<std::uint8_t> Pack(std::initializer_list<const char*> codes) {
  std::vector<std::uint8_t> out;
  unsigned bit = 0;
  for (const char* code : codes)
    for (const char* c = code; *c; ++c, ++bit) {
      if (bit % 8 == 0) out.push_back(0);
      if (*c == '1') out.back() = static_cast<std::uint8_t>(out.back() | (1u << (bit % 8)));
    }
  return out;
}

bool Black(const std::vector<std::uint8_t>& row, std::size_t pixel) { return (row[pixel / 8] >> (7 - pixel % 8)) & 1; }

std::size_t BlackCount(const std::vector<std::uint8_t>& row) {
  std::size_t n = 0;
  for (std::uint8_t b : row) n += static_cast<std::size_t>(__builtin_popcount(b));
  return n;
}

TEST(LineDecoder, WhiteMakeUpAndTerminatingGiveAWhiteRow) {
  Decoded d = Decode({0xB2, 0x59, 0x01});
  EXPECT_EQ(d.error, 0);
  EXPECT_EQ(BlackCount(d.row), 0u);
}

TEST(LineDecoder, CodesInTheLastByteAreDecoded) {
  // White 1 and black 2 share the only byte; both are decoded.
  Decoded d = Decode({0xF8});
  EXPECT_EQ(d.error, 0);
  EXPECT_EQ(d.row[0], 0x60);  // pixels 1 and 2
  EXPECT_EQ(BlackCount(d.row), 2u);
}

TEST(LineDecoder, WhiteTenBlackThreeThenWhiteToTheEnd) {
  Decoded d = Decode({0x3C, 0x43, 0x05});
  EXPECT_EQ(d.error, 0);
  EXPECT_EQ(d.row[0], 0x00);
  EXPECT_EQ(d.row[1], 0x38);
  EXPECT_EQ(d.row[2], 0x00);
  EXPECT_EQ(BlackCount(d.row), 3u);
}

TEST(LineDecoder, BlackRunsOfEveryLengthLandOnTheirPixels) {
  // white 5, black 1728 + 63, white 0, black 2: ends at pixel 1798.
  Decoded d = Decode(Pack({"1100", "0000001100101", "000001100111", "00110101", "11"}));
  ASSERT_EQ(d.error, 0);
  EXPECT_FALSE(Black(d.row, 4));
  for (std::size_t p = 5; p < 5 + 1791 + 2; ++p) ASSERT_TRUE(Black(d.row, p)) << p;
  EXPECT_FALSE(Black(d.row, 5 + 1791 + 2));
  EXPECT_EQ(BlackCount(d.row), 1793u);
}

TEST(LineDecoder, ZeroRunStillChangesColour) {
  // white 0, black 3, white 0, black 2: five black pixels from pixel 0.
  Decoded d = Decode(Pack({"00110101", "10", "00110101", "11"}));
  EXPECT_EQ(d.error, 0);
  EXPECT_EQ(d.row[0], 0xF8);
}

TEST(LineDecoder, BlackMakeUpWithoutTerminatingCodeIsErrorSeven) {
  // white 2, black make-up 64, then bits that are no black terminating code,
  // followed by more bytes so that the fault is found while loading.
  Decoded d = Decode(Pack({"0111", "0000001111", "000000000000", "0000000000000000"}));
  EXPECT_EQ(d.error, kBlackMakeUpNoTerm);
  // The pixels decoded before the fault stay in the row.
  EXPECT_TRUE(Black(d.row, 2));
  EXPECT_TRUE(Black(d.row, 65));
  EXPECT_FALSE(Black(d.row, 66));
}

TEST(LineDecoder, WhiteMakeUpWithoutTerminatingCodeIsErrorEight) {
  Decoded d = Decode(Pack({"11011", "00000000", "0000000000000000"}));
  EXPECT_EQ(d.error, kWhiteMakeUpNoTerm);
}

TEST(LineDecoder, ExtendedMakeUpCodesAreErrorsFiveAndSix) {
  // white 2048 as an extended make-up code, then white 0 and more.
  EXPECT_EQ(Decode(Pack({"000000010011", "00110101", "11", "0111", "0000000000000000"})).error, kNoWhiteCode);
  // white 4, black 1792 (extended), black 0.
  EXPECT_EQ(Decode(Pack({"1011", "00000001000", "0000110111", "0111", "0000000000000000"})).error, kNoBlackCode);
}

TEST(LineDecoder, EmptyLineIsErrorFive) {
  EXPECT_EQ(Decode({}).error, kNoWhiteCode);
  EXPECT_EQ(Decode({}, true).error, kNoWhiteCode);
}

TEST(LineDecoder, EndOfLineCodeIsNoCode) {
  EXPECT_EQ(Decode(Pack({"000000000001", "1011", "0111", "0000000000000000"})).error, kNoWhiteCode);
}

TEST(LineDecoder, UndecodableBitsAfterTheLastByteEndTheLineQuietly) {
  // white 4, black 3, then ten zero bits: no complete white code is left.
  Decoded d = Decode(Pack({"1011", "10", "0000"}));
  EXPECT_EQ(d.error, 0);
  EXPECT_EQ(d.row[0], 0x0E);
}

TEST(LineDecoder, PixelsBeyondTheBufferAreDropped) {
  // white 4, black 1728+63 into a 16-byte buffer (128 pixels).
  std::vector<std::uint8_t> guard(20, 0);
  ASSERT_TRUE(DecodeLine(CodedLine(Pack({"1011", "0000001100101", "000001100111"})), {1, 1}, guard.data(), 16));
  EXPECT_EQ(guard[0], 0x0F);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(guard[static_cast<std::size_t>(i)], 0xFF);
  for (int i = 16; i < 20; ++i) EXPECT_EQ(guard[static_cast<std::size_t>(i)], 0x00);
}

TEST(LineDecoder, DecodeLineClearsTheBufferAndReportsFaults) {
  std::vector<std::uint8_t> row(RowBufferSize, 0xAA);
  const SffRecord line = CodedLine({0x3C, 0x43, 0x05});
  EXPECT_TRUE(DecodeLine(line, {1, 1}, row.data(), row.size()));
  EXPECT_EQ(row[1], 0x38);
  EXPECT_EQ(row[RowBufferSize - 1], 0x00);

  const SffRecord broken = CodedLine(Pack({"0111", "0000001111", "000000000000", "0000000000000000"}));
  EXPECT_FALSE(DecodeLine(broken, {1, 1}, row.data(), row.size()));
  EXPECT_TRUE(Black(row, 2));  // the part before the fault stays

  SffRecord skip;
  skip.type = SffRecordType::WhiteSkip;
  skip.count = 3;
  EXPECT_FALSE(DecodeLine(skip, {1, 1}, row.data(), row.size()));
  EXPECT_TRUE(Black(row, 2));  // untouched
}

TEST(LineDecoder, FaultyLineIsReportedWithItsPageAndLine) {
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  const Status decoded =
      DecodeLine(CodedLine(Pack({"11011", "00000000", "0000000000000000"})), {3, 17}, row.data(), row.size());
  ASSERT_FALSE(decoded.Ok());
  EXPECT_EQ(decoded.Error(), (Failure{"Page 3, line 17", "White MUC not followed by white TERM.", 8}));
  EXPECT_EQ(decoded.Describe(), "Page 3, line 17: White MUC not followed by white TERM.");
}

// The code tables: prefix-free per colour, each code where the recommendation
// puts it, checked by having libtiff code one row per run length.
TEST(LineDecoder, TablesAreOrderedAndEnd) {
  for (const MHCodeEntry* table : {kWhiteTerminatingCodes, kBlackTerminatingCodes}) {
    int run = 0;
    for (const MHCodeEntry* e = table; e->code != 0; ++e, ++run) {
      EXPECT_EQ(e->run, run);
      EXPECT_GE(e->length, 2);
      EXPECT_LE(e->length, 13);
    }
    EXPECT_EQ(run, 64);
  }
  for (const MHCodeEntry* table : {kWhiteMakeUpCodes, kBlackMakeUpCodes}) {
    int run = 64;
    for (const MHCodeEntry* e = table; e->code != 0; ++e, run += 64) EXPECT_EQ(e->run, run);
    EXPECT_EQ(run, 1792);
  }
}

TEST(LineDecoder, EveryRunLengthDecodesAsLibtiffCodedIt) {
  // Rows of 1728 pixels with a black run of every length 1..1727 after a
  // white run of every other length, so that every white and black code of
  // both tables appears.
  const std::uint32_t width = 1728;
  tools::CMonoBitmap image(width, 2 * 1727);
  std::uint32_t y = 0;
  for (std::uint32_t black = 1; black < width; ++black, ++y)
    for (std::uint32_t x = width - black; x < width; ++x) image.Set(x, y);
  for (std::uint32_t white = 1; white < width; ++white, ++y)
    for (std::uint32_t x = 0; x < width - white; ++x) image.Set(x, y);
  const auto lines = tools::EncodeRowsMH(image);
  ASSERT_EQ(lines.size(), image.height);
  for (y = 0; y < image.height; ++y) {
    Decoded d = Decode(lines[y]);
    ASSERT_EQ(d.error, 0) << "row " << y;
    ASSERT_TRUE(std::equal(d.row.begin(), d.row.begin() + 216, image.Row(y))) << "row " << y;
    ASSERT_EQ(BlackCount(d.row), y < 1727 ? y + 1 : width - (y - 1727 + 1)) << "row " << y;
  }
}

TEST(LineDecoder, LibtiffCodesAWhiteRowAsTheWorkedExample) {
  tools::CMonoBitmap white(1728, 1);
  EXPECT_EQ(tools::EncodeRowsMH(white)[0], (std::vector<std::uint8_t>{0xB2, 0x59, 0x01}));
}

// The table-driven decoder and the table search agree on every input:
// result code, and every pixel, also for faulty and random lines.
TEST(LineDecoder, TableDrivenDecoderMatchesTableSearch) {
  std::mt19937 rng(4711);
  const auto check = [](const std::vector<std::uint8_t>& bytes, std::size_t size) {
    Decoded fast = Decode(bytes, false, size);
    Decoded slow = Decode(bytes, true, size);
    ASSERT_EQ(fast.error, slow.error);
    ASSERT_EQ(fast.row, slow.row);
  };
  // Random bytes: mostly faults, at every position and in every state.
  for (int i = 0; i < 20000; ++i) {
    std::vector<std::uint8_t> bytes(rng() % 12);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    check(bytes, RowBufferSize);
    check(bytes, 3);
  }
  // Valid lines cut or spoilt at random places.
  tools::CMonoBitmap image(1728, 64);
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x)
      if ((rng() % (y % 7 + 2)) == 0) image.Set(x, y);
  for (auto line : tools::EncodeRowsMH(image)) {
    check(line, RowBufferSize);
    for (int k = 0; k < 20; ++k) {
      auto cut = line;
      cut.resize(rng() % (line.size() + 1));
      check(cut, RowBufferSize);
      auto spoilt = line;
      spoilt[rng() % spoilt.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      check(spoilt, RowBufferSize);
    }
  }
}

TEST(LineDecoder, SearchDecoderKeepsTheEndRuleToo) {
  EXPECT_EQ(Decode({0xF8}, true).row[0], 0x60);
  EXPECT_EQ(Decode({0x3C, 0x43, 0x05}, true).row[1], 0x38);
}

}  // namespace
}  // namespace kestrel

// The sff-make program: PBM pages in, an SFF file out that Kestrel's reader
// takes apart again record by record.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "convert/line_decoder.h"
#include "convert/sff_file.h"
#include "core/event_log.h"
#include "tests/convert/open_sff.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

int RunSffMake(const std::string& args) {
  const int status = std::system((std::string(SFF_MAKE_PROGRAM) + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SffMake, WritesPagesFaultsAndUserInformation) {
  test::CTempDir dir;
  // 16 x 3 raw: a black pixel at (0,0), a white row, the right half black.
  test::WriteFileBytes(dir.File("a.pbm"),
                       std::string("P4\n# raw\n16 3\n") + std::string("\x80\x00\x00\x00\x00\xFF", 6));
  // 5 x 2 plain.
  test::WriteFileBytes(dir.File("b.pbm"), "P1\n5 2\n1 0 1 0 1\n0 0 0 0 0\n");
  ASSERT_EQ(RunSffMake("--normal --illegal 1:2 --user-info 2:1:hello -o " + dir.File("out.sff") + " " +
                       dir.File("a.pbm") + " " + dir.File("b.pbm")),
            0);
  CEventLog log(dir.Path());
  CSffFile sff = test::OpenSff(dir.File("out.sff"), log);
  ASSERT_EQ(sff.PageCount(), 2);
  EXPECT_EQ(sff.VerticalResolution(), 0);
  EXPECT_EQ(sff.PageWidth(1), 16u);
  EXPECT_EQ(sff.PageLines(1), 3);
  EXPECT_EQ(sff.PageWidth(2), 5u);
  EXPECT_EQ(sff.PageLines(2), 2);

  SffRecord r;
  std::vector<std::uint8_t> row(RowBufferSize);
  ASSERT_TRUE(sff.SeekPage(1));
  ASSERT_TRUE(sff.NextRecord(r));
  ASSERT_TRUE(DecodeLine(r, {1, 1}, row.data(), row.size()));
  EXPECT_EQ(row[0], 0x80);
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::WhiteSkip);
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::IllegalLine);
  EXPECT_FALSE(sff.NextRecord(r));

  ASSERT_TRUE(sff.SeekPage(2));
  ASSERT_TRUE(sff.NextRecord(r));
  ASSERT_TRUE(DecodeLine(r, {2, 1}, row.data(), row.size()));
  EXPECT_EQ(row[0], 0xA8);
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::UserInfo);
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "hello");
  ASSERT_TRUE(sff.NextRecord(r));
  EXPECT_EQ(r.type, SffRecordType::WhiteSkip);
  EXPECT_FALSE(sff.NextRecord(r));
}

TEST(SffMake, RefusesWhatItCannotRead) {
  test::CTempDir dir;
  test::WriteFileBytes(dir.File("x.pbm"), "P2\n2 2\n255\n0 0 0 0\n");
  EXPECT_EQ(RunSffMake("-o " + dir.File("out.sff") + " " + dir.File("x.pbm")), 1);
  EXPECT_EQ(RunSffMake("-o " + dir.File("out.sff") + " " + dir.File("missing.pbm")), 1);
  EXPECT_EQ(RunSffMake(dir.File("x.pbm")), 2);
  EXPECT_FALSE(test::FileExists(dir.File("out.sff")));
}

}  // namespace
}  // namespace kestrel

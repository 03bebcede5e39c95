// fuzz_sff: any bytes as an SFF file through the reader, the line decoder and
// the page bitmap, the way a conversion takes them. Besides the sanitizers it
// checks that the table-driven decoder agrees with the table search on every
// coded line, and that every page bitmap written reads back at its size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "convert/bmp_page_file.h"
#include "convert/bmp_reader.h"
#include "convert/line_decoder.h"
#include "convert/sff_converter.h"
#include "convert/sff_exception.h"
#include "convert/sff_file.h"
#include "core/event_log.h"

namespace {

class CQuietLog final : public kestrel::IEventLog {
 public:
  void WriteEventText(std::string_view) override {}
};

const std::string& Folder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_sff.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    static std::string made(name.data());
    std::atexit([] { ::rmdir(made.c_str()); });
    return made + "/";
  }();
  return folder;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_sff: %s\n", what);
    std::abort();
  }
}

void CompareDecoders(const kestrel::SffRecord& record) {
  std::vector<std::uint8_t> fast(kestrel::RowBufferSize, 0), slow(kestrel::RowBufferSize, 0);
  int fastError = 0, slowError = 0;
  {
    kestrel::CBitReader reader(record.data.data(), record.count);
    kestrel::CRowBitWriter writer(fast.data(), fast.size());
    fastError = kestrel::DecodeLineResult(reader, writer);
  }
  try {
    kestrel::CBitReader reader(record.data.data(), record.count);
    kestrel::CRowBitWriter writer(slow.data(), slow.size());
    kestrel::DecodeLineBySearch(reader, writer);
  } catch (const kestrel::CSffException& e) {
    slowError = e.GetErrorCode();
  }
  Check(fastError == slowError, "decoders disagree on the result");
  Check(fast == slow, "decoders disagree on the pixels");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string sffPath = Folder() + "fax.sff";
  const std::string bmpPath = Folder() + "TempFax.bmp";
  if (std::FILE* f = std::fopen(sffPath.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    std::abort();
  }

  CQuietLog log;
  try {
    kestrel::CSffFile sff(sffPath, log);
    Check(sff.PageCount() >= 0 && sff.PageCount() <= kestrel::MaxSffPages, "page count out of bounds");
    const bool doubled = sff.VerticalResolution() == 0;
    std::vector<std::uint8_t> row(kestrel::RowBufferSize, 0);
    kestrel::SffRecord record;
    kestrel::CBmpPageFile bmp;
    for (int page = 1; page <= sff.PageCount(); ++page) {
      Check(sff.SeekPage(page), "indexed page cannot be sought");
      std::int64_t lines = 0;
      while (sff.NextRecord(record)) {
        Check(record.type != kestrel::SffRecordType::CodedLine || record.data.size() == record.count,
              "coded line without its bytes");
        if (record.type == kestrel::SffRecordType::CodedLine) CompareDecoders(record);
        if (record.type != kestrel::SffRecordType::UserInfo)
          lines += record.type == kestrel::SffRecordType::WhiteSkip ? record.count : 1;
      }
      Check(lines == sff.PageLines(page), "records and line count disagree");

      if (!kestrel::WriteSffPageBitmap(sff, page, doubled, row.data(), record, bmp, bmpPath, log)) continue;
      kestrel::CBmpReader reader;
      Check(reader.Open(bmpPath) == 0, "page bitmap does not read back");
      Check(static_cast<std::uint32_t>(reader.Width()) == sff.PageWidth(page), "page bitmap of another width");
      std::vector<std::uint8_t> gray(static_cast<std::size_t>(reader.Width()));
      Check(reader.ReadRowGray(reader.Height() - 1, gray.data()) == 0, "last row of the page bitmap unreadable");
    }
  } catch (const kestrel::CSffException& e) {
    const int code = e.GetErrorCode();
    Check(code == 0 || code == 1 || code == 9 || code == 10, "reader raised a decoder error");
  }
  ::unlink(bmpPath.c_str());
  ::unlink(sffPath.c_str());
  return 0;
}

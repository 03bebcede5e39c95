// fuzz_sff: any bytes as an SFF file through the reader, the line decoder, the
// in-memory page and its scaled rows, the way a conversion takes them.
// Besides the sanitizers it checks that the table-driven decoder agrees with
// the table search on every coded line, that every decoded page keeps its
// header's width within the size bounds, and that its rows scale as the
// image writers read them (every row of a small page, the last of a big one).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "convert/fax_page.h"
#include "convert/line_decoder.h"
#include "convert/page_image_writer.h"
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

void CompareDecoders(const kestrel::SffRecord& record, kestrel::SffLinePlace place) {
  std::vector<std::uint8_t> fast(kestrel::RowBufferSize, 0), slow(kestrel::RowBufferSize, 0);
  const kestrel::Status fastResult = kestrel::DecodeLine(record, place, fast.data(), fast.size());
  const kestrel::Status slowResult = kestrel::DecodeLineBySearch(record, place, slow.data(), slow.size());
  Check(fastResult.Ok() ? slowResult.Ok() : !slowResult.Ok() && fastResult.Error() == slowResult.Error(),
        "decoders disagree on the result");
  Check(fast == slow, "decoders disagree on the pixels");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string sffPath = Folder() + "fax.sff";
  if (std::FILE* f = std::fopen(sffPath.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    std::abort();
  }

  CQuietLog log;
  kestrel::Result<kestrel::CSffFile> opened = kestrel::CSffFile::Open(sffPath, log);
  if (opened) {
    kestrel::CSffFile& sff = *opened;
    Check(sff.PageCount() >= 0 && sff.PageCount() <= kestrel::MaxSffPages, "page count out of bounds");
    const bool doubled = sff.VerticalResolution() == 0;
    std::vector<std::uint8_t> row(kestrel::RowBufferSize, 0);
    kestrel::SffRecord record;
    kestrel::CFaxPage decoded;
    for (int page = 1; page <= sff.PageCount(); ++page) {
      Check(sff.SeekPage(page), "indexed page cannot be sought");
      std::int64_t lines = 0;
      while (sff.NextRecord(record)) {
        Check(record.type != kestrel::SffRecordType::CodedLine || record.data.size() == record.count,
              "coded line without its bytes");
        if (record.type != kestrel::SffRecordType::UserInfo)
          lines += record.type == kestrel::SffRecordType::WhiteSkip ? record.count : 1;
        if (record.type == kestrel::SffRecordType::CodedLine) CompareDecoders(record, {page, static_cast<int>(lines)});
      }
      Check(lines == sff.PageLines(page), "records and line count disagree");

      if (!kestrel::DecodeSffPage(sff, page, doubled, row.data(), decoded, log)) continue;
      Check(static_cast<std::uint32_t>(decoded.Width()) == sff.PageWidth(page), "page of another width");
      const auto pixels = static_cast<std::uint64_t>(decoded.Width()) * static_cast<std::uint64_t>(decoded.Height());
      Check(decoded.Height() > 0 && pixels <= kestrel::kMaxPagePixels, "page beyond its bounds");
      kestrel::CScaledPageRows scaled(decoded);
      const kestrel::CImageSize size = kestrel::A4ScaledSize(decoded.Width(), decoded.Height(), decoded.ResolutionX());
      Check(scaled.Width() == size.width && scaled.Height() == size.height, "scaled page of another size");
      for (int y = pixels <= (std::uint64_t{1} << 20) ? 0 : scaled.Height() - 1; y < scaled.Height(); ++y)
        scaled.Row(y);
    }
  } else {
    const int code = opened.Error().code;
    Check(code == 0 || code == 1 || code == 9 || code == 10, "reader raised a decoder error");
  }
  ::unlink(sffPath.c_str());
  return 0;
}

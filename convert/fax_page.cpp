#include "convert/fax_page.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "convert/sff_file.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

std::string Format(const char* format, int a, unsigned long long b) {
  char text[160];
  std::snprintf(text, sizeof(text), format, a, b);
  return text;
}

}  // namespace

bool CFaxPage::Reset(std::uint32_t width, std::uint32_t height) {
  width_ = height_ = next_ = 0;
  stride_ = 0;
  resolutionX_ = resolutionY_ = kFaxPageResolution;
  if (width == 0 || height == 0) return true;  // an empty page
  stride_ = (static_cast<std::size_t>(width) + 7) / 8;
  try {
    rows_.assign(stride_ * height, 0);
  } catch (const std::bad_alloc&) {
    std::vector<std::uint8_t>().swap(rows_);
    stride_ = 0;
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

void CFaxPage::AppendRow(const std::uint8_t* row, unsigned times) {
  // The row buffer may hold pixels beyond the width (runs longer than the
  // page); they are not part of the page.
  const auto lastMask = static_cast<std::uint8_t>(0xFF00u >> (((width_ - 1) & 7) + 1));
  for (unsigned i = 0; i < times && next_ < height_; ++i, ++next_) {
    std::uint8_t* out = rows_.data() + static_cast<std::size_t>(next_) * stride_;
    std::memcpy(out, row, stride_);
    out[stride_ - 1] &= lastMask;
  }
}

void CFaxPage::AppendWhiteRows(std::uint64_t times) {
  next_ = times >= height_ - next_ ? height_ : next_ + static_cast<std::uint32_t>(times);
}

Status DecodeSffPage(CSffFile& sff, int page, bool doubled, std::uint8_t* row, CFaxPage& out, IEventLog& log) {
  const std::uint32_t width = sff.PageWidth(page);
  const std::int32_t lines = sff.PageLines(page);
  const auto refuse = [&log](Status refusal) {
    log.WriteEventText(refusal.Describe());
    return refusal;
  };
  const std::string refused = "Page " + std::to_string(page) + " of the fax is not converted";
  if (width == 0 || width > kMaxPageWidth)
    return refuse(Status::Failed(refused, "a width of " + std::to_string(width) + " pixels is not supported."));
  if (lines <= 0) return refuse(Status::Failed(refused, "it has no lines."));
  const unsigned times = doubled ? 2 : 1;
  std::uint64_t rows = static_cast<std::uint64_t>(lines) * times;
  if (rows * width > kMaxPagePixels) {
    rows = kMaxPagePixels / width;
    log.WriteEventText(Format("Page %d of the fax is too long and is cut after %llu rows.", page, rows));
  }
  if (!out.Reset(width, static_cast<std::uint32_t>(rows))) {
    char text[64];
    std::snprintf(text, sizeof(text), "Failed to allocate %zu BYTEs",
                  static_cast<std::size_t>(rows) * ((width + 7) / 8));
    return refuse(Status::Failed("", text));
  }
  // Every record is read, also once the page is full, so that the row buffer
  // leaves the page as its last line left it.
  SffRecord record;
  SffLinePlace place{page, 0};
  for (bool more = sff.SeekPage(page) && sff.NextRecord(record); more; more = sff.NextRecord(record)) {
    switch (record.type) {
      case SffRecordType::CodedLine:
        ++place.line;
        // A line that does not decode is left out and the page goes on: the
        // rows of the lines after it move up, the page's end stays white.
        if (DecodeLine(record, place, row, RowBufferSize).Ok()) out.AppendRow(row, times);
        break;
      case SffRecordType::WhiteSkip:
        place.line += record.count;
        std::memset(row, 0, RowBufferSize);
        out.AppendWhiteRows(std::uint64_t{record.count} * times);
        break;
      case SffRecordType::IllegalLine:
        ++place.line;
        out.AppendRow(row, times);
        break;
      case SffRecordType::UserInfo: break;
    }
  }
  return {};
}

}  // namespace kestrel

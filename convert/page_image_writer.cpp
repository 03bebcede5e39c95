#include "convert/page_image_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

#include "convert/image_encoders.h"
#include "convert/image_error.h"
#include "convert/tiff_pages.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

constexpr double kInchesPerCentimetre = 0.39370078740157477;
constexpr double kA4WidthCentimetres = 21.0;

// The eight grey pixels of each byte of a 1-bit row.
constexpr std::array<std::array<std::uint8_t, 8>, 256> kGreyPixels = [] {
  std::array<std::array<std::uint8_t, 8>, 256> table{};
  for (unsigned v = 0; v < 256; ++v)
    for (unsigned k = 0; k < 8; ++k) table[v][k] = (v >> (7 - k)) & 1 ? 0 : 255;
  return table;
}();

void ExpandRow(const std::uint8_t* bits, int width, std::uint8_t* grey) {
  const auto whole = static_cast<std::size_t>(width) / 8;
  for (std::size_t i = 0; i < whole; ++i) std::memcpy(grey + i * 8, kGreyPixels[bits[i]].data(), 8);
  if (width % 8) std::memcpy(grey + whole * 8, kGreyPixels[bits[whole]].data(), static_cast<std::size_t>(width % 8));
}

}  // namespace

// The page's rows as the scaler reads them. The bits beyond the width are
// clear, so a row is white when all its bytes are 0.
class CScaledPageRows::CPageInput final : public IScaleInput {
 public:
  explicit CPageInput(const CFaxPage& page) : page_(page) {}
  void ReadRow(int y, std::uint8_t* out) override { ExpandRow(page_.Row(y), page_.Width(), out); }
  bool IsWhite(int y) override {
    const std::uint8_t* row = page_.Row(y);
    const std::size_t bytes = page_.Stride();
    std::size_t i = 0;
    for (std::uint64_t eight; i + 8 <= bytes; i += 8) {
      std::memcpy(&eight, row + i, 8);
      if (eight != 0) return false;
    }
    while (i < bytes && row[i] == 0) ++i;
    return i == bytes;
  }

 private:
  const CFaxPage& page_;
};

CImageSize A4ScaledSize(int width, int height, int resolutionX) {
  const int target = static_cast<int>(resolutionX * kInchesPerCentimetre * kA4WidthCentimetres);
  if (width <= target) return {width, height};
  const double factor = 1.0 / (static_cast<double>(width) / target);
  const CImageSize scaled{static_cast<int>(width * factor), static_cast<int>(height * factor)};
  // A page too short to keep a row after scaling is written as it is.
  return scaled.width > 0 && scaled.height > 0 ? scaled : CImageSize{width, height};
}

CScaledPageRows::CScaledPageRows(const CFaxPage& page)
    : page_(page),
      size_(A4ScaledSize(page.Width(), page.Height(), page.ResolutionX())),
      input_(std::make_unique<CPageInput>(page)),
      row_(static_cast<std::size_t>(std::max(size_.width, page.Width()))) {
  if (size_.width != page.Width() || size_.height != page.Height())
    scaler_ = std::make_unique<CAreaScaler>(page.Width(), page.Height(), 1, size_.width, size_.height);
}

CScaledPageRows::~CScaledPageRows() = default;

const std::uint8_t* CScaledPageRows::Row(int y) {
  if (scaler_)
    scaler_->Row(y, *input_, row_.data());
  else
    ExpandRow(page_.Row(y), page_.Width(), row_.data());
  return row_.data();
}

Status WritePageImage(const CFaxPage& page, ImageFormat format, const std::string& path, IEventLog& log) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  // A destination that cannot be opened is not logged.
  if (file == nullptr) return ImageFailure(ImageError::kFileOpen);
  std::vector<char> buffer(256 * 1024);
  std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
  Status result = ImageFailure(ImageError::kBadParam);
  if (!page.Empty() && (format == ImageFormat::Jpg || format == ImageFormat::Png)) {
    try {
      CScaledPageRows rows(page);
      const auto encode = format == ImageFormat::Jpg ? WriteJpegFile : WritePngFile;
      result = encode(file, rows, rows.Width(), rows.Height(), 1, page.ResolutionX(), page.ResolutionY());
    } catch (const std::bad_alloc&) {
      result = ImageFailure(ImageError::kOutOfMemory);
    }
  }
  if (std::fclose(file) != 0 && result.Ok()) result = ImageFailure(ImageError::kFileWrite);
  if (!result.Ok()) {
    ::unlink(path.c_str());
    log.WriteEventText(result.Error().text);
  }
  return result;
}

Status AppendPageToTiff(const CFaxPage& page, const std::string& tiffPath, int pageIndex, IEventLog& log) {
  Status result;
  try {
    CScaledPageRows rows(page);
    result = WriteTiffPage(tiffPath, pageIndex > 0, rows, rows.Width(), rows.Height(), page.ResolutionX(),
                           page.ResolutionY());
  } catch (const std::bad_alloc&) {
    result = ImageFailure(ImageError::kOutOfMemory, kTiffWriteStep);  // the file was not the trouble
  }
  if (result.Ok()) return result;
  const bool opened = result.Error().step != kTiffOpenStep;
  log.WriteEventText((opened ? "An error ocours the conversion " : "Can not open the TIF file: ") +
                     result.Error().text);
  return result;
}

}  // namespace kestrel

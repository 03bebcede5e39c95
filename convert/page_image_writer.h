// Writes decoded fax pages as the image files that are mailed. Each page is
// scaled down to the width of an A4 sheet at its resolution (1653 pixels at
// 200 dots per inch) when it is wider, with the area-averaging filter, as
// grey (black 0, white 255), and written as a JPEG or PNG file of its own or
// as the next page of the multi-page TIFF, dithered back to two colours.
// Rows stream from the 1-bit page through the scaler into the encoder, so a
// page costs a few rows of work memory besides its own.
//
// Each writer answers a Status, failed with an image error (image_error.h),
// and writes the failure to the event log itself, as it always has, except a
// JPEG or PNG destination that cannot be opened. Not thread-safe: one writer
// per conversion.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/fax_page.h"
#include "convert/image_resize.h"
#include "convert/image_rows.h"
#include "core/image_format.h"
#include "core/result.h"

namespace kestrel {

class IEventLog;

struct CImageSize {
  int width = 0;
  int height = 0;
};

// The size a page of `width` x `height` is written at: scaled to the width of
// an A4 sheet at `resolutionX` dots per inch when it is wider, else as it is.
[[nodiscard]] CImageSize A4ScaledSize(int width, int height, int resolutionX);

// The grey rows of `page` as they are written (A4ScaledSize). Throws
// std::bad_alloc when the work memory cannot be had.
class CScaledPageRows final : public IImageRows {
 public:
  explicit CScaledPageRows(const CFaxPage& page);
  ~CScaledPageRows() override;

  [[nodiscard]] int Width() const { return size_.width; }
  [[nodiscard]] int Height() const { return size_.height; }
  const std::uint8_t* Row(int y) override;

 private:
  class CPageInput;

  const CFaxPage& page_;
  CImageSize size_;
  std::unique_ptr<CPageInput> input_;
  std::unique_ptr<CAreaScaler> scaler_;  // none when the page keeps its size
  std::vector<std::uint8_t> row_;
};

// Writes `page` to `path` as `format` (Jpg or Png). On failure nothing is
// left at `path`; the failure is logged as its text alone.
[[nodiscard]] Status WritePageImage(const CFaxPage& page, ImageFormat format, const std::string& path, IEventLog& log);

// Adds `page` to the TIFF `tiffPath` as page `pageIndex` (0 creates the file,
// replacing any there). A failure (step kTiffOpenStep or kTiffWriteStep, as
// tiff_pages.h) is logged as "Can not open the TIF file: %s" when the file
// could not be opened and as "An error ocours the conversion %s" otherwise.
[[nodiscard]] Status AppendPageToTiff(const CFaxPage& page, const std::string& tiffPath, int pageIndex, IEventLog& log);

}  // namespace kestrel

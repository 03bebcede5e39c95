// Writes decoded fax pages as the image files that are mailed. Each page is
// scaled down to the width of an A4 sheet at its resolution (1653 pixels at
// 200 dots per inch) when it is wider, with the area-averaging filter, as
// grey (black 0, white 255), and written as a JPEG or PNG file of its own or
// as the next page of the multi-page TIFF, dithered back to two colours.
// Rows stream from the 1-bit page through the scaler into the encoder, so a
// page costs a few rows of work memory besides its own.
//
// Failures are written to the event log as their ImageErrorText, except a
// JPEG or PNG destination that cannot be opened; the caller sees the answer.
// Not thread-safe: one writer per conversion.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/fax_page.h"
#include "convert/image_resize.h"
#include "convert/image_rows.h"
#include "core/image_format.h"

namespace kestrel {

class IEventLog;

struct CImageSize {
  int width = 0;
  int height = 0;
};

// The size a page of `width` x `height` is written at: scaled to the width of
// an A4 sheet at `resolutionX` dots per inch when it is wider, else as it is.
CImageSize A4ScaledSize(int width, int height, int resolutionX);

// The grey rows of `page` as they are written (A4ScaledSize). Throws
// std::bad_alloc when the work memory cannot be had.
class CScaledPageRows final : public IImageRows {
 public:
  explicit CScaledPageRows(const CFaxPage& page);
  ~CScaledPageRows() override;

  int Width() const { return size_.width; }
  int Height() const { return size_.height; }
  const std::uint8_t* Row(int y) override;

 private:
  class CPageInput;

  const CFaxPage& page_;
  CImageSize size_;
  std::unique_ptr<CPageInput> input_;
  std::unique_ptr<CAreaScaler> scaler_;  // none when the page keeps its size
  std::vector<std::uint8_t> row_;
};

// Writes `page` to `path` as `format` (Jpg or Png). 0 when the file was
// written; else the image error code, with nothing left at `path`.
int WritePageImage(const CFaxPage& page, ImageFormat format, const std::string& path, IEventLog& log);

// Adds `page` to the TIFF `tiffPath` as page `pageIndex` (0 creates the file,
// replacing any there). 0 when the page went in; else the image error code,
// logged as "Can not open the TIF file: %s" when the file could not be opened
// and as "An error ocours the conversion %s" otherwise.
int AppendPageToTiff(const CFaxPage& page, const std::string& tiffPath, int pageIndex, IEventLog& log);

}  // namespace kestrel

// CFaxPage: one decoded fax page held in memory as 1-bit rows (1 black, most
// significant bit first, (width + 7) / 8 bytes a row, the bits beyond the
// width cleared), at 200 x 200 dots per inch unless the caller states the
// fax's own resolution. DecodeSffPage fills it from the records of one SFF
// page; the image writers read it from there. DamagedPage is what a capture
// notes of a page's unrepaired lines.
//
// The page's size comes from a file an unknown sender controls, so it is
// bounded before anything is allocated: a page wider than kMaxPageWidth, of
// width 0 or without lines is refused, a page of more than kMaxPagePixels is
// cut at the bottom (at most 1 MB of rows). One object per conversion, reused
// from page to page; not thread-safe. A refused page is a failed Status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/line_decoder.h"
#include "core/result.h"

namespace kestrel {

class IEventLog;
class CSffFile;

inline constexpr std::uint32_t kMaxPageWidth = RowBufferSize * 8;  // 40960
inline constexpr std::uint64_t kMaxPagePixels = std::uint64_t{1} << 23;
inline constexpr int kFaxPageResolution = 200;  // dots per inch, both ways
// A fax line's own resolution (ITU-T T.4: 8.04 pels/mm across, 3.85 or 7.7
// lines/mm down), for outputs that keep every line as it came.
inline constexpr int kFaxHorizontalResolution = 204;
inline constexpr int kFaxNormalResolution = 98;
inline constexpr int kFaxFineResolution = 196;

// A page the receiver stored with lines that arrived damaged and were not
// repaired (error correction could not, or the call had none): the receiver
// filled them in from the line above or left them as they came. Only a TIFF
// capture notes this; an SFF capture has no such note.
struct DamagedPage {
  int page = 0;                // from 1
  std::uint32_t badLines = 0;  // 0 when the capture does not say how many
  bool operator==(const DamagedPage&) const = default;
};

class CFaxPage {
 public:
  // Starts an all-white page of `width` x `height` pixels (the caller keeps
  // it within kMaxPagePixels; a size of 0 gives an empty page); false when
  // the memory cannot be had, and the page is then empty.
  [[nodiscard]] bool Reset(std::uint32_t width, std::uint32_t height);
  // The dots per inch the rows stand for; Reset goes back to 200 x 200.
  void SetResolution(int x, int y) {
    resolutionX_ = x;
    resolutionY_ = y;
  }

  // Appends `row` (at least Stride() bytes) `times` times below the rows
  // given so far; rows beyond the height are dropped.
  void AppendRow(const std::uint8_t* row, unsigned times = 1);
  // Moves `times` rows on, leaving them white.
  void AppendWhiteRows(std::uint64_t times);

  [[nodiscard]] int Width() const { return static_cast<int>(width_); }
  [[nodiscard]] int Height() const { return static_cast<int>(height_); }
  [[nodiscard]] std::size_t Stride() const { return stride_; }
  [[nodiscard]] int ResolutionX() const { return resolutionX_; }
  [[nodiscard]] int ResolutionY() const { return resolutionY_; }
  [[nodiscard]] bool Empty() const { return height_ == 0; }
  // Row `y`, 0 at the top (0 <= y < Height()).
  [[nodiscard]] const std::uint8_t* Row(int y) const { return rows_.data() + static_cast<std::size_t>(y) * stride_; }

 private:
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t next_ = 0;  // the row the next AppendRow fills
  std::size_t stride_ = 0;
  int resolutionX_ = kFaxPageResolution;
  int resolutionY_ = kFaxPageResolution;
  std::vector<std::uint8_t> rows_;
};

// Decodes page `page` of `sff` into `out`: each record gives its rows (every
// line twice when `doubled`, normal resolution), decoded into `row`
// (RowBufferSize bytes, carried over from the previous page). A line that does
// not decode is left out, as a faulty line always was. Fails when the page is
// refused or its memory cannot be had; the failure, described, is also
// written to `log`, as is the notice of a page cut at the bottom.
[[nodiscard]] Status DecodeSffPage(CSffFile& sff, int page, bool doubled, std::uint8_t* row, CFaxPage& out,
                                   IEventLog& log);

}  // namespace kestrel

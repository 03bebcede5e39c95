// ConvertSffToImages: turns one received SFF file into the page images that
// are mailed, next to the SFF file: one JPEG or PNG per page, or one
// multi-page TIFF. Every page goes through the temporary page bitmap
// "TempFax.bmp" in the same folder, is read back as a 24-bit image, scaled
// down to the width of an A4 sheet at 200 dots per inch (1653 pixels) when it
// is wider, and written; TIFF pages pass through "multitemp.bmp" as well.
//
// Reads an SFF file an unknown sender controls (see CSffFile and the line
// decoder for how it is bounded). A page wider than kMaxPageWidth, of width
// 0 or without lines is refused with an event text; a page whose bitmap would
// exceed kMaxPagePixels is cut at the bottom. Errors go to the event log; the
// conversion always goes on with the next page.
//
// Writes fixed file names in the fax's folder, so two conversions must not
// run in the same folder at once; everything else belongs to the call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/fax_file_names.h"
#include "convert/line_decoder.h"
#include "convert/sff_file.h"

namespace kestrel {

class IEventLog;
class CBmpPageFile;

enum class OutputKind : int { Jpeg = 0, Png = 1, Tiff = 4 };

inline constexpr std::uint32_t kMaxPageWidth = RowBufferSize * 8;  // 40960
inline constexpr std::uint64_t kMaxPagePixels = std::uint64_t{1} << 23;

// What a conversion answers: the files it wrote, in page order, and the page
// count it read from the document.
struct ConvertedFax {
  // Pages the document holds; -1 when the SFF reader refused the file, 0 when
  // nothing was read (the Sff format, or a number that names no format).
  int pageCount = -1;
  // The files written, in page order: one per page written (Jpg, Png), the
  // one TIFF when at least one page went into it, or the capture file itself
  // for Sff when it exists.
  std::vector<std::string> files;
  // Page-per-file formats: the first page whose file was not written (the
  // decoder refused it, or it could not be written), 0 when every page was.
  // The files of the pages before it are the first entries of `files`.
  int firstMissingPage = 0;
};

ConvertedFax ConvertSffToImages(const std::string& sffPath, ImageFormat format, IEventLog& log);

// The page count of the document (0 without pages), or -1 when the SFF reader
// refused the file.
int ConvertSffToImages(const std::string& sffPath, OutputKind kind, IEventLog& log);

// Writes page `page` of `sff` as a 1-bit bitmap file to `bmpPath`, decoding
// its records into `row` (RowBufferSize bytes, carried over from the previous
// page). `doubled`: normal resolution, every line gives two rows. False, with
// an event text, when the page is refused or the file cannot be written.
bool WriteSffPageBitmap(CSffFile& sff, int page, bool doubled, std::uint8_t* row, SffRecord& record,
                        CBmpPageFile& bmp, const std::string& bmpPath, IEventLog& log);

}  // namespace kestrel

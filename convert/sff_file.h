// The reader of one Structured Fax File (SFF): indexes every page when it is
// opened and then hands out the records of any page in file order.
//
// Reads bytes an unknown sender controls. Trusts nothing in the file: every
// read is bounded by the file's real size (a record that claims more bytes
// than remain ends the page), so no read goes beyond the file and no block is
// larger than what is left of it. A truncated file is indexed up to its end.
// Failures are values: Open answers a Result (sff_error.h); nothing throws.
// Not thread-safe: one reader belongs to one conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"

namespace kestrel {

class IEventLog;

inline constexpr int MaxSffPages = 100;

enum class SffRecordType { CodedLine = 0, WhiteSkip = 1, IllegalLine = 2, UserInfo = 3 };

struct SffPageEntry {
  std::uint32_t width = 0;              // line length in pixels, from the page header
  std::int32_t lines = 0;               // lines as counted from the page's records
  std::uint64_t dataOffset = 0;         // file position of the page's first record
  std::uint8_t verticalResolution = 0;  // this page's header: 0 normal, else fine
};

struct SffRecord {
  SffRecordType type = SffRecordType::CodedLine;
  // CodedLine, UserInfo: data bytes; WhiteSkip: white lines; IllegalLine: 1.
  std::uint16_t count = 0;
  // The coded line or the user information (empty for the other types). Kept
  // between calls so that a page's lines reuse one block.
  std::vector<std::uint8_t> data;
};

class CSffFile {
 public:
  // Opens and indexes `path`. Fails with SffError 0, 1, 9 or 10 (the code
  // and its text, no step) when the file's structure is wrong. A file that
  // cannot be opened gives a reader with no pages. Pages beyond MaxSffPages
  // are ignored and logged to `log`.
  [[nodiscard]] static Result<CSffFile> Open(const std::string& path, IEventLog& log);
  ~CSffFile();
  CSffFile(CSffFile&&) noexcept;
  CSffFile& operator=(CSffFile&&) noexcept;
  CSffFile(const CSffFile&) = delete;
  CSffFile& operator=(const CSffFile&) = delete;

  [[nodiscard]] int PageCount() const { return static_cast<int>(pages_.size()); }
  // True when the file ends inside a page's records, before the page header
  // that ends the document: the last page was cut short (a call that ended
  // early, a capture whose writing stopped).
  [[nodiscard]] bool EndsWithinPage() const { return endsWithinPage_; }
  // One value for the whole document, from the last page header indexed:
  // 0 normal resolution (every line gives two rows), anything else fine.
  [[nodiscard]] std::uint8_t VerticalResolution() const { return verticalResolution_; }
  // 0 for a page number outside 1 to PageCount().
  [[nodiscard]] std::uint32_t PageWidth(int page) const;
  [[nodiscard]] std::int32_t PageLines(int page) const;
  // The page's own vertical resolution byte (0 normal, anything else fine),
  // for the outputs that keep each page at its own resolution; 0 for a page
  // number outside 1 to PageCount().
  [[nodiscard]] std::uint8_t PageVerticalResolution(int page) const;

  // Moves to the first record of `page`; false for a page outside 1 to PageCount().
  [[nodiscard]] bool SeekPage(int page);
  // Reads the record at the current position. False at the page's end (the
  // next page header), at the end of the file, and for a record cut short by
  // the end of the file; the record is then left as it was.
  [[nodiscard]] bool NextRecord(SffRecord& record);

 private:
  class CSource;

  explicit CSffFile(const std::string& path);
  [[nodiscard]] Status Index(IEventLog& log);
  bool ValidPage(int page) const { return page >= 1 && page <= PageCount(); }

  std::unique_ptr<CSource> source_;
  std::vector<SffPageEntry> pages_;
  std::uint8_t verticalResolution_ = 0;
  bool endsWithinPage_ = false;
};

}  // namespace kestrel

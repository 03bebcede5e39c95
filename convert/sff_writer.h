// CSffWriter: writes decoded pages (CFaxPage) as a Structured Fax File, for
// captures that did not arrive as SFF (an audio line's TIFF) when SFF is the
// format mailed. Each row is coded one-dimensionally (Modified Huffman, the
// tables of mh_code_tables.h) into one coded-line record, runs of white rows
// into white-skip records, as an ISDN fax capture holds them.
//
// The pages come from CFaxPage, already bounded. Runs longer than 1791 pels
// (pages wider than A4) take two make-up codes, which some readers refuse.
// The file is built in memory and written at once under a temporary name
// (platform/atomic_file.h). Save answers a Status (core/result.h), step
// "SFF"; nothing is logged here. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "convert/fax_page.h"
#include "core/result.h"

namespace kestrel {

class CSffWriter {
 public:
  CSffWriter();
  // Adds `page` with its rows as they are (`fine`: 7.7 lines/mm, else 3.85).
  void AddPage(const CFaxPage& page, bool fine);
  [[nodiscard]] int PageCount() const { return pages_; }
  // Writes the document to `path`, replacing any file there.
  [[nodiscard]] Status Save(const std::string& path);

 private:
  std::string bytes_;
  int pages_ = 0;
  std::uint32_t lastPageHeader_ = 0;
};

}  // namespace kestrel

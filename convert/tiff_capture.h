// CTiffCapture: the reader of a fax received over an audio line, the TIFF
// file the T.30 receiver wrote (1 bit per pel, one directory a page, CCITT
// Group 3 one- or two-dimensional or Group 4, standard or fine resolution).
// It decodes a page through libtiff into the same page model the SFF reader
// fills (CFaxPage), so every output format works from it.
//
// The file's content comes from an unknown sender: page sizes are bounded as
// for SFF (CFaxPage's limits: too wide or empty refused, too long cut), a
// page that is not 1-bit strips is refused, a row libtiff cannot decode ends
// the page there; libtiff's messages are kept per file, off standard error.
// The receiver's note on unrepaired lines (the fax tags BadFaxLines,
// CleanFaxData, ConsecutiveBadFaxLines) is read only from a fax-coded page,
// and a count is never taken as more than the page's lines.
// Open answers a Result, DecodePage a Status (core/result.h); refusals are
// also written to the event log. Not thread-safe: one reader a conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "convert/fax_page.h"
#include "core/result.h"

namespace kestrel {

class IEventLog;

// True when `path` starts as a TIFF file does ("II*\0" or "MM\0*").
[[nodiscard]] bool IsTiffFile(const std::string& path);

class CTiffCapture {
 public:
  // Fails (step "TIFF") when libtiff cannot open `path` as a TIFF file.
  [[nodiscard]] static Result<CTiffCapture> Open(const std::string& path);
  ~CTiffCapture();
  CTiffCapture(CTiffCapture&&) noexcept;
  CTiffCapture& operator=(CTiffCapture&&) noexcept;

  [[nodiscard]] int PageCount() const { return pages_; }
  // The page's vertical resolution is fine (above 150 lines an inch); a page
  // that does not say counts as fine. False outside 1 to PageCount().
  [[nodiscard]] bool PageFine(int page);
  // The page's lines that arrived damaged and were not repaired, as the
  // receiver noted them; nullopt for a clean page, one the file says nothing
  // of, or a page outside 1 to PageCount().
  [[nodiscard]] std::optional<DamagedPage> PageDamage(int page);
  // Decodes page `page` (from 1) into `out`, each row twice when `doubleNormal`
  // and the page is of standard resolution.
  [[nodiscard]] Status DecodePage(int page, bool doubleNormal, CFaxPage& out, IEventLog& log);

 private:
  struct CFile;
  explicit CTiffCapture(std::unique_ptr<CFile> file);
  // Makes page `page` libtiff's current directory; false outside 1 to PageCount().
  [[nodiscard]] bool SelectPage(int page);
  std::unique_ptr<CFile> file_;
  int pages_ = 0;
};

}  // namespace kestrel

// Fax TIFF files as a fax machine's software writes them (1 bit, min-is-white,
// 1728 pels wide, CCITT Group 3 one- or two-dimensional or Group 4, standard
// or fine resolution), for the tests that send a TIFF as a fax or convert a
// TIFF capture. Written through libtiff; the pages are patterns of blocks
// from a seed, so each page differs and compresses as a real page would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

inline constexpr std::uint32_t kFaxTiffWidth = 1728;

enum class FaxTiffCoding { kGroup3OneD, kGroup3TwoD, kGroup4 };

struct FaxTiffPage {
  std::uint32_t height = 0;
  bool fine = true;
  std::vector<std::uint8_t> rows;  // kFaxTiffWidth / 8 bytes a row, 1 = black
  // The receiver's note on lines it could not repair, written as the fax tags
  // CleanFaxData, BadFaxLines, ConsecutiveBadFaxLines when `noteLines` is set.
  bool noteLines = false;
  std::uint16_t cleanFaxData = 0;
  std::uint32_t badFaxLines = 0;
  std::uint32_t consecutiveBadFaxLines = 0;
};

// A page of `height` rows: blocks of `block` x `block` pels, about one in
// four black, drawn from `seed`.
FaxTiffPage BlockPage(std::uint32_t height, std::uint32_t seed, bool fine = true, std::uint32_t block = 16);

// Writes `pages` to `path`, one directory each; false when libtiff fails.
bool WriteFaxTiff(const std::string& path, const std::vector<FaxTiffPage>& pages, FaxTiffCoding coding);

}  // namespace kestrel::test

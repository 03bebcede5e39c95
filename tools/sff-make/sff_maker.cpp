#include "tools/sff-make/sff_maker.h"

#include <cctype>
#include <stdexcept>

#include "tools/sff-make/memory_tiff.h"

namespace kestrel::tools {
namespace {

void Put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Set32(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutCodedLine(std::string& out, const std::vector<std::uint8_t>& line) {
  if (line.size() > 0xFFFF) throw std::runtime_error("coded line longer than 65535 bytes");
  if (!line.empty() && line.size() <= 216) {
    out.push_back(static_cast<char>(line.size()));
  } else {
    out.push_back('\0');
    Put16(out, static_cast<std::uint32_t>(line.size()));
  }
  out.append(line.begin(), line.end());
}

}  // namespace

bool CMonoBitmap::RowIsWhite(std::uint32_t y) const {
  const std::uint8_t* r = Row(y);
  for (std::size_t i = 0; i < RowBytes(); ++i)
    if (r[i] != 0) return false;
  return true;
}

std::vector<std::vector<std::uint8_t>> EncodeRowsMH(const CMonoBitmap& image) {
  if (image.width == 0 || image.height == 0) return {};
  CMemoryTiff file;
  TIFF* tif = file.Open("w");
  if (tif == nullptr) throw std::runtime_error("libtiff cannot open a memory file");
  SetCodedLineFields(tif, image.width, image.height);
  std::vector<std::uint8_t> row(image.RowBytes());
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::copy(image.Row(y), image.Row(y) + image.RowBytes(), row.begin());
    if (TIFFWriteEncodedStrip(tif, y, row.data(), static_cast<tmsize_t>(row.size())) < 0)
      throw std::runtime_error("libtiff cannot encode a row");
  }
  file.Close();

  tif = file.Open("r");
  if (tif == nullptr) throw std::runtime_error("libtiff cannot read back its memory file");
  std::vector<std::vector<std::uint8_t>> lines(image.height);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const tmsize_t size = TIFFRawStripSize(tif, y);
    if (size < 0) throw std::runtime_error("libtiff lost a strip");
    lines[y].resize(static_cast<std::size_t>(size));
    if (size > 0 && TIFFReadRawStrip(tif, y, lines[y].data(), size) != size)
      throw std::runtime_error("libtiff cannot read a strip");
  }
  return lines;
}

std::vector<std::vector<std::uint8_t>> DecodeRowsMH(std::uint32_t width,
                                                    const std::vector<std::vector<std::uint8_t>>& lines) {
  if (lines.empty()) return {};
  CMemoryTiff file;
  TIFF* tif = file.Open("w");
  if (tif == nullptr) throw std::runtime_error("libtiff cannot open a memory file");
  const auto height = static_cast<std::uint32_t>(lines.size());
  SetCodedLineFields(tif, width, height);
  for (std::uint32_t s = 0; s < height; ++s) {
    std::vector<std::uint8_t> raw = lines[s];
    if (TIFFWriteRawStrip(tif, s, raw.data(), static_cast<tmsize_t>(raw.size())) < 0)
      throw std::runtime_error("libtiff cannot store a strip");
  }
  file.Close();
  tif = file.Open("r");
  if (tif == nullptr) throw std::runtime_error("libtiff cannot read back its memory file");
  const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<std::vector<std::uint8_t>> rows(height);
  for (std::uint32_t s = 0; s < height; ++s) {
    rows[s].resize(rowBytes);
    if (TIFFReadEncodedStrip(tif, s, rows[s].data(), static_cast<tmsize_t>(rowBytes)) !=
        static_cast<tmsize_t>(rowBytes))
      rows[s].clear();
  }
  return rows;
}

std::string MakeSffFile(const std::vector<SffMakePage>& pages, const SffMakeOptions& options) {
  std::string out = "Sfff";
  out.push_back(static_cast<char>(options.version));
  out.push_back('\0');                                   // reserved
  Put16(out, 0);                                         // user information
  Put16(out, static_cast<std::uint32_t>(pages.size()));  // page count
  Put16(out, 20);                                        // first page header
  Put32(out, 0);                                         // last page header, filled below
  Put32(out, 0);                                         // document end, filled below

  std::size_t previous = 0;
  for (const SffMakePage& page : pages) {
    const std::size_t header = out.size();
    if (previous != 0) Set32(out, previous + 14, static_cast<std::uint32_t>(header));
    out.push_back(static_cast<char>(254));
    out.push_back(16);
    out.push_back(page.fine >= 0 ? (page.fine ? 1 : 0) : (options.fine ? 1 : 0));  // vertical resolution
    out.push_back(0);  // horizontal resolution: 203 dots per inch
    out.push_back(0);  // coding: Modified Huffman
    out.push_back(0);
    Put16(out, page.image.width);
    Put16(out, page.image.height);
    Put32(out, static_cast<std::uint32_t>(previous));
    Put32(out, 0);  // next page, filled with the next page
    previous = header;

    const auto lines = EncodeRowsMH(page.image);
    unsigned pendingWhite = 0;
    auto flushWhite = [&] {
      while (pendingWhite > 0) {
        unsigned n = pendingWhite > 37 ? 37 : pendingWhite;
        out.push_back(static_cast<char>(216 + n));
        pendingWhite -= n;
      }
    };
    for (std::uint32_t y = 0; y < page.image.height; ++y) {
      auto [first, last] = page.userInfo.equal_range(y);
      for (auto it = first; it != last; ++it) {
        flushWhite();
        if (it->second.empty() || it->second.size() > 255)
          throw std::runtime_error("user information of 1 to 255 bytes");
        out.push_back(static_cast<char>(255));
        out.push_back(static_cast<char>(it->second.size()));
        out += it->second;
      }
      auto fault = page.faults.find(y);
      if (fault != page.faults.end()) {
        flushWhite();
        if (fault->second == RowFault::kIllegalLine) {
          out.push_back(static_cast<char>(255));
          out.push_back('\0');
        } else {
          PutCodedLine(out, {0x00, 0x00, 0x00});  // nine zero bits hold no white code
        }
        continue;
      }
      if (page.whiteSkips && page.image.RowIsWhite(y)) {
        ++pendingWhite;
        continue;
      }
      flushWhite();
      PutCodedLine(out, lines[y]);
    }
    flushWhite();
  }
  const std::size_t end = out.size();
  out.push_back(static_cast<char>(254));
  out.push_back('\0');
  Set32(out, 12, static_cast<std::uint32_t>(previous));
  Set32(out, 16, static_cast<std::uint32_t>(end));
  return out;
}

CMonoBitmap ReadPbm(const std::string& bytes) {
  std::size_t pos = 0;
  auto skipSpace = [&] {
    for (;;) {
      while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
      if (pos < bytes.size() && bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
        continue;
      }
      return;
    }
  };
  auto number = [&] {
    skipSpace();
    std::uint64_t v = 0;
    std::size_t start = pos;
    while (pos < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[pos])) && v <= 0xFFFF)
      v = v * 10 + static_cast<std::uint64_t>(bytes[pos++] - '0');
    if (pos == start || v == 0 || v > 0xFFFF) throw std::runtime_error("PBM: bad size");
    return static_cast<std::uint32_t>(v);
  };
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '1' && bytes[1] != '4'))
    throw std::runtime_error("not a PBM file (P1 or P4)");
  const bool raw = bytes[1] == '4';
  pos = 2;
  const std::uint32_t width = number();
  const std::uint32_t height = number();
  CMonoBitmap image(width, height);
  if (raw) {
    ++pos;  // the single white-space character after the height
    if (bytes.size() < pos || bytes.size() - pos < image.bits.size()) throw std::runtime_error("PBM: file too short");
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
              bytes.begin() + static_cast<std::ptrdiff_t>(pos + image.bits.size()), image.bits.begin());
    if (width % 8)
      for (std::uint32_t y = 0; y < height; ++y)
        image.Row(y)[image.RowBytes() - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
  } else {
    for (std::uint32_t y = 0; y < height; ++y)
      for (std::uint32_t x = 0; x < width; ++x) {
        skipSpace();
        if (pos >= bytes.size() || (bytes[pos] != '0' && bytes[pos] != '1'))
          throw std::runtime_error("PBM: file too short");
        image.Set(x, y, bytes[pos++] == '1');
      }
  }
  return image;
}

}  // namespace kestrel::tools

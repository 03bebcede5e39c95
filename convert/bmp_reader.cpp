#include "convert/bmp_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include "convert/byte_io.h"
#include "convert/dither.h"
#include "convert/image_error.h"

namespace kestrel {
namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;

std::uint8_t Luminance(unsigned r, unsigned g, unsigned b) {
  return static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29 + 128) >> 8);
}

}  // namespace

CBmpReader::~CBmpReader() {
  if (fd_ >= 0) ::close(fd_);
}

int CBmpReader::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return kImageFileOpen;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return kImageFileOpen;
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);

  std::uint8_t h[54];
  if (fileSize < sizeof(h) || !ReadAt(fd_, h, sizeof(h), 0)) return kImageBadBmp;
  if (h[0] != 'B' || h[1] != 'M') return kImageBadBmp;
  pixelOffset_ = Le32(h + 10);
  const std::uint32_t infoSize = Le32(h + 14);
  const auto width = static_cast<std::int32_t>(Le32(h + 18));
  const auto height = static_cast<std::int32_t>(Le32(h + 22));
  const std::uint16_t planes = Le16(h + 26);
  bits_ = Le16(h + 28);
  const std::uint32_t compression = Le32(h + 30);
  std::uint32_t colours = Le32(h + 46);
  if (infoSize < 40 || infoSize > 1024 || planes != 1 || compression != 0) return kImageBadBmp;
  if (bits_ != 1 && bits_ != 4 && bits_ != 8 && bits_ != 24 && bits_ != 32) return kImageBadBmp;
  if (width <= 0 || height == 0 || height == INT32_MIN) return kImageBadBmp;
  width_ = width;
  topDown_ = height < 0;
  height_ = topDown_ ? -height : height;
  if (static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_) > kMaxBmpPixels) return kImageBadBmp;
  stride_ = ((static_cast<std::size_t>(width_) * static_cast<std::size_t>(bits_) + 31) / 32) * 4;
  if (pixelOffset_ > fileSize || stride_ * static_cast<std::uint64_t>(height_) > fileSize - pixelOffset_)
    return kImageBadBmp;

  gray_ = false;
  if (bits_ <= 8) {
    const unsigned maxColours = 1u << bits_;
    if (colours == 0 || colours > maxColours) colours = maxColours;
    const std::uint64_t paletteOffset = 14 + std::uint64_t{infoSize};
    if (paletteOffset > pixelOffset_) return kImageBadBmp;
    colours = static_cast<std::uint32_t>(std::min<std::uint64_t>(colours, (pixelOffset_ - paletteOffset) / 4));
    std::uint8_t raw[256 * 4];
    if (colours > 0 && !ReadAt(fd_, raw, colours * 4, paletteOffset)) return kImageBadBmp;
    paletteSize_ = colours;
    gray_ = true;
    for (unsigned i = 0; i < 256; ++i) {
      if (i < colours) {
        palette_[i][0] = raw[i * 4 + 2];
        palette_[i][1] = raw[i * 4 + 1];
        palette_[i][2] = raw[i * 4 + 0];
      } else {
        palette_[i][0] = palette_[i][1] = palette_[i][2] = 0;
      }
      if (palette_[i][0] != palette_[i][1] || palette_[i][1] != palette_[i][2]) gray_ = false;
    }
    if (bits_ == 1) {
      for (unsigned v = 0; v < 256; ++v)
        for (unsigned k = 0; k < 8; ++k) {
          const std::uint8_t* c = palette_[(v >> (7 - k)) & 1];
          std::memcpy(expand_[v] + k * 3, c, 3);
          expandGray_[v][k] = Luminance(c[0], c[1], c[2]);
        }
    }
  }
  chunk_.clear();
  chunkFirst_ = chunkRows_ = 0;
  return kImageOk;
}

const std::uint8_t* CBmpReader::RawRow(int y) {
  if (fd_ < 0 || y < 0 || y >= height_) return nullptr;
  if (y < chunkFirst_ || y >= chunkFirst_ + chunkRows_) {
    // Rows y .. y + n - 1 of the image lie next to each other in the file, in
    // reverse order when the file is bottom-up.
    const int n = static_cast<int>(std::clamp<std::size_t>(kChunkBytes / stride_, 1, static_cast<std::size_t>(height_ - y)));
    const int firstFileRow = topDown_ ? y : height_ - y - n;
    chunk_.resize(static_cast<std::size_t>(n) * stride_);
    if (!ReadAt(fd_, chunk_.data(), chunk_.size(), pixelOffset_ + static_cast<std::uint64_t>(firstFileRow) * stride_)) {
      chunkRows_ = 0;
      return nullptr;
    }
    chunkFirst_ = y;
    chunkRows_ = n;
  }
  const int index = y - chunkFirst_;
  return chunk_.data() + static_cast<std::size_t>(topDown_ ? index : chunkRows_ - 1 - index) * stride_;
}

int CBmpReader::ReadRowRgb(int y, std::uint8_t* rgb) {
  const std::uint8_t* raw = RawRow(y);
  if (raw == nullptr) return kImageFileRead;
  const auto w = static_cast<std::size_t>(width_);
  switch (bits_) {
    case 1: {
      const std::size_t whole = w / 8;
      for (std::size_t i = 0; i < whole; ++i) std::memcpy(rgb + i * 24, expand_[raw[i]], 24);
      if (w % 8) std::memcpy(rgb + whole * 24, expand_[raw[whole]], (w % 8) * 3);
      break;
    }
    case 4:
      for (std::size_t x = 0; x < w; ++x) std::memcpy(rgb + x * 3, palette_[(raw[x / 2] >> (x % 2 ? 0 : 4)) & 15], 3);
      break;
    case 8:
      for (std::size_t x = 0; x < w; ++x) std::memcpy(rgb + x * 3, palette_[raw[x]], 3);
      break;
    default: {
      const std::size_t step = static_cast<std::size_t>(bits_ / 8);
      for (std::size_t x = 0; x < w; ++x) {
        rgb[x * 3 + 0] = raw[x * step + 2];
        rgb[x * 3 + 1] = raw[x * step + 1];
        rgb[x * 3 + 2] = raw[x * step + 0];
      }
    }
  }
  return kImageOk;
}

int CBmpReader::ReadRowGray(int y, std::uint8_t* gray) {
  const std::uint8_t* raw = RawRow(y);
  if (raw == nullptr) return kImageFileRead;
  const auto w = static_cast<std::size_t>(width_);
  // Luminance is exact for greys: the weights add up to 256.
  if (bits_ == 24) {
    LuminanceRow(raw, w, true, gray);
    return kImageOk;
  }
  if (bits_ == 32) {
    for (std::size_t x = 0; x < w; ++x) gray[x] = Luminance(raw[x * 4 + 2], raw[x * 4 + 1], raw[x * 4]);
    return kImageOk;
  }
  if (bits_ == 1) {
    const std::size_t whole = w / 8;
    for (std::size_t i = 0; i < whole; ++i) std::memcpy(gray + i * 8, expandGray_[raw[i]], 8);
    if (w % 8) std::memcpy(gray + whole * 8, expandGray_[raw[whole]], w % 8);
    return kImageOk;
  }
  for (std::size_t x = 0; x < w; ++x) {
    unsigned index = bits_ == 8 ? raw[x] : bits_ == 4 ? (raw[x / 2] >> (x % 2 ? 0 : 4)) & 15 : (raw[x / 8] >> (7 - x % 8)) & 1;
    const std::uint8_t* c = palette_[index];
    gray[x] = Luminance(c[0], c[1], c[2]);
  }
  return kImageOk;
}

}  // namespace kestrel

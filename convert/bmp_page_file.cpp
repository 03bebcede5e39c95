#include "convert/bmp_page_file.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>

#include "convert/byte_io.h"

namespace kestrel {
namespace {

// The fixed part of the header; width, height and image size are filled in per page.
constexpr std::uint8_t kHeaderTemplate[CBmpPageFile::kHeaderSize] = {
    'B', 'M', 0, 0, 0, 0,  0, 0, 0, 0,  62, 0, 0, 0,  // file header: size left 0, rows at 62
    40, 0, 0, 0,                                       // information header size
    0, 0, 0, 0,  0, 0, 0, 0,                           // width, height
    1, 0, 1, 0,                                        // planes, bits per pixel
    0, 0, 0, 0,  0, 0, 0, 0,                           // no compression, image size
    0, 0, 0, 0,  0, 0, 0, 0,                           // pixels per metre
    2, 0, 0, 0,  2, 0, 0, 0,                           // colours used, important
    0xFF, 0xFF, 0xFF, 0,  0, 0, 0, 0};                 // colour 0 white, colour 1 black

}  // namespace

void CBmpPageFile::WriteHeader(const std::string& path, std::uint32_t width, std::uint32_t height) {
  path_ = path;
  width_ = width;
  height_ = height;
  rowsLeft_ = height;
  stride_ = Stride(width);
  file_.assign(kHeaderSize + stride_ * height, 0);
  std::memcpy(file_.data(), kHeaderTemplate, kHeaderSize);
  Put32(file_.data() + 18, width);
  Put32(file_.data() + 22, height);
  Put32(file_.data() + 34, static_cast<std::uint32_t>(stride_ * height));
}

bool CBmpPageFile::WriteRow(const std::uint8_t* row, unsigned times) {
  const std::size_t bytes = (static_cast<std::size_t>(width_) + 7) / 8;
  const auto lastMask = static_cast<std::uint8_t>(0xFF00u >> (((width_ - 1) & 7) + 1));
  for (unsigned i = 0; i < times; ++i) {
    if (rowsLeft_ == 0) return false;
    --rowsLeft_;
    std::uint8_t* out = file_.data() + kHeaderSize + rowsLeft_ * stride_;
    std::memcpy(out, row, bytes);
    if (bytes > 0) out[bytes - 1] &= lastMask;
  }
  return rowsLeft_ > 0;
}

bool CBmpPageFile::WriteWhiteRows(std::uint64_t times) {
  rowsLeft_ = times >= rowsLeft_ ? 0 : rowsLeft_ - static_cast<std::uint32_t>(times);
  return rowsLeft_ > 0;
}

bool CBmpPageFile::Close() {
  if (path_.empty()) return false;
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && WriteAll(fd, file_.data(), file_.size());
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (!ok && fd >= 0) ::unlink(path_.c_str());
  path_.clear();
  std::vector<std::uint8_t>().swap(file_);
  return ok;
}

}  // namespace kestrel

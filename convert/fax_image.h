// The page image of a conversion: a 24-bit RGB image, loaded from a bitmap
// file, scaled, and written as JPEG (libjpeg-turbo, 24 bits, quality 75), PNG
// (libpng, 8 bits per channel, RGB) or 24-bit BMP. An image whose source holds
// only greys (every fax page) is kept as one byte per pixel and widened to
// red = green = blue as it is written: the same files, a third of the memory
// and of the scaling work.
//
// Library errors met while reading or writing are written to the event log as
// their ImageErrorText; a file that cannot be opened, and a failed resize,
// are not logged (the caller sees the result). Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace kestrel {

class IEventLog;

enum class ImageFileType : int { Jpeg = 1, Png = 3, Bmp = 6 };

inline constexpr int kDefaultResolution = 200;  // dots per inch
inline constexpr int kJpegQuality = 75;

class CFaxImage {
 public:
  explicit CFaxImage(IEventLog& log) : log_(log) {}

  // Reads a bitmap file as 24-bit RGB, replacing the image. The resolution is
  // 200 x 200 dots per inch afterwards. 0 or an image error code.
  int Load(const std::string& path);

  // Writes the image as `type`. 0 or an image error code.
  int Save(const std::string& path, ImageFileType type) const;

  // Scales to `newWidth` x `newHeight` with an area-averaging filter. On
  // failure (a size of 0, no memory) the image stays as it was.
  bool Resize(int newWidth, int newHeight);

  // Takes `pixels` (width x height x channels bytes; 3 for RGB, 1 for grey)
  // as the image; false without memory.
  bool Assign(int width, int height, int channels, const std::uint8_t* pixels);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int ResolutionX() const { return resolutionX_; }
  int ResolutionY() const { return resolutionY_; }
  // 3: Pixels() holds red, green, blue; 1: it holds the grey value of each pixel.
  int Channels() const { return channels_; }
  const std::uint8_t* Pixels() const { return pixels_.get(); }

 private:
  struct CFree {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  using CPixels = std::unique_ptr<std::uint8_t, CFree>;

  // A block of `bytes`, contents undefined (every caller writes all of it);
  // logs "Failed to allocate" and answers null when there is no memory.
  CPixels Allocate(std::size_t bytes) const;
  int WriteBmp(std::FILE* file) const;

  IEventLog& log_;
  int width_ = 0;
  int height_ = 0;
  int resolutionX_ = kDefaultResolution;
  int resolutionY_ = kDefaultResolution;
  int writeResolutionX_ = kDefaultResolution;
  int writeResolutionY_ = kDefaultResolution;
  int channels_ = 3;
  CPixels pixels_;
};

// Encoders over an image in memory (`channels` 3 for RGB, 1 for grey, which
// is written as RGB all the same), as CFaxImage::Save uses them; each answers
// 0 or an image error code and leaves `file` open.
int WriteJpegFile(std::FILE* file, const std::uint8_t* pixels, int width, int height, int channels, int dpiX, int dpiY);
int WritePngFile(std::FILE* file, const std::uint8_t* pixels, int width, int height, int channels, int dpiX, int dpiY);

}  // namespace kestrel

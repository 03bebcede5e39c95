// The page image of a conversion: a 24-bit RGB image in memory, loaded from a
// bitmap file, scaled, and written as JPEG (libjpeg-turbo, quality 75), PNG
// (libpng, 8 bits per channel, RGB) or 24-bit BMP.
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

  // Takes `rgb` (width x height x 3 bytes) as the image; false without memory.
  bool Assign(int width, int height, const std::uint8_t* rgb);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int ResolutionX() const { return resolutionX_; }
  int ResolutionY() const { return resolutionY_; }
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
  bool gray_ = false;  // red = green = blue everywhere, known from the source
  CPixels pixels_;
};

// Encoders over an RGB image in memory, as CFaxImage::Save uses them; each
// answers 0 or an image error code and leaves `file` open.
int WriteJpegFile(std::FILE* file, const std::uint8_t* rgb, int width, int height, int dpiX, int dpiY);
int WritePngFile(std::FILE* file, const std::uint8_t* rgb, int width, int height, int dpiX, int dpiY);

}  // namespace kestrel

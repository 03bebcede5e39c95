// Independent readers of the conversion's output files: libpng, libjpeg and
// libtiff decode them exactly as a mail recipient's viewer would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

struct CDecodedImage {
  bool ok = false;
  int width = 0;
  int height = 0;
  int channels = 0;                  // JPEG: components; PNG: 3 for RGB
  int bitDepth = 0;                  // PNG
  int colourType = -1;               // PNG
  std::vector<std::uint8_t> pixels;  // width x height x channels
};

CDecodedImage ReadPng(const std::string& path);
CDecodedImage ReadJpeg(const std::string& path);

struct CTiffPage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t compression = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t samplesPerPixel = 0;
  std::uint16_t photometric = 0;
  float xResolution = 0;
  float yResolution = 0;
  std::vector<std::uint8_t> rows;  // (width + 7) / 8 bytes per row, as stored (1 = black)
};

// Every directory of the TIFF file; empty when libtiff cannot open it.
std::vector<CTiffPage> ReadTiffPages(const std::string& path);

}  // namespace kestrel::test

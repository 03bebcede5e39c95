#include "convert/image_error.h"

#include <cstdio>

namespace kestrel {

std::string ImageErrorText(unsigned code) {
  static const char* const kTexts[] = {
      "no err",                                                                     // 0
      "out of memory",                                                              // 1
      "error on file open",                                                         // 2
      "error on file read",                                                         // 3
      "error on file write",                                                        // 4
      "bad user param",                                                             // 5
      "bad BMP file",                                                               // 6
      "some RLE variations are not supported",                                      // 7
      nullptr,                                                                      // 8
      "bad JPG file",                                                               // 9
      "error with device context",                                                  // 10
      "problem with a GetDIBits call",                                              // 11
      nullptr,                                                                      // 12
      "resource not found",                                                         // 13
      "callback returned FALSE - operation aborted",                                // 14
      "bad PNG file",                                                               // 15
      "internal PNG lib behavior - contact smaller animals s.w.",                   // 16
      "misc unexpected behavior error - contact smaller animals s.w.",              // 17
      "trouble creating a font object",                                             // 18
      "misc internal TIFF error",                                                   // 19
      "invalid TIFF file",                                                          // 20
      "this will not read TIFF-LZW images",                                         // 21
      "invalid PCX image",                                                          // 22
      "a call to the fn CreateCompatibleBitmap failed",                             // 23
      "end of an image while using single-line de/compression",                     // 24
      "error during a call to GetDIBits",                                           // 25
      "device does not support an operation required by this function",             // 26
      "invalid windows metafile",                                                   // 27
      "the file was not of the requested bit-depth",                                // 28
      "a call to BitBlt failed.",                                                   // 29
      "output buffer is too small for this operation",                              // 30
      "not enough room in the output palette to store the colors from this image",  // 31
      "bad TGA File",                                                               // 32
      nullptr,                                                                      // 33
      nullptr,                                                                      // 34
      "a call to the fn CreateDIBitmap failed",                                     // 35
      "LZW de/compression is not permitted",                                        // 36
  };
  if (code < sizeof(kTexts) / sizeof(kTexts[0]) && kTexts[code] != nullptr) return kTexts[code];
  char text[32];
  std::snprintf(text, sizeof(text), "Error #%u!", code);
  return text;
}

Failure ImageFailure(ImageError error, std::string step) {
  const int code = static_cast<int>(error);
  return Failure{std::move(step), ImageErrorText(static_cast<unsigned>(code)), code};
}

}  // namespace kestrel

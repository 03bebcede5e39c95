// Builds SFF files byte by byte for the reader's structural cases, where the
// test-data tool would write only well-formed files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kestrel::test {

class CSffBytes {
 public:
  // "Sfff", version, reserved, user info, page count, first page offset, 2 x 4 bytes.
  CSffBytes& DocumentHeader(int version = 1, int firstPage = 20) {
    text_ = "Sfff";
    Add({version, 0, 0, 0, 1, 0, firstPage & 0xFF, (firstPage >> 8) & 0xFF, 0, 0, 0, 0, 0, 0, 0, 0});
    return *this;
  }
  // 254, L, then the 16 header bytes (and L - 16 filler bytes of 0xEE).
  CSffBytes& PageHeader(int resolution, int width, int lines, int length = 16, int coding = 0) {
    Add({254, length, resolution, 0, coding, 0, width & 0xFF, width >> 8, lines & 0xFF, lines >> 8});
    Add({0, 0, 0, 0, 0, 0, 0, 0});
    for (int i = 16; i < length; ++i) Add({0xEE});
    return *this;
  }
  CSffBytes& Add(std::initializer_list<int> bytes) {
    for (int b : bytes) text_.push_back(static_cast<char>(b));
    return *this;
  }
  CSffBytes& Add(const std::vector<std::uint8_t>& bytes) {
    text_.append(bytes.begin(), bytes.end());
    return *this;
  }
  // A coded line in the short form (1 to 216 bytes) or the long one.
  CSffBytes& Line(const std::vector<std::uint8_t>& bytes) {
    if (!bytes.empty() && bytes.size() <= 216) {
      Add({static_cast<int>(bytes.size())});
    } else {
      Add({0, static_cast<int>(bytes.size() & 0xFF), static_cast<int>(bytes.size() >> 8)});
    }
    return Add(bytes);
  }
  // The end-of-document header: 254 0.
  CSffBytes& End() { return Add({254, 0}); }

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// The coded line of an all-white row of 1728 pixels: white make-up 1728, white 0.
inline const std::vector<std::uint8_t> kWhiteLine1728 = {0xB2, 0x59, 0x01};

}  // namespace kestrel::test

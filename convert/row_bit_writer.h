// Writes the runs of one decoded line into a row buffer of one bit per pixel:
// pixel k is bit 7 - (k mod 8) of byte k div 8, 1 is black. Black runs set
// bits, white runs only move on (the buffer was cleared before the line).
// Pixels beyond the buffer's last byte are dropped, whatever the line says.
//
// One per line, never shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

class CRowBitWriter {
 public:
  CRowBitWriter(std::uint8_t* row, std::size_t bytes) : row_(row), bytes_(bytes) {}

  void Skip(std::size_t pixels) { position_ += pixels; }

  void Paint(std::size_t pixels) {
    PaintSpan(row_, bytes_ * 8, position_, pixels);
    position_ += pixels;
  }

  // Pixel position of the next run (may lie beyond the buffer).
  std::size_t Position() const { return position_; }
  void SetPosition(std::size_t position) { position_ = position; }
  std::uint8_t* Row() const { return row_; }
  std::size_t Bytes() const { return bytes_; }

  // Sets pixels [start, start + count) of `row`, clipped at `limit` pixels.
  static void PaintSpan(std::uint8_t* row, std::size_t limit, std::size_t start, std::size_t count) {
    if (start >= limit || count == 0) return;
    std::size_t end = count < limit - start ? start + count : limit;
    std::size_t first = start >> 3;
    std::size_t last = (end - 1) >> 3;
    auto head = static_cast<std::uint8_t>(0xFFu >> (start & 7));
    auto tail = static_cast<std::uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
    if (first == last) {
      row[first] = static_cast<std::uint8_t>(row[first] | (head & tail));
      return;
    }
    row[first] = static_cast<std::uint8_t>(row[first] | head);
    if (last - first > 1) std::memset(row + first + 1, 0xFF, last - first - 1);
    row[last] = static_cast<std::uint8_t>(row[last] | tail);
  }

 private:
  std::uint8_t* row_;
  std::size_t bytes_;
  std::size_t position_ = 0;
};

}  // namespace kestrel

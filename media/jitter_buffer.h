// CJitterBuffer: puts the audio frames of one RTP stream back in sequence
// order. A frame that is missing is waited for while `depth` later frames
// arrive, then skipped: the audio goes on without it rather than with
// silence in its place, which a fax modem would take for a lost carrier.
// Frames that come after their turn, and repeated ones, are dropped.
//
// Holds at most kMaxHeldFrames frames whatever the sender claims; a jump of
// more than kStreamJump sequence numbers or a new SSRC starts the stream
// afresh. Not thread-safe: one buffer belongs to one call's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

class CJitterBuffer {
 public:
  static constexpr std::size_t kMaxHeldFrames = 64;
  static constexpr int kStreamJump = 1000;

  explicit CJitterBuffer(std::size_t depth) : depth_(depth) {}

  void Push(std::uint32_t ssrc, std::uint16_t sequence, std::span<const std::uint8_t> payload);
  // Moves the next frame due into `frame`: the one after the last released
  // when it is here, else the earliest held once more than `depth` frames
  // wait, or any held frame when `drain` (the stream has ended). False when
  // no frame is due.
  [[nodiscard]] bool Pop(std::vector<std::uint8_t>& frame, bool drain = false);
  // Frames skipped so far because they never came in time.
  [[nodiscard]] std::uint64_t Skipped() const { return skipped_; }

 private:
  struct Frame {
    std::uint16_t sequence = 0;
    std::vector<std::uint8_t> payload;
  };

  std::size_t depth_;
  bool started_ = false;
  std::uint32_t ssrc_ = 0;
  std::uint16_t next_ = 0;   // the sequence number due next
  std::vector<Frame> held_;  // in sequence order from next_
  std::uint64_t skipped_ = 0;
};

}  // namespace kestrel

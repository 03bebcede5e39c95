#include "media/jitter_buffer.h"

#include <algorithm>

#include "media/rtp_packet.h"

namespace kestrel {

void CJitterBuffer::Push(std::uint32_t ssrc, std::uint16_t sequence, std::span<const std::uint8_t> payload) {
  int distance = SequenceDistance(next_, sequence);
  if (!started_ || ssrc != ssrc_ || distance > kStreamJump || distance < -kStreamJump) {
    started_ = true;
    ssrc_ = ssrc;
    next_ = sequence;
    held_.clear();
    distance = 0;
  }
  if (distance < 0) return;
  auto at = std::lower_bound(held_.begin(), held_.end(), distance,
                             [this](const Frame& f, int d) { return SequenceDistance(next_, f.sequence) < d; });
  if (at != held_.end() && at->sequence == sequence) return;
  if (held_.size() == kMaxHeldFrames) {
    if (at == held_.end()) return;
    held_.pop_back();
  }
  held_.insert(at, Frame{sequence, std::vector<std::uint8_t>(payload.begin(), payload.end())});
}

bool CJitterBuffer::Pop(std::vector<std::uint8_t>& frame, bool drain) {
  if (held_.empty()) return false;
  Frame& first = held_.front();
  if (first.sequence != next_ && held_.size() <= depth_ && !drain) return false;
  skipped_ += static_cast<std::uint64_t>(SequenceDistance(next_, first.sequence));
  next_ = static_cast<std::uint16_t>(first.sequence + 1);
  frame.swap(first.payload);
  held_.erase(held_.begin());
  return true;
}

}  // namespace kestrel

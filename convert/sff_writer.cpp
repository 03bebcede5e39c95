#include "convert/sff_writer.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "convert/mh_code_tables.h"
#include "convert/sff_format.h"
#include "platform/atomic_file.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kMaxWhiteSkip = kSffLastWhiteSkip - kSffLastCodedLength;
constexpr std::uint32_t kLargestMakeUp = 1728;

void PutLe16(std::string& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutLe32(std::string& out, std::size_t at, std::uint32_t value) {
  PutLe16(out, at, value & 0xFFFF);
  PutLe16(out, at + 2, value >> 16);
}

// Bits in transmission order, the first in the least significant bit of
// each byte, as SFF and the code tables hold them.
class CLineBits {
 public:
  void Put(const MHCodeEntry& entry) {
    for (int i = 0; i < entry.length; ++i) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((entry.code >> i) & 1) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (1u << (used_ % 8)));
      ++used_;
    }
  }
  void Run(bool black, std::uint32_t run) {
    const MHCodeEntry* makeUp = black ? kBlackMakeUpCodes : kWhiteMakeUpCodes;
    const MHCodeEntry* terminating = black ? kBlackTerminatingCodes : kWhiteTerminatingCodes;
    while (run >= 64) {
      const std::uint32_t part = std::min(run / 64 * 64, kLargestMakeUp);
      Put(makeUp[part / 64 - 1]);
      run -= part;
    }
    Put(terminating[run]);
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  void Clear() {
    bytes_.clear();
    used_ = 0;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
};

bool Black(const std::uint8_t* row, int x) { return (row[x / 8] >> (7 - x % 8)) & 1; }

bool WhiteRow(const std::uint8_t* row, std::size_t stride) {
  for (std::size_t i = 0; i < stride; ++i)
    if (row[i] != 0) return false;
  return true;
}

}  // namespace

CSffWriter::CSffWriter() : bytes_(kSffDocumentHeaderSize, '\0') {
  std::memcpy(bytes_.data(), "Sfff", 4);
  bytes_[4] = 1;  // version
  PutLe16(bytes_, 10, kSffDocumentHeaderSize);
}

void CSffWriter::AddPage(const CFaxPage& page, bool fine) {
  const auto header = static_cast<std::uint32_t>(bytes_.size());
  bytes_ += static_cast<char>(kSffPageMarker);
  bytes_ += static_cast<char>(kSffPageHeaderSize);
  const std::size_t at = bytes_.size();
  bytes_.append(kSffPageHeaderSize, '\0');
  bytes_[at] = fine ? 1 : 0;
  PutLe16(bytes_, at + 4, static_cast<std::uint32_t>(page.Width()));
  PutLe16(bytes_, at + 6, static_cast<std::uint32_t>(std::min(page.Height(), 0xFFFF)));
  PutLe32(bytes_, at + 8, pages_ == 0 ? 0 : lastPageHeader_);
  PutLe32(bytes_, at + 12, 1);  // no next page, until one follows
  if (pages_ > 0) PutLe32(bytes_, lastPageHeader_ + 2 + 12, header);
  lastPageHeader_ = header;

  CLineBits bits;
  std::uint32_t white = 0;
  const auto flushWhite = [&] {
    for (; white > 0; white -= std::min(white, kMaxWhiteSkip))
      bytes_ += static_cast<char>(kSffLastCodedLength + std::min(white, kMaxWhiteSkip));
  };
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* row = page.Row(y);
    if (WhiteRow(row, page.Stride())) {
      ++white;
      continue;
    }
    flushWhite();
    bits.Clear();
    bool black = false;
    for (int x = 0; x < page.Width();) {
      int end = x;
      while (end < page.Width() && Black(row, end) == black) ++end;
      bits.Run(black, static_cast<std::uint32_t>(end - x));
      black = !black;
      x = end;
    }
    const std::vector<std::uint8_t>& line = bits.Bytes();
    if (line.size() <= kSffLastCodedLength) {
      bytes_ += static_cast<char>(line.size());
    } else {
      bytes_ += '\0';
      bytes_ += static_cast<char>(line.size() & 0xFF);
      bytes_ += static_cast<char>(line.size() >> 8);
    }
    bytes_.append(line.begin(), line.end());
  }
  flushWhite();
  ++pages_;
}

Status CSffWriter::Save(const std::string& path) {
  std::string document = bytes_;
  const auto end = static_cast<std::uint32_t>(document.size());
  document += static_cast<char>(kSffPageMarker);
  document += '\0';
  PutLe16(document, 8, static_cast<std::uint32_t>(pages_));
  PutLe32(document, 12, lastPageHeader_);
  PutLe32(document, 16, end);
  if (!WriteFileAtomically(path, document, 0644))
    return Status::Failed("SFF", "\"" + path + "\" could not be written: " + std::strerror(errno));
  return Status();
}

}  // namespace kestrel

// Indexing follows the file's own structure: document header, first page
// marker, then per page its header and records up to the next page header;
// the end of the document is the first page header whose length byte is 0.
#include "convert/sff_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/byte_io.h"
#include "convert/sff_error.h"
#include "convert/sff_format.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

void AddLines(std::int32_t& counter, std::uint32_t lines) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  counter = lines > static_cast<std::uint32_t>(kMax - counter) ? kMax : counter + static_cast<std::int32_t>(lines);
}

}  // namespace

// A read-only, buffered view of the file that never reads beyond its size.
class CSffFile::CSource {
 public:
  explicit CSource(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<std::uint64_t>(st.st_size);
    } else if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~CSource() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool IsOpen() const { return fd_ >= 0; }
  std::uint64_t Tell() const { return bufferStart_ + bufferPos_; }
  std::uint64_t Remaining() const { return size_ - std::min(size_, Tell()); }

  void Seek(std::uint64_t pos) {
    if (pos >= bufferStart_ && pos <= bufferStart_ + bufferLen_) {
      bufferPos_ = static_cast<std::size_t>(pos - bufferStart_);
    } else {
      bufferStart_ = pos;
      bufferLen_ = bufferPos_ = 0;
    }
  }

  // Moves `n` bytes on; false (and no move) when fewer than `n` bytes remain.
  bool Skip(std::uint64_t n) {
    if (n > Remaining()) return false;
    Seek(Tell() + n);
    return true;
  }

  bool ReadByte(std::uint8_t& b) {
    if (bufferPos_ == bufferLen_ && !Refill()) return false;
    b = buffer_[bufferPos_++];
    return true;
  }

  // Reads up to `n` bytes; answers how many were read (fewer only at the end).
  std::size_t Read(std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      if (bufferPos_ == bufferLen_ && !Refill()) break;
      std::size_t take = std::min(n - done, bufferLen_ - bufferPos_);
      std::memcpy(out + done, buffer_ + bufferPos_, take);
      bufferPos_ += take;
      done += take;
    }
    return done;
  }

 private:
  bool Refill() {
    bufferStart_ += bufferPos_;
    bufferPos_ = bufferLen_ = 0;
    if (fd_ < 0 || bufferStart_ >= size_) return false;
    for (;;) {
      ssize_t got = ::pread(fd_, buffer_, sizeof(buffer_), static_cast<off_t>(bufferStart_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // a read failure ends the data like the end of the file
      bufferLen_ = static_cast<std::size_t>(got);
      return true;
    }
  }

  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t bufferStart_ = 0;
  std::size_t bufferPos_ = 0;
  std::size_t bufferLen_ = 0;
  std::uint8_t buffer_[64 * 1024];
};

CSffFile::CSffFile(const std::string& path) : source_(std::make_unique<CSource>(path)) {}

CSffFile::~CSffFile() = default;
CSffFile::CSffFile(CSffFile&&) noexcept = default;
CSffFile& CSffFile::operator=(CSffFile&&) noexcept = default;

Result<CSffFile> CSffFile::Open(const std::string& path, IEventLog& log) {
  CSffFile sff(path);
  if (sff.source_->IsOpen())
    if (Status indexed = sff.Index(log); !indexed) return indexed;
  return sff;
}

Status CSffFile::Index(IEventLog& log) {
  CSource& in = *source_;
  std::uint8_t header[kSffDocumentHeaderSize];
  std::size_t got = in.Read(header, sizeof(header));
  if (got < 4 || std::memcmp(header, "Sfff", 4) != 0) return SffFailure(SffError::kNotSff);
  if (got > 4 && header[4] > 1) return SffFailure(SffError::kUnknownVersion);
  if (got < sizeof(header)) return {};  // cut off inside the document header
  in.Seek(Le16(header + 10));

  std::uint8_t b = 0;
  if (!in.ReadByte(b)) return {};
  if (b != kSffPageMarker) return SffFailure(SffError::kCorrupt);
  std::uint8_t length = 0;
  if (!in.ReadByte(length) || length == 0) return {};

  for (;;) {
    // Page header: the 16 bytes after the length byte, then whatever else the
    // length announces. A length below 16 never moves back into the header.
    std::uint8_t page[kSffPageHeaderSize];
    if (in.Read(page, sizeof(page)) < sizeof(page)) return {};
    if (PageCount() == MaxSffPages) {
      log.WriteEventText("SFF file holds more than 100 pages, the pages after page 100 are ignored.");
      return {};
    }
    verticalResolution_ = page[0];
    if (page[2] != 0) return SffFailure(SffError::kUnknownEncoding);
    if (length > kSffPageHeaderSize && !in.Skip(length - kSffPageHeaderSize)) return {};

    SffPageEntry entry;
    entry.width = Le16(page + 4);
    entry.lines = Le16(page + 6);  // what the header claims; replaced by the count below
    entry.dataOffset = in.Tell();
    entry.verticalResolution = page[0];
    std::int32_t counter = 0;
    bool complete = false;
    for (;;) {
      if (!in.ReadByte(b)) break;
      if (b == 0) {
        std::uint8_t n[2];
        if (in.Read(n, 2) < 2 || !in.Skip(Le16(n))) break;
        AddLines(counter, 1);
      } else if (b <= kSffLastCodedLength) {
        if (!in.Skip(b)) break;
        AddLines(counter, 1);
      } else if (b <= kSffLastWhiteSkip) {
        AddLines(counter, b - kSffLastCodedLength);
      } else if (b == kSffEscape) {
        std::uint8_t k = 0;
        if (!in.ReadByte(k)) break;
        if (k == 0) {
          AddLines(counter, 1);
        } else if (!in.Skip(k)) {
          break;
        }
      } else {
        complete = true;
        break;
      }
    }
    // A page cut short by the end of the file counts with the lines read so
    // far, provided it has any.
    if (complete || counter > 0) {
      entry.lines = counter;
      pages_.push_back(entry);
    }
    endsWithinPage_ = !complete && counter > 0;
    if (!complete || !in.ReadByte(length) || length == 0) return {};
  }
}

std::uint32_t CSffFile::PageWidth(int page) const { return ValidPage(page) ? pages_[page - 1].width : 0; }

std::int32_t CSffFile::PageLines(int page) const { return ValidPage(page) ? pages_[page - 1].lines : 0; }

std::uint8_t CSffFile::PageVerticalResolution(int page) const {
  return ValidPage(page) ? pages_[page - 1].verticalResolution : 0;
}

bool CSffFile::SeekPage(int page) {
  if (!ValidPage(page)) return false;
  source_->Seek(pages_[page - 1].dataOffset);
  return true;
}

bool CSffFile::NextRecord(SffRecord& record) {
  CSource& in = *source_;
  std::uint64_t start = in.Tell();
  std::uint8_t b = 0;
  if (!in.ReadByte(b) || b == kSffPageMarker) return false;

  SffRecordType type = SffRecordType::CodedLine;
  std::uint16_t count = 0;
  bool hasData = true;
  if (b == 0) {
    std::uint8_t n[2];
    if (in.Read(n, 2) < 2) return false;
    count = Le16(n);
  } else if (b <= kSffLastCodedLength) {
    count = b;
  } else if (b <= kSffLastWhiteSkip) {
    type = SffRecordType::WhiteSkip;
    count = static_cast<std::uint16_t>(b - kSffLastCodedLength);
    hasData = false;
  } else {
    std::uint8_t k = 0;
    if (!in.ReadByte(k)) return false;
    type = k == 0 ? SffRecordType::IllegalLine : SffRecordType::UserInfo;
    count = k == 0 ? 1 : k;
    hasData = k != 0;
  }
  if (hasData && count > in.Remaining()) {
    in.Seek(start);  // cut short: the page ends here, and stays ended
    return false;
  }
  record.type = type;
  record.count = count;
  record.data.resize(hasData ? count : 0);
  if (hasData) in.Read(record.data.data(), count);
  return true;
}

}  // namespace kestrel

#include "mail/smtp_reply_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "mail/mail_error.h"

namespace kestrel {
namespace {

constexpr size_t kFirstReplyBuffer = 256;
constexpr size_t kReplyGrowth = 4096;
// A reply is a few lines; a server that sends more than this without ending
// its reply is not an SMTP server we can talk to.
constexpr size_t kMaxReplyBytes = 1 << 20;
// What is kept of a reply that never completed, for the caller's event text.
constexpr size_t kMaxKeptReplyBytes = 1024;
// A wait looks at the stop flag at least this often.
constexpr int kPollStepMs = 100;
constexpr std::string_view kLineEnd = "\r\n";

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The number in the first three characters of `line` (digits only).
int ReplyCode(std::string_view line) {
  int code = 0;
  for (size_t i = 0; i < 3 && i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    code = code * 10 + (line[i] - '0');
  return code;
}

// "250-..." continues a reply; every other line ends it.
bool IsContinuationLine(std::string_view line) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return line.size() >= 4 && digit(line[0]) && digit(line[1]) && digit(line[2]) && line[3] == '-';
}

}  // namespace

void CSmtpReplyReader::Reset() {
  pending_.clear();
  lines_.clear();
  text_.clear();
  code_ = 0;
  missed_ = false;
  timedOut_ = false;
}

namespace {

// `word` is `upper` in any letter case (`upper` is in capitals).
bool SameWord(std::string_view word, std::string_view upper) {
  return word.size() == upper.size() && std::equal(word.begin(), word.end(), upper.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

bool ListsWord(std::string_view words, std::string_view upper) {
  while (!words.empty()) {
    const std::string_view word = words.substr(0, words.find(' '));
    if (SameWord(word, upper)) return true;
    words.remove_prefix(std::min(words.size(), word.size() + 1));
  }
  return false;
}

}  // namespace

bool CSmtpReplyReader::Offers(std::string_view keyword, std::string_view parameter) const {
  // Each line after the first names one extension: "250-STARTTLS", "250 SIZE 10240000".
  size_t start = lines_.find(kLineEnd);
  while (start != std::string::npos) {
    start += kLineEnd.size();
    const size_t end = std::min(lines_.find(kLineEnd, start), lines_.size());
    std::string_view line(lines_.data() + start, end - start);
    if (line.size() >= 4) {
      line.remove_prefix(4);
      const std::string_view word = line.substr(0, line.find(' '));
      if (SameWord(word, keyword) && (parameter.empty() || ListsWord(line.substr(word.size()), parameter))) return true;
    }
    if (end >= lines_.size()) break;
    start = end;
  }
  return false;
}

Status CSmtpReplyReader::Missing(const std::string& received, size_t bufferSize, std::string why) {
  missed_ = true;
  lines_.clear();
  text_ = OneLine(received.substr(0, kMaxKeptReplyBytes));
  bufferSize_ = bufferSize;
  return Status::Failed("reply", std::move(why));
}

Status CSmtpReplyReader::Read(IMailChannel& channel, int expected, int timeoutMs, const std::atomic<bool>* stop) {
  timedOut_ = false;
  size_t size = kFirstReplyBuffer;
  std::string received = std::move(pending_);
  pending_.clear();
  while (received.size() + 1 >= size) size += kReplyGrowth;

  // The reply ends with its first line that is not a continuation line.
  size_t scanned = 0;
  auto completeReply = [&](size_t& lineStart, size_t& lineEnd) {
    for (;;) {
      size_t eol = received.find(kLineEnd, scanned);
      if (eol == std::string::npos) return false;
      std::string_view line(received.data() + scanned, eol - scanned);
      if (!IsContinuationLine(line)) {
        lineStart = scanned;
        lineEnd = eol;
        return true;
      }
      scanned = eol + kLineEnd.size();
    }
  };

  // One deadline for the whole reply: a server that sends a byte now and
  // then must not hold the session for ever.
  const int64_t deadline = NowMs() + timeoutMs;
  size_t lineStart = 0, lineEnd = 0;
  bool complete = completeReply(lineStart, lineEnd);
  while (!complete) {
    if (stop && stop->load()) return Missing(received, size, SystemErrorText(ECANCELED));
    int64_t left = deadline - NowMs();
    if (left < 0) {
      timedOut_ = true;
      return Missing(received, size, std::string(kReplyTimedOutText));
    }
    bool readable = false;
    if (!channel.IsReadable(readable, int(std::min<int64_t>(kPollStepMs, left + 1))))
      return Missing(received, size, channel.LastErrorText());
    if (!readable) continue;
    size_t room = size - received.size() - 1;
    size_t old = received.size();
    received.resize(old + room);
    long got = channel.Receive(received.data() + old, room);
    received.resize(old + (got > 0 ? size_t(got) : 0));
    if (got == 0) return Missing(received, size, "The SMTP server closed the connection");
    if (got < 0) return Missing(received, size, channel.LastErrorText());
    if (size_t(got) == room) size += kReplyGrowth;
    if (received.size() > kMaxReplyBytes) return Missing(received, size, "The SMTP reply is longer than 1 MiB");
    complete = completeReply(lineStart, lineEnd);
  }
  bufferSize_ = size;
  pending_ = received.substr(lineEnd + kLineEnd.size());
  code_ = ReplyCode(std::string_view(received).substr(lineStart, lineEnd - lineStart));
  text_ = OneLine(received.substr(lineStart, lineEnd - lineStart));
  lines_ = received.substr(0, lineEnd);
  if (code_ == expected) return Status();
  return Status::Failed("reply", text_, code_);
}

}  // namespace kestrel

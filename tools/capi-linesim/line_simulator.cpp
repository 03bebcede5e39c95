// The simulated line: sockets and framing of the remote-CAPI protocol, the
// command language, and the network's side of each call.
#include "tools/capi-linesim/line_simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace linesim {
namespace {

volatile std::sig_atomic_t g_terminate = 0;

void OnTerminate(int) { g_terminate = 1; }

// Frames above this are refused: libcapi20 itself never sends more than a
// message and one data block.
constexpr std::size_t kMaxFrame = 8192;

unsigned Le16(const Bytes& b, std::size_t pos) { return b[pos] | (b[pos + 1] << 8); }
std::uint32_t Le32(const Bytes& b, std::size_t pos) {
  return b[pos] | (b[pos + 1] << 8) | (b[pos + 2] << 16) | (static_cast<std::uint32_t>(b[pos + 3]) << 24);
}
void PutLe16(Bytes& b, std::size_t pos, unsigned v) {
  b[pos] = v & 0xff;
  b[pos + 1] = (v >> 8) & 0xff;
}

// A control reply: 0x80, a one-byte body length, and a body whose CAPI header
// says control confirmation; the caller fills in the rest.
Bytes ControlReply(std::uint8_t bodyLength) {
  Bytes reply(2 + bodyLength, 0);
  reply[0] = 0x80;
  reply[1] = bodyLength;
  PutLe16(reply, 2, bodyLength);
  reply[2 + 4] = 0x20;
  reply[2 + 5] = kConf;
  return reply;
}

std::string Hex16(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04x", v & 0xffffu);
  return buf;
}

// Splits a command line into words; double quotes group blanks into one word
// (also inside key="a b").
std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string current;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) words.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) words.push_back(current);
  return words;
}

bool ParseNumber(const std::string& text, unsigned long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoul(text.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

unsigned long NumberOr(const std::map<std::string, std::string>& args, const std::string& key, unsigned long fallback) {
  auto it = args.find(key);
  unsigned long v = 0;
  if (it == args.end() || !ParseNumber(it->second, v)) return fallback;
  return v;
}

Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

CLineSimulator::CLineSimulator(SimOptions options) : options_(std::move(options)) { nextApplId_ = options_.applIdBase; }

CLineSimulator::~CLineSimulator() {
  for (auto& [id, c] : connections_) ::close(c.fd);
  CloseListener();
  if (recordFd_ >= 0 && recordFd_ != STDOUT_FILENO) ::close(recordFd_);
}

int CLineSimulator::Run() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGTERM, OnTerminate);
  std::signal(SIGINT, OnTerminate);

  if (options_.recordFile.empty()) {
    recordFd_ = STDOUT_FILENO;
  } else {
    recordFd_ = ::open(options_.recordFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (recordFd_ < 0) {
      std::fprintf(stderr, "capi-linesim: cannot write %s: %s\n", options_.recordFile.c_str(), std::strerror(errno));
      return 1;
    }
  }
  if (!options_.scriptFile.empty()) {
    std::ifstream in(options_.scriptFile);
    if (!in) {
      std::fprintf(stderr, "capi-linesim: cannot read %s\n", options_.scriptFile.c_str());
      return 1;
    }
    std::string line;
    while (std::getline(in, line)) commands_.push_back(line);
  }
  if (!Listen()) return 1;
  if (!options_.portFile.empty()) {
    std::string tmp = options_.portFile + ".tmp";
    std::ofstream out(tmp, std::ios::trunc);
    out << boundPort_ << "\n";
    out.close();
    if (!out || std::rename(tmp.c_str(), options_.portFile.c_str()) != 0) {
      std::fprintf(stderr, "capi-linesim: cannot write %s\n", options_.portFile.c_str());
      return 1;
    }
  }
  Record("LISTENING port=" + std::to_string(boundPort_));
  if (options_.portFile.empty() && !options_.recordFile.empty()) {
    std::printf("%d\n", boundPort_);
    std::fflush(stdout);
  }
  stdinOpen_ = options_.readStdin;

  while (!quit_ && !g_terminate) {
    RunCommands();
    if (quit_) break;
    std::vector<pollfd> fds;
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    if (stdinOpen_) fds.push_back({STDIN_FILENO, POLLIN, 0});
    std::vector<int> ids;
    for (auto& [id, c] : connections_) {
      fds.push_back({c.fd, POLLIN, 0});
      ids.push_back(id);
    }
    int n = ::poll(fds.data(), fds.size(), 20);
    if (n < 0 && errno != EINTR) break;
    std::size_t i = 0;
    if (listenFd_ >= 0) {
      if (n > 0 && (fds[i].revents & POLLIN)) Accept();
      ++i;
    }
    if (stdinOpen_) {
      if (n > 0 && (fds[i].revents & (POLLIN | POLLHUP))) ReadCommands(STDIN_FILENO);
      ++i;
    }
    for (std::size_t k = 0; k < ids.size(); ++k, ++i) {
      if (n > 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
        auto it = connections_.find(ids[k]);
        if (it != connections_.end()) ReadConnection(it->second);
      }
    }
    RunTimers();
  }
  Record("EXIT");
  return 0;
}

bool CLineSimulator::Listen() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(boundPort_ ? boundPort_ : options_.port));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
    std::fprintf(stderr, "capi-linesim: cannot listen: %s\n", std::strerror(errno));
    CloseListener();
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  boundPort_ = ntohs(addr.sin_port);
  return true;
}

void CLineSimulator::CloseListener() {
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
}

void CLineSimulator::Accept() {
  int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Connection c;
  c.fd = fd;
  c.id = nextConnectionId_++;
  connections_[c.id] = c;
  Record("ACCEPT conn=" + std::to_string(c.id));
}

void CLineSimulator::CloseConnection(int id, const char* why) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  ::close(it->second.fd);
  Record(std::string("CLOSED conn=") + std::to_string(id) + " " + why);
  connections_.erase(it);
  for (auto& call : calls_)
    if (call->connectionId == id && call->d != DState::kDone) call->d = DState::kDone;
}

void CLineSimulator::ReadConnection(Connection& c) {
  std::uint8_t buf[4096];
  ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    CloseConnection(c.id, n == 0 ? "eof" : "error");
    return;
  }
  if (n < 0) return;
  c.input.insert(c.input.end(), buf, buf + n);
  int id = c.id;
  // Frames: 0x80, LE16 length, body.
  while (true) {
    auto it = connections_.find(id);
    if (it == connections_.end()) return;
    Connection& conn = it->second;
    if (conn.input.size() < 3) return;
    std::size_t length = Le16(conn.input, 1);
    if (length > kMaxFrame) {
      Record("BADFRAME conn=" + std::to_string(id) + " length=" + std::to_string(length));
      CloseConnection(id, "bad frame");
      return;
    }
    if (conn.input.size() < 3 + length) return;
    Bytes body(conn.input.begin() + 3, conn.input.begin() + 3 + length);
    conn.input.erase(conn.input.begin(), conn.input.begin() + 3 + length);
    HandleFrame(conn, body);
  }
}

void CLineSimulator::HandleFrame(Connection& c, const Bytes& body) {
  if (body.size() >= 8 && body[4] == 0x20 && body[5] == kReq) {
    HandleControl(c, body);
    return;
  }
  if (body.size() < 8 || Le16(body, 0) < 8 || Le16(body, 0) > body.size()) {
    Record("RECV BADMESSAGE conn=" + std::to_string(c.id) + " hex=" + HexOf(body.data(), body.size()));
    return;
  }
  HandleMessage(c, body);
}

void CLineSimulator::HandleControl(Connection& c, const Bytes& body) {
  if (body.size() < 13) {
    Record("CONTROL conn=" + std::to_string(c.id) + " short hex=" + HexOf(body.data(), body.size()));
    return;
  }
  unsigned function = Le16(body, 11);
  if (function == 0) {  // REGISTER
    unsigned maxConn = body.size() >= 16 ? Le16(body, 14) : 0;
    unsigned maxBlocks = body.size() >= 18 ? Le16(body, 16) : 0;
    unsigned maxSize = body.size() >= 20 ? Le16(body, 18) : 0;
    Bytes reply = ControlReply(18);
    std::string line = "REGISTER conn=" + std::to_string(c.id) + " maxLogicalConnection=" + std::to_string(maxConn) +
                       " maxB3Blocks=" + std::to_string(maxBlocks) + " maxB3Size=" + std::to_string(maxSize);
    if (registerInfo_ != 0) {
      PutLe16(reply, 2 + 16, registerInfo_);
      Record(line + " refused info=" + Hex16(registerInfo_));
    } else {
      c.app = true;
      c.applId = static_cast<std::uint16_t>(nextApplId_++);
      c.maxB3Blocks = static_cast<std::uint16_t>(maxBlocks ? maxBlocks : 1);
      c.maxB3Size = static_cast<std::uint16_t>(maxSize ? maxSize : 128);
      PutLe16(reply, 2 + 2, c.applId);
      Record(line + " applid=" + std::to_string(c.applId));
    }
    SendRaw(c, reply);
  } else if (function == 1) {  // RELEASE: no reply, the library closes the socket
    c.released = true;
    Record("RELEASE conn=" + std::to_string(c.id) + " appl=" + std::to_string(Le16(body, 2)));
  } else if (function == 2) {  // GET_PROFILE
    unsigned controller = body.size() >= 16 ? Le16(body, 14) : 0;
    Bytes reply = ControlReply(82);
    std::size_t p = 2 + 18;
    PutLe16(reply, p, static_cast<unsigned>(options_.controllers));
    bool exists = controller >= 1 && controller <= static_cast<unsigned>(options_.controllers);
    PutLe16(reply, p + 2, exists ? static_cast<unsigned>(options_.bChannels) : 0);
    // B1, B2 and B3 support: bit 4 is fax group 3 (T.30).
    for (int layer = 0; layer < 3; ++layer) reply[p + 8 + 4 * layer] = 0x11;
    Record("GET_PROFILE conn=" + std::to_string(c.id) + " controller=" + std::to_string(controller));
    SendRaw(c, reply);
  } else {
    Record("CONTROL conn=" + std::to_string(c.id) + " function=" + std::to_string(function));
  }
}

void CLineSimulator::SendRaw(Connection& c, const Bytes& frame) {
  std::size_t done = 0;
  while (done < frame.size()) {
    ssize_t n = ::send(c.fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the reader sees the close
    done += static_cast<std::size_t>(n);
  }
}

void CLineSimulator::SendMessage(Connection& c, const Bytes& original, const Bytes& data) {
  Bytes msg = original;
  // Indications carry a running message number, so that the exchange shows
  // which responses echo it.
  if (msg.size() >= 8 && msg[5] == kInd) PutLe16(msg, 6, c.nextMessageNumber++);
  Bytes frame;
  std::size_t length = msg.size() + data.size();
  frame.reserve(3 + length);
  frame.push_back(0x80);
  frame.push_back(length & 0xff);
  frame.push_back((length >> 8) & 0xff);
  frame.insert(frame.end(), msg.begin(), msg.end());
  frame.insert(frame.end(), data.begin(), data.end());
  Record("SEND " + DecodeMessage(msg.data(), msg.size()));
  SendRaw(c, frame);
}

std::uint16_t CLineSimulator::ConfInfo(const std::string& command) const {
  auto it = confInfo_.find(command);
  return it == confInfo_.end() ? 0 : it->second;
}

CLineSimulator::Call* CLineSimulator::FindCallByPlci(std::uint32_t plci) {
  for (auto& call : calls_)
    if (call->plci == (plci & 0xffff) && call->d != DState::kDone) return call.get();
  return nullptr;
}

CLineSimulator::Call* CLineSimulator::FindCallByNcci(std::uint32_t ncci) {
  for (auto& call : calls_)
    if (call->ncci == ncci && call->d != DState::kDone) return call.get();
  return nullptr;
}

CLineSimulator::Connection* CLineSimulator::CallConnection(const Call& call) {
  auto it = connections_.find(call.connectionId);
  return it == connections_.end() ? nullptr : &it->second;
}

void CLineSimulator::HandleMessage(Connection& c, const Bytes& msg) {
  Record("RECV " + DecodeMessage(msg.data(), msg.size()));
  std::uint8_t command = msg[4], sub = msg[5];
  std::uint16_t appl = c.applId;
  std::uint16_t number = static_cast<std::uint16_t>(Le16(msg, 6));
  std::size_t length = Le16(msg, 0);
  if (length < 12) return;
  std::uint32_t address = Le32(msg, 8);

  if (command == kListen && sub == kReq) {
    c.cipMask = length >= 24 ? Le32(msg, 16) : 0;
    SendMessage(c, CMessageWriter(kListen, kConf, appl, number).Dword(address).Word(ConfInfo("LISTEN")).Finish());
    return;
  }
  if (command == kDataB3 && sub == kReq) {
    unsigned handle = length >= 20 ? Le16(msg, 18) : 0;
    SendMessage(c, CMessageWriter(kDataB3, kConf, appl, number)
                       .Dword(address)
                       .Word(static_cast<std::uint16_t>(handle))
                       .Word(ConfInfo("DATA_B3"))
                       .Finish());
    return;
  }
  if (command == kInfo && sub == kReq) {
    SendMessage(c, CMessageWriter(kInfo, kConf, appl, number).Dword(address).Word(ConfInfo("INFO")).Finish());
    return;
  }

  bool b3Address = command == kConnectB3Active || command == kDisconnectB3 || command == kDataB3 ||
                   (command == kConnectB3 && sub == kResp);
  Call* call = b3Address ? FindCallByNcci(address) : FindCallByPlci(address);
  if (!call) {
    if (sub == kReq) {
      // A request for a connection the line does not know: "illegal PLCI/NCCI".
      SendMessage(c, CMessageWriter(command, kConf, appl, number).Dword(address).Word(0x2002).Finish());
    }
    return;
  }

  switch (command << 8 | sub) {
    case kAlert << 8 | kReq: {
      SendMessage(c, CMessageWriter(kAlert, kConf, appl, number).Dword(address).Word(ConfInfo("ALERT")).Finish());
      if (call->hangup == "alert") ClearCall(*call, call->reason);
      break;
    }
    case kConnect << 8 | kResp: {
      if (call->answered || call->d != DState::kRinging) break;
      call->answered = true;
      unsigned reject = length >= 14 ? Le16(msg, 12) : 0;
      if (reject != 0 || call->hangup == "answer") {
        SendDisconnectInd(*call, reject != 0 ? 0 : call->reason);
        break;
      }
      call->d = DState::kActivating;
      SendMessage(
          c, CMessageWriter(kConnectActive, kInd, appl, 0).Dword(call->plci).Struct({}).Struct({}).Struct({}).Finish());
      break;
    }
    case kConnectActive << 8 | kResp: {
      if (call->d != DState::kActivating) break;
      call->d = DState::kActive;
      if (call->hangup == "active") {
        ClearCall(*call, call->reason);
        break;
      }
      call->b3 = B3State::kOffered;
      SendMessage(c, CMessageWriter(kConnectB3, kInd, appl, 0).Dword(call->ncci).Struct({}).Finish());
      break;
    }
    case kConnectB3 << 8 | kReq: {
      std::uint16_t info = ConfInfo("CONNECT_B3");
      SendMessage(c, CMessageWriter(kConnectB3, kConf, appl, number).Dword(call->ncci).Word(info).Finish());
      if (info == 0 && call->b3 == B3State::kNone) {
        call->b3 = B3State::kActivating;
        SendMessage(c, CMessageWriter(kConnectB3Active, kInd, appl, 0).Dword(call->ncci).Struct({}).Finish());
      }
      break;
    }
    case kConnectB3 << 8 | kResp: {
      if (call->b3 != B3State::kOffered) break;
      unsigned reject = length >= 14 ? Le16(msg, 12) : 0;
      if (reject != 0) {
        call->b3 = B3State::kUp;  // so that the clearing below sends DISCONNECT_B3_IND
        ClearB3(*call, 0x3301, false);
        break;
      }
      if (call->hangup == "b3") {
        call->b3 = B3State::kUp;
        ClearB3(*call, call->reason, true);
        break;
      }
      call->b3 = B3State::kActivating;
      SendMessage(c, CMessageWriter(kConnectB3Active, kInd, appl, 0).Dword(call->ncci).Struct({}).Finish());
      if (call->burst) {
        // As a CAPI may queue them: activation, the data, and both clearings,
        // without waiting for a single response.
        call->b3 = B3State::kUp;
        call->hangupBlocks = -1;
        call->hangup = "never";
        PumpData(*call);
        ClearB3(*call, 0, false);
        SendDisconnectInd(*call, call->reason);
      }
      break;
    }
    case kConnectB3Active << 8 | kResp: {
      if (call->b3 != B3State::kActivating) break;
      call->b3 = B3State::kUp;
      PumpData(*call);
      break;
    }
    case kDataB3 << 8 | kResp: {
      unsigned handle = length >= 14 ? Le16(msg, 12) : 0;
      if (call->outstanding.erase(static_cast<std::uint16_t>(handle)) == 0) {
        Record("EVENT call=" + call->name + " unexpected DataHandle=" + Hex16(handle));
        break;
      }
      ++call->blocksAcked;
      if (call->b3 == B3State::kUp) PumpData(*call);
      break;
    }
    case kDisconnectB3 << 8 | kReq: {
      std::uint16_t info = ConfInfo("DISCONNECT_B3");
      SendMessage(c, CMessageWriter(kDisconnectB3, kConf, appl, number).Dword(call->ncci).Word(info).Finish());
      if (info == 0 && call->b3 != B3State::kNone && call->b3 != B3State::kClearing) ClearB3(*call, 0, false);
      break;
    }
    case kDisconnectB3 << 8 | kResp: {
      if (call->b3 != B3State::kClearing) break;
      call->b3 = B3State::kNone;
      if (call->disconnectAfterB3) SendDisconnectInd(*call, call->reason);
      break;
    }
    case kDisconnect << 8 | kReq: {
      std::uint16_t info = ConfInfo("DISCONNECT");
      SendMessage(c, CMessageWriter(kDisconnect, kConf, appl, number).Dword(call->plci).Word(info).Finish());
      if (info == 0) ClearCall(*call, 0x3490);
      break;
    }
    case kDisconnect << 8 | kResp: {
      if (call->d != DState::kClearing) break;
      call->d = DState::kDone;
      Record("EVENT call=" + call->name + " done");
      break;
    }
    case kInfo << 8 | kResp:  // the answer to an INFO_IND: nothing follows from it
    default: break;
  }
}

void CLineSimulator::ClearCall(Call& call, std::uint16_t reason) {
  if (call.d == DState::kClearing || call.d == DState::kDone) return;
  if (call.b3 == B3State::kClearing) {
    call.disconnectAfterB3 = true;
    return;
  }
  if (call.b3 != B3State::kNone) {
    ClearB3(call, reason, true);
    return;
  }
  SendDisconnectInd(call, reason);
}

void CLineSimulator::ClearB3(Call& call, std::uint16_t reason, bool thenDisconnect) {
  Connection* c = CallConnection(call);
  if (!c) return;
  call.b3 = B3State::kClearing;
  call.disconnectAfterB3 = call.disconnectAfterB3 || thenDisconnect;
  SendMessage(
      *c, CMessageWriter(kDisconnectB3, kInd, c->applId, 0).Dword(call.ncci).Word(reason).Struct(call.ncpi).Finish());
}

void CLineSimulator::SendDisconnectInd(Call& call, std::uint16_t reason) {
  Connection* c = CallConnection(call);
  call.d = c ? DState::kClearing : DState::kDone;
  if (!c) return;
  SendMessage(*c, CMessageWriter(kDisconnect, kInd, c->applId, 0).Dword(call.plci).Word(reason).Finish());
}

void CLineSimulator::PumpData(Call& call) {
  Connection* c = CallConnection(call);
  if (!c) return;
  std::size_t window = c->maxB3Blocks < 7 ? c->maxB3Blocks : 7;
  std::size_t block = call.blockSize;
  if (block > c->maxB3Size) block = c->maxB3Size;
  if (block > 2048) block = 2048;
  if (block == 0) block = 1;
  auto cutHere = [&] { return call.hangupBlocks >= 0 && call.blocksSent >= call.hangupBlocks; };
  while (call.outstanding.size() < window && !cutHere()) {
    bool empty = call.emptyBlockAt >= 0 && !call.emptySent && call.blocksSent >= call.emptyBlockAt;
    if (!empty && call.nextOffset >= call.data.size()) break;
    std::size_t n = empty ? 0 : std::min(block, call.data.size() - call.nextOffset);
    Bytes payload(call.data.begin() + call.nextOffset, call.data.begin() + call.nextOffset + n);
    call.nextOffset += n;
    if (empty) call.emptySent = true;
    std::uint16_t handle = call.nextHandle++;
    call.outstanding.insert(handle);
    ++call.blocksSent;
    CMessageWriter w(kDataB3, kInd, c->applId, 0);
    w.Dword(call.ncci).Dword(0).Word(static_cast<std::uint16_t>(n)).Word(handle).Word(0);
    if (call.data64) w.Qword(0);
    SendMessage(*c, w.Finish(), payload);
  }
  if (!call.outstanding.empty()) return;
  if (cutHere()) {
    ClearB3(call, call.reason, true);
  } else if (call.nextOffset >= call.data.size() && call.hangup != "never") {
    ClearB3(call, 0, true);
  }
}

void CLineSimulator::RunTimers() {
  auto now = Clock::now();
  for (auto& call : calls_) {
    if (call->d == DState::kRinging && !call->answered && now >= call->ringDeadline) {
      Record("EVENT call=" + call->name + " ring timeout");
      SendDisconnectInd(*call, 0x3480);  // no answer
    }
  }
}

void CLineSimulator::Record(const std::string& line) {
  records_.push_back(line);
  std::string out = line + "\n";
  if (recordFd_ >= 0) {
    ssize_t ignored = ::write(recordFd_, out.data(), out.size());
    (void)ignored;
  }
}

void CLineSimulator::ReadCommands(int fd) {
  char buf[4096];
  ssize_t n = ::read(fd, buf, sizeof buf);
  if (n <= 0) {
    stdinOpen_ = false;
    if (!stdinPartial_.empty()) commands_.push_back(stdinPartial_);
    stdinPartial_.clear();
    if (options_.exitOnEof) commands_.push_back("quit");
    return;
  }
  stdinPartial_.append(buf, static_cast<std::size_t>(n));
  std::size_t pos;
  while ((pos = stdinPartial_.find('\n')) != std::string::npos) {
    commands_.push_back(stdinPartial_.substr(0, pos));
    stdinPartial_.erase(0, pos + 1);
  }
}

void CLineSimulator::RunCommands() {
  while (!commands_.empty() && !quit_) {
    if (!RunCommand(commands_.front())) return;
    commands_.pop_front();
  }
}

bool CLineSimulator::RunCommand(const std::string& rawLine) {
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  std::vector<std::string> words = SplitWords(line);
  if (words.empty() || words[0][0] == '#') return true;
  const std::string& verb = words[0];

  if (verb == "sleep") {
    unsigned long ms = 0;
    if (!sleeping_) {
      ParseNumber(words.size() > 1 ? words[1] : "0", ms);
      sleeping_ = true;
      sleepUntil_ = Clock::now() + std::chrono::milliseconds(ms);
    }
    if (Clock::now() < sleepUntil_) return false;
    sleeping_ = false;
    return true;
  }
  if (verb == "wait") {
    std::string text = line.substr(line.find("wait") + 4);
    while (!text.empty() && text[0] == ' ') text.erase(0, 1);
    for (; waitCursor_ < records_.size(); ++waitCursor_) {
      if (records_[waitCursor_].find(text) != std::string::npos) {
        ++waitCursor_;
        return true;
      }
    }
    return false;
  }

  Record("COMMAND " + line);
  std::map<std::string, std::string> args;
  for (std::size_t i = 2; i < words.size(); ++i) {
    auto eq = words[i].find('=');
    if (eq == std::string::npos)
      args[words[i]] = "";
    else
      args[words[i].substr(0, eq)] = words[i].substr(eq + 1);
  }

  if (verb == "quit") {
    quit_ = true;
  } else if (verb == "call" && words.size() >= 2) {
    StartCall(words[1], args);
  } else if (verb == "hangup" && words.size() >= 2) {
    for (auto& call : calls_)
      if (call->name == words[1] && call->d != DState::kDone)
        ClearCall(*call, static_cast<std::uint16_t>(NumberOr(args, "reason", 0x3490)));
  } else if (verb == "set" && words.size() >= 3) {
    unsigned long v = 0;
    const std::string& what = words[1];
    if (what == "conf-info" && words.size() >= 4 && ParseNumber(words[3], v)) {
      confInfo_[words[2]] = static_cast<std::uint16_t>(v);
    } else if (what == "register-info" && ParseNumber(words[2], v)) {
      registerInfo_ = static_cast<std::uint16_t>(v);
    } else if (what == "controllers" && ParseNumber(words[2], v)) {
      options_.controllers = static_cast<int>(v);
    } else if (what == "bchannels" && ParseNumber(words[2], v)) {
      options_.bChannels = static_cast<int>(v);
    } else {
      Record("ERROR bad set: " + line);
    }
  } else if (verb == "raw" && words.size() >= 2) {
    Bytes msg;
    std::string hex;
    for (std::size_t i = 1; i < words.size(); ++i) hex += words[i];
    Connection* target = nullptr;
    for (auto& [id, c] : connections_)
      if (c.app && !c.released) target = &c;
    if (!ParseHex(hex, msg) || msg.size() < 8 || !target) {
      Record("ERROR bad raw: " + line);
    } else {
      SendMessage(*target, msg);
    }
  } else if (verb == "drop") {
    std::vector<int> ids;
    for (auto& [id, c] : connections_) ids.push_back(id);
    for (int id : ids) CloseConnection(id, "dropped");
    CloseListener();
  } else if (verb == "resume") {
    if (listenFd_ < 0 && Listen()) Record("LISTENING port=" + std::to_string(boundPort_));
  } else {
    Record("ERROR unknown command: " + line);
  }
  return true;
}

void CLineSimulator::StartCall(const std::string& name, const std::map<std::string, std::string>& args) {
  Connection* target = nullptr;
  for (auto& [id, c] : connections_)
    if (c.app && !c.released && c.cipMask != 0) target = &c;
  auto call = std::make_unique<Call>();
  call->name = name;
  call->cip = static_cast<std::uint16_t>(NumberOr(args, "cip", 17));
  if (!target || call->cip > 31 || !(target->cipMask & (1u << call->cip))) {
    Record("EVENT call=" + name + " no listener");
    return;
  }
  call->connectionId = target->id;
  call->controller = static_cast<int>(NumberOr(args, "controller", 1)) & 0x7f;
  call->plci = static_cast<std::uint32_t>((plciCounter_++ & 0xff) << 8 | call->controller);
  call->ncci = 0x10000u | call->plci;

  auto get = [&](const std::string& key) -> const std::string* {
    auto it = args.find(key);
    return it == args.end() ? nullptr : &it->second;
  };
  Bytes bytes;
  if (const std::string* v = get("called-raw"); v && ParseHex(*v, bytes))
    call->called = bytes;
  else if (const std::string* v2 = get("called"))
    call->called = Bytes{0x81}, call->called.insert(call->called.end(), v2->begin(), v2->end());
  if (const std::string* v = get("caller-raw"); v && ParseHex(*v, bytes))
    call->calling = bytes;
  else if (const std::string* v2 = get("caller"))
    call->calling = Bytes{0x21, 0x83}, call->calling.insert(call->calling.end(), v2->begin(), v2->end());

  if (const std::string* v = get("sff")) {
    std::ifstream in(*v, std::ios::binary);
    if (!in) {
      Record("ERROR cannot read " + *v);
      return;
    }
    std::ostringstream s;
    s << in.rdbuf();
    call->data = BytesOf(s.str());
  } else if (const std::string* v2 = get("data")) {
    ParseHex(*v2, call->data);
  } else {
    std::size_t size = NumberOr(args, "size", 0);
    call->data.resize(size);
    for (std::size_t i = 0; i < size; ++i) call->data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  call->blockSize = NumberOr(args, "block", 2048);

  if (const std::string* v = get("ncpi")) {
    if (*v != "none") ParseHex(*v, call->ncpi);
  } else {
    std::string id = get("id") ? *get("id") : "";
    CMessageWriter w(0, 0, 0, 0);
    Bytes ncpi = w.Word(static_cast<std::uint16_t>(NumberOr(args, "rate", 14400)))
                     .Word(0)
                     .Word(0)
                     .Word(static_cast<std::uint16_t>(NumberOr(args, "pages", 1)))
                     .Struct(BytesOf(id))
                     .Finish();
    call->ncpi.assign(ncpi.begin() + 8, ncpi.end());
  }
  if (const std::string* v = get("hangup")) {
    call->hangup = *v;
    if (v->rfind("data:", 0) == 0) {
      unsigned long k = 0;
      ParseNumber(v->substr(5), k);
      call->hangupBlocks = static_cast<int>(k);
    }
  }
  call->reason = static_cast<std::uint16_t>(NumberOr(args, "reason", 0x3490));
  call->ringTimeoutMs = static_cast<int>(NumberOr(args, "ring-timeout", 20000));
  call->emptyBlockAt = get("empty-block-at") ? static_cast<int>(NumberOr(args, "empty-block-at", 0)) : -1;
  call->data64 = NumberOr(args, "data64", 0) != 0;
  call->infoInd = NumberOr(args, "info-ind", 0) != 0;
  call->burst = NumberOr(args, "burst", 0) != 0;
  call->ringDeadline = Clock::now() + std::chrono::milliseconds(call->ringTimeoutMs);

  Connection& c = *target;
  SendMessage(c, CMessageWriter(kConnect, kInd, c.applId, 0)
                     .Dword(call->plci)
                     .Word(call->cip)
                     .Struct(call->called)
                     .Struct(call->calling)
                     .Struct({})
                     .Struct({})
                     .Struct({})
                     .Struct({})
                     .Struct({})
                     .Struct({})
                     .Finish());
  if (call->infoInd)
    SendMessage(c, CMessageWriter(kInfo, kInd, c.applId, 0).Dword(call->plci).Word(0x0018).Struct({0x89}).Finish());
  char ids[64];
  std::snprintf(ids, sizeof ids, " PLCI=0x%04x NCCI=0x%08x", call->plci, call->ncci);
  Record("EVENT call=" + name + ids);
  calls_.push_back(std::move(call));
}

}  // namespace linesim

// CLineSimulator: a simulated ISDN line behind libcapi20's remote-CAPI
// ("fritzbox") protocol on loopback. It plays the CAPI side (profile,
// REGISTER, LISTEN, confirmations) and the network with the remote fax
// machines (scripted calls), and records every message it receives and sends,
// decoded, one line each, so that tests can assert on the exchange.
//
// Reads frames from a client it does not trust: frame and message lengths are
// checked before any field is read, a bad frame is recorded and the stream
// closed. Single-threaded: one poll loop serves the sockets, the command input
// and the call timers.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/capi-linesim/capi_codec.h"

namespace linesim {

struct SimOptions {
  int port = 0;            // 0: a free port chosen by the system
  std::string portFile;    // the port is written here once listening
  std::string recordFile;  // the record; standard output when empty
  std::string scriptFile;  // commands read before standard input
  bool readStdin = true;
  bool exitOnEof = false;  // end when standard input closes
  int applIdBase = 1;      // first ApplID handed out
  int controllers = 1;
  int bChannels = 2;  // per controller
};

class CLineSimulator {
 public:
  explicit CLineSimulator(SimOptions options);
  ~CLineSimulator();
  // Runs until "quit", a termination signal, or end of input with exitOnEof.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  struct Connection {
    int fd = -1;
    int id = 0;
    Bytes input;
    bool app = false;
    bool released = false;
    std::uint16_t applId = 0;
    std::uint16_t maxB3Blocks = 7;
    std::uint16_t maxB3Size = 2048;
    std::uint32_t cipMask = 0;
    std::uint16_t nextMessageNumber = 1;
  };

  enum class DState { kRinging, kActivating, kActive, kClearing, kDone };
  enum class B3State { kNone, kOffered, kActivating, kUp, kClearing };

  struct Call {
    std::string name;
    int connectionId = 0;
    int controller = 1;
    std::uint32_t plci = 0;
    std::uint32_t ncci = 0;
    std::uint16_t cip = 17;
    Bytes called;
    Bytes calling;
    Bytes data;
    std::size_t blockSize = 2048;
    Bytes ncpi;
    std::string hangup = "end";  // alert, answer, active, b3, data:K, never, end
    int hangupBlocks = -1;
    std::uint16_t reason = 0;
    int ringTimeoutMs = 20000;
    int emptyBlockAt = -1;
    bool data64 = false;
    bool infoInd = false;
    bool burst = false;  // the whole tail after CONNECT_B3_RESP at once

    DState d = DState::kRinging;
    B3State b3 = B3State::kNone;
    bool answered = false;
    bool disconnectAfterB3 = false;
    Clock::time_point ringDeadline;
    std::size_t nextOffset = 0;
    int blocksSent = 0;
    int blocksAcked = 0;
    bool emptySent = false;
    std::set<std::uint16_t> outstanding;
    std::uint16_t nextHandle = 256;
  };

  bool Listen();
  void CloseListener();
  void Accept();
  void ReadConnection(Connection& c);
  void CloseConnection(int id, const char* why);
  void HandleFrame(Connection& c, const Bytes& body);
  void HandleControl(Connection& c, const Bytes& body);
  void HandleMessage(Connection& c, const Bytes& msg);
  void SendMessage(Connection& c, const Bytes& msg, const Bytes& data = {});
  void SendRaw(Connection& c, const Bytes& frame);

  // Commands.
  void ReadCommands(int fd);
  void RunCommands();
  bool RunCommand(const std::string& line);  // false: blocks the queue
  void StartCall(const std::string& name, const std::map<std::string, std::string>& args);

  // The network side of a call.
  Call* FindCallByPlci(std::uint32_t plci);
  Call* FindCallByNcci(std::uint32_t ncci);
  Connection* CallConnection(const Call& call);
  void ClearCall(Call& call, std::uint16_t reason);
  void ClearB3(Call& call, std::uint16_t reason, bool thenDisconnect);
  void SendDisconnectInd(Call& call, std::uint16_t reason);
  void PumpData(Call& call);
  void RunTimers();
  void Record(const std::string& line);

  std::uint16_t ConfInfo(const std::string& command) const;

  SimOptions options_;
  int listenFd_ = -1;
  int boundPort_ = 0;
  int recordFd_ = -1;
  int nextConnectionId_ = 1;
  int nextApplId_ = 1;
  std::uint16_t registerInfo_ = 0;
  int plciCounter_ = 1;
  std::map<int, Connection> connections_;
  std::vector<std::unique_ptr<Call>> calls_;
  std::map<std::string, std::uint16_t> confInfo_;

  std::deque<std::string> commands_;
  std::string stdinPartial_;
  bool stdinOpen_ = false;
  bool quit_ = false;
  std::vector<std::string> records_;
  std::size_t waitCursor_ = 0;
  bool sleeping_ = false;
  Clock::time_point sleepUntil_;
};

}  // namespace linesim

// The worker's side of the call state machine: the machine's actions carried
// out: messages composed with libcapi20 and put, the capture file opened,
// written, flushed and closed, the call passed to the forwarding side, event
// texts written.
#include <capi20.h>

#include <ctime>

#include "capi/fax_receive_thread.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

// The state machine speaks CAPI 2.0's own codes; libcapi20 must agree.
static_assert(static_cast<int>(CapiCommand::kAlert) == CAPI_ALERT);
static_assert(static_cast<int>(CapiCommand::kConnect) == CAPI_CONNECT);
static_assert(static_cast<int>(CapiCommand::kConnectActive) == CAPI_CONNECT_ACTIVE);
static_assert(static_cast<int>(CapiCommand::kDisconnect) == CAPI_DISCONNECT);
static_assert(static_cast<int>(CapiCommand::kListen) == CAPI_LISTEN);
static_assert(static_cast<int>(CapiCommand::kInfo) == CAPI_INFO);
static_assert(static_cast<int>(CapiCommand::kConnectB3) == CAPI_CONNECT_B3);
static_assert(static_cast<int>(CapiCommand::kConnectB3Active) == CAPI_CONNECT_B3_ACTIVE);
static_assert(static_cast<int>(CapiCommand::kDisconnectB3) == CAPI_DISCONNECT_B3);
static_assert(static_cast<int>(CapiCommand::kDataB3) == CAPI_DATA_B3);
static_assert(static_cast<int>(CapiSubcommand::kReq) == CAPI_REQ);
static_assert(static_cast<int>(CapiSubcommand::kConf) == CAPI_CONF);
static_assert(static_cast<int>(CapiSubcommand::kInd) == CAPI_IND);
static_assert(static_cast<int>(CapiSubcommand::kResp) == CAPI_RESP);

constexpr _cword kFaxG3 = 4;  // B1, B2 and B3 protocol: T.30 fax group 3

constexpr int Key(CapiCommand command, CapiSubcommand subcommand) {
  return static_cast<int>(command) << 8 | static_cast<int>(subcommand);
}

}  // namespace

void CFaxReceiveThread::Put(const OutgoingCapiMessage& message) {
  const _cword appl = static_cast<_cword>(appId_);
  const _cword number = message.messageNumber;
  const _cdword address = message.address;
  _cmsg m;
  switch (Key(message.command, message.subcommand)) {
    case Key(CapiCommand::kAlert, CapiSubcommand::kReq):
      capi_fill_ALERT_REQ(&m, appl, number, address, nullptr, nullptr, nullptr, nullptr, nullptr);
      break;
    case Key(CapiCommand::kConnect, CapiSubcommand::kResp): {
      _cword protocol = message.faxProtocols ? kFaxG3 : 0;
      auto* b3 =
          message.b3Configuration ? reinterpret_cast<_cstruct>(const_cast<char*>(b3Configuration_.data())) : nullptr;
      capi_fill_CONNECT_RESP(&m, appl, number, address, message.reject, protocol, protocol, protocol, nullptr, nullptr,
                             b3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
      break;
    }
    case Key(CapiCommand::kConnectActive, CapiSubcommand::kResp):
      capi_fill_CONNECT_ACTIVE_RESP(&m, appl, number, address);
      break;
    case Key(CapiCommand::kConnectB3, CapiSubcommand::kReq):
      capi_fill_CONNECT_B3_REQ(&m, appl, number, address, nullptr);
      break;
    case Key(CapiCommand::kConnectB3, CapiSubcommand::kResp):
      capi_fill_CONNECT_B3_RESP(&m, appl, number, address, message.reject, nullptr);
      break;
    case Key(CapiCommand::kConnectB3Active, CapiSubcommand::kResp):
      capi_fill_CONNECT_B3_ACTIVE_RESP(&m, appl, number, address);
      break;
    case Key(CapiCommand::kDataB3, CapiSubcommand::kResp):
      capi_fill_DATA_B3_RESP(&m, appl, number, address, message.dataHandle);
      break;
    case Key(CapiCommand::kDisconnectB3, CapiSubcommand::kReq):
      capi_fill_DISCONNECT_B3_REQ(&m, appl, number, address, nullptr);
      break;
    case Key(CapiCommand::kDisconnectB3, CapiSubcommand::kResp):
      capi_fill_DISCONNECT_B3_RESP(&m, appl, number, address);
      break;
    case Key(CapiCommand::kDisconnect, CapiSubcommand::kReq):
      capi_fill_DISCONNECT_REQ(&m, appl, number, address, nullptr, nullptr, nullptr, nullptr);
      break;
    case Key(CapiCommand::kDisconnect, CapiSubcommand::kResp):
      capi_fill_DISCONNECT_RESP(&m, appl, number, address);
      break;
    case Key(CapiCommand::kInfo, CapiSubcommand::kResp): capi_fill_INFO_RESP(&m, appl, number, address); break;
    default: return;  // the state machine sends nothing else
  }
  capi_put_cmsg(&m);
}

bool CFaxReceiveThread::OpenCapture(int slot, const std::string& callerNumber, std::string& path) {
  CFaxCapture& capture = *captures_.at(static_cast<std::size_t>(slot));
  if (!capture.Create(settings_.ReceivedDir, callerNumber, path)) return false;
  // Data of this call is captured from now on, also when it connects before
  // the reception cycle has begun.
  capture.On();
  SetLineState(LineStatus::State::kReceiving);
  return true;
}

void CFaxReceiveThread::AppendData(int slot, const std::uint8_t* data, std::size_t length) {
  captures_.at(static_cast<std::size_t>(slot))->DataAvailable(data, length);
}

void CFaxReceiveThread::CapturesOn(bool on) {
  for (auto& capture : captures_) on ? capture->On() : capture->Off();
}

void CFaxReceiveThread::CloseCaptures() {
  for (auto& capture : captures_) capture->Close();
}

void CFaxReceiveThread::CallAnswered(FaxCallRecord& call) { handOff_.CallAnswered(call); }

void CFaxReceiveThread::FaxEnded(int slot, FaxCallRecord& call) {
  // On disk before it is handed over: the forwarding side may read it at once,
  // and a crash after the hand-over must not lose the last pages.
  CFaxCapture& capture = *captures_.at(static_cast<std::size_t>(slot));
  if (kestrel::Status written = capture.Finish(); !written) call.incomplete = written.Error().text;
  handOff_.HandOver(call);
  statusLastFax_.store(std::time(nullptr));
  statusFaxes_.fetch_add(1);
}

void CFaxReceiveThread::CallDropped(int slot, const FaxCallRecord& call) {
  captures_.at(static_cast<std::size_t>(slot))->Close();
  handOff_.CallDropped(call);
}

void CFaxReceiveThread::WriteEventText(std::string_view text) { Log(std::string(text)); }

}  // namespace kestrel

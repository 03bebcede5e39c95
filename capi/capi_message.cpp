// Which incoming messages libcapi20 may decompose, bounded reads of their
// struct parameters, and the decoding of one message into the call state
// machine's input.
#include "capi/capi_message.h"

#include <capi20.h>

#include <cstring>

namespace kestrel {

bool CanDecompose(std::uint8_t command, std::uint8_t subcommand) {
  switch (subcommand) {
    case CAPI_CONF:
      switch (command) {
        case CAPI_ALERT:
        case CAPI_CONNECT:
        case CAPI_DISCONNECT:
        case CAPI_LISTEN:
        case CAPI_INFO:
        case CAPI_FACILITY:
        case CAPI_SELECT_B_PROTOCOL:
        case CAPI_CONNECT_B3:
        case CAPI_DISCONNECT_B3:
        case CAPI_DATA_B3:
        case CAPI_RESET_B3: return true;
        default: return false;
      }
    case CAPI_IND:
      switch (command) {
        case CAPI_CONNECT:
        case CAPI_CONNECT_ACTIVE:
        case CAPI_DISCONNECT:
        case CAPI_INFO:
        case CAPI_FACILITY:
        case CAPI_CONNECT_B3:
        case CAPI_CONNECT_B3_ACTIVE:
        case CAPI_DISCONNECT_B3:
        case CAPI_DATA_B3:
        case CAPI_RESET_B3:
        case CAPI_CONNECT_B3_T90_ACTIVE: return true;
        default: return false;
      }
    default: return false;
  }
}

bool ReadCapiStruct(const std::uint8_t* message, std::size_t messageLength, const std::uint8_t* field,
                    std::string& content) {
  content.clear();
  if (!field) return true;
  const std::uint8_t* end = message + messageLength;
  if (field < message + 8 || field >= end) return false;
  const std::uint8_t* start = field + 1;
  std::size_t length = field[0];
  if (length == 0xff) {
    if (end - field < 3) return false;
    length = field[1] | (field[2] << 8);
    start = field + 3;
  }
  if (static_cast<std::size_t>(end - start) < length) return false;
  content.assign(reinterpret_cast<const char*>(start), length);
  return true;
}

ReceivedCapiMessage DecodeCapiMessage(const std::uint8_t* raw, std::size_t length, _cmsg& scratch) {
  std::memset(&scratch, 0, sizeof scratch);
  // libcapi20's accessors take a mutable pointer; none of them writes.
  auto* message = const_cast<std::uint8_t*>(raw);
  const std::uint8_t command = CAPIMSG_COMMAND(message), subcommand = CAPIMSG_SUBCOMMAND(message);
  if (CanDecompose(command, subcommand)) {
    capi_message2cmsg(&scratch, message);
  } else {
    // libcapi20 has no layout for it; the header is all a handler may read.
    scratch.ApplId = CAPIMSG_APPID(message);
    scratch.Command = command;
    scratch.Subcommand = subcommand;
    scratch.Messagenumber = CAPIMSG_MSGID(message);
    scratch.adr.adrController = CAPIMSG_CONTROL(message);
  }
  ReceivedCapiMessage m;
  m.command = static_cast<CapiCommand>(scratch.Command);
  m.subcommand = static_cast<CapiSubcommand>(scratch.Subcommand);
  m.messageNumber = scratch.Messagenumber;
  m.address = scratch.adr.adrController;
  m.info = scratch.Info;
  if (m.subcommand != CapiSubcommand::kInd) return m;
  switch (m.command) {
    case CapiCommand::kConnect:
      m.wellFormed = ReadCapiStruct(raw, length, scratch.CalledPartyNumber, m.calledPartyNumber) &&
                     ReadCapiStruct(raw, length, scratch.CallingPartyNumber, m.callingPartyNumber);
      if (!m.wellFormed) {
        m.calledPartyNumber.clear();
        m.callingPartyNumber.clear();
      }
      break;
    case CapiCommand::kDisconnectB3:
      m.reasonB3 = scratch.Reason_B3;
      m.wellFormed = ReadCapiStruct(raw, length, scratch.NCPI, m.ncpi);
      break;
    case CapiCommand::kDataB3:
      // Data64 as the library filled it in; it stays valid until DATA_B3_RESP.
      m.data = scratch.Data;
      m.dataLength = scratch.DataLength;
      m.dataHandle = scratch.DataHandle;
      break;
    default: break;
  }
  return m;
}

}  // namespace kestrel

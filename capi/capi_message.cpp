// Which incoming messages libcapi20 may decompose, the walk of their layouts
// against their length, bounded reads of their struct parameters, and the
// decoding of one message into the call state machine's input.
#include "capi/capi_message.h"

#include <capi20.h>

#include <cstring>
#include <string_view>

namespace kestrel {
namespace {

// One parameter after the address, as CAPI 2.0 lays it out: 'w' a word,
// 'd' a dword, 'q' a qword, 's' a struct, 'a' the Additional Info, a struct
// of structs that libcapi20 walks member by member.
std::string_view LayoutOf(std::uint8_t command, std::uint8_t subcommand) {
  if (subcommand == CAPI_CONF) {
    switch (command) {
      case CAPI_FACILITY: return "wws";  // Info, Facility selector, confirmation parameter
      case CAPI_DATA_B3: return "ww";    // Data handle, Info
      default: return "w";               // Info
    }
  }
  switch (command) {
    // CIP value, called and calling party number and subaddress, BC, LLC, HLC.
    case CAPI_CONNECT: return "wsssssssa";
    case CAPI_CONNECT_ACTIVE: return "sss";  // connected number and subaddress, LLC
    case CAPI_DISCONNECT: return "w";        // Reason
    case CAPI_INFO: return "ws";             // Info number, info element
    case CAPI_FACILITY: return "ws";         // Facility selector, indication parameter
    case CAPI_DISCONNECT_B3:
      return "ws";  // Reason_B3, NCPI
    // Data pointer (32 bit), length, handle, flags, data pointer (64 bit).
    case CAPI_DATA_B3: return "dwwwq";
    default: return "s";  // NCPI
  }
}

// The members of the Additional Info in libcapi20: B channel information,
// keypad facility, user-user data, facility data array, sending complete.
constexpr int kAdditionalInfoMembers = 5;

// Steps `pos` over the struct there; false when its length field or content
// does not end by `end`.
bool SkipStruct(const std::uint8_t* raw, std::size_t end, std::size_t& pos) {
  if (pos >= end) return false;
  std::size_t length = raw[pos];
  std::size_t start = pos + 1;
  if (length == 0xff) {
    if (end - pos < 3) return false;
    length = raw[pos + 1] | (raw[pos + 2] << 8);
    start = pos + 3;
  }
  if (end - start < length) return false;
  pos = start + length;
  return true;
}

}  // namespace

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

bool CapiMessageFits(const std::uint8_t* raw, std::size_t length) {
  if (length < kMinCapiMessage) return false;
  const std::uint8_t command = raw[4], subcommand = raw[5];
  if (!CanDecompose(command, subcommand)) return true;
  std::size_t pos = kMinCapiMessage;
  for (char field : LayoutOf(command, subcommand)) {
    switch (field) {
      case 'w':
      case 'd':
      case 'q': {
        const std::size_t size = field == 'w' ? 2 : field == 'd' ? 4 : 8;
        if (length - pos < size) return false;
        pos += size;
        break;
      }
      case 's':
        if (!SkipStruct(raw, length, pos)) return false;
        break;
      case 'a': {
        // An empty one is a single zero byte; otherwise its members must end
        // inside both the message and its own length.
        if (pos >= length) return false;
        if (raw[pos] == 0) {
          ++pos;
          break;
        }
        std::size_t end = pos;
        if (!SkipStruct(raw, length, end)) return false;
        pos += raw[pos] == 0xff ? 3 : 1;
        for (int i = 0; i < kAdditionalInfoMembers; ++i)
          if (!SkipStruct(raw, end, pos)) return false;
        pos = end;
        break;
      }
    }
  }
  return true;
}

bool CMalformedCapiMessages::FirstOfItsKind(const std::uint8_t* raw, std::size_t length) {
  const unsigned kind = length >= 6 ? (raw[4] << 8 | raw[5]) : 0;
  return kinds_.insert(kind).second;
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
  const bool fits = CapiMessageFits(raw, length);
  if (fits && CanDecompose(command, subcommand)) {
    capi_message2cmsg(&scratch, message);
  } else {
    // libcapi20 has no layout for it, or it would lead the library past its
    // end; the header is all a handler may read.
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
  if (!fits) {
    m.wellFormed = false;
    return m;
  }
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

// The CAPI messages of a fax call as plain values: what the call state
// machine is fed (a confirmation or indication, already decoded) and what it
// asks to be sent (a request or response), without libcapi20's `_cmsg`.
//
// A ReceivedCapiMessage is built by the reception worker after it bounds-checked
// the message: its structs were read inside the message's own length (or
// `wellFormed` is false), and `data` is the library's block, valid only until
// the message is answered. Nothing else in it is checked: the command may be
// any byte and the ids any value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// CAPI 2.0 command codes of the messages the reception handles. Stored as the
// byte that arrived, so a code outside this list is kept as it came.
enum class CapiCommand : std::uint8_t {
  kAlert = 0x01,
  kConnect = 0x02,
  kConnectActive = 0x03,
  kDisconnect = 0x04,
  kListen = 0x05,
  kInfo = 0x08,
  kConnectB3 = 0x82,
  kConnectB3Active = 0x83,
  kDisconnectB3 = 0x84,
  kDataB3 = 0x86,
};

enum class CapiSubcommand : std::uint8_t { kReq = 0x80, kConf = 0x81, kInd = 0x82, kResp = 0x83 };

// Info values up to this one report success.
constexpr std::uint16_t kHighestSuccessInfo = 0x00FF;

struct ReceivedCapiMessage {
  CapiCommand command{};
  CapiSubcommand subcommand{};
  std::uint16_t messageNumber = 0;
  std::uint32_t address = 0;  // controller, PLCI or NCCI, as the command defines
  std::uint16_t info = 0;     // confirmations
  // False when a struct parameter ran past the end of the message; the
  // structs below are then empty.
  bool wellFormed = true;
  // CONNECT_IND: the number structs without their length byte.
  std::string calledPartyNumber;
  std::string callingPartyNumber;
  // DISCONNECT_B3_IND: the NCPI without its length byte, and Reason_B3 (0
  // when the fax protocol ended normally).
  std::string ncpi;
  std::uint16_t reasonB3 = 0;
  // DATA_B3_IND: the block as the library holds it, and its handle.
  const std::uint8_t* data = nullptr;
  std::size_t dataLength = 0;
  std::uint16_t dataHandle = 0;
};

// One message to compose and put. Parameters not named here are empty.
struct OutgoingCapiMessage {
  CapiCommand command{};
  CapiSubcommand subcommand{};
  std::uint16_t messageNumber = 0;
  std::uint32_t address = 0;  // PLCI or NCCI
  std::uint16_t reject = 0;   // CONNECT_RESP, CONNECT_B3_RESP
  // CONNECT_RESP: B1, B2 and B3 protocol 4 (fax group 3) instead of 0, and
  // the fax B3 configuration with the station id.
  bool faxProtocols = false;
  bool b3Configuration = false;
  std::uint16_t dataHandle = 0;  // DATA_B3_RESP

  bool operator==(const OutgoingCapiMessage&) const = default;
};

}  // namespace kestrel

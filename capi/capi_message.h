// Reading CAPI messages that arrive from the adapter or a remote CAPI, which
// are not trusted: which messages may be handed to libcapi20's decomposition
// at all (its tables have no entry for other commands), whether every
// parameter the decomposition will step over lies inside the message's own
// length, and reading a struct parameter only when it does; and which kinds
// of malformed message were reported already. A malformed message is a false
// or `wellFormed == false`, not an exception.
#pragma once

#include <capi20.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "capi/call_messages.h"

namespace kestrel {

// The shortest message that carries a header and an address.
constexpr std::size_t kMinCapiMessage = 12;

// True for the confirmations and indications libcapi20 can decompose.
bool CanDecompose(std::uint8_t command, std::uint8_t subcommand);

// True when the message `raw` of `length` bytes (its own length field, which
// the caller checked against what was received) holds every parameter of its
// command's layout: fixed words and dwords whole, each struct's length byte
// (or 0xFF and a 16-bit length) and its content inside `length`. libcapi20's
// decomposition follows those lengths unchecked, so a message must pass this
// before it gets there. Messages CanDecompose does not admit need only their
// header and address. Reads nothing at or past raw + length.
bool CapiMessageFits(const std::uint8_t* raw, std::size_t length);

// The kinds (command and subcommand) of message that arrived malformed, so
// that a peer repeating a broken message writes one line in the log, not one
// per message. Not thread-safe; the reception worker owns one.
class CMalformedCapiMessages {
 public:
  // True the first time a malformed message of this kind is seen. `raw` has
  // `length` bytes; one too short to name its command counts as one kind.
  bool FirstOfItsKind(const std::uint8_t* raw, std::size_t length);

 private:
  std::set<unsigned> kinds_;
};

// Reads the struct at `field` (a pointer into `message`, or null when the
// message ended before it) into `content`, without its length byte(s).
// False when the struct runs past the end of the message; `content` is then
// empty. A null field reads as empty and is not an error.
bool ReadCapiStruct(const std::uint8_t* message, std::size_t messageLength, const std::uint8_t* field,
                    std::string& content);

// Decodes the message `raw`, whose own length field says `length` (at least
// kMinCapiMessage; the caller checked it against what was received), into the
// call state machine's input. A message CapiMessageFits refuses is not
// decomposed: the result holds its header and address, marked malformed.
// `scratch` takes libcapi20's decomposition;
// fields of other commands than those CanDecompose names stay unread, and the
// number structs and the NCPI are read through ReadCapiStruct, so a struct
// that claims more than the message holds marks the input malformed. The
// result may point into `raw` (B3 data) and is used before `raw` is released.
ReceivedCapiMessage DecodeCapiMessage(const std::uint8_t* raw, std::size_t length, _cmsg& scratch);

}  // namespace kestrel

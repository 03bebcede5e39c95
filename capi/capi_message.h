// Reading CAPI messages that arrive from the adapter or a remote CAPI, which
// are not trusted: which messages may be handed to libcapi20's decomposition
// at all (its tables have no entry for other commands), and reading a struct
// parameter only when it lies inside the message's own length.
#pragma once

#include <capi20.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "capi/call_messages.h"

namespace kestrel {

// The shortest message that carries a header and an address.
constexpr std::size_t kMinCapiMessage = 12;

// True for the confirmations and indications libcapi20 can decompose.
bool CanDecompose(std::uint8_t command, std::uint8_t subcommand);

// Reads the struct at `field` (a pointer into `message`, or null when the
// message ended before it) into `content`, without its length byte(s).
// False when the struct runs past the end of the message; `content` is then
// empty. A null field reads as empty and is not an error.
bool ReadCapiStruct(const std::uint8_t* message, std::size_t messageLength, const std::uint8_t* field,
                    std::string& content);

// Decodes the message `raw`, whose own length field says `length` (at least
// kMinCapiMessage; the caller checked it against what was received), into the
// call state machine's input. `scratch` takes libcapi20's decomposition;
// fields of other commands than those CanDecompose names stay unread, and the
// number structs and the NCPI are read through ReadCapiStruct, so a struct
// that claims more than the message holds marks the input malformed. The
// result may point into `raw` (B3 data) and is used before `raw` is released.
ReceivedCapiMessage DecodeCapiMessage(const std::uint8_t* raw, std::size_t length, _cmsg& scratch);

}  // namespace kestrel

// Which incoming messages libcapi20 may decompose, and bounded reads of
// their struct parameters.
#include "capi/capi_message.h"

#include <capi20.h>

namespace kestrel {

bool CanDecompose(std::uint8_t command, std::uint8_t subcommand) {
  switch (subcommand) {
    case CAPI_CONF:
      switch (command) {
        case CAPI_ALERT: case CAPI_CONNECT: case CAPI_DISCONNECT: case CAPI_LISTEN: case CAPI_INFO:
        case CAPI_FACILITY: case CAPI_SELECT_B_PROTOCOL: case CAPI_CONNECT_B3: case CAPI_DISCONNECT_B3:
        case CAPI_DATA_B3: case CAPI_RESET_B3:
          return true;
        default:
          return false;
      }
    case CAPI_IND:
      switch (command) {
        case CAPI_CONNECT: case CAPI_CONNECT_ACTIVE: case CAPI_DISCONNECT: case CAPI_INFO: case CAPI_FACILITY:
        case CAPI_CONNECT_B3: case CAPI_CONNECT_B3_ACTIVE: case CAPI_DISCONNECT_B3: case CAPI_DATA_B3:
        case CAPI_RESET_B3: case CAPI_CONNECT_B3_T90_ACTIVE:
          return true;
        default:
          return false;
      }
    default:
      return false;
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

}  // namespace kestrel

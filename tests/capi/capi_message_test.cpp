// The walk of a received CAPI message's layout against its own length, on
// messages held in buffers exactly as long as they say, so that a read past
// the end is a sanitizer report rather than a lucky zero.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capi/capi_message.h"

namespace kestrel {
namespace {

// Hex digit pairs, blanks ignored, behind a length field filled in.
std::vector<std::uint8_t> Message(const std::string& hex) {
  std::vector<std::uint8_t> bytes = {0, 0};
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  bytes[0] = static_cast<std::uint8_t>(bytes.size());
  bytes[1] = static_cast<std::uint8_t>(bytes.size() >> 8);
  return bytes;
}

TEST(CapiMessageFits, OnlyMessagesWhoseParametersEndInsideTheirLengthPass) {
  // Header after the length: ApplID, command, subcommand, message number, address.
  const std::string connectInd = "0100 0282 0100 01010000 1100";
  const std::string disconnectB3Ind = "0100 8482 0200 01010100 0000";
  const std::string dataB3Ind = "0100 8682 0300 01010100 00000000 0400 0100 0000";
  struct Case {
    const char* what;
    std::string hex;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"CONNECT_IND", connectInd + " 0481313233 03008035 00 00 00 00 00 00", true},
      {"CONNECT_IND, additional info with its members",
       connectInd + " 0481313233 03008035 00 00 00 00 00 05 00 00 00 00 00", true},
      {"CONNECT_IND, called number claims 32 bytes", connectInd + " 2081313233 03008035 00 00 00 00 00 00", false},
      {"CONNECT_IND, calling number in the long form runs past the end",
       connectInd + " 0481313233 ff0001 8035 00 00 00 00 00 00", false},
      {"CONNECT_IND, additional info shorter than its members", connectInd + " 00 00 00 00 00 00 00 02 00 00 00",
       false},
      {"CONNECT_IND ending after the called number", connectInd + " 0481313233", false},
      {"DISCONNECT_B3_IND", disconnectB3Ind + " 04 80250000", true},
      {"DISCONNECT_B3_IND, NCPI claims 32 bytes", disconnectB3Ind + " 20 8025", false},
      {"DATA_B3_IND", dataB3Ind + " 0000000000000000", true},
      {"DATA_B3_IND without its 64-bit data pointer", dataB3Ind, false},
      {"a command libcapi20 has no layout for", "0100 7e82 0400 00000000", true},
      {"shorter than header and address", "0100 0882 0500", false},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> message = Message(c.hex);
    EXPECT_EQ(CapiMessageFits(message.data(), message.size()), c.fits) << c.what;
    if (message.size() < kMinCapiMessage) continue;
    _cmsg scratch;
    const ReceivedCapiMessage decoded = DecodeCapiMessage(message.data(), message.size(), scratch);
    EXPECT_EQ(decoded.wellFormed, c.fits) << c.what;
    EXPECT_EQ(decoded.address, message[8] | (message[9] << 8) | (message[10] << 16)) << c.what;
  }
}

}  // namespace
}  // namespace kestrel

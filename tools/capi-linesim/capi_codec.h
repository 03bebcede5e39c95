// CAPI 2.0 messages as the line simulator writes and reads them: a writer that
// composes the indications and confirmations the network side sends, and a
// decoder that turns any message into one readable record line.
//
// Trusts nothing it decodes: every field is read through a bounds check against
// the message's own length and the bytes actually present; a field that does
// not fit is shown as "?truncated" and ends the decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace linesim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kReq = 0x80;
constexpr std::uint8_t kConf = 0x81;
constexpr std::uint8_t kInd = 0x82;
constexpr std::uint8_t kResp = 0x83;

constexpr std::uint8_t kAlert = 0x01;
constexpr std::uint8_t kConnect = 0x02;
constexpr std::uint8_t kConnectActive = 0x03;
constexpr std::uint8_t kDisconnect = 0x04;
constexpr std::uint8_t kListen = 0x05;
constexpr std::uint8_t kInfo = 0x08;
constexpr std::uint8_t kFacility = 0x80;
constexpr std::uint8_t kConnectB3 = 0x82;
constexpr std::uint8_t kConnectB3Active = 0x83;
constexpr std::uint8_t kDisconnectB3 = 0x84;
constexpr std::uint8_t kDataB3 = 0x86;

// Composes one CAPI message: header first, then the parameters in order.
class CMessageWriter {
 public:
  CMessageWriter(std::uint8_t command, std::uint8_t subcommand, std::uint16_t applId, std::uint16_t messageNumber);
  CMessageWriter& Byte(std::uint8_t v);
  CMessageWriter& Word(std::uint16_t v);
  CMessageWriter& Dword(std::uint32_t v);
  CMessageWriter& Qword(std::uint64_t v);
  // A CAPI struct: length byte (or 0xff and a LE16 length) and the content.
  CMessageWriter& Struct(const Bytes& content);
  CMessageWriter& Raw(const Bytes& bytes);
  // The message with its length field filled in.
  Bytes Finish();

 private:
  Bytes bytes_;
};

// "CONNECT_IND", "LISTEN_CONF", ... or "CMD_0x7e_0x82" for pairs CAPI 2.0 does not name.
std::string MessageName(std::uint8_t command, std::uint8_t subcommand);

// One line: the name, then appl=, msg= and every parameter as Name=value.
// Words and dwords are hexadecimal, structs their content in hex within [],
// a parameter structure sent as the empty default "default". `bytes` is the
// message (the first CAPI-length bytes are decoded; data behind it is ignored).
std::string DecodeMessage(const std::uint8_t* bytes, std::size_t size);

std::string HexOf(const std::uint8_t* bytes, std::size_t size);
// Parses hexadecimal digit pairs, ignoring blanks; false on anything else.
bool ParseHex(const std::string& text, Bytes& out);

}  // namespace linesim

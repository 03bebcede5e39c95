// Message layouts of CAPI 2.0 (the parameters each command carries) and the
// writer and decoder built on them. Layouts follow the CAPI 2.0 message
// definitions, including the fields libcapi20 adds (SendingComplete,
// Globalconfiguration, Data64).
#include "tools/capi-linesim/capi_codec.h"

#include <cstdio>

namespace linesim {
namespace {

enum class Type { kByte, kWord, kDword, kQword, kStruct, kMeta };

struct Param {
  const char* name;
  Type type;
  const Param* children = nullptr;  // for kMeta, ended by a null name
};

constexpr Param kEnd{nullptr, Type::kByte};

constexpr Param kAdditionalInfo[] = {{"BChannelinformation", Type::kStruct}, {"Keypadfacility", Type::kStruct},
                                     {"Useruserdata", Type::kStruct},        {"Facilitydataarray", Type::kStruct},
                                     {"SendingComplete", Type::kStruct},     kEnd};
constexpr Param kBProtocol[] = {{"B1protocol", Type::kWord},
                                {"B2protocol", Type::kWord},
                                {"B3protocol", Type::kWord},
                                {"B1configuration", Type::kStruct},
                                {"B2configuration", Type::kStruct},
                                {"B3configuration", Type::kStruct},
                                {"Globalconfiguration", Type::kStruct},
                                kEnd};

struct Layout {
  std::uint8_t command;
  std::uint8_t subcommand;
  const char* name;
  std::vector<Param> params;
};

const std::vector<Layout>& Layouts() {
  static const std::vector<Layout> layouts = {
      {kAlert, kReq, "ALERT_REQ", {{"PLCI", Type::kDword}, {"AdditionalInfo", Type::kMeta, kAdditionalInfo}}},
      {kAlert, kConf, "ALERT_CONF", {{"PLCI", Type::kDword}, {"Info", Type::kWord}}},
      {kConnect,
       kReq,
       "CONNECT_REQ",
       {{"Controller", Type::kDword},
        {"CIPValue", Type::kWord},
        {"CalledPartyNumber", Type::kStruct},
        {"CallingPartyNumber", Type::kStruct},
        {"CalledPartySubaddress", Type::kStruct},
        {"CallingPartySubaddress", Type::kStruct},
        {"BProtocol", Type::kMeta, kBProtocol},
        {"BC", Type::kStruct},
        {"LLC", Type::kStruct},
        {"HLC", Type::kStruct},
        {"AdditionalInfo", Type::kMeta, kAdditionalInfo}}},
      {kConnect, kConf, "CONNECT_CONF", {{"PLCI", Type::kDword}, {"Info", Type::kWord}}},
      {kConnect,
       kInd,
       "CONNECT_IND",
       {{"PLCI", Type::kDword},
        {"CIPValue", Type::kWord},
        {"CalledPartyNumber", Type::kStruct},
        {"CallingPartyNumber", Type::kStruct},
        {"CalledPartySubaddress", Type::kStruct},
        {"CallingPartySubaddress", Type::kStruct},
        {"BC", Type::kStruct},
        {"LLC", Type::kStruct},
        {"HLC", Type::kStruct},
        {"AdditionalInfo", Type::kMeta, kAdditionalInfo}}},
      {kConnect,
       kResp,
       "CONNECT_RESP",
       {{"PLCI", Type::kDword},
        {"Reject", Type::kWord},
        {"BProtocol", Type::kMeta, kBProtocol},
        {"ConnectedNumber", Type::kStruct},
        {"ConnectedSubaddress", Type::kStruct},
        {"LLC", Type::kStruct},
        {"AdditionalInfo", Type::kMeta, kAdditionalInfo}}},
      {kConnectActive,
       kInd,
       "CONNECT_ACTIVE_IND",
       {{"PLCI", Type::kDword},
        {"ConnectedNumber", Type::kStruct},
        {"ConnectedSubaddress", Type::kStruct},
        {"LLC", Type::kStruct}}},
      {kConnectActive, kResp, "CONNECT_ACTIVE_RESP", {{"PLCI", Type::kDword}}},
      {kDisconnect, kReq, "DISCONNECT_REQ", {{"PLCI", Type::kDword}, {"AdditionalInfo", Type::kMeta, kAdditionalInfo}}},
      {kDisconnect, kConf, "DISCONNECT_CONF", {{"PLCI", Type::kDword}, {"Info", Type::kWord}}},
      {kDisconnect, kInd, "DISCONNECT_IND", {{"PLCI", Type::kDword}, {"Reason", Type::kWord}}},
      {kDisconnect, kResp, "DISCONNECT_RESP", {{"PLCI", Type::kDword}}},
      {kListen,
       kReq,
       "LISTEN_REQ",
       {{"Controller", Type::kDword},
        {"InfoMask", Type::kDword},
        {"CIPmask", Type::kDword},
        {"CIPmask2", Type::kDword},
        {"CallingPartyNumber", Type::kStruct},
        {"CallingPartySubaddress", Type::kStruct}}},
      {kListen, kConf, "LISTEN_CONF", {{"Controller", Type::kDword}, {"Info", Type::kWord}}},
      {kInfo,
       kReq,
       "INFO_REQ",
       {{"PLCI", Type::kDword},
        {"CalledPartyNumber", Type::kStruct},
        {"AdditionalInfo", Type::kMeta, kAdditionalInfo}}},
      {kInfo, kConf, "INFO_CONF", {{"PLCI", Type::kDword}, {"Info", Type::kWord}}},
      {kInfo, kInd, "INFO_IND", {{"PLCI", Type::kDword}, {"InfoNumber", Type::kWord}, {"InfoElement", Type::kStruct}}},
      {kInfo, kResp, "INFO_RESP", {{"PLCI", Type::kDword}}},
      {kFacility,
       kReq,
       "FACILITY_REQ",
       {{"Address", Type::kDword}, {"FacilitySelector", Type::kWord}, {"FacilityRequestParameter", Type::kStruct}}},
      {kFacility,
       kConf,
       "FACILITY_CONF",
       {{"Address", Type::kDword},
        {"Info", Type::kWord},
        {"FacilitySelector", Type::kWord},
        {"FacilityConfirmationParameter", Type::kStruct}}},
      {kFacility,
       kInd,
       "FACILITY_IND",
       {{"Address", Type::kDword}, {"FacilitySelector", Type::kWord}, {"FacilityIndicationParameter", Type::kStruct}}},
      {kFacility,
       kResp,
       "FACILITY_RESP",
       {{"Address", Type::kDword}, {"FacilitySelector", Type::kWord}, {"FacilityResponseParameters", Type::kStruct}}},
      {kConnectB3, kReq, "CONNECT_B3_REQ", {{"PLCI", Type::kDword}, {"NCPI", Type::kStruct}}},
      {kConnectB3, kConf, "CONNECT_B3_CONF", {{"NCCI", Type::kDword}, {"Info", Type::kWord}}},
      {kConnectB3, kInd, "CONNECT_B3_IND", {{"NCCI", Type::kDword}, {"NCPI", Type::kStruct}}},
      {kConnectB3,
       kResp,
       "CONNECT_B3_RESP",
       {{"NCCI", Type::kDword}, {"Reject", Type::kWord}, {"NCPI", Type::kStruct}}},
      {kConnectB3Active, kInd, "CONNECT_B3_ACTIVE_IND", {{"NCCI", Type::kDword}, {"NCPI", Type::kStruct}}},
      {kConnectB3Active, kResp, "CONNECT_B3_ACTIVE_RESP", {{"NCCI", Type::kDword}}},
      {kDisconnectB3, kReq, "DISCONNECT_B3_REQ", {{"NCCI", Type::kDword}, {"NCPI", Type::kStruct}}},
      {kDisconnectB3, kConf, "DISCONNECT_B3_CONF", {{"NCCI", Type::kDword}, {"Info", Type::kWord}}},
      {kDisconnectB3,
       kInd,
       "DISCONNECT_B3_IND",
       {{"NCCI", Type::kDword}, {"Reason_B3", Type::kWord}, {"NCPI", Type::kStruct}}},
      {kDisconnectB3, kResp, "DISCONNECT_B3_RESP", {{"NCCI", Type::kDword}}},
      {kDataB3,
       kReq,
       "DATA_B3_REQ",
       {{"NCCI", Type::kDword},
        {"Data32", Type::kDword},
        {"DataLength", Type::kWord},
        {"DataHandle", Type::kWord},
        {"Flags", Type::kWord},
        {"Data64", Type::kQword}}},
      {kDataB3, kConf, "DATA_B3_CONF", {{"NCCI", Type::kDword}, {"DataHandle", Type::kWord}, {"Info", Type::kWord}}},
      {kDataB3,
       kInd,
       "DATA_B3_IND",
       {{"NCCI", Type::kDword},
        {"Data32", Type::kDword},
        {"DataLength", Type::kWord},
        {"DataHandle", Type::kWord},
        {"Flags", Type::kWord},
        {"Data64", Type::kQword}}},
      {kDataB3, kResp, "DATA_B3_RESP", {{"NCCI", Type::kDword}, {"DataHandle", Type::kWord}}},
  };
  return layouts;
}

const Layout* FindLayout(std::uint8_t command, std::uint8_t subcommand) {
  for (const Layout& l : Layouts())
    if (l.command == command && l.subcommand == subcommand) return &l;
  return nullptr;
}

std::string Hex16(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04x", v & 0xffffu);
  return buf;
}

std::string Hex32(std::uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

// Reads parameters from bytes[pos, end). Returns false when a field did not fit;
// `out` then ends with the field name and "?truncated".
class CDecoder {
 public:
  CDecoder(const std::uint8_t* bytes, std::size_t end) : bytes_(bytes), end_(end) {}

  bool Decode(const Param* params, std::size_t count, std::size_t& pos, std::string& out) {
    for (std::size_t i = 0; i < count && params[i].name; ++i) {
      const Param& p = params[i];
      if (pos >= end_) return true;  // a shorter message leaves the rest at default
      out += ' ';
      out += p.name;
      out += '=';
      switch (p.type) {
        case Type::kByte:
          out += Hex16(bytes_[pos]);
          pos += 1;
          break;
        case Type::kWord:
          if (!Fits(pos, 2)) return Truncated(out);
          out += Hex16(Le16(pos));
          pos += 2;
          break;
        case Type::kDword:
          if (!Fits(pos, 4)) return Truncated(out);
          out += Hex32(Le32(pos));
          pos += 4;
          break;
        case Type::kQword: {
          if (!Fits(pos, 8)) return Truncated(out);
          std::uint64_t v = Le32(pos) | (static_cast<std::uint64_t>(Le32(pos + 4)) << 32);
          char buf[24];
          std::snprintf(buf, sizeof buf, "0x%016llx", static_cast<unsigned long long>(v));
          out += buf;
          pos += 8;
          break;
        }
        case Type::kStruct:
        case Type::kMeta: {
          std::size_t start = 0, len = 0;
          if (!StructBounds(pos, start, len)) return Truncated(out);
          if (p.type == Type::kMeta) {
            if (len == 0) {
              out += "default";
            } else {
              // "{ Name=value ... }": every field keeps its leading blank.
              out += "{";
              std::size_t inner = start;
              CDecoder sub(bytes_, start + len);
              bool ok = sub.Decode(p.children, 16, inner, out);
              out += " }";
              if (!ok) return false;
            }
          } else {
            out += "[" + HexOf(bytes_ + start, len) + "]";
          }
          pos = start + len;
          break;
        }
      }
    }
    return true;
  }

 private:
  bool Fits(std::size_t pos, std::size_t n) const { return pos + n <= end_; }
  unsigned Le16(std::size_t pos) const { return bytes_[pos] | (bytes_[pos + 1] << 8); }
  std::uint32_t Le32(std::size_t pos) const {
    return bytes_[pos] | (bytes_[pos + 1] << 8) | (bytes_[pos + 2] << 16) |
           (static_cast<std::uint32_t>(bytes_[pos + 3]) << 24);
  }
  bool StructBounds(std::size_t pos, std::size_t& start, std::size_t& len) const {
    if (!Fits(pos, 1)) return false;
    if (bytes_[pos] != 0xff) {
      start = pos + 1;
      len = bytes_[pos];
    } else {
      if (!Fits(pos, 3)) return false;
      start = pos + 3;
      len = Le16(pos + 1);
    }
    return start + len <= end_;
  }
  static bool Truncated(std::string& out) {
    out += "?truncated";
    return false;
  }

  const std::uint8_t* bytes_;
  std::size_t end_;
};

}  // namespace

CMessageWriter::CMessageWriter(std::uint8_t command, std::uint8_t subcommand, std::uint16_t applId,
                               std::uint16_t messageNumber) {
  bytes_ = {0, 0, 0, 0, command, subcommand, 0, 0};
  bytes_[2] = applId & 0xff;
  bytes_[3] = applId >> 8;
  bytes_[6] = messageNumber & 0xff;
  bytes_[7] = messageNumber >> 8;
}

CMessageWriter& CMessageWriter::Byte(std::uint8_t v) {
  bytes_.push_back(v);
  return *this;
}

CMessageWriter& CMessageWriter::Word(std::uint16_t v) {
  bytes_.push_back(v & 0xff);
  bytes_.push_back(v >> 8);
  return *this;
}

CMessageWriter& CMessageWriter::Dword(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back((v >> (8 * i)) & 0xff);
  return *this;
}

CMessageWriter& CMessageWriter::Qword(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) bytes_.push_back((v >> (8 * i)) & 0xff);
  return *this;
}

CMessageWriter& CMessageWriter::Struct(const Bytes& content) {
  if (content.size() < 0xff) {
    bytes_.push_back(static_cast<std::uint8_t>(content.size()));
  } else {
    bytes_.push_back(0xff);
    Word(static_cast<std::uint16_t>(content.size()));
  }
  bytes_.insert(bytes_.end(), content.begin(), content.end());
  return *this;
}

CMessageWriter& CMessageWriter::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes CMessageWriter::Finish() {
  bytes_[0] = bytes_.size() & 0xff;
  bytes_[1] = (bytes_.size() >> 8) & 0xff;
  return bytes_;
}

std::string MessageName(std::uint8_t command, std::uint8_t subcommand) {
  if (const Layout* l = FindLayout(command, subcommand)) return l->name;
  char buf[32];
  std::snprintf(buf, sizeof buf, "CMD_0x%02x_0x%02x", command, subcommand);
  return buf;
}

std::string DecodeMessage(const std::uint8_t* bytes, std::size_t size) {
  if (size < 8) return "SHORT hex=" + HexOf(bytes, size);
  std::size_t length = bytes[0] | (bytes[1] << 8);
  std::size_t end = length < size ? length : size;
  std::string out = MessageName(bytes[4], bytes[5]);
  out += " appl=" + std::to_string(bytes[2] | (bytes[3] << 8));
  out += " msg=" + std::to_string(bytes[6] | (bytes[7] << 8));
  if (length < 8) return out + " length=" + std::to_string(length) + "?short";
  const Layout* layout = FindLayout(bytes[4], bytes[5]);
  if (!layout) return out + " hex=" + HexOf(bytes + 8, end > 8 ? end - 8 : 0);
  std::size_t pos = 8;
  CDecoder decoder(bytes, end);
  decoder.Decode(layout->params.data(), layout->params.size(), pos, out);
  return out;
}

std::string HexOf(const std::uint8_t* bytes, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xf];
  }
  return out;
}

bool ParseHex(const std::string& text, Bytes& out) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ':') continue;
    int n = nibble(c);
    if (n < 0) return false;
    if (high < 0) {
      high = n;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | n));
      high = -1;
    }
  }
  return high < 0;
}

}  // namespace linesim

// The parameters of a T.38 session as an image line's SDP states them
// (T38FaxVersion, T38MaxBitRate, T38FaxRateManagement, T38FaxMaxBuffer,
// T38FaxMaxDatagram, T38FaxUdpEC): read from the peer's offer or answer by
// the SIP line and honoured by the T.38 receiver. Plain values; nothing here
// fails.
#pragma once

namespace kestrel {

enum class T38ErrorCorrection { kNone, kRedundancy, kFec };

struct T38Parameters {
  int version = 0;
  int maxBitRate = 14400;
  bool transferredTcf = true;  // T38FaxRateManagement transferredTCF; localTCF otherwise
  int maxBuffer = 0;           // 0: not stated
  int maxDatagram = 0;         // 0: not stated
  T38ErrorCorrection errorCorrection = T38ErrorCorrection::kRedundancy;
};

}  // namespace kestrel

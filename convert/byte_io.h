// Little-endian fields of the SFF format's headers and records.
#pragma once

#include <cstdint>

namespace kestrel {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace kestrel

// The product version: one constant for the event-log header, the XML
// settings file's Version element, the about box and --version.
#pragma once

namespace kestrel {

inline constexpr const char* kProductVersion = "1.3.3.3";

}  // namespace kestrel

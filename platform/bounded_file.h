// Reading a whole small file that the program does not trust to stay small:
// the read stops at a limit instead of following the file's size.
#pragma once

#include <cstddef>
#include <string>

namespace kestrel {

// Reads `path` into `out`. False when it cannot be opened or read, or when it
// holds more than `limit` bytes (then `out` holds the first `limit` + 1).
// When it could not be opened or read, errno says why.
bool ReadBoundedFile(const std::string& path, std::string& out, std::size_t limit);

}  // namespace kestrel

// What the file-based fuzz targets share: a private scratch folder for the
// files a target writes and reads back, an event log that keeps nothing, and
// a check that aborts (so libFuzzer records the input) with a reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/event_log.h"

namespace kestrel::fuzz {

class CQuietLog final : public IEventLog {
 public:
  void WriteEventText(std::string_view) override {}
};

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

// A folder of its own with a trailing "/", removed at exit when empty. Under
// $TMPDIR, else /dev/shm: the settings file is flushed to disk on every write,
// which a memory file system answers at once.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    struct stat st;
    std::string base = tmp && *tmp ? tmp : (::stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp");
    std::string pattern = base + "/kestrel_fuzz.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    static std::string made(name.data());
    std::atexit([] { ::rmdir(made.c_str()); });
    return made + "/";
  }();
  return folder;
}

// Writes the fuzzer's bytes to `path`, replacing it.
inline void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  Check(f != nullptr, "cannot write the input file");
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace kestrel::fuzz

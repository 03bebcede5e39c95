// Replacing a file so that a reader (or a crash) never sees half of it: the
// bytes go to a temporary file in the same folder, are flushed to disk, and
// the temporary file is renamed over the target, and the rename itself is
// flushed with the folder.
#pragma once

#include <string>
#include <sys/types.h>

namespace kestrel {

// Writes `bytes` to `path` atomically with permission bits `mode`. False, with
// the old file untouched and no temporary file left, when anything before the
// rename fails; false too, with the new file in place, when the folder could
// not be flushed after it. errno tells why in both cases; nothing is logged
// here (the platform layer has no log), the caller logs with that reason.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode);

// Flushes the folder holding `path`, so that a rename or unlink there
// survives a crash. False (errno set) when the folder cannot be opened or flushed.
bool SyncFolderOf(const std::string& path);

}  // namespace kestrel

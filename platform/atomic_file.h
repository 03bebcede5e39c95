// Replacing a file so that a reader (or a crash) never sees half of it: the
// bytes go to a temporary file in the same folder, are flushed to disk, and
// the temporary file is renamed over the target, and the rename itself is
// flushed with the folder.
#pragma once

#include <string>
#include <sys/types.h>

namespace kestrel {

// Writes `bytes` to `path` atomically with permission bits `mode`. False, with
// the old file untouched and no temporary file left, when anything fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode);

// Flushes the folder holding `path`, so that a rename or unlink there
// survives a crash. False when the folder cannot be opened or flushed.
bool SyncFolderOf(const std::string& path);

}  // namespace kestrel

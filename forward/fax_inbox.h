// CFaxInbox: the folder "FaxInbox" of the application folder, one entry file
// per received fax that is not yet mailed (or queued) and journaled. The
// reception side records a fax here before it takes the next call; the
// forwarding side reads the entries in arrival order, saves each finished
// step and removes the entry when the fax is done. Every write is atomic and
// flushed, so after a crash an entry is either whole or absent.
//
// Entry files are read as untrusted (see FaxEntry); one that cannot be read
// is renamed aside with ".bad" and logged, never retried for ever.
// Thread-safety: Record may run on one thread while the other members run
// on another; each member touches only its own entry's file. A failure is
// written to the event log here and answered as false or nullopt.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "forward/fax_entry.h"

namespace kestrel {

class IEventLog;

class CFaxInbox {
 public:
  // `applicationFolder` ends in "/".
  CFaxInbox(const std::string& applicationFolder, IEventLog& log);

  const std::string& Folder() const { return folder_; }

  // Flushes the capture file and writes a new entry for `call`. The entry, or
  // nullopt (with an event text) when it could not be written.
  [[nodiscard]] std::optional<FaxEntry> Record(const FaxCallRecord& call);
  // Rewrites `entry` after a step; false (with an event text) on failure.
  [[nodiscard]] bool Save(const FaxEntry& entry);
  // Removes `entry`: the fax is done.
  void Remove(const FaxEntry& entry);
  // Every entry in arrival order.
  [[nodiscard]] std::vector<FaxEntry> Pending();
  // How many entries wait, without reading (or setting aside) any: for a
  // status display beside a running service.
  [[nodiscard]] std::size_t Count() const;

 private:
  [[nodiscard]] std::string NewEntryName();

  std::string folder_;
  IEventLog& log_;
  std::atomic<unsigned> sequence_{0};
};

}  // namespace kestrel

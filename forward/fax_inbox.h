// CFaxInbox: the folder "FaxInbox" of the application folder, one entry file
// per received fax that is not yet mailed (or queued) and journaled, and one
// reception record (".rcv") per call being received. The reception side
// records a call when it is answered and the fax when the call has ended,
// before it takes the next call; the forwarding side reads the entries in
// arrival order, saves each finished step and removes the entry when the fax
// is done. Every write is atomic and flushed (a failed flush counts as a
// failed write), so after a crash an entry is either whole or absent, and a
// reception record names the capture of a call the crash cut off.
//
// Entry files are read as untrusted (see FaxEntry). One whose text is not an
// entry is renamed aside with ".bad" and logged, never retried for ever; one
// that cannot be read (no access, no descriptor, an I/O error) is logged
// once and read again at the next pass, since its text may be perfectly good.
// Thread-safety: Record, BeginReception and EndReception may run on one
// thread while the other members run on another; each member touches only
// its own entry's file. A failure is written to the event log here and
// answered as false or nullopt.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
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

  // Writes a reception record for the call being received, in the entry
  // form. Its name, or nullopt (with an event text) when it could not be written.
  [[nodiscard]] std::optional<std::string> BeginReception(const FaxCallRecord& call);
  // Removes the reception record `name` (nothing for an empty name).
  void EndReception(const std::string& name);
  // Takes every reception record a former run left (a crash during a call)
  // into the inbox as an entry marked incomplete, with the pages its capture
  // holds; a record whose capture holds no page goes, with one event text.
  // Records this inbox wrote itself are left alone. Call before reception starts.
  void AdoptInterruptedReceptions();

  // Flushes the capture file and writes a new entry for `call`. The entry, or
  // nullopt (with an event text) when it could not be written.
  [[nodiscard]] std::optional<FaxEntry> Record(const FaxCallRecord& call);
  // Rewrites `entry` after a step; false (with an event text) on failure.
  [[nodiscard]] bool Save(const FaxEntry& entry);
  // Removes `entry`: the fax is done.
  void Remove(const FaxEntry& entry);
  // Every entry in arrival order, without those that could not be read now.
  [[nodiscard]] std::vector<FaxEntry> Pending();
  // True when the last Pending could not read an entry: worth another pass
  // after a pause. Forwarding thread only.
  [[nodiscard]] bool SomeUnreadable() const { return !unreadable_.empty(); }
  // How many entries wait, without reading (or setting aside) any: for a
  // status display beside a running service.
  [[nodiscard]] std::size_t Count() const;
  // How many entries were set aside as ".bad": each is a fax that needs a person.
  [[nodiscard]] std::size_t SetAsideCount() const;
  // The capture files the inbox of `applicationFolder` names in its entries
  // and reception records, read without setting anything aside or logging:
  // what must stay in the received folder.
  [[nodiscard]] static std::vector<std::string> PendingCaptureFiles(const std::string& applicationFolder);

 private:
  [[nodiscard]] std::string NewEntryName(const char* extension);
  void RemoveFile(const std::string& name);
  // Reads and parses one file of the folder. Nullopt when it cannot be read
  // now (logged once per name) or was set aside.
  [[nodiscard]] std::optional<FaxEntry> ReadEntry(const std::string& name);

  std::string folder_;
  IEventLog& log_;
  std::atomic<unsigned> sequence_{0};
  std::mutex receptionsMutex_;
  std::set<std::string> ownReceptions_;  // reception records of this run's calls
  std::set<std::string> unreadable_;     // entries whose read failure is logged; forwarding thread only
};

}  // namespace kestrel

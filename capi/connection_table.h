// The CAPI connection table: one entry per physical link the reception worker
// knows, each with its CAPI ids, its ConnectionState and the numbers signalled
// at CONNECT_IND. The entry's index is the connection id that the event log
// shows after "ID". It starts with 8 entries and grows to fit a line with more
// B-channels (a primary-rate line has 30), with room left to turn calls away.
//
// The process's table is driven by the call state machine of the one reception
// worker that runs at a time, from that worker's thread only; tests make tables
// of their own. Not synchronised. Failures: none to report; Allocate and the
// lookups answer -1 when there is no entry.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// Stored as a signed 32-bit value; a free slot reads as -1.
enum ConnectionState : std::int32_t {
  Disconnected = 0,
  D_ConnectPending = 1,
  D_Connected = 2,
  B_ConnectPending = 3,
  Connected = 4,
  B_DisconnectPending = 5,
  D_DisconnectPending = 6,
};

// "Disconnected", "D_ConnectPending", ...; "" for values outside the seven.
const char* ConnectionStateName(int state);

constexpr std::uint32_t kNoId = 0xFFFFFFFFu;

struct CapiConnection {
  int inUse = 0;
  std::uint32_t plci = kNoId;
  std::uint32_t ncci = kNoId;
  std::int32_t controller = -1;
  ConnectionState state = Disconnected;
  int initiator = 0;  // this application drives the next tear-down step
  // The two number structs of CONNECT_IND, without their length byte.
  std::string calledPartyNumber;
  std::string callingPartyNumber;

  // The characters after the type-of-number byte; empty for a struct shorter than 2.
  std::string CalledNumber() const;
  // The characters after the type and presentation bytes; empty below 3.
  std::string CallerNumber() const;
};

class CConnectionTable {
 public:
  static constexpr int kDefaultSize = 8;
  static constexpr int kMaxSize = 64;

  // The process's table.
  static CConnectionTable& Process();

  // Marks every entry free and uses `size` entries from now on (clamped to
  // kDefaultSize..kMaxSize).
  void Resize(int size);
  int Size() const { return size_; }
  // Marks every entry free.
  void Clear();
  // The lowest free index, marked in use with the allocation values, or -1.
  int Allocate();
  // Clears the entry's in-use field and releases its number copies.
  void Free(int id);
  // The first entry in use with that PLCI (or NCCI), or -1; -1 also for
  // kNoId, which marks an id not assigned yet.
  int FindByPlci(std::uint32_t plci) const;
  int FindByNcci(std::uint32_t ncci) const;
  int InUseCount() const;

  // `id` must be 0..Size()-1.
  CapiConnection& operator[](int id) { return entries_[id]; }
  const CapiConnection& operator[](int id) const { return entries_[id]; }

 private:
  int size_ = kDefaultSize;
  CapiConnection entries_[kMaxSize];
};

}  // namespace kestrel

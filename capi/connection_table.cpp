// The process's connection table and the numbers read from CONNECT_IND.
#include "capi/connection_table.h"

#include <algorithm>

namespace kestrel {
namespace {

// Numbers travel as IA5 characters; a terminating zero ends the text as it
// would in a C string, and control or 8-bit bytes from the line are dropped so
// that they never reach the event log, a file name or the database.
std::string NumberText(const std::string& content, std::size_t skip) {
  std::string out;
  if (content.size() < skip + 1) return out;
  for (std::size_t i = skip; i < content.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(content[i]);
    if (c == 0) break;
    if (c >= 0x20 && c < 0x7f) out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

const char* ConnectionStateName(int state) {
  switch (state) {
    case Disconnected: return "Disconnected";
    case D_ConnectPending: return "D_ConnectPending";
    case D_Connected: return "D_Connected";
    case B_ConnectPending: return "B_ConnectPending";
    case Connected: return "Connected";
    case B_DisconnectPending: return "B_DisconnectPending";
    case D_DisconnectPending: return "D_DisconnectPending";
    default: return "";
  }
}

std::string CapiConnection::CalledNumber() const { return NumberText(calledPartyNumber, 1); }

std::string CapiConnection::CallerNumber() const { return NumberText(callingPartyNumber, 2); }

CConnectionTable& CConnectionTable::Process() {
  static CConnectionTable table;
  return table;
}

void CConnectionTable::Resize(int size) {
  Clear();
  size_ = std::clamp(size, kDefaultSize, kMaxSize);
}

void CConnectionTable::Clear() {
  for (int i = 0; i < kMaxSize; ++i) Free(i);
}

int CConnectionTable::Allocate() {
  for (int i = 0; i < size_; ++i) {
    if (entries_[i].inUse) continue;
    entries_[i] = CapiConnection{};
    entries_[i].inUse = 1;
    return i;
  }
  return -1;
}

void CConnectionTable::Free(int id) {
  if (id < 0 || id >= kMaxSize) return;
  entries_[id].inUse = 0;
  entries_[id].calledPartyNumber = std::string();
  entries_[id].callingPartyNumber = std::string();
}

int CConnectionTable::FindByPlci(std::uint32_t plci) const {
  if (plci == kNoId) return -1;
  for (int i = 0; i < size_; ++i)
    if (entries_[i].inUse && entries_[i].plci == plci) return i;
  return -1;
}

int CConnectionTable::FindByNcci(std::uint32_t ncci) const {
  if (ncci == kNoId) return -1;  // "no NCCI yet" is no address a message may name
  for (int i = 0; i < size_; ++i)
    if (entries_[i].inUse && entries_[i].ncci == ncci) return i;
  return -1;
}

int CConnectionTable::InUseCount() const {
  int n = 0;
  for (int i = 0; i < size_; ++i) n += entries_[i].inUse ? 1 : 0;
  return n;
}

}  // namespace kestrel

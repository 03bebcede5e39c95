// fuzz_capi_message: any bytes as a run of CAPI messages from the adapter or
// a remote CAPI, each framed by its own length field, through the checks the
// worker applies (the layout walk first), libcapi20's decomposition, the
// number struct and NCPI reads and the call state machine. Each message sits
// in a heap buffer exactly as long as it says, so that ASan reports any read
// of ours past it; the decomposition (libcapi20 is not instrumented) gets a
// copy that ends at an inaccessible page, so that its reads past the end
// fault too.
#include <capi20.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capi/call_actions.h"
#include "capi/call_state_machine.h"
#include "capi/capi_message.h"
#include "capi/connection_table.h"
#include "capi/recipient_resolver.h"

namespace {

using namespace kestrel;

// Takes every call; the recipients text grows as a real resolver's would.
class CAcceptingResolver final : public IRecipientResolver {
 public:
  int AcceptsCalledNumber(const std::string& calledNumber, std::string& recipients) override {
    if (calledNumber.empty()) return 0;
    recipients += "fax@example.org;";
    return 1;
  }
  void SetAcceptAll(std::int32_t, const std::string&) override {}
};

// Carries nothing out. B3 data is not read: its pointer is libcapi20's to
// set for a received message, not a field the line controls.
class CInertActions final : public ICallActions {
 public:
  void Put(const OutgoingCapiMessage&) override {}
  bool OpenCapture(int, const std::string& callerNumber, std::string& path) override {
    path = "/nonexistent/" + callerNumber + ".sff";
    return true;
  }
  void AppendData(int, const std::uint8_t*, std::size_t) override {}
  void CallAnswered(FaxCallRecord&) override {}
  void FaxEnded(int, FaxCallRecord&) override {}
  void CallDropped(int, const FaxCallRecord&) override {}
  void WriteEventText(std::string_view) override {}
};

// Memory for one message of up to 64 KiB followed by a page nobody may read.
class CGuardedBuffer {
 public:
  CGuardedBuffer() {
    page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    usable_ = (65536 / page_ + 1) * page_;
    void* p = ::mmap(nullptr, usable_ + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) __builtin_trap();
    base_ = static_cast<std::uint8_t*>(p);
    if (::mprotect(base_ + usable_, page_, PROT_NONE) != 0) __builtin_trap();
  }
  // `bytes` copied so that its last byte is the last readable one.
  std::uint8_t* Place(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t* at = base_ + usable_ - bytes.size();
    std::memcpy(at, bytes.data(), bytes.size());
    return at;
  }

 private:
  std::size_t page_ = 0, usable_ = 0;
  std::uint8_t* base_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CGuardedBuffer guarded;
  CConnectionTable table;
  CAcceptingResolver resolver;
  CInertActions actions;
  CCallStateMachine machine(table, resolver, actions, size % 2 == 0);
  // One call at a time, a basic-rate line's two, or a primary-rate line's thirty.
  machine.SetCallSlots(size % 3 == 0 ? 1 : size % 3 == 1 ? 2 : 30);
  table.Resize(machine.CallSlots() + 6);
  machine.Reset();
  _cmsg scratch;

  std::size_t offset = 0;
  while (size - offset >= 2) {
    const std::uint8_t* raw = data + offset;
    std::size_t length = static_cast<std::size_t>(raw[0] | (raw[1] << 8));
    if (length < 2) length = 2;
    if (length > size - offset) length = size - offset;
    std::vector<std::uint8_t> message(raw, raw + length);
    message[0] = static_cast<std::uint8_t>(length);
    message[1] = static_cast<std::uint8_t>(length >> 8);
    offset += length;

    // As the worker: what does not fit is not decomposed.
    if (!CapiMessageFits(message.data(), message.size())) continue;
    const std::uint8_t subcommand = CAPIMSG_SUBCOMMAND(message.data());
    if (subcommand != CAPI_CONF && subcommand != CAPI_IND) continue;
    const ReceivedCapiMessage decoded = DecodeCapiMessage(guarded.Place(message), length, scratch);
    if (subcommand == CAPI_CONF)
      machine.Handle_Confirmation(decoded);
    else
      machine.Handle_Indication(decoded);
  }
  machine.DisconnectAll();
  machine.CutShort("the service stopped during the call");
  machine.AbandonCall();
  return 0;
}

// fuzz_capi_message: any bytes as a run of CAPI messages from the adapter or
// a remote CAPI, each framed by its own length field, through the checks the
// worker applies, libcapi20's decomposition, the number struct and NCPI reads
// and the call state machine. The messages sit in a zeroed buffer as large as
// a 16-bit length can claim, as in libcapi20's receive buffer, so a
// decomposition that believes a lying struct length stays inside memory the
// test owns; every read of ours must stay inside the message itself.
#include <capi20.h>

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
  bool OpenCapture(const std::string& callerNumber, std::string& path) override {
    path = "/nonexistent/" + callerNumber + ".sff";
    return true;
  }
  void AppendData(const std::uint8_t*, std::size_t) override {}
  void CallAnswered(FaxCallRecord&) override {}
  void FaxEnded(FaxCallRecord&) override {}
  void CallDropped(const FaxCallRecord&) override {}
  void WriteEventText(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<std::uint8_t> buffer(65536 + 64);
  CConnectionTable table;
  CAcceptingResolver resolver;
  CInertActions actions;
  CCallStateMachine machine(table, resolver, actions, size % 2 == 0);
  _cmsg scratch;

  std::size_t offset = 0;
  while (size - offset >= kMinCapiMessage) {
    const std::uint8_t* raw = data + offset;
    std::size_t length = static_cast<std::size_t>(raw[0] | (raw[1] << 8));
    if (length < kMinCapiMessage) length = kMinCapiMessage;
    if (length > size - offset) length = size - offset;
    std::memset(buffer.data(), 0, buffer.size());
    std::memcpy(buffer.data(), raw, length);
    buffer[0] = static_cast<std::uint8_t>(length);
    buffer[1] = static_cast<std::uint8_t>(length >> 8);
    offset += length;

    const std::uint8_t subcommand = CAPIMSG_SUBCOMMAND(buffer.data());
    if (subcommand != CAPI_CONF && subcommand != CAPI_IND) continue;
    const ReceivedCapiMessage message = DecodeCapiMessage(buffer.data(), length, scratch);
    if (subcommand == CAPI_CONF)
      machine.Handle_Confirmation(message);
    else
      machine.Handle_Indication(message);
  }
  machine.DisconnectAll();
  machine.CutShort("the service stopped during the call");
  machine.AbandonCall();
  return 0;
}

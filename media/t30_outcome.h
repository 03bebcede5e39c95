// How Kestrel's T.30 receivers are set up (ConfigureT30Receiver), and
// CT30Outcome: what one T.30 receiver of SpanDSP (over audio or over T.38)
// made of a fax: it watches the session's pages and frames and, at the end,
// reads the result the signalling side reports: pages, the sender's
// identity, whether the document ended, and which pages came with errors
// the receiver could not repair (bad rows T.4 decoding regenerated).
//
// CT30Outcome is owned by the thread running the T.30 session; SpanDSP
// calls it back on that thread. CCallEnd hands the result from that thread
// to any other. Nothing here fails.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

struct t30_state_s;

namespace kestrel {

struct FaxCallResult {
  int pages = 0;
  std::string remoteStationId;
  int bitRate = 0;
  bool complete = false;
  std::string incomplete;            // the reason text when !complete
  std::vector<int> pagesWithErrors;  // 1-based page numbers
  bool t38 = false;                  // the fax (or its end) came over T.38
};

// A call whose peer sends nothing for this long is over.
inline constexpr std::chrono::seconds kMediaSilenceLimit{20};
// The reason Wait gives when Hangup ended the call before T.30 did.
inline constexpr char kHungUpReason[] = "the caller hung up before the fax was complete";
inline constexpr char kSilenceReason[] = "no audio from the caller";

// Answer mode, ECM on, the modems and codings Kestrel takes, pages to
// `tiffPath`, our identity (cut to T.30's 20 characters).
void ConfigureT30Receiver(t30_state_s* t30, const std::string& tiffPath, const std::string& localStationId);

class CT30Outcome {
 public:
  // Watches `t30` from now on (its phase D, phase E and frame handlers).
  void Attach(t30_state_s* t30);
  // Phase E came: T.30 ended by itself.
  [[nodiscard]] bool Ended() const { return ended_; }
  // Ends T.30 where it stands (the TIFF closes with the pages so far) and
  // answers the outcome; `stopped` is the reason the call stopped before
  // T.30 ended, or null. A call stopped after the document's last page was
  // confirmed is complete.
  FaxCallResult Finish(t30_state_s* t30, const char* stopped);

 private:
  static int PhaseD(t30_state_s* t30, void* user, int result);
  static void PhaseE(t30_state_s* t30, void* user, int completion);
  static void Frame(t30_state_s* t30, void* user, int incoming, const unsigned char msg[], int len);

  bool ended_ = false;
  bool lastPageSent_ = false;
  bool documentEnded_ = false;
  int completion_ = 0;
  std::vector<int> pagesWithErrors_;
};

// The end of a call's thread as other threads see it.
class CCallEnd {
 public:
  void Publish(FaxCallResult result) {
    std::lock_guard lock(mutex_);
    result_ = std::move(result);
    finished_ = true;
    signal_.notify_all();
  }
  [[nodiscard]] bool Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  // Blocks until Publish.
  FaxCallResult Wait() const {
    std::unique_lock lock(mutex_);
    signal_.wait(lock, [this] { return finished_; });
    return result_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable signal_;
  bool finished_ = false;
  FaxCallResult result_;
};

}  // namespace kestrel

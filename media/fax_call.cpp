#include "media/fax_call.h"

#include "media/fax_capture.h"
#include "media/t38_fax_call.h"

namespace kestrel {

namespace {

constexpr char kT38PartSuffix[] = ".t38";

Result<std::unique_ptr<CT38FaxCall>> StartT38Part(const T38Setup& t38, const std::string& tiffPath,
                                                  const std::string& localStationId) {
  Result<std::unique_ptr<CUdptlLink>> link = CUdptlLink::Open(t38.localPort, t38.remote, t38.peer);
  if (!link) return link.Error();
  return CT38FaxCall::Start(std::move(*link), t38.peer, tiffPath, localStationId);
}

}  // namespace

CFaxCall::CFaxCall(const FaxCallSetup& setup, int audioPort) : setup_(setup), audioPort_(audioPort) {}
CFaxCall::~CFaxCall() = default;

Result<std::unique_ptr<CFaxCall>> CFaxCall::StartAudio(const FaxCallSetup& setup, int localRtpPort,
                                                       const AudioEndpoint& remote, AudioCodec codec) {
  std::unique_ptr<CFaxCall> call(new CFaxCall(setup, localRtpPort));
  Result<std::unique_ptr<CAudioFaxCall>> audio = CAudioFaxCall::Start({.localRtpPort = localRtpPort,
                                                                       .remote = remote,
                                                                       .codec = codec,
                                                                       .tiffPath = setup.tiffPath,
                                                                       .localStationId = setup.localStationId,
                                                                       .onFaxTones = setup.onFaxTones});
  if (!audio) return audio.Error();
  call->audio_ = std::move(*audio);
  return call;
}

Result<std::unique_ptr<CFaxCall>> CFaxCall::StartT38(const FaxCallSetup& setup, const T38Setup& t38) {
  std::unique_ptr<CFaxCall> call(new CFaxCall(setup, 0));
  Result<std::unique_ptr<CT38FaxCall>> part = StartT38Part(t38, setup.tiffPath, setup.localStationId);
  if (!part) return part.Error();
  call->t38_ = std::move(*part);
  call->t38Path_ = setup.tiffPath;
  return call;
}

Status CFaxCall::SwitchToT38(const T38Setup& t38) {
  std::lock_guard lock(mutex_);
  if (t38_) return Status::Failed("T.38", "the call is in T.38 already");
  if (!audio_ || hungUp_ || switchFailed_ || audio_->Finished()) return Status::Failed("T.38", "the call has ended");
  if (audio_->OnCallThread()) return Status::Failed("T.38", "a switch asked for from inside onFaxTones");
  // Where the ports differ T.38's is had before the audio stops, so a port
  // that cannot be had leaves the call as it was.
  std::unique_ptr<CUdptlLink> link;
  if (t38.localPort != audioPort_) {
    Result<std::unique_ptr<CUdptlLink>> opened = CUdptlLink::Open(t38.localPort, t38.remote, t38.peer);
    if (!opened) return opened.Error();
    link = std::move(*opened);
  }
  if (!audio_->Stop()) return Status::Failed("T.38", "the call has ended");
  const FaxCallResult audio = audio_->Wait();
  t38Path_ = audio.pages > 0 ? setup_.tiffPath + kT38PartSuffix : setup_.tiffPath;
  Result<std::unique_ptr<CT38FaxCall>> part =
      link ? CT38FaxCall::Start(std::move(link), t38.peer, t38Path_, setup_.localStationId)
           : StartT38Part(t38, t38Path_, setup_.localStationId);
  if (!part) {
    switchFailed_ = true;
    switchFailure_ = part.Error();
    return part.Error();
  }
  t38_ = std::move(*part);
  return {};
}

void CFaxCall::Hangup() {
  std::lock_guard lock(mutex_);
  hungUp_ = true;
  if (t38_)
    t38_->Hangup();
  else if (audio_)
    audio_->Hangup();
}

bool CFaxCall::Finished() const {
  std::lock_guard lock(mutex_);
  return t38_ ? t38_->Finished() : !audio_ || audio_->Finished();
}

FaxCallResult CFaxCall::Wait() {
  FaxCallResult audio;
  if (audio_) audio = audio_->Wait();
  // A switch holds the lock from before the audio stops until T.38 runs.
  std::unique_lock lock(mutex_);
  if (!t38_) {
    if (switchFailed_) {
      audio.complete = false;
      audio.incomplete = switchFailure_.Describe();
    }
    return audio;
  }
  CT38FaxCall* t38Part = t38_.get();
  lock.unlock();
  FaxCallResult result = t38Part->Wait();
  if (!audio_) return result;
  if (result.remoteStationId.empty()) result.remoteStationId = audio.remoteStationId;
  if (result.pages > 0 && t38Path_ != setup_.tiffPath) {
    if (Status joined = AppendFaxPages(t38Path_, setup_.tiffPath); !joined) {
      // The capture holds the audio's pages; T.38's stay beside it.
      audio.complete = false;
      audio.incomplete = joined.Describe();
      audio.t38 = true;
      return audio;
    }
  }
  for (int& page : result.pagesWithErrors) page += audio.pages;
  result.pagesWithErrors.insert(result.pagesWithErrors.begin(), audio.pagesWithErrors.begin(),
                                audio.pagesWithErrors.end());
  result.pages += audio.pages;
  return result;
}

}  // namespace kestrel

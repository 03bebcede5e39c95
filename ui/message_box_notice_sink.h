// CMessageBoxNoticeSink: the tray program's notices (configuration incomplete,
// CAPI not available, database errors) as message boxes captioned
// "Brightwater Kestrel". A notice from another thread is queued to the
// user-interface thread and shown there, without making the caller wait, so a
// worker reporting while it is being stopped cannot block its own stop.
#pragma once

#include "core/notice_sink.h"

namespace kestrel {

class CMessageBoxNoticeSink final : public INoticeSink {
 public:
  // Thread-safe. On the user-interface thread the box is modal and Notify
  // returns when it was closed.
  void Notify(const std::string& text, NoticeIcon icon) override;
};

}  // namespace kestrel

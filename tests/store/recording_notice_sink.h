// A notice sink that keeps what it was told, for tests of the start-up check.
#pragma once

#include <string>
#include <vector>

#include "core/notice_sink.h"

namespace kestrel::test {

class CRecordingNoticeSink final : public INoticeSink {
 public:
  void Notify(const std::string& text, NoticeIcon icon) override {
    texts.push_back(text);
    icons.push_back(icon);
  }
  std::vector<std::string> texts;
  std::vector<NoticeIcon> icons;
};

}  // namespace kestrel::test

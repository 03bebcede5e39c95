// Opens an SFF file that a case expects the reader to accept: a refusal fails
// the case (the value of a refused Result throws, which ends it).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "convert/sff_file.h"
#include "core/event_log.h"

namespace kestrel::test {

inline CSffFile OpenSff(const std::string& path, IEventLog& log) {
  Result<CSffFile> sff = CSffFile::Open(path, log);
  if (!sff) ADD_FAILURE() << path << ": " << sff.Describe();
  return std::move(sff).Value();
}

}  // namespace kestrel::test

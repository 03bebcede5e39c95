// Runs a program as a user would, through the shell, for the tests that look
// at what a program prints: kestrel-sff itself and poppler's readers of the
// PDFs the conversion writes.
#pragma once

#include <string>

namespace kestrel::test {

struct CRun {
  int status = -1;  // the exit status; -1 when the program did not exit
  std::string out;
};

// Runs `command` with sh; standard error goes to the output only when the
// command says so ("2>&1").
CRun RunCommand(const std::string& command);

}  // namespace kestrel::test

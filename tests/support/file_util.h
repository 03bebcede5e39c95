// Small file helpers for tests: whole-file reads and writes, and the event
// lines of a kestrel.log without their time stamps.
#pragma once

#include <string>
#include <vector>

namespace kestrel::test {

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// The description field of every event line of the log in `folder`
// ("2026-12-07 09:05:03 Kestrel: End_of_FAX-receive. OK" gives
// "End_of_FAX-receive."), header lines skipped.
std::vector<std::string> EventDescriptions(const std::string& folder);

// The same description as the log writes it for `text` (blanks become "_").
std::string LoggedForm(const std::string& text);

}  // namespace kestrel::test

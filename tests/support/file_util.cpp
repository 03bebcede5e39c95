#include "tests/support/file_util.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace kestrel::test {

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << bytes;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> EventDescriptions(const std::string& folder) {
  std::vector<std::string> result;
  std::istringstream in(ReadFileBytes(folder + "kestrel.log"));
  std::string line;
  const std::string service = " Kestrel: ";
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto pos = line.find(service);
    if (pos == std::string::npos) continue;
    std::string rest = line.substr(pos + service.size());
    if (rest.size() >= 3 && rest.compare(rest.size() - 3, 3, " OK") == 0) rest.resize(rest.size() - 3);
    result.push_back(rest);
  }
  return result;
}

std::string LoggedForm(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == ' ') c = '_';
  return out;
}

}  // namespace kestrel::test

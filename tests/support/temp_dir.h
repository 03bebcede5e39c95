// A temporary folder for one test, removed with everything in it when the
// object goes out of scope. Path() ends with "/" so it can stand in for the
// application folder directly.
#pragma once

#include <string>

namespace kestrel::test {

class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  // The folder, with a trailing "/".
  const std::string& Path() const { return path_; }
  // Path() + name.
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

}  // namespace kestrel::test

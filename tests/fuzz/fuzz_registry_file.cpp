// fuzz_registry_file: any bytes as the registry export file (seeds in both
// syntaxes, 8-bit and UTF-16LE) through CRegistryFile, with the migration's
// reads and deletions. Besides the sanitizers it checks that a deleted key or
// password is gone when the file is read again, every other value of the
// migration's keys unchanged, and the file still in its own encoding.
#include <cstdint>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/settings_store.h"
#include "platform/registry_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using kestrel::CRegistryFile;
using kestrel::fuzz::Check;

// Value names of each section of the migration (the seeds hold them all), each
// asked as text and as number; a few, as every lookup scans the whole file.
constexpr const char* kNames[] = {"Number", "RejectCallerID", "EmailAll",  "All",
                                  "Name",   "SMTPPort",       "SMTP_Pass", "ImageFormat"};

struct KeyView {
  bool exists = false;
  std::vector<std::optional<std::string>> texts;
  std::vector<std::optional<std::uint32_t>> numbers;
  bool operator==(const KeyView&) const = default;
};

KeyView View(const CRegistryFile& reg, const std::string& key) {
  KeyView v;
  v.exists = reg.KeyExists(key);
  for (const char* name : kNames) {
    v.texts.push_back(reg.ReadString(key, name));
    v.numbers.push_back(reg.ReadDword(key, name));
  }
  return v;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The keys looked at: both migration keys, their sections and their other
// sub-keys. The deletions: per key the migration's order (Fax, Email, MSN,
// the key), then its other sub-keys, then the key once more.
void Plan(const CRegistryFile& reg, std::vector<std::string>& keys, std::vector<std::string>& deletions) {
  for (const std::string root : {kestrel::kRegistryKey, kestrel::kOlderRegistryKey}) {
    keys.push_back(root);
    for (const char* section : {"Fax", "Email", "MSN"}) {
      keys.push_back(root + "\\" + section);
      deletions.push_back(keys.back());
    }
    deletions.push_back(root);
    for (const std::string& sub : reg.SubKeys(root)) {
      keys.push_back(root + "\\" + sub);
      deletions.push_back(keys.back());
    }
    deletions.push_back(root);
  }
}

bool StartsWithBom(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char b[2] = {0, 0};
  const bool bom = std::fread(b, 1, 2, f) == 2 && b[0] == 0xFF && b[1] == 0xFE;
  std::fclose(f);
  return bom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = kestrel::fuzz::ScratchFolder() + "registry.reg";
  kestrel::fuzz::WriteInput(path, data, size);
  const bool utf16 = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;

  CRegistryFile reg(path);
  std::vector<std::string> keys, deletions;
  Plan(reg, keys, deletions);
  std::vector<KeyView> views;
  for (const auto& key : keys) views.push_back(View(reg, key));

  // The password first, as a migration that cannot delete its key does.
  constexpr std::size_t kPassword = 6;  // "SMTP_Pass" in kNames
  for (const std::string& holder : keys) {
    if (!reg.DeleteValue(holder, kNames[kPassword])) continue;
    CRegistryFile after(path);
    for (size_t i = 0; i < keys.size(); ++i) {
      KeyView expected = views[i];
      if (Lower(keys[i]) == Lower(holder)) {
        expected.texts[kPassword].reset();
        expected.numbers[kPassword].reset();
      }
      const KeyView now = View(after, keys[i]);
      Check(now == expected, "deleting the password kept it or changed another value");
      views[i] = now;
    }
  }

  for (const std::string& victim : deletions) {
    if (!reg.DeleteKey(victim)) continue;
    CRegistryFile after(path);
    Check(!after.KeyExists(victim), "a deleted key is still there");
    for (size_t i = 0; i < keys.size(); ++i) {
      const KeyView now = View(after, keys[i]);
      const std::string key = Lower(keys[i]), gone = Lower(victim);
      if (key == gone) {
        Check(now == KeyView{false, std::vector<std::optional<std::string>>(std::size(kNames)),
                             std::vector<std::optional<std::uint32_t>>(std::size(kNames))},
              "a deleted key still has values");
      } else if (gone.compare(0, key.size() + 1, key + "\\") == 0) {
        Check(now.texts == views[i].texts && now.numbers == views[i].numbers,
              "deleting a sub-key changed its parent's values");
      } else {
        Check(now == views[i], "deleting one key changed another");
      }
      views[i] = now;
    }
    Check(::access(path.c_str(), F_OK) != 0 || StartsWithBom(path) == utf16, "the rewrite changed the file's encoding");
  }
  ::unlink(path.c_str());
  return 0;
}

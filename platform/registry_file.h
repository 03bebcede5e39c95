// The current user's registry, as a registry export file. Kestrel only reads
// values, lists sub-keys and deletes keys and values (the one-time settings
// migration); it never writes values. Both export syntaxes are read: "REGEDIT4"
// (Windows-1252) and "Windows Registry Editor Version 5.00" (UTF-16LE with BOM).
//
// The file is untrusted input: lines are parsed without assumptions about
// their length or count, malformed lines are kept as they are (and written
// back unchanged on rewrite) but yield no value. Not thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

class CRegistryFile {
 public:
  // Reads `path`. A missing or unreadable file is an empty registry.
  explicit CRegistryFile(std::string path);

  // $XDG_CONFIG_HOME/Brightwater/registry.reg, by default
  // ~/.config/Brightwater/registry.reg.
  static std::string DefaultPath();

  const std::string& Path() const { return path_; }

  // Keys are paths below HKEY_CURRENT_USER, such as
  // "Software\\Brightwater\\Brightwater Kestrel\\Fax"; compared without regard
  // to letter case, as the registry does. A key exists when it has a section
  // of its own or a sub-key has one.
  bool KeyExists(const std::string& key) const;

  // The names of the key's direct sub-keys, each once (in the spelling of its
  // first section), in file order.
  std::vector<std::string> SubKeys(const std::string& key) const;

  // Opening for reading and writing: the key exists and the file can be
  // written (its mode allows writing and the process may write it).
  bool OpenForWriting(const std::string& key) const;

  std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
  std::optional<std::uint32_t> ReadDword(const std::string& key, const std::string& name) const;

  // Removes the key's section and rewrites the file (a file left without keys
  // is removed). Fails, changing nothing, when the key does not exist, has
  // sub-keys, or the file cannot be written.
  bool DeleteKey(const std::string& key);

  // Removes the value `name` (every line of it) from the key's own section
  // and rewrites the file. Fails, changing nothing, when there is no such
  // value or the file cannot be written.
  bool DeleteValue(const std::string& key, const std::string& name);

 private:
  enum class Encoding { kCp1252, kUtf16Le };

  struct Value {
    std::string name;
    bool isDword = false;
    std::string text;
    std::uint32_t dword = 0;
  };

  struct Section {
    std::string key;                 // below HKEY_CURRENT_USER, as written
    std::vector<std::string> lines;  // the header line and every line after it, as read
    std::vector<Value> values;
  };

  void Parse(const std::string& text);
  const Section* FindSection(const std::string& key) const;
  bool CanWrite() const;
  bool Rewrite() const;

  std::string path_;
  Encoding encoding_ = Encoding::kCp1252;
  std::string headerLine_;
  std::vector<std::string> preamble_;  // lines between the header and the first section
  std::vector<Section> sections_;
};

}  // namespace kestrel

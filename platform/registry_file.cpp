// Reading and rewriting the registry export file. The whole file is decoded
// to UTF-8 first (Windows-1252, or UTF-16LE after a BOM), split into lines and
// sections; a rewrite writes the kept lines back, as read, in the file's own
// encoding.
#include "platform/registry_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/text_encoding.h"

namespace kestrel {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// Strips "HKEY_CURRENT_USER\" (or "HKCU\"); other hives are not the user's.
std::optional<std::string> UserKeyOf(const std::string& sectionName) {
  for (const char* hive : {"hkey_current_user\\", "hkcu\\"}) {
    std::string h(hive);
    if (Lower(sectionName.substr(0, h.size())) == h) return sectionName.substr(h.size());
  }
  return std::nullopt;
}

// Parses a quoted registry string starting at s[pos] == '"'; `pos` ends after
// the closing quote. Only \\ and \" are escapes, as the registry editor writes.
std::optional<std::string> ParseQuoted(const std::string& s, size_t& pos) {
  if (pos >= s.size() || s[pos] != '"') return std::nullopt;
  std::string out;
  for (size_t i = pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (c == '"') {
      pos = i + 1;
      return out;
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

}  // namespace

CRegistryFile::CRegistryFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::ostringstream raw;
  raw << in.rdbuf();
  std::string bytes = raw.str();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    encoding_ = Encoding::kUtf16Le;
    Parse(Utf16LeToUtf8(std::string_view(bytes).substr(2)));
  } else {
    encoding_ = Encoding::kCp1252;
    Parse(Cp1252ToUtf8(bytes));
  }
}

std::string CRegistryFile::DefaultPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return base + "/Brightwater/registry.reg";
}

void CRegistryFile::Parse(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  bool first = true;
  Section* current = nullptr;
  std::string pending;  // a value line continued with a trailing backslash
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      headerLine_ = line;
      first = false;
      continue;
    }
    std::string trimmed = TrimRight(line);
    if (!trimmed.empty() && trimmed.front() == '[' && trimmed.back() == ']' && pending.empty()) {
      std::string name = trimmed.substr(1, trimmed.size() - 2);
      sections_.push_back({});
      current = &sections_.back();
      current->lines.push_back(line);
      // "[-KEY]" deletes a key when imported; it holds no values of ours.
      if (!name.empty() && name[0] != '-') {
        if (auto key = UserKeyOf(name)) current->key = *key;
      }
      continue;
    }
    if (!current) {
      preamble_.push_back(line);
      continue;
    }
    current->lines.push_back(line);
    if (!trimmed.empty() && trimmed.back() == '\\') {
      pending += trimmed.substr(0, trimmed.size() - 1);
      continue;
    }
    std::string full = pending + trimmed;
    pending.clear();
    if (current->key.empty() || full.empty() || full[0] != '"') continue;

    size_t pos = 0;
    auto name = ParseQuoted(full, pos);
    if (!name || pos >= full.size() || full[pos] != '=') continue;
    ++pos;
    Value v;
    v.name = *name;
    if (pos < full.size() && full[pos] == '"') {
      auto value = ParseQuoted(full, pos);
      if (!value) continue;
      v.text = *value;
    } else if (Lower(full.substr(pos, 6)) == "dword:") {
      std::string hex = full.substr(pos + 6);
      if (hex.empty() || hex.size() > 8 ||
          !std::all_of(hex.begin(), hex.end(), [](unsigned char c) { return std::isxdigit(c); }))
        continue;
      v.isDword = true;
      v.dword = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
    } else {
      continue;  // binary, expandable and multi-string values are not ours
    }
    current->values.push_back(std::move(v));
  }
}

const CRegistryFile::Section* CRegistryFile::FindSection(const std::string& key) const {
  std::string wanted = Lower(key);
  for (const auto& s : sections_)
    if (!s.key.empty() && Lower(s.key) == wanted) return &s;
  return nullptr;
}

bool CRegistryFile::KeyExists(const std::string& key) const {
  std::string wanted = Lower(key);
  std::string prefix = wanted + "\\";
  for (const auto& s : sections_) {
    if (s.key.empty()) continue;
    std::string k = Lower(s.key);
    if (k == wanted || k.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::vector<std::string> CRegistryFile::SubKeys(const std::string& key) const {
  const std::string prefix = Lower(key) + "\\";
  std::vector<std::string> names;
  for (const auto& s : sections_) {
    if (Lower(s.key).compare(0, prefix.size(), prefix) != 0) continue;
    std::string name = s.key.substr(prefix.size());
    name = name.substr(0, name.find('\\'));
    auto same = [&](const std::string& n) { return Lower(n) == Lower(name); };
    if (std::none_of(names.begin(), names.end(), same)) names.push_back(name);
  }
  return names;
}

bool CRegistryFile::CanWrite() const {
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return false;
  // The mode bits decide even for root, who may write any file: a file the
  // user made read-only stays unwritten.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return ::access(path_.c_str(), W_OK) == 0;
}

bool CRegistryFile::OpenForWriting(const std::string& key) const { return KeyExists(key) && CanWrite(); }

std::optional<std::string> CRegistryFile::ReadString(const std::string& key, const std::string& name) const {
  const Section* s = FindSection(key);
  if (!s) return std::nullopt;
  std::string wanted = Lower(name);
  for (const auto& v : s->values)
    if (!v.isDword && Lower(v.name) == wanted) return v.text;
  return std::nullopt;
}

std::optional<std::uint32_t> CRegistryFile::ReadDword(const std::string& key, const std::string& name) const {
  const Section* s = FindSection(key);
  if (!s) return std::nullopt;
  std::string wanted = Lower(name);
  for (const auto& v : s->values)
    if (v.isDword && Lower(v.name) == wanted) return v.dword;
  return std::nullopt;
}

bool CRegistryFile::DeleteKey(const std::string& key) {
  if (!CanWrite()) return false;
  std::string wanted = Lower(key);
  std::string prefix = wanted + "\\";
  bool found = false;
  for (const auto& s : sections_) {
    if (s.key.empty()) continue;
    std::string k = Lower(s.key);
    if (k.compare(0, prefix.size(), prefix) == 0) return false;  // has sub-keys
    if (k == wanted) found = true;
  }
  if (!found) return false;
  auto saved = sections_;
  sections_.erase(std::remove_if(sections_.begin(), sections_.end(),
                                 [&](const Section& s) { return !s.key.empty() && Lower(s.key) == wanted; }),
                  sections_.end());
  if (!Rewrite()) {
    sections_ = std::move(saved);
    return false;
  }
  return true;
}

bool CRegistryFile::DeleteValue(const std::string& key, const std::string& name) {
  if (!CanWrite()) return false;
  const std::string wanted = Lower(key), wantedName = Lower(name);
  auto section = std::find_if(sections_.begin(), sections_.end(),
                              [&](const Section& s) { return !s.key.empty() && Lower(s.key) == wanted; });
  if (section == sections_.end()) return false;
  const Section saved = *section;
  // A value's lines: the first, and those a trailing backslash continues to.
  std::vector<std::string> kept = {section->lines[0]};
  bool removed = false;
  for (std::size_t first = 1; first < section->lines.size();) {
    std::size_t last = first;
    std::string full;
    for (;; ++last) {
      const std::string trimmed = TrimRight(section->lines[last]);
      const bool continued = !trimmed.empty() && trimmed.back() == '\\' && last + 1 < section->lines.size();
      full += continued ? trimmed.substr(0, trimmed.size() - 1) : trimmed;
      if (!continued) break;
    }
    std::size_t pos = 0;
    const auto valueName = ParseQuoted(full, pos);
    if (valueName && Lower(*valueName) == wantedName) {
      removed = true;
    } else {
      kept.insert(kept.end(), section->lines.begin() + static_cast<std::ptrdiff_t>(first),
                  section->lines.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    }
    first = last + 1;
  }
  if (!removed) return false;
  section->lines = std::move(kept);
  std::erase_if(section->values, [&](const Value& v) { return Lower(v.name) == wantedName; });
  if (!Rewrite()) {
    *section = saved;
    return false;
  }
  return true;
}

bool CRegistryFile::Rewrite() const {
  bool anyKey = std::any_of(sections_.begin(), sections_.end(), [](const Section& s) { return !s.key.empty(); });
  if (!anyKey) return ::unlink(path_.c_str()) == 0;

  std::string text = headerLine_ + "\r\n";
  for (const auto& l : preamble_) text += l + "\r\n";
  for (const auto& s : sections_)
    for (const auto& l : s.lines) text += l + "\r\n";
  std::string bytes =
      encoding_ == Encoding::kUtf16Le ? std::string("\xFF\xFE", 2) + Utf8ToUtf16Le(text) : Utf8ToCp1252(text);

  struct stat st;
  mode_t mode = ::stat(path_.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
  return WriteFileAtomically(path_, bytes, mode);
}

}  // namespace kestrel

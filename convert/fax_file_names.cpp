#include "convert/fax_file_names.h"

#include <algorithm>
#include <cctype>

namespace kestrel {
namespace {

const char* Extension(ImageFormat format) {
  switch (format) {
    case ImageFormat::Jpg: return ".jpg";
    case ImageFormat::Png: return ".png";
    case ImageFormat::Tiff: return ".tif";
    case ImageFormat::Sff: return ".sff";
    case ImageFormat::Pdf: return ".pdf";
  }
  return nullptr;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                    });
}

}  // namespace

std::string SffFolder(const std::string& sffPath) {
  const auto slash = sffPath.rfind('/');
  return slash == std::string::npos ? std::string() : sffPath.substr(0, slash + 1);
}

std::string SffBaseName(const std::string& sffPath) {
  const auto slash = sffPath.rfind('/');
  const auto dot = sffPath.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return sffPath;
  return sffPath.substr(0, dot);
}

std::string FaxFilePath(const std::string& sffPath, ImageFormat format) {
  if (format == ImageFormat::Sff) return sffPath;
  const char* extension = Extension(format);
  return extension ? SffBaseName(sffPath) + extension : std::string();
}

std::string PageFilePath(const std::string& sffPath, ImageFormat format, int pageCount, int page) {
  if (pageCount < 2) return FaxFilePath(sffPath, format);
  return SffBaseName(sffPath) + "_" + std::to_string(page) + Extension(format);
}

std::vector<std::string> SffCandidates(const std::string& faxFile) {
  if (EndsWithNoCase(faxFile, ".sff")) return {faxFile};
  const std::string base = SffBaseName(faxFile);
  std::vector<std::string> candidates{base + ".sff"};
  if (base.size() > 2 && base.compare(base.size() - 2, 2, "_1") == 0)
    candidates.push_back(base.substr(0, base.size() - 2) + ".sff");
  return candidates;
}

}  // namespace kestrel

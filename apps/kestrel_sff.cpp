// kestrel-sff: the command-line SFF tool.
//   kestrel-sff info FILE.sff        prints the page table
//   kestrel-sff convert [--format jpg|png|tif|pdf] [--ocr LANGS] FILE.sff
//                                    writes the page images (or the one PDF) next
//                                    to the file, as the service does, and prints
//                                    the page count; --ocr gives the PDF a text
//                                    layer read in Tesseract's LANGS ("deu+eng")
// The conversion's event texts go to standard error. Exit status: 0 done,
// 1 the file could not be read or was refused, 2 wrong usage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/sff_converter.h"
#include "convert/sff_file.h"
#include "core/event_log.h"
#include "core/version.h"

namespace {

class CStandardErrorLog final : public kestrel::IEventLog {
 public:
  void WriteEventText(std::string_view text) override {
    std::fprintf(stderr, "kestrel-sff: %.*s\n", static_cast<int>(text.size()), text.data());
  }
};

constexpr char kUsage[] =
    "usage: kestrel-sff info FILE.sff\n"
    "       kestrel-sff convert [--format jpg|png|tif|pdf] [--ocr LANGS] FILE.sff\n"
    "       kestrel-sff --version | --help\n";

// Asked for, the usage goes to standard output; after a wrong argument, to
// standard error with status 2.
int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// The reader opens what it cannot read as an empty document; here that is an error.
bool Readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "kestrel-sff: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  ::close(fd);
  return true;
}

int Info(const std::string& path) {
  if (!Readable(path)) return 1;
  CStandardErrorLog log;
  const kestrel::Result<kestrel::CSffFile> opened = kestrel::CSffFile::Open(path, log);
  if (!opened) {
    std::fprintf(stderr, "kestrel-sff: %s\n", opened.Error().text.c_str());
    return 1;
  }
  const kestrel::CSffFile& sff = *opened;
  const char* resolution = sff.VerticalResolution() == 0 ? "normal" : "fine";
  std::printf("%s: %d page%s\n", path.c_str(), sff.PageCount(), sff.PageCount() == 1 ? "" : "s");
  std::printf("%4s %6s %6s  %s\n", "page", "width", "lines", "resolution");
  for (int page = 1; page <= sff.PageCount(); ++page)
    std::printf("%4d %6u %6d  %s\n", page, sff.PageWidth(page), sff.PageLines(page), resolution);
  return 0;
}

int Convert(const std::string& path, kestrel::ImageFormat format, const kestrel::TextRecognitionOptions& text) {
  if (!Readable(path)) return 1;
  CStandardErrorLog log;
  // No call is known here: the PDF is dated by the capture file.
  kestrel::FaxDocumentInfo info;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) info.received = st.st_mtime;
  const kestrel::ConvertedFax fax = kestrel::ConvertSffToImages(path, format, log, info, text);
  if (fax.pageCount < 0) return 1;  // the reader's text is on standard error already
  std::printf("%d\n", fax.pageCount);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--version") == 0)) {
    std::printf("kestrel-sff %s\n", kestrel::kProductVersion);
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return Info(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "convert") == 0) {
    kestrel::ImageFormat format = kestrel::ImageFormat::Jpg;
    kestrel::TextRecognitionOptions text;
    int i = 2;
    for (; i + 1 < argc; i += 2) {
      const std::string value = argv[i + 1];
      if (std::strcmp(argv[i], "--ocr") == 0) {
        if (value.empty()) return Usage();
        text.languages = value;
      } else if (std::strcmp(argv[i], "--format") != 0) {
        break;
      } else if (value == "jpg" || value == "jpeg") {
        format = kestrel::ImageFormat::Jpg;
      } else if (value == "png") {
        format = kestrel::ImageFormat::Png;
      } else if (value == "tif" || value == "tiff") {
        format = kestrel::ImageFormat::Tiff;
      } else if (value == "pdf") {
        format = kestrel::ImageFormat::Pdf;
      } else {
        std::fprintf(stderr, "kestrel-sff: unknown format %s (jpg, png, tif or pdf)\n", value.c_str());
        return 2;
      }
    }
    if (i != argc - 1) return Usage();
    if (!text.languages.empty() && format != kestrel::ImageFormat::Pdf) {
      std::fprintf(stderr, "kestrel-sff: --ocr needs --format pdf\n");
      return 2;
    }
    return Convert(argv[i], format, text);
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing here throws but a failed allocation: say so rather than abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrel-sff: %s\n", e.what());
    return 1;
  }
}

// fuzz_settings_file: any bytes as kestrel.xml through ImportSettings, as a
// start-up reads it. Besides the sanitizers it checks that every imported
// password is written back as well-formed UTF-8 and reads back unchanged, and
// that what the export writes imports to a record that survives another
// export and import unchanged.
#include <cstdint>
#include <string>
#include <unistd.h>

#include "core/settings_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using kestrel::ServiceSettings;
using kestrel::fuzz::Check;

// The password element's text: " ", the shifted form (bytes 0x25 to 0x7F), or
// U+017F and upper-case hexadecimal digits. Nothing else keeps the file UTF-8.
bool IsWellFormedPasswordText(const std::string& text) {
  if (text == " ") return true;
  const std::string mark = "\xC5\xBF";
  if (text.compare(0, mark.size(), mark) == 0) {
    if (text.size() == mark.size() || (text.size() - mark.size()) % 2 != 0) return false;
    for (size_t i = mark.size(); i < text.size(); ++i) {
      const char c = text[i];
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
  }
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x25 || b > 0x7F) return false;
  }
  return !text.empty();
}

// Values an import must overwrite or keep, none of them a default.
ServiceSettings StartRecord() {
  ServiceSettings s;
  s.Name = "before";
  s.SMTPPort = 2525;
  s.ImageScaleX = 640;
  s.All = true;
  s.SMTP_Pass = "old";
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = kestrel::fuzz::ScratchFolder() + "kestrel.xml";
  const std::string written = kestrel::fuzz::ScratchFolder() + "written.xml";
  kestrel::fuzz::WriteInput(input, data, size);
  kestrel::fuzz::CQuietLog log;

  ServiceSettings imported = StartRecord();
  const kestrel::Status status = kestrel::ImportSettings(input, imported, log);
  if (!status) Check(imported == StartRecord(), "a failed import changed values");

  const std::string stored = kestrel::ScramblePassword(imported.SMTP_Pass);
  Check(IsWellFormedPasswordText(stored), "password element not well-formed UTF-8 text");
  Check(kestrel::UnscramblePassword(stored) == imported.SMTP_Pass, "password does not read back");

  // One export and import may normalise line ends; after that the record is fixed.
  ServiceSettings once, twice;
  Check(kestrel::ExportSettings(written, imported, log).Ok(), "export failed");
  Check(kestrel::ImportSettings(written, once, log).Ok(), "exported file does not import whole");
  Check(once.SMTP_Pass == imported.SMTP_Pass, "password changed through the file");
  Check(kestrel::ExportSettings(written, once, log).Ok(), "second export failed");
  Check(kestrel::ImportSettings(written, twice, log).Ok(), "second file does not import whole");
  Check(twice == once, "record changes with every export and import");

  ::unlink(written.c_str());
  ::unlink(input.c_str());
  return 0;
}

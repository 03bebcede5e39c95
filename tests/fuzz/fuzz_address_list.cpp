// fuzz_address_list: any bytes as a recipient list (quoted strings, comments,
// groups), composed into a mail, saved as a queue file and read back the way
// the queue monitor reads it (GetRecipientsFromFile, then ParseAddressList);
// and the same bytes as a queue file of their own, whose To header is then
// rewritten for the recipients still owed (WithToHeader). Checks the round
// trips: what the composer kept is what the To header gives back (addresses
// always, display names where the header carries them unencoded), what the
// parser read prints back (PrintedForm) into the same list, a rewritten file
// reads back as what was written into it, nothing is left unreadable; and no
// parsed entry holds what could end a header line or an SMTP command.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/event_log.h"
#include "mail/mail_address.h"
#include "mail/smtp_message.h"

namespace {

class CQuietLog final : public kestrel::IEventLog {
 public:
  void WriteEventText(std::string_view) override {}
};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_address_list: %s\n", what);
    std::abort();
  }
}

// Queue files are synced when saved: a folder in memory keeps that cheap.
const std::string& Folder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    struct stat st;
    std::string base = tmp && *tmp ? tmp : ::stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/fuzz_address_list.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Check(::mkdtemp(name.data()) != nullptr, "no temporary folder");
    static std::string made(name.data());
    std::atexit([] {
      ::unlink((made + "/composed.eml").c_str());
      ::unlink((made + "/raw.eml").c_str());
      ::rmdir(made.c_str());
    });
    return made + "/";
  }();
  return folder;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool IsPrintableAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

bool SameAddresses(const std::vector<kestrel::CMailAddress>& a, const std::vector<kestrel::CMailAddress>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].Address() != b[i].Address()) return false;
  return true;
}

void CheckEntries(const std::vector<kestrel::CMailAddress>& list) {
  for (const kestrel::CMailAddress& a : list) {
    Check(!a.Address().empty(), "empty address");
    for (char c : a.Address())
      Check(c != '<' && c != '>' && c != ' ' && c != '\t' && !IsControl(c), "address that would not read back");
    for (char c : a.Name()) Check(!IsControl(c), "name with a control character");
  }
  // What was read prints back into a list that reads as the same, whole.
  std::string printed;
  for (const kestrel::CMailAddress& a : list) printed += (printed.empty() ? "" : ",") + a.PrintedForm();
  std::vector<std::string> unreadable;
  Check(kestrel::ParseAddressList(printed, &unreadable) == list && unreadable.empty(),
        "the printed form reads back as another list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CQuietLog log;

  kestrel::CSMTPMessage message(log);
  message.SetSender(kestrel::CMailAddress("Kestrel", "fax@kestrel.test"));
  message.AddRecipients(text);
  message.AddTextBody("body");
  const std::vector<kestrel::CMailAddress>& kept = message.Recipients(kestrel::CSMTPMessage::kTo);
  CheckEntries(kept);
  const std::string composed = Folder() + "composed.eml";
  Check(message.SaveToDisk(composed), "queue file not saved");

  std::vector<std::string> unreadable;
  std::vector<kestrel::CMailAddress> readBack =
      kestrel::ParseAddressList(message.GetRecipientsFromFile(composed), &unreadable);
  Check(unreadable.empty(), "the queue file holds an entry the reader cannot read");
  Check(readBack.size() == kept.size(), "the queue file gives back another number of recipients");
  for (size_t i = 0; i < kept.size(); ++i) {
    Check(readBack[i].Address() == kept[i].Address(), "the queue file gives back another address");
    if (IsPrintableAscii(kept[i].Name())) Check(readBack[i].Name() == kept[i].Name(), "another display name");
  }

  // The same bytes as a queue file written by someone else.
  const std::string raw = Folder() + "raw.eml";
  if (std::FILE* f = std::fopen(raw.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    const std::vector<kestrel::CMailAddress> found = kestrel::ParseAddressList(message.GetRecipientsFromFile(raw));
    CheckEntries(found);
    // The file rewritten for the recipients still owed names just them.
    const std::vector<kestrel::CMailAddress> owed(found.begin(), found.begin() + static_cast<long>(found.size() / 2));
    const std::string rewritten = kestrel::WithToHeader(text, owed);
    if (std::FILE* g = std::fopen(raw.c_str(), "wb")) {
      std::fwrite(rewritten.data(), 1, rewritten.size(), g);
      std::fclose(g);
      Check(SameAddresses(kestrel::ParseAddressList(message.GetRecipientsFromFile(raw)), owed),
            "a rewritten To header reads back as other recipients");
    }
  }
  return 0;
}

#include "mail/smtp_transfer.h"

#include <algorithm>
#include <cstdio>
#include <sys/types.h>
#include <vector>

#include "mail/mail_address.h"
#include "mail/mail_error.h"
#include "mail/mail_part.h"
#include "mail/smtp_conversation.h"
#include "mail/smtp_message.h"

namespace kestrel {
namespace {

constexpr std::string_view kMessage = "message";
constexpr std::string_view kBodyPart = "body part";

constexpr std::string_view kRcptStep = "RCPT TO";
constexpr std::string_view kRcptRefused = "An unexpected RCPT response was received";

// MAIL FROM, RCPT TO for each recipient, DATA: shared by both forms. A
// recipient refused with a 4xx or 5xx reply is noted and the next one asked;
// a reply that never came, or any other, ends the transaction.
Status StartTransaction(ISmtpConversation& c, const CMailAddress& sender, const std::vector<CMailAddress>& recipients,
                        std::vector<RefusedRecipient>& refused) {
  refused.clear();
  if (Status s = c.Command({"MAIL FROM", "MAIL FROM:<" + sender.Address() + ">", 250,
                            "Failed in call to send MAIL command", "An unexpected MAIL response was received", true});
      !s)
    return s;
  for (const CMailAddress& recipient : recipients) {
    // No refused text here: the refused recipients are told together below.
    Status s = c.Command(
        {kRcptStep, "RCPT TO:<" + recipient.Address() + ">", 250, "Failed in call to send RCPT command", "", true});
    const int code = s ? 250 : s.Error().code;
    if (code >= 200 && code < 300) continue;  // 251 and 252 take the mail too
    if (code < 400 || code > 599) {
      // No reply, or one that answers no RCPT: the server is out of step.
      c.Report({std::string(kRcptStep), std::string(kRcptRefused)});
      return s;
    }
    refused.push_back({recipient, code, c.Reply().Text()});
  }
  if (!refused.empty()) {
    std::string named;
    for (const RefusedRecipient& r : refused)
      named += (named.empty() ? "" : "; ") + r.address.Address() + " (" + r.reply + ")";
    c.Report({std::string(kRcptStep), OneLine("Recipients refused by the server: " + named)});
  }
  if (!recipients.empty() && refused.size() == recipients.size()) {
    // Nobody to send it to. Refused for now when any refusal was for now,
    // so that the queue keeps it.
    const auto forNow =
        std::find_if(refused.begin(), refused.end(), [](const RefusedRecipient& r) { return r.ForNow(); });
    const RefusedRecipient& telling = forNow != refused.end() ? *forNow : refused.back();
    c.Report({std::string(kRcptStep), std::string(kRcptRefused)});
    return Failure{std::string(kRcptStep), std::string(kRcptRefused) + " (" + telling.reply + ")", telling.code};
  }
  return c.Command(
      {"DATA", "DATA", 354, "Failed in call to send MAIL command", "An unexpected DATA response was received", true});
}

Status FinishData(ISmtpConversation& c) {
  if (Status s = c.SendData("\r\n.\r\n", "end of data", "Failed in call to send end of message indicator"); !s)
    return s;
  return c.Command({.step = "end of data",
                    .refused = "An unexpected end of message response was received",
                    .sendLine = false,
                    .endOfData = true});
}

// A failure of our own in the middle of the data: told, and the connection
// dropped so that the server discards the half-sent message.
Status DropTransaction(ISmtpConversation& c, std::string_view step, std::string text) {
  const Failure failure = c.Report({std::string(step), std::move(text)});
  c.Abort();
  return failure;
}

Status SendBodyPart(ISmtpConversation& c, const CMailPart& part, bool isRoot) {
  constexpr std::string_view kReason = ", GetLastError returns: ";
  if (!isRoot) {
    const Result<std::string> header = part.GetHeader();
    if (!header)
      return DropTransaction(c, kBodyPart,
                             "Failed in call to send body parts header" + std::string(kReason) + header.Error().text);
    if (Status s = c.SendData(*header, kBodyPart, "Failed in call to send body parts header"); !s) return s;
  }
  const Result<std::string> body = part.GetBody();
  if (!body)
    return DropTransaction(c, kBodyPart,
                           "Failed in call to send body parts body" + std::string(kReason) + body.Error().text);
  if (Status s = c.SendData(*body, kBodyPart, "Failed in call to send body parts body"); !s) return s;
  for (size_t i = 0; i < part.ChildCount(); ++i)
    if (Status s = SendBodyPart(c, part.Child(i), false); !s) return s;
  return c.SendData(part.GetFooter(), kBodyPart, "Failed in call to send body parts footer");
}

// A queue file open for reading, closed once; a failing close is told once.
class CQueueFile {
 public:
  CQueueFile(ISmtpConversation& c, const std::string& path)
      : c_(c), path_(path), file_(std::fopen(path.c_str(), "rb")) {}
  ~CQueueFile() { Close(); }
  CQueueFile(const CQueueFile&) = delete;
  CQueueFile& operator=(const CQueueFile&) = delete;

  std::FILE* Get() const { return file_; }
  void Close() {
    if (!file_) return;
    if (std::fclose(file_) != 0)
      c_.Report({std::string(kMessage), OneLine("A file exception occured while closing the file when sending the "
                                                "message from the file " +
                                                path_)});
    file_ = nullptr;
  }

 private:
  ISmtpConversation& c_;
  const std::string& path_;
  std::FILE* file_;
};

}  // namespace

bool RefusedForGood(const Failure& failure) {
  if (failure.code < 500 || failure.code > 599) return false;
  for (std::string_view step :
       {std::string_view("MAIL FROM"), kRcptStep, std::string_view("DATA"), std::string_view("end of data")})
    if (failure.step == step) return true;
  return false;
}

std::vector<CMailAddress> OwedRecipients(const std::vector<CMailAddress>& asked, bool taken,
                                         const std::vector<RefusedRecipient>& refused) {
  std::vector<CMailAddress> owed;
  for (const CMailAddress& a : asked) {
    const auto r = std::find_if(refused.begin(), refused.end(),
                                [&](const RefusedRecipient& x) { return x.address.Address() == a.Address(); });
    if (taken ? r != refused.end() && r->ForNow() : r == refused.end() || r->ForNow()) owed.push_back(a);
  }
  return owed;
}

Status TransferMessage(ISmtpConversation& c, const CSMTPMessage& message, std::vector<RefusedRecipient>& refused) {
  std::vector<CMailAddress> recipients;
  for (auto kind : {CSMTPMessage::kTo, CSMTPMessage::kCc, CSMTPMessage::kBcc})
    for (const CMailAddress& recipient : message.Recipients(kind)) recipients.push_back(recipient);
  if (Status s = StartTransaction(c, message.Sender(), recipients, refused); !s) return s;

  if (Status s = c.SendData(message.GetHeader(), kMessage, "Failed in call to send the header"); !s) return s;
  if (Status s = c.SendData("\r\n", kMessage, "Failed in call to send the header / body separator"); !s) return s;
  if (message.UsesPartTree()) {
    if (Status s = SendBodyPart(c, message.RootPart(), true); !s) return s;
  } else if (Status s = c.SendData(message.SinglePartBody(), kMessage, "Failed in call to send the header"); !s) {
    return s;
  }
  return FinishData(c);
}

Status TransferQueueFile(ISmtpConversation& c, IEventLog& log, const std::string& path, const CMailAddress& sender,
                         size_t blockSize, std::vector<RefusedRecipient>& refused) {
  refused.clear();
  std::vector<std::string> unreadable;
  std::vector<CMailAddress> recipients = ParseAddressList(CSMTPMessage(log).GetRecipientsFromFile(path), &unreadable);
  for (const std::string& entry : unreadable)
    c.Report({std::string(kMessage), OneLine("Dropped an address that cannot be read: " + entry)});

  CQueueFile file(c, path);
  if (!file.Get()) return c.Report({std::string(kMessage), OneLine("Could not open the file to send " + path)});

  uint64_t length = 0;
  off_t end = -1;
  if (fseeko(file.Get(), 0, SEEK_END) == 0) end = ftello(file.Get());
  if (end < 0 || fseeko(file.Get(), 0, SEEK_SET) != 0)
    c.Report({std::string(kMessage), OneLine("Failed to get the length of the file, " + path)});
  else
    length = uint64_t(end);
  if (length == 0) return Status::Failed(std::string(kMessage), OneLine("Nothing to send in the file " + path));

  if (Status s = StartTransaction(c, sender, recipients, refused); !s) return s;

  if (blockSize == 0) blockSize = 4096;
  std::vector<char> block(blockSize);
  uint64_t total = 0;
  for (;;) {
    size_t got = std::fread(block.data(), 1, blockSize, file.Get());
    if (got < blockSize && std::ferror(file.Get())) {
      return DropTransaction(c, kMessage, OneLine("An error occurred reading from the file to send " + path));
    }
    if (got > 0) {
      total += got;
      if (!c.Progress(total, length)) {
        file.Close();
        c.Abort();
        return Status::Failed(std::string(kMessage), "The transfer was stopped");
      }
      if (Status s = c.SendData(std::string_view(block.data(), got), kMessage, "Failed in call to send the message");
          !s)
        return s;
    }
    if (got < blockSize) break;
  }
  file.Close();
  return FinishData(c);
}

}  // namespace kestrel

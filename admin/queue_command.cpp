// kestrel-admin queue: the mails waiting in MailQueue/ (listed, dropped one
// by one) and those the server refused for good (listed apart, returned to
// the queue one by one), and "try now": SIGUSR1 makes the monitor of the
// service holding the folder end its pause and send at once.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/json_text.h"
#include "admin/queue_file_summary.h"
#include "forward/mail_queue.h"
#include "platform/atomic_file.h"

namespace kestrel {
namespace {

std::string AgeText(std::int64_t seconds) {
  if (seconds < 120) return std::to_string(seconds) + "s";
  if (seconds < 2 * 3600) return std::to_string(seconds / 60) + "m";
  if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + "h";
  return std::to_string(seconds / 86400) + "d";
}

// The summaries of the mail files in `folder`.
std::vector<QueueFileSummary> Summaries(const std::string& folder, std::time_t now, CAdminContext& context) {
  std::vector<QueueFileSummary> files;
  for (const std::string& name : MailQueueFileNames(folder)) {
    QueueFileSummary summary;
    if (SummariseQueueFile(folder, name, now, context.Log(), summary)) files.push_back(summary);
  }
  return files;
}

void SayTable(const std::vector<QueueFileSummary>& files, CAdminContext& context) {
  context.Say("File\tAge\tSize\tRecipients\tSubject");
  for (const QueueFileSummary& f : files)
    context.Say(f.name + "\t" + AgeText(f.ageSeconds) + "\t" + std::to_string(f.size) + "\t" + f.recipients + "\t" +
                f.subject);
}

int List(CAdminContext& context) {
  // A queue the caller cannot look into is not an empty one.
  for (const std::string& folder : {MailQueueFolder(context.Folder()), UndeliverableFolder(context.Folder())}) {
    if (CAdminContext::Readable(folder) == EACCES) return context.PermissionDenied(folder);
    for (const std::string& name : MailQueueFileNames(folder))
      if (CAdminContext::Readable(folder + "/" + name) == EACCES) return context.PermissionDenied(folder + "/" + name);
  }
  const std::time_t now = std::time(nullptr);
  const std::vector<QueueFileSummary> waiting = Summaries(MailQueueFolder(context.Folder()), now, context);
  const std::vector<QueueFileSummary> undeliverable = Summaries(UndeliverableFolder(context.Folder()), now, context);
  if (context.Json()) {
    CJsonArray array;
    for (const auto* files : {&waiting, &undeliverable})
      for (const QueueFileSummary& f : *files)
        array.Raw(CJsonObject()
                      .Text("file", f.name)
                      .Bool("undeliverable", files == &undeliverable)
                      .Number("ageSeconds", f.ageSeconds)
                      .Number("size", f.size)
                      .Text("recipients", f.recipients)
                      .Text("subject", f.subject)
                      .Close());
    context.Say(array.Close());
    return kAdminOk;
  }
  SayTable(waiting, context);
  if (!undeliverable.empty()) {
    context.Say("");
    context.Say("Undeliverable, refused by the mail server (queue retry NAME sends one again):");
    SayTable(undeliverable, context);
  }
  return kAdminOk;
}

// SIGUSR1 to the service. Without one the queue waits for its start: a
// refusal when nothing else was done (`refuseWithoutService`).
int TellService(CAdminContext& context, bool refuseWithoutService) {
  std::string failure;
  const pid_t service = context.SignalService(SIGUSR1, &failure);
  if (service < 0)
    return context.Refuse("The service (process " + std::to_string(-service) + ") cannot be told: " + failure + ".");
  const std::string noService = "No service runs for " + context.Folder() + "; it sends the queue when it starts.";
  if (service == 0 && refuseWithoutService) return context.Refuse(noService);
  context.Say(service == 0 ? noService : "The service (process " + std::to_string(service) + ") sends the queue now.");
  return kAdminOk;
}

// An undeliverable mail back into the queue, and the service told to send it.
int RetryUndeliverable(const std::string& name, CAdminContext& context) {
  if (Status back = ReturnUndeliverable(context.Folder(), name); !back) return context.Refuse(back.Error().text);
  context.Say("Returned " + name + " to the mail queue.");
  return TellService(context, false);
}

int Delete(const AdminArgs& args, CAdminContext& context) {
  if (args.size() != 2) return context.Usage("queue delete NAME");
  const std::string folder = MailQueueFolder(context.Folder());
  // Only a name the queue lists: no path, nothing outside the folder.
  bool listed = false;
  for (const std::string& name : MailQueueFileNames(folder)) listed = listed || name == args[1];
  if (!listed) return context.Refuse("The mail queue has no file " + args[1] + ".");
  const std::string path = folder + "/" + args[1];
  if (::unlink(path.c_str()) != 0) return context.Refuse(path + " cannot be deleted.");
  SyncFolderOf(path);
  context.Say("Deleted " + args[1] + " from the mail queue.");
  return kAdminOk;
}

}  // namespace

int RunQueueCommand(const AdminArgs& args, CAdminContext& context) {
  if (args.size() == 1 && args[0] == "list") return List(context);
  if (args.size() == 1 && args[0] == "retry") return TellService(context, true);
  if (args.size() == 2 && args[0] == "retry") return RetryUndeliverable(args[1], context);
  if (!args.empty() && args[0] == "delete") return Delete(args, context);
  return context.Usage("queue list | queue retry [NAME] | queue delete NAME");
}

}  // namespace kestrel

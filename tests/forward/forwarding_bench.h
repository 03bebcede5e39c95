// The forwarding step with what it works with, for the tests that send faxes
// through it to a real server: an SQLite journal, the recipient resolver, the
// fax inbox of an application folder, and one-page faxes recorded there as
// reception would.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "forward/fax_inbox.h"
#include "forward/forwarding_pipeline.h"
#include "forward/recipient_resolution.h"
#include "tests/convert/page_render.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {

struct CForwardingBench {
  explicit CForwardingBench(const CTempDir& app) : folder(app.Path()), log(folder), inbox(folder, log) {
    ::mkdir((folder + "received").c_str(), 0700);
  }

  // A one-page fax from `callerNumber` for `recipients`, in received/ and the inbox.
  std::optional<FaxEntry> Record(const std::string& callerNumber, const std::string& recipients) {
    std::vector<tools::SffMakePage> pages(1);
    pages[0].image = RenderLetterPage(1728, 1100, 3);
    FaxCallRecord call;
    call.captureFilePath = folder + "received/" + callerNumber + "_fax.sff";
    WriteFileBytes(call.captureFilePath, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
    call.callerNumber = callerNumber;
    call.pages = 1;
    call.startTime = call.endTime = std::time(nullptr);
    call.recipients = recipients;
    return inbox.Record(call);
  }

  std::string folder;
  CTestDatabase db{Engine::kSQLite};
  CEventLog log;
  COdbcConnection lookups{db.ConnectString()};
  CRecipientResolver resolver{1, "fax@kestrel.test", lookups, log};
  CForwardingPipeline pipeline{log, resolver, db.ConnectString()};
  CFaxInbox inbox;
};

}  // namespace kestrel::test

// Two faxes on the two B-channels at once, through the whole service: each is
// mailed to the recipients of its own MSN with its own pages, and journalled
// in a row of its own, whether the callers differ or are the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "store/forwarding_table.h"
#include "store/odbc_connection.h"
#include "tests/service/service_fixture.h"

namespace kestrel::test {
namespace {

struct Callers {
  const char* name;
  const char* first;
  const char* second;
};

class TwoFaxesAtOnceMailed : public ServiceTest, public ::testing::WithParamInterface<Callers> {};

TEST_P(TwoFaxesAtOnceMailed, EachWithItsOwnPagesRecipientsAndJournalRow) {
  const Callers callers = GetParam();
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.All = 0;
  settings.EmailAll = "";
  StartService(settings);
  {
    COdbcConnection admin;
    AddForwardingRow(admin, ForwardingTable::kMsn, {"100", "first@kestrel.test"});
    AddForwardingRow(admin, ForwardingTable::kMsn, {"200", "second@kestrel.test"});
  }
  const std::string faxA = MakeFax(3, "a.sff");
  const std::string faxB = MakeFax(2, "b.sff");
  Call("a", callers.first, faxA, 3, "100");
  Call("b", callers.second, faxB, 2, "200");
  ASSERT_TRUE(WaitForMessages(2));
  const auto events = Events();
  EXPECT_NE(std::find(events.begin(), events.end(), LoggedForm("call assigned to slot 1 ")), events.end());

  struct Expected {
    std::string caller;
    int pages;
  };
  const std::map<std::string, Expected> byRecipient = {{"first@kestrel.test", {callers.first, 3}},
                                                       {"second@kestrel.test", {callers.second, 2}}};
  std::map<std::string, int> mailed;
  for (int n = 1; n <= 2; ++n) {
    const std::vector<std::string> to = mail_->Recipients(n);
    ASSERT_EQ(to.size(), 1u);
    SCOPED_TRACE(to[0]);
    ASSERT_EQ(byRecipient.count(to[0]), 1u);
    const Expected& want = byRecipient.at(to[0]);
    ParsedMail mail = Parsed(n);
    EXPECT_EQ(mail.headers["Subject"], "Fax from " + want.caller);
    EXPECT_EQ(mail.partBytes.size(), static_cast<std::size_t>(want.pages) + 1) << mail.summary;
    EXPECT_NE(mail.partBytes[0].find("Number of Pages: " + std::to_string(want.pages)), std::string::npos);
    ++mailed[to[0]];
  }
  EXPECT_EQ(mailed, (std::map<std::string, int>{{"first@kestrel.test", 1}, {"second@kestrel.test", 1}}));

  ASSERT_TRUE(Eventually([&] { return Journal().size() == 2; }));
  std::map<int, std::string> journalled;
  for (const JournalEntry& row : Journal()) {
    journalled[row.numberOfPages] = row.senderNr;
    EXPECT_EQ(row.status, "");
  }
  EXPECT_EQ(journalled, (std::map<int, std::string>{{3, callers.first}, {2, callers.second}}));
  EXPECT_EQ(FilesEndingIn(ReceivedDir(), ".sff").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Callers, TwoFaxesAtOnceMailed,
                         ::testing::Values(Callers{"DifferentCallers", "0301111111", "0302222222"},
                                           Callers{"SameCaller", "0301111111", "0301111111"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::test

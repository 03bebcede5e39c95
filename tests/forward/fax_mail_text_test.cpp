// The texts of a fax mail: subject template, body wording, time texts.
#include "forward/fax_mail_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace kestrel {
namespace {

std::time_t Local(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(SubjectTemplate, FirstPlaceholderInAnyCaseIsReplaced) {
  EXPECT_EQ(ExpandSubjectTemplate("Fax von %tsid% (%TSID%)", "0301234"), "Fax von 0301234 (%TSID%)");
  EXPECT_EQ(ExpandSubjectTemplate("Fax %TsId%", ""), "Fax Unbekannt");
  EXPECT_EQ(ExpandSubjectTemplate("No placeholder", "1"), "No placeholder");
  EXPECT_EQ(ExpandSubjectTemplate("%TSID%", "+49"), "+49");
  EXPECT_EQ(ExpandSubjectTemplate("", "1"), "");
}

TEST(FaxMailBody, WordingAndValuesAreExact) {
  FaxCallRecord call;
  call.startTime = Local(2026, 12, 7, 9, 4, 1);
  call.endTime = Local(2026, 12, 7, 9, 5, 3);
  call.pages = 3;
  call.rate = 14400;
  call.callerNumber = "0301234567";
  call.remoteStationId = "49301234567";
  EXPECT_EQ(FaxMailBodyText("faxhost", call),
            "Received By Kestrel v1.3.33 on faxhost.\n"
            "Date of Receiving :07.12.2026\n"
            "Time of Receiving: 09:05:03\n\n"
            "Connection Time: 00:01:02\n"
            "Number of Pages: 3\n"
            "Connection Speed: 14400\n\n"
            "Incomming Fax Number: 0301234567\n"
            "Incomming Fax ID: 49301234567\n\n");
}

TEST(FaxMailBody, LongCallsWrapAtADayAndClockSkewGivesZero) {
  FaxCallRecord call;
  call.startTime = Local(2026, 1, 1, 0, 0, 0);
  call.endTime = call.startTime + 25 * 3600 + 61;
  EXPECT_NE(FaxMailBodyText("h", call).find("Connection Time: 01:01:01\n"), std::string::npos);
  call.endTime = call.startTime - 5;
  EXPECT_NE(FaxMailBodyText("h", call).find("Connection Time: 00:00:00\n"), std::string::npos);
}

TEST(FaxMailBody, ComputerNameIsTheHostName) {
  std::string name = ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_LT(name.size(), 100u);
}

}  // namespace
}  // namespace kestrel

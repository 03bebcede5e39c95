// The connection table: allocation, lookups, and the numbers read from the
// CONNECT_IND structs; and the bounds checks on untrusted message structs.
#include <gtest/gtest.h>

#include "capi/capi_message.h"
#include "capi/connection_table.h"

namespace kestrel {
namespace {

TEST(ConnectionTableTest, AllocationTakesTheLowestFreeIndexUntilAllEightAreUsed) {
  CConnectionTable table;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(table.Allocate(), i);
  EXPECT_EQ(table.Allocate(), -1);
  table.Free(3);
  EXPECT_EQ(table.InUseCount(), 7);
  EXPECT_EQ(table.Allocate(), 3);
  table.Clear();
  EXPECT_EQ(table.InUseCount(), 0);
}

TEST(ConnectionTableTest, NewEntryHasTheAllocationValues) {
  CConnectionTable table;
  int id = table.Allocate();
  table[id].plci = 0x101;
  table[id].state = Connected;
  table[id].calledPartyNumber = "x";
  table.Free(id);
  id = table.Allocate();
  EXPECT_EQ(table[id].plci, kNoId);
  EXPECT_EQ(table[id].ncci, kNoId);
  EXPECT_EQ(table[id].controller, -1);
  EXPECT_EQ(table[id].state, Disconnected);
  EXPECT_EQ(table[id].initiator, 0);
  EXPECT_EQ(table[id].calledPartyNumber, "");
}

TEST(ConnectionTableTest, LookupsFindTheFirstEntryInUse) {
  CConnectionTable table;
  int a = table.Allocate(), b = table.Allocate();
  table[a].plci = 0x101;
  table[b].plci = 0x201;
  table[b].ncci = 0x10201;
  EXPECT_EQ(table.FindByPlci(0x201), b);
  EXPECT_EQ(table.FindByNcci(0x10201), b);
  EXPECT_EQ(table.FindByNcci(kNoId), -1);  // entry a has no NCCI yet; that is no address
  table.Free(b);
  EXPECT_EQ(table.FindByPlci(0x201), -1);
  EXPECT_EQ(table.FindByPlci(0x999), -1);
}

TEST(ConnectionTableTest, NumbersSkipTheirTypeAndPresentationBytes) {
  CapiConnection c;
  c.calledPartyNumber =
      "\x81"
      "5551234";
  c.callingPartyNumber =
      "\x21\x83"
      "0301234567";
  EXPECT_EQ(c.CalledNumber(), "5551234");
  EXPECT_EQ(c.CallerNumber(), "0301234567");
  c.calledPartyNumber = "\x81";
  c.callingPartyNumber = "\x21\x83";
  EXPECT_EQ(c.CalledNumber(), "");
  EXPECT_EQ(c.CallerNumber(), "");
  c.calledPartyNumber =
      "\x81"
      "5";
  EXPECT_EQ(c.CalledNumber(), "5");
}

TEST(ConnectionTableTest, NumbersEndAtAZeroAndDropControlAndEightBitBytes) {
  CapiConnection c;
  c.callingPartyNumber = std::string(
      "\x21\x83"
      "03\n01\x7f\xe4"
      "2\0"
      "99",
      11);
  EXPECT_EQ(c.CallerNumber(), "03012");
}

TEST(ConnectionStateTest, NamesAreTheLoggedTexts) {
  EXPECT_STREQ(ConnectionStateName(Disconnected), "Disconnected");
  EXPECT_STREQ(ConnectionStateName(B_DisconnectPending), "B_DisconnectPending");
  EXPECT_STREQ(ConnectionStateName(D_DisconnectPending), "D_DisconnectPending");
  EXPECT_STREQ(ConnectionStateName(-1), "");
}

TEST(CapiStructTest, StructsAreReadOnlyInsideTheMessage) {
  // 8 header bytes, then a struct of 3 bytes, a long-form struct of 2, and a
  // struct that claims more than is left.
  const std::uint8_t msg[] = {0, 0, 0, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c', 0xff, 2, 0, 'd', 'e', 9, 'x'};
  std::string content;
  EXPECT_TRUE(ReadCapiStruct(msg, sizeof msg, msg + 8, content));
  EXPECT_EQ(content, "abc");
  EXPECT_TRUE(ReadCapiStruct(msg, sizeof msg, msg + 12, content));
  EXPECT_EQ(content, "de");
  EXPECT_FALSE(ReadCapiStruct(msg, sizeof msg, msg + 17, content));
  EXPECT_EQ(content, "");
  EXPECT_FALSE(ReadCapiStruct(msg, 14, msg + 12, content));  // long-form length cut off
  EXPECT_TRUE(ReadCapiStruct(msg, sizeof msg, nullptr, content));
  EXPECT_FALSE(ReadCapiStruct(msg, sizeof msg, msg + 2, content));  // inside the header
}

TEST(CapiStructTest, OnlyKnownConfirmationsAndIndicationsAreDecomposed) {
  EXPECT_TRUE(CanDecompose(0x02, 0x82));   // CONNECT_IND
  EXPECT_TRUE(CanDecompose(0x86, 0x81));   // DATA_B3_CONF
  EXPECT_FALSE(CanDecompose(0x7e, 0x82));  // no such command
  EXPECT_FALSE(CanDecompose(0x02, 0x83));  // a response never arrives
  EXPECT_FALSE(CanDecompose(0xff, 0x82));  // MANUFACTURER_IND: no fixed layout
}

}  // namespace
}  // namespace kestrel

// The mail encoders on their own: base64, quoted-printable, encoded words, the
// dot rule, recipient lists and the HMAC-MD5 of CRAM-MD5.
#include <gtest/gtest.h>

#include <sstream>

#include "mail/base64_codec.h"
#include "mail/mail_address.h"
#include "mail/mail_error.h"
#include "mail/mime_encoding.h"
#include "mail/smtp_authentication.h"

namespace kestrel {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    out.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

TEST(Base64Codec, EncodesTheStandardVectors) {
  EXPECT_EQ(CBase64Codec::Encode(""), "");
  EXPECT_EQ(CBase64Codec::Encode("f"), "Zg==");
  EXPECT_EQ(CBase64Codec::Encode("fo"), "Zm8=");
  EXPECT_EQ(CBase64Codec::Encode("foo"), "Zm9v");
  EXPECT_EQ(CBase64Codec::Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(CBase64Codec::Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64Codec, DecoderSkipsWhiteSpaceAndTakesPaddingAsZeroBits) {
  EXPECT_EQ(CBase64Codec::Decode("Zm9v\r\n Ym\tFy"), "foobar");
  EXPECT_EQ(CBase64Codec::Decode("Zg=="), std::string("f\0\0", 3));
  EXPECT_EQ(CBase64Codec::DecodeText("VXNlcm5hbWU6"), "Username:");
  // aiosmtpd's own prompt decodes to a text with a zero byte after it.
  EXPECT_EQ(CBase64Codec::DecodeText(CBase64Codec::Encode(std::string("User Name\0", 10))), "User Name");
  // Bytes outside the alphabet and a cut-off group never read past the input.
  EXPECT_EQ(CBase64Codec::DecodeText("Zm9v!*Ym"), "foob");
}

TEST(QuotedPrintable, EscapesEverythingOutsideThePrintableRange) {
  EXPECT_EQ(QuotedPrintableEncode("a=b\tc d\r\n\x7f\xfc"), "a=3Db\tc d\r\n=7F=FC");
}

TEST(QuotedPrintable, LongLineIsSplitIntoLinesOf75PlusSoftBreak) {
  std::string line(200, 'x');
  std::vector<std::string> lines = Lines(QuotedPrintableEncode(line + "\r\nend"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string(75, 'x') + "=");
  EXPECT_EQ(lines[1], std::string(75, 'x') + "=");
  EXPECT_EQ(lines[2], std::string(50, 'x'));
  EXPECT_EQ(lines[3], "end");
}

TEST(QuotedPrintable, SoftBreakFollowsBlankOrWholeEscapeAndNeverSplitsOne) {
  std::vector<std::string> atBlank = Lines(QuotedPrintableEncode(std::string(60, 'a') + " " + std::string(40, 'b')));
  ASSERT_EQ(atBlank.size(), 2u);
  EXPECT_EQ(atBlank[0], std::string(60, 'a') + " =");

  // An escape group that would straddle the 75th character moves whole to the
  // next line.
  for (size_t lead = 70; lead <= 76; ++lead) {
    std::string text = QuotedPrintableEncode(std::string(lead, 'a') + "\xfc\xfc" + std::string(80, 'c'));
    std::string joined;
    for (const std::string& l : Lines(text)) {
      EXPECT_LE(l.size(), 76u) << l;
      joined += l.back() == '=' ? l.substr(0, l.size() - 1) : l;
    }
    EXPECT_EQ(joined, std::string(lead, 'a') + "=FC=FC" + std::string(80, 'c')) << lead;
  }
}

TEST(DotRule, EveryLineStartingWithADotGetsAnotherOne) {
  EXPECT_EQ(DoubleLeadingDots(".first\r\nmid.dle\r\n.\r\n..x"), "..first\r\nmid.dle\r\n..\r\n...x");
}

TEST(HeaderWord, NonAsciiValueBecomesOneQEncodedWord) {
  EXPECT_EQ(EncodeHeaderWord("Fax plain", "iso-8859-1"), "Fax plain");
  EXPECT_EQ(EncodeHeaderWord("Fax f\xc3\xbcr Anna_B=?", "iso-8859-1"), "=?iso-8859-1?q?Fax_f=FCr_Anna=5FB=3D=3F?=");
  // ISO-8859-1 cannot hold the euro sign: the word is declared and written as UTF-8.
  EXPECT_EQ(EncodeHeaderWord("5 \xe2\x82\xac", "iso-8859-1"), "=?utf-8?q?5_=E2=82=AC?=");
  // In a display name nothing of the word may split an address list.
  EXPECT_EQ(EncodeHeaderWord("M\xc3\xbcller, Hans", "iso-8859-1", true), "=?iso-8859-1?q?M=FCller=2C_Hans?=");
}

TEST(AddressList, SplitsAtCommaAndSemicolonAndDropsEmptyPieces) {
  std::vector<CMailAddress> list = ParseAddressList(" a@x.de;; Bea Brandt <b@y.de> ;");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], CMailAddress("", "a@x.de"));
  EXPECT_EQ(list[1], CMailAddress("Bea Brandt", "b@y.de"));
  EXPECT_EQ(list[1].PrintedForm(), "Bea Brandt <b@y.de>");
  EXPECT_EQ(list[0].PrintedForm(), "a@x.de");
  EXPECT_TRUE(ParseAddressList("Name <>, ,").empty());
}

// One entry that cannot be read costs only itself: the others stay, and the
// entry is named for the caller's event text.
TEST(AddressList, UnreadableEntryIsDroppedAloneAndNamed) {
  struct Case {
    const char* text;
    const char* unreadable;
  };
  const Case cases[] = {
      {"a@x.de;Bea <b@y.de", "Bea <b@y.de"},                // no ">"
      {"a@x.de, x> y <b@y.de>", "x> y <b@y.de>"},           // ">" before "<"
      {"a@x.de, <x<y@example.org>", "<x<y@example.org>"},   // "<" inside the address
      {"a@x.de; Bea Brandt b@y.de ", "Bea Brandt b@y.de"},  // blanks inside the address
      {"a>b@y.de;a@x.de", "a>b@y.de"},                      // ">" inside a bare address
  };
  for (const Case& k : cases) {
    std::vector<std::string> unreadable;
    EXPECT_EQ(ParseAddressList(k.text, &unreadable), std::vector<CMailAddress>{CMailAddress("", "a@x.de")}) << k.text;
    EXPECT_EQ(unreadable, std::vector<std::string>{k.unreadable}) << k.text;
  }
}

TEST(AddressList, EntryWithLineBreakIsDropped) {
  std::vector<CMailAddress> list =
      ParseAddressList("good@x.de;evil@x.de\r\nRCPT TO:<spy@y.de>;Bad\nName <c@z.de>;ok <d@z.de>\n");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Address(), "good@x.de");
  EXPECT_EQ(list[1].Address(), "d@z.de");
}

// The list syntax of RFC 5322: quotes and comments protect their commas,
// a group's name goes, and ";" still separates.
TEST(AddressList, QuotedNamesCommentsAndGroupsAreReadAsOneAddressEach) {
  struct Case {
    const char* text;
    std::vector<CMailAddress> expected;
  };
  const Case cases[] = {
      {"\"Doe, John\" <john@example.org>, b@y.de",
       {CMailAddress("Doe, John", "john@example.org"), CMailAddress("", "b@y.de")}},
      {"\"Say \\\"Hi\\\"; now\" <a@x.de>", {CMailAddress("Say \"Hi\"; now", "a@x.de")}},
      {"john@example.org (Doe, John); Anna (office, 2nd floor) <anna@x.de>",
       {CMailAddress("", "john@example.org"), CMailAddress("Anna", "anna@x.de")}},
      {"Team: a@x.de, Bea <b@y.de>; c@z.de", {{"", "a@x.de"}, {"Bea", "b@y.de"}, {"", "c@z.de"}}},
      {"Undisclosed recipients:;", {}},
  };
  for (const Case& k : cases) {
    std::vector<std::string> unreadable;
    const std::vector<CMailAddress> list = ParseAddressList(k.text, &unreadable);
    EXPECT_EQ(list, k.expected) << k.text;
    EXPECT_TRUE(unreadable.empty()) << k.text;
    // What was read prints back into a list that reads as the same.
    std::string printed;
    for (const CMailAddress& a : list) printed += (printed.empty() ? "" : ",") + a.PrintedForm();
    EXPECT_EQ(ParseAddressList(printed), list) << printed;
  }
  EXPECT_EQ(CMailAddress("Doe, John", "john@example.org").PrintedForm(), "\"Doe, John\" <john@example.org>");
  // A quote never closed costs its own entry only.
  std::vector<std::string> unreadable;
  EXPECT_EQ(ParseAddressList("\"Doe <d@x.de>, b@y.de", &unreadable), (std::vector<CMailAddress>{{"", "b@y.de"}}));
  EXPECT_EQ(unreadable, std::vector<std::string>{"\"Doe <d@x.de>"});
}

TEST(CramMd5, DigestMatchesThePublishedExamples) {
  // The CRAM-MD5 example exchange.
  EXPECT_EQ(HmacMd5Hex("tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
            "b913a602c7eda7a495b4e6e7334d3890");
  // HMAC-MD5 with a key longer than a block: the key is hashed first.
  EXPECT_EQ(HmacMd5Hex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
            "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

}  // namespace
}  // namespace kestrel

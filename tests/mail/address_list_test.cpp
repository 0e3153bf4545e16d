#include "mail/address_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ListCase {
  std::string list;
  std::string with_names;
  std::string without_names;
};

class FormatAddressListTest : public testing::TestWithParam<ListCase> {};

TEST_P(FormatAddressListTest, FormatsBothWays) {
  const ListCase& c = GetParam();
  EXPECT_EQ(FormatAddressList(c.list, true), c.with_names);
  EXPECT_EQ(FormatAddressList(c.list, false), c.without_names);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, FormatAddressListTest,
    testing::Values(
        ListCase{"", "", ""}, ListCase{"a@x.org", "<a@x.org>", "<a@x.org>"},
        ListCase{"Jane Doe <jd@x.org>; bob@y.org", "Jane Doe <jd@x.org>,<bob@y.org>",
                 "<jd@x.org>,<bob@y.org>"},
        ListCase{"a@x.org, b@x.org; c@x.org", "<a@x.org>,<b@x.org>,<c@x.org>",
                 "<a@x.org>,<b@x.org>,<c@x.org>"},
        // A semicolon before a comma separates as well (the first separator wins).
        ListCase{"a@x.org; b@x.org, c@x.org", "<a@x.org>,<b@x.org>,<c@x.org>",
                 "<a@x.org>,<b@x.org>,<c@x.org>"},
        ListCase{"<a@x.org>", "<a@x.org>", "<a@x.org>"},
        ListCase{"Jane<jd@x.org>", "Jane <jd@x.org>", "<jd@x.org>"},
        // Empty items between separators add nothing.
        ListCase{"a@x.org,,;  ,b@x.org,", "<a@x.org>,<b@x.org>", "<a@x.org>,<b@x.org>"},
        // A line break is a split point: the address never carries it.
        ListCase{"a@x.org\r\nRCPT TO:<evil@y.org>", "a@x.org  RCPT TO: <evil@y.org>",
                 "<evil@y.org>"},
        ListCase{"Jane\r\nBcc: spy@y.org <jd@x.org>", "Jane  Bcc: spy@y.org <jd@x.org>",
                 "<jd@x.org>"},
        // An item is one address: nothing after ">", no second bracket pair.
        ListCase{"<a@b.test> SIZE=1 BODY=8BITMIME, c@d.test", "<c@d.test>", "<c@d.test>"},
        ListCase{"Jane <j@x.org> <k@y.org>; a@x.org> b", "", ""},
        ListCase{std::string("Ja\0ne\x1b <j@x.org>", 16), "Ja ne <j@x.org>", "<j@x.org>"}));

TEST(ParseAddressListTest, NamesAndAddressesAreSeparated) {
  const auto list = ParseAddressList("  Jane Q Doe  <jd@x.org> , b@y.org ");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "Jane Q Doe");
  EXPECT_EQ(list[0].address, "jd@x.org");
  EXPECT_EQ(list[1].name, "");
  EXPECT_EQ(list[1].address, "b@y.org");
}

TEST(ParseAddressListTest, HeaderFormEncodesNamesBeyondAscii) {
  EXPECT_EQ(FormatAddressListForHeader("Jos\xc3\xa9 <j@x.org>, b@y.org"),
            "=?utf-8?B?Sm9zw6k=?= <j@x.org>,<b@y.org>");
  EXPECT_EQ(FormatAddressListForHeader("Jane <j@x.org>"), "Jane <j@x.org>");
}

}  // namespace

// What the process tests cannot reach cheaply: damaged state files, the cap on the file's lines,
// and the corners of the receipt address check.
#include "gateway/guard_state.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "gateway/guards/submission_limits.h"
#include "mail/address_list.h"

namespace {

constexpr std::int64_t kNow = 1700000000;

std::string At(std::int64_t seconds_ago) {
  return std::to_string(kNow - seconds_ago);
}

struct ParseCase {
  const char* name;
  std::string text;
  std::string kept;  // Text() after Parse
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

class GuardTableParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(GuardTableParseTest, KeepsOnlyWellFormedLinesWithinTheHour) {
  TGuardTable table;
  table.Parse(GetParam().text, kNow);
  EXPECT_EQ(table.Text(), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuardTableParseTest,
    ::testing::Values(
        ParseCase{"Empty", "", ""},
        ParseCase{"LoneLineFeedsAndNoFinalBreak",
                  "submit a " + At(10) + "\nreceipt-to b@c.test " + At(5),
                  "submit a " + At(10) + "\r\nreceipt-to b@c.test " + At(5) + "\r\n"},
        ParseCase{"OldAndFarFutureTimesDropped",
                  "submit a " + At(3600) + " " + At(3599) + " " + At(-3601) + "\r\n",
                  "submit a " + At(3599) + "\r\n"},
        ParseCase{"LineWithoutRecentTimeDropped", "submit a " + At(4000) + "\r\n", ""},
        ParseCase{"UnknownKindBadTimeBadKeyCutLine",
                  "other a " + At(1) + "\r\nsubmit b 12x\r\nsubmit %zz " + At(1) +
                      "\r\nsubmit c\r\nsubmit d " + At(1) + " 1234567890123\r\nsub",
                  ""},
        ParseCase{"RepeatedKeyMerged", "submit a " + At(5) + "\r\nsubmit a " + At(9) + "\r\n",
                  "submit a " + At(9) + " " + At(5) + "\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(GuardTableTest, FullKindSharesOneOverflowCounterAndForgetsNothing) {
  TGuardTable table;
  for (size_t i = 0; i < TGuardTable::kMaxKeysPerKind; ++i) {
    table.Add({TGuardKind::kSubmit, "10.0.0." + std::to_string(i), 2}, kNow - 100);
  }
  table.Add({TGuardKind::kSubmit, "10.9.0.1", 2}, kNow);
  table.Add({TGuardKind::kReceiptTo, "ann@visitor.test", 2}, kNow);  // a kind with room
  TGuardTable again;                                                 // as the next process reads it
  again.Parse(table.Text(), kNow);
  EXPECT_EQ(again.Count({TGuardKind::kSubmit, "10.9.0.2", 2}), 1);
  EXPECT_EQ(again.Count({TGuardKind::kSubmit, "10.0.0.0", 2}), 1);
  EXPECT_EQ(again.Count({TGuardKind::kReceiptTo, "ann@visitor.test", 2}), 1);
  EXPECT_EQ(again.Size(), TGuardTable::kMaxKeysPerKind + 2);
}

struct AddressCase {
  const char* list;
  const char* single;  // SingleMailAddress; empty: refused
};

void PrintTo(const AddressCase& c, std::ostream* os) {
  *os << '"' << c.list << '"';
}

class SingleAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(SingleAddressTest, OnlyOneWellFormedAddressPasses) {
  EXPECT_EQ(SingleMailAddress(GetParam().list), GetParam().single);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SingleAddressTest,
    ::testing::Values(
        AddressCase{"ann.lee+form@mail.visitor-site.test", "ann.lee+form@mail.visitor-site.test"},
        AddressCase{" <ann@localhost> ", "ann@localhost"},
        AddressCase{"ann@visitor.test;", "ann@visitor.test"},
        AddressCase{"ann@visitor.test;bob@other.test", ""}, AddressCase{"ann", ""},
        AddressCase{"@visitor.test", ""}, AddressCase{"ann@", ""},
        AddressCase{".ann@visitor.test", ""}, AddressCase{"ann..lee@visitor.test", ""},
        AddressCase{"ann@visitor..test", ""}, AddressCase{"ann@-visitor.test", ""},
        AddressCase{"ann@visitor-.test", ""}, AddressCase{"ann@visitor.test.", ""},
        AddressCase{"ann@vis_itor.test", ""}, AddressCase{"\"ann lee\"@visitor.test", ""},
        AddressCase{"ann@visitor.test\tx", ""}, AddressCase{"", ""},
        AddressCase{"<ann@visitor.test> NOTIFY=SUCCESS", ""}));

TEST(SingleAddressLengthTest, LongPartsAreRefused) {
  const std::string label63(63, 'd');
  EXPECT_EQ(SingleMailAddress(std::string(64, 'a') + "@" + label63),
            std::string(64, 'a') + "@" + label63);
  EXPECT_EQ(SingleMailAddress(std::string(65, 'a') + "@x.test"), "");
  EXPECT_EQ(SingleMailAddress("a@" + label63 + "d.test"), "");
  // 254 characters in all at most.
  const std::string domain = label63 + "." + label63 + "." + label63 + "." + std::string(59, 'd');
  EXPECT_EQ(SingleMailAddress("ab@" + domain).size(), 254u);
  EXPECT_EQ(SingleMailAddress("abc@" + domain), "");
}

}  // namespace

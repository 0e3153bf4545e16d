#include "wizard/allowed_recipients.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/exception.h"
#include "common/guard_settings.h"
#include "common/profile_file.h"
#include "wizard/wizard_test_support.h"

namespace {

using Addresses = std::vector<std::string>;

struct ListCase {
  const char* name;
  std::string list;
  Addresses addresses;
};

class AddressesOfTest : public testing::TestWithParam<ListCase> {};

// The addresses must be the ones the gateway checks, or the owner is told to allow the wrong
// thing.
TEST_P(AddressesOfTest, TakesTheBareAddressOfEveryItem) {
  EXPECT_EQ(AddressesOf(GetParam().list), GetParam().addresses);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AddressesOfTest,
    testing::Values(ListCase{"Bare", "a@x.test", {"a@x.test"}},
                    ListCase{"DisplayName", "Jane Doe <jd@x.test>", {"jd@x.test"}},
                    ListCase{"NameWithoutBlank", "Jane<jd@x.test>", {"jd@x.test"}},
                    ListCase{"CommaAndSemicolon",
                             " a@x.test ; b@x.test,c@x.test ",
                             {"a@x.test", "b@x.test", "c@x.test"}},
                    ListCase{"EmptyItems", ",; ,", {}}, ListCase{"Empty", "", {}}),
    [](const testing::TestParamInfo<ListCase>& param_info) {
      return std::string(param_info.param.name);
    });

// A list longer than one settings line would be read back cut short, allowing a wrong address;
// the save stops with an error instead and the file keeps its list.
TEST(AllowedRecipientsTest, ListThatWouldNotFitIsRefusedAndTheFileUntouched) {
  TempFolder folder;
  const std::string existing = std::string(kMaxProfileValue - 10, 'a') + "@x.test";
  const std::string ini =
      folder.Write("brevix.ini", "[Options]\r\nAllowed_Recipients=" + existing + "\r\n");
  WizardSettings settings;
  settings.Mail_To = "someone@else.test";
  EXPECT_THROW(PlanAllowedRecipients(ini, settings), Exception);
  TGuardSettings guards;
  guards.Load(ini);
  EXPECT_EQ(guards.AllowedRecipients, Addresses{existing});
}

}  // namespace

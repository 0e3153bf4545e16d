#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "mail/greeting_name.h"

namespace fs = std::filesystem;

namespace {

struct MemoryCase {
  const char* label;
  const char* content;    // of the remembered file; nullptr: there is none
  int age_seconds;        // of the remembered file
  int hosts_age_seconds;  // of the hosts file
  bool looked_up;         // the name is looked up again (and remembered anew)
};

void PrintTo(const MemoryCase& c, std::ostream* os) {
  *os << c.label;
}

class MachineNameMemoryTest : public ::testing::TestWithParam<MemoryCase> {};

// A remembered name stands in for the lookup only while it is the same host's, fresh, newer
// than the hosts file and a plain domain name; otherwise the lookup's name is used and kept.
TEST_P(MachineNameMemoryTest, RemembersOnlyAFreshNameOfThisHost) {
  const MemoryCase& c = GetParam();
  char pattern[] = "/tmp/brevix-machine-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  const auto aged = [&](const fs::path& file, int seconds) {
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
  };
  std::ofstream(dir / "hosts") << "127.0.0.1 localhost\n";
  aged(dir / "hosts", c.hosts_age_seconds);
  if (c.content != nullptr) {
    std::ofstream(dir / kMachineNameFile) << c.content;
    aged(dir / kMachineNameFile, c.age_seconds);
  }
  int lookups = 0;
  const TMachineNameMemory memory{(dir / kMachineNameFile).string(), "web1",
                                  (dir / "hosts").string(), now};
  const std::string name =
      RememberedMachineName(memory, [&] { return ++lookups, std::string("web1.new.example"); });
  EXPECT_EQ(lookups, c.looked_up ? 1 : 0);
  EXPECT_EQ(name, c.looked_up ? "web1.new.example" : "web1.old.example");
  // The next process finds what this one used.
  EXPECT_EQ(RememberedMachineName(memory, [] { return std::string("not looked up"); }), name);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineNameMemoryTest,
    ::testing::Values(
        MemoryCase{"none", nullptr, 0, 100, true},
        MemoryCase{"fresh", "host=web1\r\nname=web1.old.example\r\n", 60, 100, false},
        MemoryCase{"another_host", "host=web2\r\nname=web1.old.example\r\n", 60, 100, true},
        MemoryCase{"an_hour_old", "host=web1\r\nname=web1.old.example\r\n", 3600, 7200, true},
        MemoryCase{"older_than_hosts", "host=web1\r\nname=web1.old.example\r\n", 60, 30, true},
        MemoryCase{"written_in_the_future", "host=web1\r\nname=web1.old.example\r\n", -120, 100,
                   true},
        MemoryCase{"not_a_domain_name", "host=web1\r\nname=web1.old.example>\r\n", 60, 100, true},
        MemoryCase{"no_name", "host=web1\r\n", 60, 100, true}));

}  // namespace

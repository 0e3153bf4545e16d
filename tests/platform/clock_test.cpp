#include "platform/clock.h"

#include <gtest/gtest.h>

// A wait of the count given ends with the deadline passed: a part of a millisecond left counts
// as one, or a body's time limit would be taken for a body that ended.
TEST(MillisecondsUntilTest, RoundsWhatIsLeftUp) {
  EXPECT_EQ(MillisecondsUntil(MonotonicNow() + std::chrono::microseconds(300)), 1);
  EXPECT_EQ(MillisecondsUntil(MonotonicNow() - std::chrono::milliseconds(5)), 0);
}

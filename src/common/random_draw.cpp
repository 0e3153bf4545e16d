#include "common/random_draw.h"

#include <cstdint>

#include "platform/clock.h"
#include "platform/system_random.h"

namespace {

uint64_t Seed() {
  uint64_t seed = 0;
  if (FillSystemRandom(&seed, sizeof seed, false) != sizeof seed) {
    // No random source yet (early boot): the clock and this thread's stack still differ
    // between processes and threads.
    const auto now = MonotonicNow().time_since_epoch().count();
    seed = static_cast<uint64_t>(now) ^ reinterpret_cast<uintptr_t>(&seed);
  }
  return seed;
}

uint64_t NextBits() {
  thread_local uint64_t state = Seed();
  // splitmix64 (Steele, Lea and Flood): a full-period 64-bit sequence with well mixed output.
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

long long RandomBetween(long long low, long long high) {
  const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low) + 1;
  // span 0 is the whole 64-bit range.
  const uint64_t bits = NextBits();
  return static_cast<long long>(static_cast<uint64_t>(low) + (span == 0 ? bits : bits % span));
}

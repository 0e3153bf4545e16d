#pragma once

// Random numbers for names that must not collide: temporary upload files, spool files, automatic
// results-file names, request numbers. Not for secrets.
//
// Each thread has its own generator (splitmix64), seeded once from the system's random source.
// Its state is 8 bytes: every thread-local variable is zeroed at each start of the program, and
// the gateway starts once per submission, so a larger generator (std::mt19937 holds 5 KB) would
// cost every submission its share of page faults.

// A number in [low, high] (low <= high), uniform to within 2^-32.
long long RandomBetween(long long low, long long high);

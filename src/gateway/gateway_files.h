#pragma once

// The files the gateway keeps in its program folder, by their fixed names.
inline constexpr const char* kErrorLogFile = "brevix-error.txt";
inline constexpr const char* kRefNumbersFile = "BX-RefNumbers.txt";
// The counters of the submission and receipt limits.
inline constexpr const char* kGuardStateFile = "BX-Guards.txt";
// Upload temporaries (one request long) and the engine's log.
inline constexpr const char* kTempFolder = "Temp";
inline constexpr const char* kLogFolder = "log";
// The proof-of-work challenges already solved (used_challenges.h).
inline constexpr const char* kUsedChallengesFile = "BX-PoW.txt";

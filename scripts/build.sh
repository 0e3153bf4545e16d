#!/usr/bin/env bash
# Builds the normal tree (build/), the AddressSanitizer/UndefinedBehaviorSanitizer tree
# (build-asan/) and the libFuzzer targets (build-fuzz/, clang).
# Usage: scripts/build.sh [normal|asan|fuzz]...   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${BREVIX_JOBS:-2}
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(normal asan fuzz)

for kind in "${kinds[@]}"; do
  case "$kind" in
    normal)
      cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build build -j"$jobs" ;;
    asan)
      # The wizard is Qt: its tests run in the normal tree only, to keep the suite short.
      cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBREVIX_SANITIZE=ON -DBREVIX_WIZARD=OFF >/dev/null
      cmake --build build-asan -j"$jobs" ;;
    fuzz)
      CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBREVIX_FUZZ=ON -DBREVIX_WIZARD=OFF >/dev/null
      cmake --build build-fuzz -j"$jobs" --target fuzzers ;;
    *) echo "unknown build kind: $kind" >&2; exit 2 ;;
  esac
done

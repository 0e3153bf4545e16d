#!/usr/bin/env bash
# Builds the normal tree (build/, Release at -O2), the AddressSanitizer/UndefinedBehaviorSanitizer
# tree (build-asan/), the ThreadSanitizer tree of the request server's, the FastCGI adapter's and the
# shared library's tests
# (build-tsan/) and the libFuzzer targets (build-fuzz/, clang). Warnings are errors here.
# Usage: scripts/build.sh [normal|gateway|asan|tsan|fuzz]...   (default: normal asan tsan fuzz)
#   gateway: only brevix.cgi in the normal tree, without the tests and the wizard (no GoogleTest
#            or Qt needed); the demo and the benchmark use it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${BREVIX_JOBS:-2}
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(normal asan tsan fuzz)

# The normal tree is a Release build at -O2, as Debian builds the package: a CGI process runs
# its code once, cold, and -O3's larger code cost it more in cache misses and page faults than
# its loops gained (bench/profile_cgi.sh: about 6 % more CPU a submission). The gateway build
# shares the tree, so the demo, the benchmark and the tests reuse each other's objects.
configure_normal() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" -DBREVIX_WERROR=ON "$@" >/dev/null
}

for kind in "${kinds[@]}"; do
  case "$kind" in
    normal)
      configure_normal -DBREVIX_TESTS=ON -DBREVIX_WIZARD=ON
      cmake --build build -j"$jobs" ;;
    gateway)
      configure_normal -DBREVIX_TESTS=OFF -DBREVIX_WIZARD=OFF
      cmake --build build -j"$jobs" --target brevix.cgi ;;
    asan)
      # The wizard is Qt: its tests run in the normal tree only, to keep the suite short.
      cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBREVIX_WERROR=ON -DBREVIX_SANITIZE=ON \
        -DBREVIX_WIZARD=OFF >/dev/null
      cmake --build build-asan -j"$jobs" ;;
    tsan)
      # Only what the threaded tests run (request server, FastCGI, shared library): the suites,
      # their programs and brevix.so.
      cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DBREVIX_WERROR=ON \
        -DBREVIX_SANITIZE_THREAD=ON -DBREVIX_WIZARD=OFF -DBREVIX_TESTS=ON >/dev/null
      cmake --build build-tsan -j"$jobs" --target engine_tests gateway_tests brevix.cgi \
        engine_test_cgi brevix library_host_tests ;;
    fuzz)
      CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBREVIX_WERROR=ON -DBREVIX_FUZZ=ON -DBREVIX_TESTS=OFF -DBREVIX_WIZARD=OFF >/dev/null
      cmake --build build-fuzz -j"$jobs" --target fuzzers ;;
    *) echo "unknown build kind: $kind" >&2; exit 2 ;;
  esac
done

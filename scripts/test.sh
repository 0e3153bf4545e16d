#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the unit and process tests in
# the normal and the sanitizer build, the fuzzers for a bounded number of runs, and the
# end-to-end tests behind real web servers, and the Debian package (built, checked by lintian,
# installed into a fresh root and serving the sample form there).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh test; fi
bash scripts/build.sh normal asan tsan fuzz

jobs=${BREVIX_JOBS:-2}
status=0
# Only platform/ calls the operating system (the few files that must, say why), and the layers
# point one way.
bash scripts/os_seam.sh || status=1
bash scripts/layers.sh || status=1
ctest --test-dir build --output-on-failure -j"$jobs" || status=1
ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE slow || status=1
# ThreadSanitizer: the tests of what runs on threads (the request server, the FastCGI adapter
# and the shared library, which serves on its host's threads). The tests hand TSAN_OPTIONS on to
# the programs they start; any report left in build-tsan/ fails the run.
rm -f build-tsan/tsan-report.*
threaded='ForwardedAnswerTest|ServerStopTest|SpoolCrowdTest|RequestServerTest|ServerModeTest|ServerModeLoad'
threaded+='|ServerEnd|Unspooled|FastCgi'
threaded+='|LibraryHost|IsapiAdapter|WsapiAdapter|NsapiAdapter'
TSAN_OPTIONS="halt_on_error=1 log_path=$PWD/build-tsan/tsan-report" ctest --test-dir build-tsan \
  --output-on-failure -j"$jobs" -R "$threaded" || status=1
if ls build-tsan/tsan-report.* >/dev/null 2>&1; then cat build-tsan/tsan-report.*; status=1; fi
ctest --test-dir build-fuzz --output-on-failure -R '^fuzz_' || status=1
if [ -x tests/e2e/run.sh ]; then bash tests/e2e/run.sh || status=1; fi
bash tests/package/run.sh || status=1
exit $status

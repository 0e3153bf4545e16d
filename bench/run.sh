#!/usr/bin/env bash
# Measures complete form submissions through lighttpd -> brevix.cgi -> a local SMTP sink, side by
# side with two floors under the same server and sink (see floor_cgi.c) and with the gateway in
# server mode (forwarded to a resident request server). Prints the figures.
#   bench/run.sh [seconds per run, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh bench; fi
bash scripts/build.sh gateway
exec /usr/bin/python3 bench/submissions.py "${1:-10}"

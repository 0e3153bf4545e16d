#!/usr/bin/env bash
# The sample submission with brevix.ini's Database set beside the gateway's files, CGI and
# FastCGI, as ratios in one run (see database.py).
#   bench/database.sh [seconds per run, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh bench; fi
bash scripts/build.sh gateway
exec /usr/bin/python3 bench/database.py "${1:-10}"

#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Run as root on Debian 12.
set -euo pipefail

packages=(
  # build
  build-essential cmake clang libclang-rt-14-dev clang-format
  libgtest-dev googletest
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # the services database ("smtp" -> 25)
  netbase
  # real peers for the tests and the demo
  python3 python3-aiosmtpd
  lighttpd apache2 nginx fcgiwrap
  chromium
  # wizard screenshots without a display
  xvfb xauth
  # benchmark
  wrk postfix
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Node.js drives the browser in the end-to-end tests; a machine that has it already (from any
# source) keeps its own, otherwise Debian's is installed.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # postfix asks where it delivers; the benchmark only uses its smtp-sink program.
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

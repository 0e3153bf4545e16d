#!/usr/bin/env bash
# Installs the Debian packages one purpose needs. Run as root on Debian 12.
#   scripts/setup.sh demo    the gateway's build tools, lighttpd and the mail catcher
#   scripts/setup.sh bench   the demo's, and the benchmark's load generator and SMTP sink
#   scripts/setup.sh test    everything: the tests, the sanitizer and fuzz builds, the wizard,
#                            the three web servers, Chromium, Node.js and the Debian packaging
#                            tools (the default)
set -euo pipefail
purpose=${1:-test}

demo_packages=(
  build-essential cmake
  # TLS to the mail server (STARTTLS, implicit TLS)
  libssl-dev
  # the content type of attachments (libmagic1 with its database; the headers for the build)
  libmagic-dev libmagic1
  # the services database ("smtp" -> 25)
  netbase
  # the mail catcher and the sample submission
  python3 python3-aiosmtpd
  lighttpd
)
bench_packages=(
  wrk postfix
  # bench/floor_cgi.c built as the resident FastCGI floor
  libfcgi-dev
  # bench/fastcgi_restart.sh: nginx in front of the gateway, ab as the clients
  nginx apache2-utils
  # brevix.ini's Database: libpq (loaded by the gateway when the key is set), and the server the
  # benchmark and the tests start a throw-away cluster of (psql for brevix-site export)
  libpq5 postgresql postgresql-client
  # bench/profile_fastcgi.sh and bench/profile_cgi.sh: perf, strace -c, callgrind
  linux-perf strace valgrind
)
test_packages=(
  clang libclang-rt-14-dev clang-format
  libgtest-dev googletest
  qt6-base-dev qt6-base-dev-tools libgl-dev
  apache2 nginx fcgiwrap
  chromium
  # wizard screenshots without a display
  xvfb xauth
  # the mail-filter check of the sent mails (local rules only); its installation imports its
  # update keys with gpg, which needs gpg-agent (installed first: see below)
  gpg-agent spamassassin
  # the package test: dpkg-buildpackage, lintian, and a fresh Debian 12 root to install into;
  # openssl makes the throwaway certificate of the mail provider its relay case stands up; git
  # exports the committed tree the package is built from
  dpkg-dev debhelper lintian fakeroot debootstrap openssl git
)

case "$purpose" in
  demo) packages=("${demo_packages[@]}") ;;
  bench) packages=("${demo_packages[@]}" "${bench_packages[@]}") ;;
  test) packages=("${demo_packages[@]}" "${bench_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [demo|bench|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "$purpose" = test ]; then
  # Node.js (18 or newer) drives the browser in the end-to-end tests; a machine that has it
  # already (from any source) keeps its own, otherwise Debian's is installed.
  command -v node >/dev/null 2>&1 || missing+=(nodejs)
  command -v npm >/dev/null 2>&1 || missing+=(npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # postfix asks where it delivers; the benchmark only uses its smtp-sink program.
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  apt-get update
  # spamassassin's installation script runs gpg, which needs gpg-agent set up already: within
  # one run apt does not promise that order, so gpg-agent gets a run of its own first.
  if [[ " ${missing[*]} " == *" gpg-agent "* ]]; then
    apt-get install -y --no-install-recommends gpg-agent
  fi
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

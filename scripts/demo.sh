#!/usr/bin/env bash
# The demo: installs what is needed, builds the gateway, and runs lighttpd with the sample form,
# the gateway behind it and a local mail catcher, all on 127.0.0.1. Ctrl-C stops everything.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${BREVIX_JOBS:-2}" --target brevix.cgi

demo=${BREVIX_DEMO_DIR:-/tmp/brevix-demo}
read -r web_port smtp_port < <(/usr/bin/python3 scripts/free_port.py 2)
site="$demo/site"
maildir="$demo/mail"

cleanup() {
  trap - INT TERM EXIT
  echo
  echo "Stopping the demo ..."
  deploy/site.sh stop "$site" || true
  [ -n "${smtp_pid:-}" ] && kill "$smtp_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup INT TERM EXIT

deploy/site.sh stop "$site" 2>/dev/null || true
rm -rf "$site"
mkdir -p "$demo"
deploy/site.sh setup "$site" "$repo/build/bin/brevix.cgi" "$smtp_port"

# The mail catcher: every received mail becomes one file in $maildir/new/.
/usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp_port" -c aiosmtpd.handlers.Mailbox "$maildir" \
  >"$demo/mail-catcher.log" 2>&1 &
smtp_pid=$!
deploy/site.sh start lighttpd "$site" "$web_port"

cat <<MSG

  Brevix BX demo is running.
  Open the sample form:   http://127.0.0.1:$web_port/form.html
  Received mail lands in: $maildir/new/   (one file per mail)
  Gateway folder:         $site/cgi-bin/  (brevix.ini, results, logs)

  Press Ctrl-C to stop.
MSG
wait "$smtp_pid"

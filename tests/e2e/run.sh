#!/usr/bin/env bash
# End-to-end tests: for each web server (lighttpd, Apache event + mod_cgid, nginx + fcgiwrap, and
# nginx with the gateway resident as a FastCGI application) a sample site with the gateway is set
# up in a fresh folder, a real SMTP server (aiosmtpd, saving every mail in a Maildir) and the web
# server start on free loopback ports, and headless Chromium submits the sample form. Needs
# build/bin/brevix.cgi.
#   tests/e2e/run.sh [server ...]     (default: lighttpd apache nginx nginx-fastcgi; also
#                                      lighttpd-fastcgi, apache-fastcgi)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
gateway="${BREVIX_GATEWAY:-$repo/build/bin/brevix.cgi}"
[ -x "$gateway" ] || { echo "build the gateway first: $gateway is missing" >&2; exit 2; }

cd "$here"
# The browser driver and the anti-spam widget and library are the versions package.json pins
# (ones that run on Debian 12's Node.js 18).
wanted=$(node -p "Object.values(require('./package.json').dependencies).join(' ')")
installed=$(node -p "Object.keys(require('./package.json').dependencies).map((name) =>
  require('./node_modules/' + name + '/package.json').version).join(' ')" 2>/dev/null || true)
if [ "$installed" != "$wanted" ]; then
  npm ci --no-audit --no-fund
fi

servers=("$@")
[ ${#servers[@]} -gt 0 ] || servers=(lighttpd apache nginx nginx-fastcgi)
status=0
for server in "${servers[@]}"; do
  work=$(mktemp -d /tmp/brevix-e2e-XXXXXX)
  chmod 755 "$work"
  read -r web_port smtp_port < <(/usr/bin/python3 "$repo/scripts/free_port.py" 2)
  # Without the anti-spam key: the plain posts run without scripts; the proof-of-work cases set
  # a key of their own.
  BREVIX_POW_KEY= "$repo/deploy/site.sh" setup "$work/site" "$gateway" "$smtp_port"
  /usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp_port" -c aiosmtpd.handlers.Mailbox "$work/mail" \
    >"$work/smtp.log" 2>&1 &
  smtp_pid=$!
  ok=1
  if "$repo/deploy/site.sh" start "$server" "$work/site" "$web_port"; then
    echo "== end-to-end behind $server (http://127.0.0.1:$web_port/) =="
    BREVIX_BASE_URL="http://127.0.0.1:$web_port" BREVIX_MAILDIR="$work/mail" \
      BREVIX_SITE="$work/site" BREVIX_SERVER="$server" BREVIX_WORK="$work" \
      node --test "$here/submit.test.mjs" || ok=0
    BREVIX_BASE_URL="http://127.0.0.1:$web_port" BREVIX_MAILDIR="$work/mail" \
      BREVIX_SITE="$work/site" node --test "$here/pow.test.mjs" || ok=0
  else
    ok=0
  fi
  "$repo/deploy/site.sh" stop "$work/site" || true
  kill "$smtp_pid" 2>/dev/null || true
  wait "$smtp_pid" 2>/dev/null || true
  if [ $ok = 1 ]; then
    rm -rf "$work"
  else
    status=1
    echo "-- $server failed; its folder is kept: $work" >&2
    tail -n 20 "$work"/site/logs/*error* "$work"/site/logs/brevix-fastcgi.out \
      "$work/site/cgi-bin/brevix-error.txt" 2>/dev/null >&2 || true
  fi
done
exit $status

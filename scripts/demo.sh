#!/usr/bin/env bash
# The demo: installs what it needs, builds the gateway, and runs lighttpd with the sample form,
# the gateway behind it and a local mail catcher, all on 127.0.0.1. Ctrl-C stops everything.
# One line per step; the steps' whole output goes to a log file in the demo folder.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
demo=${BREVIX_DEMO_DIR:-/tmp/brevix-demo}
site="$demo/site"
maildir="$demo/mail"
log="$demo/demo.log"
mkdir -p "$demo"
: >"$log"

current_step=
fail() {
  echo
  echo "Failed: $current_step"
  echo "The last lines of $log:"
  tail -n 15 "$log" | sed 's/^/    /'
  local file
  for file in "$site"/logs/lighttpd-error.log "$site"/logs/lighttpd-cgi-stderr.log; do
    if [ -s "$file" ]; then
      echo "The web server's own error lines ($file):"
      tail -n 10 "$file" | sed 's/^/    /'
    fi
  done
  exit 1
}

# step TITLE COMMAND...: prints the title, runs the command with its output in the log.
step() {
  current_step=$1
  shift
  echo "$current_step"
  printf '\n== %s\n' "$current_step" >>"$log"
  "$@" >>"$log" 2>&1 || fail
}

cleanup() {
  trap - INT TERM EXIT
  echo
  echo "Stopping the demo…"
  deploy/site.sh stop "$site" >>"$log" 2>&1 || true
  [ -n "${smtp_pid:-}" ] && kill "$smtp_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}

start_mail_catcher() {  # every received mail becomes one file in $maildir/new/
  /usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp_port" -c aiosmtpd.handlers.Mailbox "$maildir" \
    >"$demo/mail-catcher.log" 2>&1 &
  smtp_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$smtp_port") 2>/dev/null && return 0
    kill -0 "$smtp_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$demo/mail-catcher.log"
  return 1
}

if [ "$(id -u)" = 0 ]; then step "Installing packages…" bash scripts/setup.sh demo; fi
step "Building the gateway…" bash scripts/build.sh gateway
read -r web_port smtp_port < <(/usr/bin/python3 scripts/free_port.py 2)

trap cleanup INT TERM EXIT
deploy/site.sh stop "$site" >>"$log" 2>&1 || true
rm -rf "$site"
step "Setting up the sample site in $site…" \
  deploy/site.sh setup "$site" "$repo/build/bin/brevix.cgi" "$smtp_port"
step "Starting the mail catcher on 127.0.0.1:$smtp_port…" start_mail_catcher
step "Starting lighttpd on 127.0.0.1:$web_port…" deploy/site.sh start lighttpd "$site" "$web_port"

cat <<MSG

  Brevix BX demo is running.
  Open the sample form:   http://127.0.0.1:$web_port/form.html
  Received mail lands in: $maildir/new/   (one file per mail)
  Gateway folder:         $site/cgi-bin/  (brevix.ini, results, logs)
  Steps' output:          $log

  Or submit it from a shell:
    python3 $repo/scripts/submit_sample.py http://127.0.0.1:$web_port/form.html

  Press Ctrl-C to stop.
MSG
wait "$smtp_pid"

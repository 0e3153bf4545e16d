#!/usr/bin/env bash
# Runs the README's two quick-start commands on a brand-new Debian 12 (a debootstrap minbase root,
# as root), the way a new user would: first the demo (it must come up, take a submission from the
# shell command its banner prints, and deliver the mail), then the test command.
#   scripts/fresh_check.sh [ROOT]     (default: /var/tmp/brevix-fresh; replaced if present)
#   BREVIX_FRESH_DEMO_ONLY=1 scripts/fresh_check.sh      (the demo alone)
# Needs root, debootstrap (installed when missing) and the network the machine normally has.
# The root gets a clean clone of this repository's committed HEAD at /root/brevix.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=SCRIPTDIR/fresh_root.sh
. "$repo/scripts/fresh_root.sh"
root=${1:-/var/tmp/brevix-fresh}
demo_timeout=${BREVIX_FRESH_DEMO_TIMEOUT:-2400}
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }
command -v debootstrap >/dev/null || apt-get install -y debootstrap

say() { printf '\n[fresh_check] %s\n' "$*"; }


demo_pid=
cleanup() {
  # Every step is tried: under set -e a failing last command of an && list (a wait on a killed
  # demo) would end the clean-up before the unmounts.
  set +e
  [ -n "$demo_pid" ] && kill -TERM "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
  # Whatever the tests left running inside the root.
  local pid
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  unmount_fresh_root "$root"
}
trap cleanup EXIT

# A brand-new root.
unmount_fresh_root "$root"
rm -rf "$root"
say "debootstrap: Debian 12 minbase into $root"
debootstrap --variant=minbase --include=ca-certificates bookworm "$root" http://deb.debian.org/debian
prepare_fresh_root "$root"
mount_fresh_root "$root"

git clone --quiet "$repo" "$root/root/brevix"

in_root() {  # a login-like environment: nothing of this machine's but the certificates
  chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${ca_env[@]}" "$@"
}

# 1. The demo: comes up, takes the submission its banner offers, and delivers the mail.
say "bash scripts/demo.sh"
demo_out="$root/root/demo-output.txt"
in_root bash -c 'cd /root/brevix && exec bash scripts/demo.sh' >"$demo_out" 2>&1 &
demo_pid=$!
deadline=$((SECONDS + demo_timeout))
until grep -q 'Press Ctrl-C to stop' "$demo_out"; do
  if ! kill -0 "$demo_pid" 2>/dev/null || [ $SECONDS -gt $deadline ]; then
    cat "$demo_out"
    say "FAILED: the demo did not come up"
    exit 1
  fi
  sleep 5
done
cat "$demo_out"
submit=$(grep -m1 'submit_sample.py' "$demo_out" | sed 's/^ *//')
say "$submit"
in_root bash -c "$submit"
sleep 2
mails=$(find "$root/tmp/brevix-demo/mail/new" -type f | wc -l)
[ "$mails" -ge 1 ] || { say "FAILED: the demo's submission delivered no mail"; exit 1; }
say "the demo delivered $mails mails"
kill -TERM "$demo_pid"
wait "$demo_pid" || true
demo_pid=

# 2. The test command (BREVIX_FRESH_DEMO_ONLY=1 stops before it, for a quick look at the demo).
if [ "${BREVIX_FRESH_DEMO_ONLY:-0}" = 1 ]; then
  say "PASSED: the demo works on a fresh Debian 12 (the test command was not run)"
  exit 0
fi
say "bash scripts/test.sh"
if in_root bash -c 'cd /root/brevix && bash scripts/test.sh'; then
  say "PASSED: both quick-start commands work on a fresh Debian 12"
else
  say "FAILED: bash scripts/test.sh"
  exit 1
fi

#!/usr/bin/env bash
# Counts the submissions that fail while the resident FastCGI gateway is restarted under load:
# nginx -> brevix.cgi (4 threads) -> postfix's smtp-sink, 8 clients (ab), three restarts.
#   bench/fastcgi_restart.sh held     the listening socket is held outside the process, as
#                                     systemd's socket unit holds it (brevix-fastcgi.socket);
#                                     each restart is SIGTERM and a fresh process on that socket
#   bench/fastcgi_restart.sh byhand   brevix.cgi --fastcgi PATH, restarted by hand (SIGTERM, then
#                                     a new start on the same path)
# Prints ab's counts; "Non-2xx responses" (absent when none) are the failed submissions.
# Needs a built gateway (scripts/build.sh gateway), nginx, smtp-sink, ab and root.
set -euo pipefail
mode=${1:-held}
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
chmod 755 "$work"  # the web server's user reaches the site below it
site=$work/site sock=$work/site/run/fcgi/brevix.sock
port=$((20000 + RANDOM % 10000)) smtp=$((30000 + RANDOM % 10000))
smtp-sink -u nobody -c "127.0.0.1:$smtp" 256 >/dev/null 2>&1 &
sink=$!
trap 'bash "$repo/deploy/site.sh" stop "$site" >/dev/null 2>&1 || true; kill "$sink"; rm -rf "$work"' EXIT
until (exec 3<>"/dev/tcp/127.0.0.1/$smtp") 2>/dev/null; do sleep 0.1; done
bash "$repo/deploy/site.sh" setup "$site" "$repo/build/bin/brevix.cgi" "$smtp" >/dev/null
bash "$repo/deploy/site.sh" start nginx-fastcgi "$site" "$port" >/dev/null
gateway() {
  (cd "$site/cgi-bin" && exec setsid env -i PATH=/usr/bin:/bin setpriv --reuid=www-data \
    --regid=www-data --init-groups ./brevix.cgi "$@" >>"$site/logs/brevix-fastcgi.out" 2>&1) &
  echo $!
}
if [ "$mode" = held ]; then
  kill "$(cat "$site/run/brevix-fastcgi.pid")"
  rm "$site/run/brevix-fastcgi.pid"
  while [ -S "$sock" ]; do sleep 0.1; done
  # The socket's holder: starts the gateway with the socket as its standard input, restarts it.
  python3 - "$sock" "$site/cgi-bin" <<'EOF' &
import os, signal, socket, subprocess, sys, time
held = socket.socket(socket.AF_UNIX)
held.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o666)
held.listen(4096)
def start():
    return subprocess.Popen(["setpriv", "--reuid=www-data", "--regid=www-data", "--init-groups",
                             "./brevix.cgi", "--threads", "4"], stdin=held.fileno(),
                            cwd=sys.argv[2], env={"PATH": "/usr/bin:/bin"})
gateway = start()
for delay in (2.0, 1.5, 1.5, 5.0):
    time.sleep(delay)
    gateway.send_signal(signal.SIGTERM)
    print("gateway exit code", gateway.wait(), flush=True)
    if delay < 5.0:
        gateway = start()
EOF
  restarts=$!
else
  (for delay in 2 1.5 1.5; do
    sleep "$delay"
    kill "$(cat "$site/run/brevix-fastcgi.pid")"
    # The stopping process removes its path first; a start before that would be refused.
    while [ -S "$sock" ]; do sleep 0.01; done
    gateway --fastcgi "$sock" --threads 4 >"$site/run/brevix-fastcgi.pid"
  done) &
  restarts=$!
fi
sleep 0.3
printf 'mail_from=a%%40b.test&n=1' >"$work/body"
ab -q -n 8000 -c 8 -p "$work/body" -T application/x-www-form-urlencoded \
  "http://127.0.0.1:$port/cgi-bin/brevix.cgi" | grep -E "Complete requests|Non-2xx|Time taken"
wait "$restarts"

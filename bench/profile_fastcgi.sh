#!/usr/bin/env bash
# Profiles one request thread of the resident FastCGI gateway under load: lighttpd + mod_fastcgi
# -> brevix.cgi --fastcgi (4 threads) -> postfix's smtp-sink, wrk posting the sample form with 4
# connections. Writes bench/profile-fastcgi.svg (a flame graph of that thread, flamegraph.py)
# and bench/profile-fastcgi.txt (perf report of the same samples: each function with its callees,
# then by itself).
#   bench/profile_fastcgi.sh [seconds, default 10]
# Needs a built gateway (scripts/build.sh gateway), linux-perf, lighttpd, wrk, smtp-sink, root.
set -euo pipefail
seconds=${1:-10}
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
chmod 755 "$work"
site=$work/site
ports=($(python3 "$repo/scripts/free_port.py" 2))
port=${ports[0]} smtp=${ports[1]}
smtp-sink -u nobody -c "127.0.0.1:$smtp" 256 >/dev/null 2>&1 &
sink=$!
trap 'bash "$repo/deploy/site.sh" stop "$site" >/dev/null 2>&1 || true; kill "$sink"; rm -rf "$work"' EXIT
BREVIX_POW_KEY="" bash "$repo/deploy/site.sh" setup "$site" "$repo/build/bin/brevix.cgi" "$smtp" >/dev/null
# One mail per submission, as the benchmark sends.
sed -i 's/^Receipt_Text=.*/Receipt_Text=\r/' "$site/cgi-bin/brevix.ini"
bash "$repo/deploy/site.sh" start lighttpd-fastcgi "$site" "$port" >/dev/null
pid=$(cat "$site/run/brevix-fastcgi.pid")
fields=$(python3 -c "import sys; sys.path.insert(0, '$repo/bench'); import submissions; print(submissions.FIELDS)")
printf 'wrk.method = "POST"\nwrk.headers["Content-Type"] = "application/x-www-form-urlencoded"\nwrk.body = "%s"\n' \
  "$fields" >"$work/post.lua"
url="http://127.0.0.1:$port/cgi-bin/brevix.cgi"
wrk -t1 -c4 -d"$((seconds + 4))s" -s "$work/post.lua" "$url" >"$work/wrk.out" &
load=$!
sleep 2
# The busiest request thread (most CPU after the warm-up).
tid=$(for t in /proc/"$pid"/task/*; do
  echo "$(awk '{print $14 + $15}' "$t/stat") ${t##*/}"
done | sort -rn | head -1 | cut -d' ' -f2)
perf record -q -F 1999 --call-graph dwarf,16384 -t "$tid" -o "$work/perf.data" -- sleep "$seconds" 2>/dev/null
wait "$load"
grep -E "Requests/sec|requests in" "$work/wrk.out"
perf script -i "$work/perf.data" 2>/dev/null |
  python3 "$repo/bench/flamegraph.py" "brevix.cgi --fastcgi, one request thread under wrk -c4" \
    >"$repo/bench/profile-fastcgi.svg"
perf report -i "$work/perf.data" --stdio --children --percent-limit 1 -g none 2>/dev/null |
  grep -v '^$' >"$repo/bench/profile-fastcgi.txt"
echo "bench/profile-fastcgi.svg, bench/profile-fastcgi.txt"

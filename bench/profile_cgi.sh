#!/usr/bin/env bash
# Profiles one CGI submission of the sample form, the gateway started directly (no web server)
# with the CGI variables and the benchmark's 587-byte body on standard input, mail going to
# postfix's smtp-sink, beside the CGI mail floor (bench/floor_cgi.c built with -DWITH_MAIL) doing
# the same submission. Writes bench/profile-cgi.txt:
#   1. CPU and minor page faults per process, gateway and floor run alternately in rounds
#      (getrusage of the reaped children, as submissions.py counts lighttpd's children);
#   2. the system calls of one submission (strace -c) and the dynamic loader's statistics;
#   3. instructions of one submission (callgrind) for both, then the gateway's functions by
#      inclusive and by own cost.
#   bench/profile_cgi.sh [runs per round, default 200] [rounds, default 5]
# BREVIX_GATEWAY names another gateway build to profile, BREVIX_PROFILE_OUT another output file.
# Needs a built gateway (scripts/build.sh gateway), smtp-sink, strace, valgrind, cc, root.
set -euo pipefail
runs=${1:-200}
rounds=${2:-5}
repo=$(cd "$(dirname "$0")/.." && pwd)
out=${BREVIX_PROFILE_OUT:-$repo/bench/profile-cgi.txt}
source "$repo/bench/cgi_submission.sh"

{
  echo "One CGI submission of the sample form (${#fields}-byte body), the gateway started directly"
  echo "($(date -u +%Y-%m-%d), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
  echo
  echo "== 1. CPU and minor page faults per process ($rounds rounds of $runs runs each, alternating)"
  python3 - "$runs" "$rounds" "$site/cgi-bin" "$work/body" "$work/floor_mail.cgi" "${cgi_env[@]}" <<'EOF'
import resource, statistics, subprocess, sys
runs, rounds, cgi, body_file, floor = int(sys.argv[1]), int(sys.argv[2]), *sys.argv[3:6]
env = dict(item.split("=", 1) for item in sys.argv[6:])
body = open(body_file, "rb").read()
programs = {"gateway": cgi + "/brevix.cgi", "mail floor": floor}
cpu = {name: [] for name in programs}
faults = {name: [] for name in programs}
for _ in range(rounds):
    for name, program in programs.items():
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        for _ in range(runs):
            subprocess.run([program], input=body, env=env, cwd=cgi, stdout=subprocess.DEVNULL,
                           check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        used = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
        cpu[name].append(used / runs * 1000)
        faults[name].append((after.ru_minflt - before.ru_minflt) / runs)
for name in programs:
    print(f"  {name:<11} CPU ms/submission min {min(cpu[name]):.3f} median "
          f"{statistics.median(cpu[name]):.3f}; minor faults {statistics.median(faults[name]):.1f}")
ratios = [g / f for g, f in zip(cpu["gateway"], cpu["mail floor"])]
print(f"  gateway/mail floor CPU per round: {' '.join(f'x{r:.2f}' for r in ratios)}")
EOF
  echo
  echo "== 2. System calls of one gateway submission (strace -c)"
  once strace -c -o "$work/strace.txt" ./brevix.cgi >/dev/null
  sed 's/^/  /' "$work/strace.txt"
  echo "  Dynamic loader (LD_DEBUG=statistics):"
  once env LD_DEBUG=statistics ./brevix.cgi 2>&1 >/dev/null | sed 's/^ *[0-9]*:\s*/    /' | grep -v '^ *$'
  echo
  echo "== 3. Instructions of one submission (callgrind)"
  for program in ./brevix.cgi "$work/floor_mail.cgi"; do
    once valgrind --tool=callgrind --callgrind-out-file="$work/cg.$(basename "$program").out" \
      "$program" 2>"$work/cg.err" >/dev/null
    echo "  $(basename "$program"): $(grep -o 'refs: *[0-9,]*' "$work/cg.err")"
  done
  callgrind_annotate --inclusive=yes --threshold=100 "$work/cg.brevix.cgi.out" >"$work/inclusive.txt"
  callgrind_annotate --threshold=100 "$work/cg.brevix.cgi.out" >"$work/own.txt"
  echo "  The gateway's functions by inclusive cost:"
  grep -E '^ *[0-9,]+ \(' "$work/inclusive.txt" | sed -n '1,45p' | sed "s|$site/cgi-bin/||" |
    cut -c1-150 | sed 's/^/  /'
  echo "  The gateway's functions by own cost:"
  grep -E '^ *[0-9,]+ \(' "$work/own.txt" | sed -n '2,31p' | sed "s|$site/cgi-bin/||" |
    cut -c1-150 | sed 's/^/  /'
} >"$out"
echo "$out"

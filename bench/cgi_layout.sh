#!/usr/bin/env bash
# Writes src/gateway/cgi_layout.ld, the linker script that puts the functions one CGI
# submission runs side by side at the start of the gateway's code. A CGI process runs its code
# once, cold: spread over the whole program, that code cost it a page fault for nearly every
# 64 KB of the program's code (fifteen of sixteen), and more instruction TLB and cache misses;
# side by side it takes about six.
# Run it again when the submission's path changed much: a function it does not name is only
# placed with the rest of the code, and a name no longer in the program is ignored.
#   bench/cgi_layout.sh
# Profiles one submission of the sample form (bench/cgi_submission.sh) with callgrind.
# BREVIX_GATEWAY names another gateway build. Needs a built gateway, smtp-sink, valgrind, root.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/cgi_submission.sh"
once valgrind --tool=callgrind --demangle=no --callgrind-out-file="$work/cg.out" ./brevix.cgi \
  >/dev/null 2>&1
python3 - "$work/cg.out" >"$repo/src/gateway/cgi_layout.ld" <<'PY'
import re, sys

# The functions of the program itself (not of libc or the loader) that ran, by mangled name.
objects, functions, current, ran = {}, {}, None, set()
for line in open(sys.argv[1]):
    line = line.rstrip("\n")
    named = re.match(r"(c?ob|c?fn)=\((\d+)\)(?: (.*))?$", line)
    if not named:
        continue
    kind, number, name = named.groups()
    table = objects if kind.endswith("ob") else functions
    if name:
        table[number] = name
    if kind == "ob":
        current = objects.get(number)
    elif kind == "fn" and current and current.endswith("/brevix.cgi"):
        ran.add(functions[number].split("'")[0])
sections = set()
for name in ran:
    if name.startswith(("0x", "(")):
        continue
    sections.add(name)
    # A complete-object constructor or destructor is an alias of the base-object one, whose
    # section holds the code.
    sections.add(re.sub(r"C1([EI])", r"C2\1", name))
    sections.add(re.sub(r"D1([EIv])", r"D2\1", name))
print("/* Written by bench/cgi_layout.sh: the functions one CGI submission of the sample form runs,")
print("   placed side by side before the rest of the code. */")
print("SECTIONS\n{\n  .text.cgi_path :\n  {\n    *Scrt1.o(.text)")
for name in sorted(sections):
    print(f"    *(.text.{name})")
print("  }\n}\nINSERT BEFORE .text;")
PY
echo "$repo/src/gateway/cgi_layout.ld: $(grep -c '^    \*(' "$repo/src/gateway/cgi_layout.ld") sections"

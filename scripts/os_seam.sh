#!/usr/bin/env bash
# Lists the source files outside src/platform/ that call the operating system directly: they
# include a POSIX system header, or read a clock themselves. Every other layer reaches the OS
# through src/platform/. A file that must call it anyway says why in a comment holding
# "OS seam:"; the check fails on a file without that comment, or when more than five files
# call the OS.
# Usage: scripts/os_seam.sh [--list]
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#include <(unistd|fcntl|poll|netdb|signal|dlfcn|dirent|pwd|grp|termios|link|sys/[a-z_]+|netinet/[a-z_]+|arpa/[a-z_]+)\.h>|std::chrono::(system|steady|high_resolution)_clock|clock_gettime|\btime\(nullptr\)|gettimeofday'
mapfile -t files < <(grep -rlE "$pattern" src | grep -v '^src/platform/' | sort)
status=0
for file in "${files[@]}"; do
  if grep -q "OS seam:" "$file"; then
    echo "$file (says why)"
  else
    echo "$file: calls the OS outside src/platform/ without saying why (OS seam: ...)"
    status=1
  fi
done
echo "${#files[@]} files outside src/platform/ call the OS" >&2
if [ "${#files[@]}" -gt 5 ]; then
  echo "more than five files outside src/platform/ call the OS" >&2
  status=1
fi
[ "${1:-}" = --list ] && exit 0
exit $status

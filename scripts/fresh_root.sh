# shellcheck shell=bash
# Sourced by scripts/fresh_check.sh and tests/package/run.sh: makes a debootstrap'ed Debian 12
# root usable the way a new machine is, and mounts what programs inside it need.
#
#   prepare_fresh_root ROOT   apt sources, name resolution, no service starts, this machine's
#                             extra certificate authorities (sets ca_env for programs that read
#                             their own certificate files: Node.js, Python)
#   mount_fresh_root ROOT     /proc, /sys, /dev, /dev/pts and /dev/shm
#   unmount_fresh_root ROOT   the same, undone (never fails)

# ca_env is read by the scripts that source this one.
# shellcheck disable=SC2034
prepare_fresh_root() {
  local root=$1
  # "/" is 0755 on a real machine; debootstrap's folder may not be, and then www-data reaches
  # nothing.
  chmod 0755 "$root"
  cat >"$root/etc/apt/sources.list" <<'SOURCES'
deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
  # Packages' services are not started by their installation (they would run in this machine's
  # network); the scripts start what they need themselves.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 0755 "$root/usr/sbin/policy-rc.d"
  # Where this machine reaches the registries through a proxy with its own certificate
  # authority, the root trusts the same extra certificates, so apt, npm and pip work as here.
  ca_env=()
  if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
    cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
    chroot "$root" update-ca-certificates >/dev/null 2>&1
    ca_env=(NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt
      SSL_CERT_FILE=/etc/ssl/certs/ca-certificates.crt)
  fi
}

mount_fresh_root() {
  local root=$1
  mount -t proc proc "$root/proc"
  mount -t sysfs sys "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
}

unmount_fresh_root() {
  local root=$1 mount_point
  for mount_point in dev/pts dev/shm dev sys proc; do
    if mountpoint -q "$root/$mount_point"; then umount -l "$root/$mount_point"; fi
  done
  return 0
}

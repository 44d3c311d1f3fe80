#!/usr/bin/env bash
# Runs a command as root inside a chroot of Debian's testing suite, which
# ships the Pythons newer than this machine's (python3.14, python3.15) with
# their headers, compilers and CMake. The chroot is made once, under
# build/ (ignored), and kept for later runs.
#   bash .ci/chroot.sh COMMAND...   runs COMMAND in the chroot, in /vexa,
#                                   a copy of this work tree's tracked files
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build/chroot-testing
suite=forky
packages=g++,cmake,git,ca-certificates,python3.14-dev,python3.14-venv,python3.15-dev,python3.15-venv

if [ ! -f "$root/.vexa-ready" ]; then
  if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    apt-get install -y -qq debootstrap >/dev/null
  fi
  echo "making a Debian $suite chroot in $root (about 4 minutes, once)"
  rm -rf "$root"
  mkdir -p "$root"
  # The testing suite's Release file may be past its Valid-Until date.
  debootstrap --variant=minbase --include="$packages" \
    "$suite" "$root" http://deb.debian.org/debian /usr/share/debootstrap/scripts/sid >"$root.log" 2>&1 ||
    { tail -n 30 "$root.log"; exit 1; }
  echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99no-valid-until"
  touch "$root/.vexa-ready"
fi

# What pip needs to reach PyPI from inside: the host's CA bundle (which may
# hold a proxy's certificate) and its resolver.
mkdir -p "$root/etc/ssl/certs"
cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# The work tree as committed plus uncommitted edits, without build products;
# the chroot keeps its own virtual environments and build trees in /vexa.
mkdir -p "$root/vexa"
find "$root/vexa" -mindepth 1 -maxdepth 1 ! -name build ! -name '.venv*' -exec rm -rf {} +
git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - | tar -xf - -C "$root/vexa"

mounts=(proc dev dev/shm)
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "$root/${mounts[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount -t tmpfs shm "$root/dev/shm"

environment=(HOME=/root PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8
  PIP_CERT=/etc/ssl/certs/ca-certificates.crt PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180)
[ -z "${HYPOTHESIS_PROFILE:-}" ] || environment+=("HYPOTHESIS_PROFILE=$HYPOTHESIS_PROFILE")
chroot "$root" /usr/bin/env -i "${environment[@]}" bash -c 'cd /vexa && "$@"' bash "$@"

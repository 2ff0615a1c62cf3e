#!/usr/bin/env bash
# Builds Vantrel, runs its tests and builds and tests its .deb inside a fresh
# Debian 13 (trixie) root made from Debian's archive. Runs as root.
#
#   bash scripts/debian13.sh            every test
#   bash scripts/debian13.sh -L 'LABEL' only the tests ctest -L picks
#
# The root is made once with debootstrap, with every package of
# scripts/install-deps.sh, and kept as a tarball under $VANTREL_CACHE
# (default /var/cache/vantrel). It is made again when its key changes (the
# release, the mirror or the architecture) or when it is older than
# $VANTREL_BASE_MAX_DAYS days (default 7), so that its packages follow
# Debian's updates; a package added to install-deps.sh meanwhile is installed
# in each run's copy. Each run unpacks it into a new working root, copies the
# source tree (the files git tracks or would add, as they are now, without
# build folders) into /src there, and
# removes the working root again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD

suite=trixie

# The Debian archive this machine's apt sources name ("main") or their
# security archive ("security"), as apt read them at its last update: the
# first whose release file is Debian's. Nothing when there is none.
debian_archive() {
  apt-get indextargets --format '$(ORIGIN)|$(CODENAME)|$(REPO_URI)' 'Created-By: Packages' 2>/dev/null |
    awk -F'|' -v want="$1" '$1 == "Debian" && (($2 ~ /-security$/) == (want == "security")) {
      sub(/\/+$/, "", $3); print $3; exit }' || true
}
# VANTREL_DEBIAN_MIRROR, else the machine's own Debian archive, else (empty)
# the one debootstrap takes by default, read back from the root it makes.
mirror=${VANTREL_DEBIAN_MIRROR:-$(debian_archive main)}
mirror=${mirror%/}
cache=${VANTREL_CACHE:-/var/cache/vantrel}
max_days=${VANTREL_BASE_MAX_DAYS:-7}
labels=""
while [ $# -gt 0 ]; do
  case $1 in
    -L) labels=${2:?-L needs a label expression}; shift 2 ;;
    *) echo "usage: $0 [-L LABEL-REGEX]" >&2; exit 2 ;;
  esac
done

[ "$(id -u)" -eq 0 ] || { echo "debian13: must run as root (debootstrap, chroot, mounts)" >&2; exit 1; }
for tool in debootstrap git tar; do
  command -v "$tool" >/dev/null ||
    { echo "debian13: $tool is missing (bash scripts/install-deps.sh installs it)" >&2; exit 1; }
done

started=$SECONDS
part_started=$SECONDS
part() {
  local now=$SECONDS
  if [ -n "${part_name:-}" ]; then
    echo "debian13: ${part_name} took $((now - part_started)) s"
  fi
  part_name=$1
  part_started=$now
  [ -z "$part_name" ] || echo "debian13: == $part_name"
}

arch=$(dpkg --print-architecture)
key=$(echo "$suite $mirror $arch base-1" | sha256sum | cut -c1-16)
base=$cache/debian13-$arch-$key.tar

mkdir -p "$cache"
echo "debian13: cached root $base"
# One run at a time uses the cache: a second one waits here.
exec 9>"$cache/debian13.lock"
flock 9

work=$(mktemp -d /var/tmp/vantrel-debian13.XXXXXX)
root=$work/root
mounts=()
cleanup() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount -l "${mounts[i]}" 2>/dev/null || true
  done
  # Nothing may still be mounted below the root when it is removed.
  if ! grep -q " $work/" /proc/self/mounts; then
    rm -rf --one-file-system "$work"
  else
    echo "debian13: $work still has mounts; left in place" >&2
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in() {   # mount_in TARGET-IN-ROOT mount-arguments...
  local target=$root$1; shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounts+=("$target")
}
mount_all() {
  mount_in /proc -t proc proc
  mount_in /sys -t sysfs sysfs
  mount_in /dev --bind /dev
  mount_in /dev/pts -t devpts devpts -o newinstance,ptmxmode=0666
  mount_in /dev/shm -t tmpfs tmpfs -o mode=1777
  mount_in /tmp -t tmpfs tmpfs -o mode=1777
}
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}"; done
  mounts=()
}
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LC_ALL=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

age_days=-1
if [ -f "$base" ]; then
  age_days=$(( ($(date +%s) - $(stat -c %Y "$base")) / 86400 ))
fi
if [ "$age_days" -lt 0 ] || [ "$age_days" -ge "$max_days" ]; then
  part "making the Debian 13 root (${mirror:-the mirror debootstrap takes by default})"
  mkdir -p "$root"
  debootstrap --variant=minbase --arch="$arch" "$suite" "$root" ${mirror:+"$mirror"} >"$work/debootstrap.log" 2>&1 ||
    { tail -n 40 "$work/debootstrap.log" >&2; echo "debian13: debootstrap failed" >&2; exit 1; }
  [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' "$root/etc/apt/sources.list" 2>/dev/null || true)
  mirror=${mirror%/}
  # The security archive the machine uses, else the one beside the mirror;
  # none when neither is known.
  security=""
  [ -n "${VANTREL_DEBIAN_MIRROR:-}" ] || security=$(debian_archive security)
  if [ -z "$security" ] && [[ $mirror == */debian ]]; then security=${mirror%/debian}/debian-security; fi
  if [ -n "$mirror" ]; then
    {
      echo "deb $mirror $suite main"
      echo "deb $mirror $suite-updates main"
      [ -z "$security" ] || echo "deb $security $suite-security main"
    } >"$root/etc/apt/sources.list"
  fi
  # Packages installed here start no services.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mkdir -p "$root/src"
  cp scripts/install-deps.sh "$root/src/install-deps.sh"
  mount_all
  in_root bash -c 'apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get -y -q upgrade >/dev/null'
  in_root bash /src/install-deps.sh
  in_root apt-get clean
  unmount_all
  rm -rf "$root/src"
  tar -C "$root" --numeric-owner -cf "$base.part" .
  mv "$base.part" "$base"
  # Older roots of other keys are of no more use.
  find "$cache" -maxdepth 1 -name "debian13-$arch-*.tar" ! -path "$base" -delete
  rm -rf --one-file-system "$root"
fi

part "unpacking the root and the source tree"
mkdir -p "$root"
tar -C "$root" --numeric-owner -xf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/src"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf - | tar -C "$root/src" -xf -
mount_all
# The packages of install-deps.sh that the cached root does not have yet.
in_root bash /src/scripts/install-deps.sh

part "building (CI=true: warnings are errors)"
in_root env CI=true bash -c 'cd /src && bash scripts/build.sh -DVANTREL_FUZZ=ON'

if [ -n "$labels" ]; then
  part "testing the labels '$labels'"
  select=(-L "$labels")
else
  part "testing everything"
  select=()
fi
in_root env CI=true QT_QPA_PLATFORM=offscreen \
  bash -c 'cd /src/build && ctest --output-on-failure -j2 --timeout 1500 "$@"' ctest "${select[@]}"

part ""
echo "debian13: done in $((SECONDS - started)) s"

#!/usr/bin/env bash
# Runs the README's two commands as a newcomer would, on a fresh minimal Debian 12 with only
# git added: a debootstrap root used through chroot, the repository cloned into root's private
# home (/root/vantrel, mode 0700) and into a world-readable folder (/srv/vantrel). Prints the
# time each command took and the packages the scripts installed. Not part of scripts/test.sh:
# it needs root, network access to a Debian mirror, and an hour or more.
#
# Usage (as root): scripts/check-fresh-debian.sh [commit, default HEAD]
#   VANTREL_FRESH_ROOT   where the fresh system goes (default /var/tmp/vantrel-fresh-root);
#                        a pristine copy is kept beside it (…-base) so reruns skip debootstrap
#   VANTREL_FRESH_MIRROR Debian mirror (default http://deb.debian.org/debian)
#   VANTREL_FRESH_CLONES which clones to run: "home srv" (default), "home" or "srv"
#   VANTREL_FRESH_COMMANDS what to run in each clone (default "scripts/demo.sh scripts/test.sh");
#                        a quicker partial check, e.g. "scripts/demo.sh plain-suite", runs the
#                        set-up and the plain suite without sanitizers, lint, fuzzing or Windows
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "run as root (debootstrap, chroot and mounts need it)" >&2; exit 2; }

commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
root=${VANTREL_FRESH_ROOT:-/var/tmp/vantrel-fresh-root}
base=$root-base
mirror=${VANTREL_FRESH_MIRROR:-http://deb.debian.org/debian}
clones=${VANTREL_FRESH_CLONES:-home srv}
commands=${VANTREL_FRESH_COMMANDS:-scripts/demo.sh scripts/test.sh}
logs=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-fresh-logs-XXXXXX")

if [ ! -x "$base/bin/bash" ]; then
  command -v debootstrap >/dev/null || scripts/install-missing-packages.sh debootstrap
  rm -rf "$base"
  debootstrap --variant=minbase bookworm "$base" "$mirror"
fi

mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
bind() {
  mkdir -p "$root$1"
  mount --bind "$1" "$root$1"
  mounts+=("$root$1")
}

# Each run starts from the pristine system; an earlier run's root must be unmounted by now.
if [ -e "$root" ]; then
  if grep -qE " $root[/ ]" /proc/mounts; then echo "$root still has mounts; unmount them first" >&2; exit 2; fi
  rm -rf "$root"
fi
cp -a "$base" "$root"
# The root a mount point of its own, as on a real system: a private mount namespace (the
# full-disk test's) can then be made inside.
mount --bind "$root" "$root" && mounts+=("$root")
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
bind /sys
bind /dev
bind /dev/pts
cp /etc/resolv.conf "$root/etc/resolv.conf"

in_root() { chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$1"; }

in_root "apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q git >/dev/null"
# The clones come from a bare copy whose main branch is the commit under test.
git clone -q --bare --no-hardlinks . "$root/tmp/vantrel.git"
git -C "$root/tmp/vantrel.git" update-ref refs/heads/main "$commit"
git -C "$root/tmp/vantrel.git" symbolic-ref HEAD refs/heads/main
in_root "chmod 0700 /root && git clone -q /tmp/vantrel.git /root/vantrel &&
  git clone -q /tmp/vantrel.git /srv/vantrel && chmod -R a+rX /srv/vantrel"

echo "fresh Debian $(cat "$root/etc/debian_version") at $root, commit $(git rev-parse --short "$commit"); logs in $logs"
status=0
for clone in $clones; do
  case "$clone" in
    home) folder=/root/vantrel ;;
    srv) folder=/srv/vantrel ;;
    *) echo "unknown clone $clone" >&2; exit 2 ;;
  esac
  for command in $commands; do
    log="$logs/$clone-$(basename "$command" .sh).log"
    start=$SECONDS
    result=passed
    run=$command
    [ "$command" != plain-suite ] || run="scripts/setup.sh && cmake --preset default &&
      cmake --build --preset default && ctest --preset default -j2"
    in_root "cd $folder && $run" >"$log" 2>&1 || result="FAILED (exit $?)"
    [ "$result" = passed ] || status=1
    installed=$(sed -n 's/^installing: //p' "$log" | tr '\n' ' ')
    echo "$folder: $command $result in $((SECONDS - start)) s; installed: ${installed:-nothing}"
    if [ "$result" != passed ]; then tail -40 "$log"; fi
    # Each step's time, each suite's tally, and every test that skipped, with its reason.
    grep -E '^== .* took|tests passed|\*\*\*Skipped|^\[  SKIPPED \] .*[^0-9]$|^fuzzing|^ok |reg peer test' \
      "$log" | sed 's/^/    /' || true
  done
done
exit "$status"

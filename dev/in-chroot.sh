#!/usr/bin/env bash
# Runs a command inside the Debian unstable chroot that dev/interpreters.sh made, with the
# clone bind-mounted at its own path (so paths printed inside mean the same outside), pip's
# download cache from the interpreter cache, and /proc. The mounts live in a private mount
# namespace, so concurrent runs do not see each other's and nothing outlives the command;
# the trap unmounts them anyway in the order they were made.
#   dev/in-chroot.sh COMMAND [ARG...]        e.g. dev/in-chroot.sh python3.15 -V
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${TARVEL_CACHE:-$HOME/.cache/tarvel}
SID=$CACHE/sid
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
if [ ! -e "$SID/.tarvel-ready" ]; then
  echo "dev/in-chroot.sh: no chroot at $SID: run dev/interpreters.sh first" >&2
  exit 1
fi
if [ -z "${TARVEL_IN_NS:-}" ]; then
  TARVEL_IN_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
bind() {  # bind SOURCE TARGET-INSIDE
  mkdir -p "$1" "$SID$2"
  mount --bind "$1" "$SID$2"
  mounted+=("$SID$2")
}
bind "$root" "$root"
bind "$CACHE/pip" /root/.cache/pip
# pip inside sees the host's pip configuration: its PIP_* variables and config files, and the
# local directories (wheel dirs, file indexes, certificate bundles) they name, read-only.
pipconf=()
for f in /etc/pip.conf "$HOME/.config/pip/pip.conf" "$HOME/.pip/pip.conf"; do
  [ -f "$f" ] && pipconf+=("$f")
done
while read -r path; do
  [ -e "$path" ] || continue
  [ -d "$path" ] && mkdir -p "$SID$path" || { mkdir -p "$(dirname "$SID$path")"; touch "$SID$path"; }
  mount --bind -o ro "$path" "$SID$path" && mounted+=("$SID$path")
done < <({ env | grep '^PIP_' | cut -d= -f2-; [ ${#pipconf[@]} -eq 0 ] || cat "${pipconf[@]}"; } |
  grep -oE '(file://)?/[^ ]+' | sed 's|^file://||; s|/simple/*$||' | sort -u; printf '%s\n' "${pipconf[@]}")
pipenv=()
while IFS= read -r kv; do pipenv+=("$kv"); done < <(env | grep '^PIP_' || true)
mount -t proc proc "$SID/proc"
mounted+=("$SID/proc")
[ -e "$SID/dev/null" ] || { mount --bind /dev "$SID/dev"; mounted+=("$SID/dev"); }
cp /etc/resolv.conf "$SID/etc/resolv.conf"
chroot "$SID" /usr/bin/env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
  ${HYPOTHESIS_PROFILE:+HYPOTHESIS_PROFILE=$HYPOTHESIS_PROFILE} PIP_DISABLE_PIP_VERSION_CHECK=1 \
  ${pipenv[@]+"${pipenv[@]}"} sh -c 'cd "$0" 2>/dev/null || cd /; exec "$@"' "$(pwd)" "$@"

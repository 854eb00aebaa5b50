#!/usr/bin/env bash
# Obtains every interpreter the test matrix needs into a cache outside the clone, and prints
# what it has. Idempotent: each piece leaves a marker when complete, so a second run only
# checks markers and takes seconds.
#
#   dev/interpreters.sh [all|chroot|ft|list]      (default: all)
#
# Pieces (under $TARVEL_CACHE, default ~/.cache/tarvel):
#   sid/        a Debian unstable chroot (debootstrap) with python3.14/3.15 -dev and -venv,
#               g++, cmake, ninja: their binaries need a newer C library than the host has.
#   py3.13t/    a free-threaded 3.13 built from Debian's 3.13 source package.
#   3.14t/3.15t are taken when a pythonX.Yt is on PATH or in the cache; skipped otherwise.
#
# The mirror comes from the host's own apt sources at run time, so no repository file names one.
# Needs root (debootstrap, chroot, apt-get on the host for debootstrap and dpkg-dev).
set -euo pipefail

CACHE=${TARVEL_CACHE:-$HOME/.cache/tarvel}
SID=$CACHE/sid
FT_PREFIX=$CACHE/py3.13t
CHROOT_PKGS="python3.14-dev python3.14-venv python3.15-dev python3.15-venv g++ cmake ninja-build"
mkdir -p "$CACHE"
# A mirror that is a dated snapshot serves Release files whose validity has run out; their
# signatures are still checked.
APT_DATES="-o Acquire::Check-Valid-Until=false"

log() { echo "interpreters: $*" >&2; }

# The host's Debian mirror: the first URIs: line of a deb822 source that is not the security
# archive, else the first classic deb line.
host_mirror() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$f")
    [ -n "$uri" ] && { echo "${uri%/}"; return 0; }
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    uri=$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f")
    [ -n "$uri" ] && { echo "${uri%/}"; return 0; }
  done
  log "no Debian mirror found in the host's apt sources"
  return 1
}

host_has() { command -v "$1" >/dev/null 2>&1; }

host_install() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing on the host: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2 ||
    { apt-get update -q >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2; }
}

# --- the unstable chroot ---------------------------------------------------------------------

get_chroot() {
  if [ -e "$SID/.tarvel-ready" ]; then
    return 0
  fi
  host_install debootstrap
  local mirror
  mirror=$(host_mirror)
  if [ ! -e "$SID/.tarvel-base" ]; then
    log "debootstrap sid into $SID (several minutes)"
    rm -rf "$SID"
    debootstrap --variant=minbase sid "$SID" "$mirror" >&2
    touch "$SID/.tarvel-base"
  fi
  log "installing into the chroot: $CHROOT_PKGS"
  cp /etc/resolv.conf "$SID/etc/resolv.conf"
  mountpoint -q "$SID/proc" || mount -t proc proc "$SID/proc"
  local rc=0
  chroot "$SID" /usr/bin/env DEBIAN_FRONTEND=noninteractive \
    sh -c "apt-get $APT_DATES update -q && apt-get $APT_DATES install -y -q --no-install-recommends $CHROOT_PKGS" >&2 || rc=$?
  umount "$SID/proc" || true
  [ $rc -eq 0 ] || return $rc
  touch "$SID/.tarvel-ready"
}

# --- free-threaded 3.13 from Debian's source package ------------------------------------------

get_ft313() {
  if [ -x "$FT_PREFIX/bin/python3.13t" ] && [ -e "$FT_PREFIX/.tarvel-ready" ]; then
    return 0
  fi
  host_install dpkg-dev
  local mirror apt=$CACHE/apt src=$CACHE/src
  mirror=$(host_mirror)
  mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial" "$src"
  # Private apt configuration: only the source lines below, its own lists and caches, so the
  # host's apt state is left as it was.
  {
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror sid main"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror testing main"
  } >"$apt/sources.list"
  local aptopts=(-o "Dir::Etc::sourcelist=$apt/sources.list" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State=$apt/state" -o "Dir::Cache=$apt/cache" -o "Dir::State::status=/var/lib/dpkg/status"
    -o "APT::Sandbox::User=root" $APT_DATES)
  local tree
  tree=$(find "$src" -maxdepth 1 -type d -name 'python3.13-3.13*' | sort -V | tail -n1)
  if [ -z "$tree" ] || [ ! -e "$tree/.tarvel-unpacked" ]; then
    log "fetching Debian's python3.13 source package"
    apt-get "${aptopts[@]}" update -q >&2
    rm -rf "${src:?}"/*
    # A suite can list a version whose files are gone from the pool: take the newest that
    # downloads.
    local ver got=""
    for ver in $(apt-cache "${aptopts[@]}" showsrc python3.13 | awk '/^Version:/ { print $2 }' | sort -rV); do
      if (cd "$src" && apt-get "${aptopts[@]}" source -q --download-only "python3.13=$ver" >&2); then
        got=$ver
        break
      fi
      log "python3.13 $ver is listed but does not download; trying an older one"
    done
    [ -n "$got" ] || { log "no python3.13 source package downloads"; return 1; }
    # Unpacked without Debian's patches: they fit the interpreter to Debian's own layout
    # (dist-packages, a site.py that misses a free-threaded venv's lib/python3.13t).
    (cd "$src" && dpkg-source -x --skip-patches ./*.dsc >&2)
    tree=$(find "$src" -maxdepth 1 -type d -name 'python3.13-3.13*' | sort -V | tail -n1)
    [ -n "$tree" ] || { log "apt-get source gave no python3.13 tree"; return 1; }
    touch "$tree/.tarvel-unpacked"
  fi
  log "building free-threaded 3.13 from $tree (4-11 minutes)"
  local build=$CACHE/build-3.13t
  rm -rf "$build" "$FT_PREFIX"
  mkdir -p "$build"
  # Debian's patches refuse ensurepip outside a virtual environment: pip comes with each venv.
  (cd "$build" && "$tree/configure" -q --disable-gil --prefix="$FT_PREFIX" --with-ensurepip=no >&2 &&
    make -s -j"$(nproc)" >&2 && make -s install >&2)
  "$FT_PREFIX/bin/python3.13t" -c 'import ssl, venv, sysconfig; assert sysconfig.get_config_var("Py_GIL_DISABLED")' >&2
  touch "$FT_PREFIX/.tarvel-ready"
  rm -rf "$build"
}

# --- listing ---------------------------------------------------------------------------------

# Prints one line per interpreter: KIND VERSION PATH, KIND one of host, chroot, ft.
list_interpreters() {
  local v p
  for v in 3.11 3.12 3.13; do
    # shellcheck source=dev/lib.sh
    p=$(. "$(dirname "$0")/lib.sh"; resolve_python "python$v") && echo "host $v $p"
  done
  if [ -e "$SID/.tarvel-ready" ]; then
    for v in 3.14 3.15; do
      [ -x "$SID/usr/bin/python$v" ] && echo "chroot $v /usr/bin/python$v"
    done
  fi
  [ -e "$FT_PREFIX/.tarvel-ready" ] && echo "ft 3.13t $FT_PREFIX/bin/python3.13t"
  for v in 3.14t 3.15t; do
    if p=$(command -v "python$v" 2>/dev/null); then
      echo "ft $v $p"
    elif [ -x "$CACHE/py$v/bin/python$v" ]; then
      echo "ft $v $CACHE/py$v/bin/python$v"
    elif [ -x "$SID/usr/bin/python$v" ]; then
      echo "chroot $v /usr/bin/python$v"
    else
      log "skipping $v: no python$v on PATH or in $CACHE (no downloadable source package to build it from)"
    fi
  done
}

what=${1:-all}
case $what in
  chroot) get_chroot ;;
  ft) get_ft313 ;;
  all) get_chroot; get_ft313 ;;
  list) ;;
  *) echo "usage: $0 [all|chroot|ft|list]" >&2; exit 2 ;;
esac
list_interpreters

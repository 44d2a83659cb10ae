#!/bin/bash
# wine_run.sh PREFIX PROGRAM.exe [ARGS...]
#
# Runs a Windows program under wine64 on a virtual X server (xvfb; wine's opengl32 renders with
# Mesa behind GLX) and passes its exit code through. The wine prefix at PREFIX is made on first
# use and kept: making one takes seconds and hundreds of megabytes. Runs sharing a prefix share
# one wineserver, which each run ends on its way out, so run them one at a time.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
prefix=$(realpath -m -- "$1")
shift

wine_dir=${VEXO_WINE_DIR:-/usr/lib/wine}
export WINE=$wine_dir/wine64 WINESERVER=$wine_dir/wineserver
for tool in "$WINE" "$WINESERVER"; do
  if [ ! -x "$tool" ]; then
    echo "$0: $tool not found (Debian package wine64)" >&2
    exit 2
  fi
done
command -v xvfb-run >/dev/null || { echo "$0: xvfb-run not found (Debian package xvfb)" >&2; exit 2; }

export WINEPREFIX=$prefix WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers, no menu entries on the build machine.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.vexo-prefix-ready" ]; then
    rm -rf "$prefix"
    if ! "$WINE" wineboot --init >"$prefix.log" 2>&1 || ! "$WINESERVER" -w; then
      echo "$0: making the wine prefix $prefix failed:" >&2
      cat "$prefix.log" >&2
      exit 1
    fi
    touch "$prefix/.vexo-prefix-ready"
  fi
) 9>"$prefix.lock" || exit 1

# The wineserver is ended inside the X server's lifetime, so nothing of wine outlives the run
# and the program's own exit code is what comes back.
exec xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" \
  bash -c '"$WINE" "$@"; rc=$?; "$WINESERVER" -k 2>/dev/null; exit $rc' wine_run "$@"

#!/bin/bash
# check_pipl.sh WINE_RUN PREFIX VEXORANT.EXE LINUX_BUILD_DIR GENERATED.pipl WORK_DIR
#
# The property list as a host reads it from the Windows module (the "PIPL" resource, id 16000,
# US English, found by vexorant.exe with the resource API under wine) holds exactly the bytes of
# the Linux module's property list.
set -u
if [ $# -ne 6 ]; then
  echo "usage: $0 WINE_RUN PREFIX VEXORANT.EXE LINUX_BUILD_DIR GENERATED.pipl WORK_DIR" >&2
  exit 2
fi
abs() { realpath -m -- "$1"; }
wine_run=$(abs "$1") prefix=$(abs "$2") vexorant_exe=$(abs "$3") linux_build=$(abs "$4")
generated=$(abs "$5") work=$(abs "$6")

linux_vexorant=$linux_build/bin/vexorant
if [ ! -x "$linux_vexorant" ]; then
  echo "no Linux build at $linux_build: build it first (cmake --preset default &&" \
       "cmake --build --preset default) or configure with -DVEXO_LINUX_BUILD_DIR=..." >&2
  exit 1
fi
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

"$linux_vexorant" info --pipl-dump linux.pipl >/dev/null || { echo "Linux vexorant failed" >&2; exit 1; }
# A relative path: wine's programs see the Unix working folder as their own.
"$wine_run" "$prefix" "$vexorant_exe" info --pipl-dump windows.pipl >info.txt 2>&1
rc=$?
if [ $rc -ne 0 ]; then
  echo "vexorant.exe info failed under wine (exit $rc):" >&2
  cat info.txt >&2
  exit 1
fi

status=0
size=$(stat -c %s windows.pipl)
echo "resource read under wine: $size bytes"
if [ "$size" != 290 ]; then
  echo "the resource holds $size bytes, not 290" >&2
  status=1
fi
if ! cmp linux.pipl windows.pipl; then
  echo "the Windows resource differs from the Linux module's property list" >&2
  status=1
fi
if ! cmp "$generated" windows.pipl; then
  echo "the Windows resource differs from the generated property list" >&2
  status=1
fi
[ $status -eq 0 ] && echo "the Windows resource equals the Linux module's property list"
exit $status

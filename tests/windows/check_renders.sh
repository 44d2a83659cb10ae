#!/bin/bash
# check_renders.sh WINE_RUN PREFIX VEXORANT.EXE LINUX_BUILD_DIR IMAGE_TOOL WORK_DIR
#
# Renders the same frames with the Windows host and module under wine and with the Linux build,
# and compares them. Both run the same shaders on the same Mesa (llvmpipe, behind wine's opengl32
# on one side and EGL on the other), so they agree to float rounding: 32-bit renders within 1e-6
# (the Windows host writes them as PFM, the Linux one as OpenEXR), 8-bit ones (PNG) within one
# level.
set -u
if [ $# -ne 6 ]; then
  echo "usage: $0 WINE_RUN PREFIX VEXORANT.EXE LINUX_BUILD_DIR IMAGE_TOOL WORK_DIR" >&2
  exit 2
fi
abs() { realpath -m -- "$1"; }
wine_run=$(abs "$1") prefix=$(abs "$2") vexorant_exe=$(abs "$3") linux_build=$(abs "$4")
tool=$(abs "$5") work=$(abs "$6")

linux_vexorant=$linux_build/bin/vexorant
if [ ! -x "$linux_vexorant" ]; then
  echo "no Linux build at $linux_build: build it first (cmake --preset default &&" \
       "cmake --build --preset default) or configure with -DVEXO_LINUX_BUILD_DIR=..." >&2
  exit 1
fi
rm -rf "$work" && mkdir -p "$work/linux" "$work/windows" && cd "$work" || exit 1

"$tool" pattern in.png 96 64 1 && "$tool" pattern map.png 80 56 2 &&
  "$tool" pattern in.pfm 96 64 3 && "$tool" pattern map.pfm 72 60 4 &&
  "$tool" pattern in.0001.png 64 48 5 && "$tool" pattern in.0002.png 64 48 6 &&
  "$tool" pattern in.0003.png 64 48 7 || { echo "cannot write the test images" >&2; exit 1; }

status=0
failed() {
  echo "FAILED: $*" >&2
  status=1
}

# The Linux host's float format for the Windows host's.
linux_ext() { [ "$1" = pfm ] && echo exr || echo "$1"; }

# render NAME OUTPUT_EXT TOLERANCE [vexorant render options...]
render() {
  local name=$1 ext=$2 tolerance=$3
  shift 3
  if ! "$linux_vexorant" render "$@" --output "linux/$name.$(linux_ext "$ext")" \
      >"linux/$name.log" 2>&1; then
    cat "linux/$name.log" >&2
    failed "$name: the Linux render failed"
    return
  fi
  # Relative paths: wine's programs see the Unix working folder as their own.
  if ! "$wine_run" "$prefix" "$vexorant_exe" render "$@" --output "windows/$name.$ext" \
      >"windows/$name.log" 2>&1; then
    cat "windows/$name.log" >&2
    failed "$name: the render under wine failed"
    return
  fi
  compare "$name" "$ext" "$tolerance"
}

# compare NAME EXT TOLERANCE: every Linux file NAME*.EXT (#### in NAME standing for a frame
# number) against the Windows file of the same name.
compare() {
  local name=$1 ext=$2 tolerance=$3 found=0
  local pattern=${name//####/*} lext
  lext=$(linux_ext "$ext")
  for linux_file in linux/$pattern*.$lext; do
    [ -e "$linux_file" ] || continue
    found=1
    local windows_file=windows/${linux_file#linux/}
    windows_file=${windows_file%.$lext}.$ext
    "$tool" compare "$linux_file" "$windows_file" "$tolerance" || failed "$name: $windows_file"
  done
  [ $found -eq 1 ] || failed "$name: the Linux render wrote no $pattern*.$lext"
}

png=0.0040  # one level of 255
pfm=1e-6

render plain png $png --input in.png
render displaced png $png --input in.png --map map.png --map-origin 7,-5 \
  --set "Channel=Hue" --set "Translate X=12" --set "Rotate=20" --set "Scale=80" \
  --set "Edge Behavior=Mirror Repeat"
render softened_4x png $png --input in.png --map map.png --set "Anti-Aliasing=4x" \
  --set "Map Softness=6" --set "Uniform Scale=off" --set "Scale X=150" --set "Anchor Y=20" \
  --set "Edge Behavior=Repeat" --set "Invert Map=on"
render float pfm $pfm --input in.pfm --map map.pfm --depth 32 --set "Translate Y=-20" \
  --set "Displacement Easing=Ease In & Out" --set "Map Gamma=1.7" --set "Displacement Offset=-0.3" \
  --set "Channel=Saturation" --set "Edge Behavior=Edge Repeat"
render aberration_2x pfm $pfm --input in.png --map map.png --depth 32 --set "Anti-Aliasing=2x" \
  --set "Red=1.3" --set "Blue=-0.7" --set "Translate X=30" --set "Rotate=-35"
# PFM holds no alpha: a 32-bit render's alpha, as 8 bits (Linux writes 16 unless asked).
render aberration_2x_alpha png $png --input in.png --map map.png --depth 32 --output-samples uint8 \
  --set "Anti-Aliasing=2x" --set "Red=1.3" --set "Blue=-0.7" --set "Translate X=30" \
  --set "Rotate=-35"
# Several frames on two render threads: each thread makes its own context on Windows too.
render frames.#### png $png --input in.%04d.png --frames 1-3 --threads 2 --downsample 0.5 \
  --set "Translate X=25" --set "Map Softness=3" --set "View=Map"

mkdir -p linux/demo windows/demo
if ! "$linux_vexorant" demo --output-dir linux/demo >linux/demo.log 2>&1; then
  cat linux/demo.log >&2
  failed "demo: the Linux run failed"
elif ! "$wine_run" "$prefix" "$vexorant_exe" demo --output-dir windows/demo \
    >windows/demo.log 2>&1; then
  cat windows/demo.log >&2
  failed "demo: the run under wine failed"
else
  compare demo/vexorant-demo png $png
fi

# refused CODE TEXT [vexorant render options...]: the Windows host refuses the line with exit
# code CODE and a message holding TEXT, and writes nothing.
refused() {
  local code=$1 text=$2 got
  shift 2
  "$wine_run" "$prefix" "$vexorant_exe" render "$@" >windows/refused.log 2>&1
  got=$?
  if [ $got -ne "$code" ] || ! grep -qF -- "$text" windows/refused.log; then
    cat windows/refused.log >&2
    failed "refused $*: exit $got, expected $code and '$text'"
  fi
  ! ls windows | grep -q '^refused_out' || failed "refused $*: wrote an output"
}

# A 32-bit `long` would overflow counting up to the last frame; the range is refused first.
refused 2 "one render takes at most 1000000" --input in.%04d.png --frames 1-2147483647 \
  --output windows/refused_out.%04d.png
# A bare module name is a file in this folder, not one the DLL search finds beside the program.
refused 1 "cannot open .\\VexorantPro.aex" --module VexorantPro.aex --input in.png \
  --output windows/refused_out.png

[ $status -eq 0 ] && echo "every render under wine matches the Linux build's"
exit $status

#!/bin/bash
# Runs the frei0r modules in real hosts and compares every frame, byte for byte, with
# `vexorant render` of the same input frames and the same control values, at a size whose rows
# no host pads and at sizes whose rows FFmpeg pads (854 and 62 pixels wide).
#   hosts_test.sh ffmpeg|melt|kdenlive|shotcut|gstreamer|bad-input|install BIN_DIR WORK_DIR
#                 [BUILD_DIR]
# `install` also checks the OpenFX bundle the same install puts where OFX hosts look.
# Exits 77 (skipped) when the host is not installed.
set -euo pipefail

case_name=$1
bin=$(cd "$2" && pwd)
projects=$(cd "$(dirname "$0")" && pwd)/projects
work=$3
build=${4:-}
rm -rf "$work" && mkdir -p "$work" && cd "$work"

need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
}
need ffmpeg
fail() { echo "FAIL: $*" >&2; exit 1; }

export FREI0R_PATH=$bin
frames=3

# Pixels as red, green, blue, alpha bytes, a whole numbered sequence at once: the files'
# compression may differ, the images not.
pixels() { ffmpeg -v quiet -i "$1" -f rawvideo -pix_fmt rgba - 2>/dev/null; }
same_image() { cmp -s <(pixels "$1") <(pixels "$2"); }

# The same frames with and without the effect must match, and the effect must have done
# something (a comparison of two copies of the input proves nothing).
compare_frames() {  # PREFIX_GOT PREFIX_WANT PREFIX_INPUT COUNT [identity-ok]
    local n
    n=$(ls "$1"[0-9][0-9].png 2>/dev/null | wc -l)
    [ "$n" -eq "$4" ] || fail "$n frames $1??.png written, not $4"
    same_image "$1%02d.png" "$2%02d.png" || fail "frames $1??.png differ from $2??.png"
    if [ -z "${5:-}" ] && same_image "$1%02d.png" "$3%02d.png"; then
        fail "frames $1??.png are their input unchanged"
    fi
    echo "ok: $1 matches $2 ($4 frames)"
}

make_input() {  # PREFIX SOURCE
    ffmpeg -v error -f lavfi -i "$2=size=$size:rate=25" -frames:v $frames -vf format=rgba \
        -y "$1%02d.png"
}

# The parameter table as `vexorant info --frei0r` prints it: name and default, in frei0r order.
mapfile -t table < <("$bin/vexorant" info --frei0r | awk -F'|' 'NR > 2 {
    gsub(/^ +| +$/, "", $3); gsub(/^ +| +$/, "", $4); gsub(/^ +| +$/, "", $5);
    print $3 "|" $4 "|" $5 }')
[ ${#table[@]} -gt 0 ] || fail "vexorant info --frei0r printed no parameters"

# FFmpeg takes the parameters in order, all of them up to the last one given, booleans as y/n.
ffmpeg_params() {  # NAME=VALUE...
    local row name type value setting out=""
    for row in "${table[@]}"; do
        IFS='|' read -r name type value <<<"$row"
        for setting in "$@"; do
            [ "${setting%%=*}" = "$name" ] && value=${setting#*=}
        done
        if [ "$type" = bool ]; then
            value=$(awk -v v="$value" 'BEGIN { print (v + 0 >= 0.5) ? "y" : "n" }')
        fi
        out+="${out:+|}$value"
    done
    printf '%s' "$out"
}

# Three sets: frei0r values for the hosts, the same values as the user types them for --set.
frei0r_set1=("Channel=Red" "Translate X=0.625" "Rotate=0.5625" "Edge Behavior=Mirror Repeat")
vexorant_set1=(--set "Channel=Red" --set "Translate X=25" --set "Rotate=45"
    --set "Edge Behavior=Mirror Repeat")
frei0r_set2=("Uniform Scale=0" "Scale X=0.75" "Scale Y=0.375" "Map Softness=0.25" "Red=0.5"
    "Anti-Aliasing=2x" "Displacement Easing=Ease In & Out" "Translate Y=0.75")
vexorant_set2=(--set "Uniform Scale=off" --set "Scale X=50" --set "Scale Y=-25"
    --set "Map Softness=5" --set "Red=0" --set "Anti-Aliasing=2x"
    --set "Displacement Easing=Ease In & Out" --set "Translate Y=50")
frei0r_set3=("View=Map" "Invert Map=1" "Map Gamma=0.75" "Displacement Offset=0.25")
vexorant_set3=(--set "View=Map" --set "Invert Map=on" --set "Map Gamma=1.5"
    --set "Displacement Offset=-0.5")

render() {  # OUT_PREFIX INPUT_PREFIX [MAP_PREFIX] -- SETTINGS...
    local out=$1 in=$2 map=()
    shift 2
    if [ "$1" != -- ]; then map=(--map "$1%02d.png"); shift; fi
    shift
    "$bin/vexorant" render --input "$in%02d.png" "${map[@]}" --frames 1-$frames "$@" \
        --output "$out%02d.png" >/dev/null
}

run_ffmpeg() {  # OUT_PREFIX FILTER_ARGS
    ffmpeg -v error -i in%02d.png -vf "format=rgba,frei0r=$2" -y "$1%02d.png" 2>ffmpeg.err ||
        { cat ffmpeg.err >&2; fail "ffmpeg failed"; }
}

# Kdenlive's description against its own of other services: the root and service it names, only
# parameter types and attributes its own descriptions use, and the module's parameters by name,
# in order, with their frei0r defaults and sliders that reach 0 to 1 and no further.
declare -A known_attrs
check_kdenlive() {  # FILE ROOT SERVICE
    local file=$1 root=$2 service=$3 i name type value p ptype known attr min max factor
    xmllint --noout "$file" || fail "$file is not well-formed XML"
    x() { xmllint --xpath "$1" "$file" 2>/dev/null || true; }
    [ "$(x "name(/*)")" = "$root" ] || fail "$file is not a $root"
    [ "$(x "string(/*/@tag)")|$(x "string(/*/@id)")" = "$service|$service" ] ||
        fail "$file does not name $service"
    [ "$(x "count(//parameter)")" -eq ${#table[@]} ] ||
        fail "$file has $(x "count(//parameter)") parameters, the module ${#table[@]}"
    for i in $(seq ${#table[@]}); do
        IFS='|' read -r name type value <<<"${table[i - 1]}"
        p="//parameter[$i]"
        ptype=$(x "string($p/@type)")
        case $type in
        bool) [ "$ptype" = bool ] ;;
        string) [ "$ptype" = list ] ;;
        *) [ "$ptype" = animated ] ;;
        esac || fail "$name is a $type, described as $ptype"
        [ "$(x "string($p/@name)")|$(x "string($p/name)")" = "$name|$name" ] ||
            fail "parameter $i is not $name"
        [ "$(x "string($p/@default)")" = "$value" ] || fail "$name's default is not $value"
        # Read once per type: Kdenlive ships hundreds of descriptions.
        if [ -z "${known_attrs[$ptype]+set}" ]; then
            known_attrs[$ptype]=$(for f in /usr/share/kdenlive/{effects,transitions}/*.xml; do
                xmllint --xpath "//parameter[@type='$ptype']/@*" "$f" 2>/dev/null || true
            done | grep -o '[a-z_]*=' | sort -u)
        fi
        known=${known_attrs[$ptype]}
        for attr in $(x "$p/@*" | grep -o '[a-z_]*='); do
            grep -qx "$attr" <<<"$known" || fail "Kdenlive's $ptype parameters have no ${attr%=}"
        done
        if [ "$ptype" = list ]; then
            tr ';' '\n' <<<"$(x "string($p/@paramlist)")" | grep -qxF "$value" ||
                fail "$name's list lacks its default"
        elif [ "$ptype" = animated ]; then
            min=$(x "string($p/@min)") max=$(x "string($p/@max)") factor=$(x "string($p/@factor)")
            awk -v a="$min" -v b="$max" -v f="$factor" 'BEGIN { exit !(a / f == 0 && b / f == 1) }' ||
                fail "$name shows $min to $max with factor $factor: not the frei0r range 0 to 1"
        fi
    done
    echo "ok: $file describes the module as Kdenlive's own descriptions do"
}

# A project file as an editor writes it (frei0r/tests/projects/), rendered by melt beside the
# clips it names, at this size.
run_project() {  # OUT_PREFIX PROJECT WANT_PREFIX
    sed -e "s/@WIDTH@/${size%x*}/g" -e "s/@HEIGHT@/${size#*x}/g" "$projects/$2" >"$2"
    run_melt "$1" "xml:$2"
    compare_frames "$1" "$3" in $frames
}

# melt's profile, two clips, and their frames as melt reads them: in??.png and map??.png.
melt_setup() {
    need melt
    cat >profile <<EOF
description=frei0r test
frame_rate_num=25
frame_rate_den=1
width=${size%x*}
height=${size#*x}
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=${size%x*}
display_aspect_den=${size#*x}
colorspace=709
EOF
    # MLT reads clips and writes pictures; frames it passes on unfiltered are the input. Its
    # consumer runs in real time unless told otherwise, and then drops the frames it cannot
    # keep up with: real_time=-1 renders every frame, on one thread of its own.
    # MLT's clip reader never delivers a clip's last frame: the clips run one frame longer.
    for clip in a:testsrc2 b:testsrc; do
        ffmpeg -v error -f lavfi -i "${clip#*:}=size=$size:rate=25" -frames:v $((frames + 1)) \
            -pix_fmt rgba -c:v rawvideo -y "${clip%:*}.nut"
    done
    # On a loaded machine melt now and then ends at once, having written nothing, also when no
    # module of ours is in the chain; such a run is tried again, twice at most. A run that
    # writes some frames but not all is a failure.
    run_melt() {  # OUT_PREFIX ARGS...
        local out=$1 try
        shift
        for try in 1 2 3; do
            melt -silent -profile profile "$@" -consumer "avformat:$out%02d.png" vcodec=png \
                pix_fmt=rgba real_time=-1 2>melt.err || { cat melt.err >&2; fail "melt failed"; }
            ls "$out"[0-9][0-9].png >/dev/null 2>&1 && return
            echo "melt wrote no frame $out??.png (try $try)"
        done
    }
    last=$((frames - 1))
    run_melt in a.nut out=$last
    run_melt map b.nut out=$last
    for prefix in in map; do
        count=$(ls $prefix??.png 2>/dev/null | wc -l)
        [ "$count" -eq $frames ] || fail "melt wrote $count frames $prefix??.png, not $frames"
    done
}

run_case() {
case $case_name in
ffmpeg)
    make_input in testsrc2
    # A bare filter renders what the effect does just applied.
    run_ffmpeg ff0 vexorant
    render want0 in --
    compare_frames ff0 want0 in $frames identity-ok
    for n in 1 2 3; do
        frei0r_set="frei0r_set$n[@]" vexorant_set="vexorant_set$n[@]"
        run_ffmpeg ff$n "vexorant:$(ffmpeg_params "${!frei0r_set}")"
        render want$n in -- "${!vexorant_set}"
        compare_frames ff$n want$n in $frames
    done
    ;;
melt)
    melt_setup
    # The filter on one track, parameters by name.
    run_melt mf1 a.nut out=$last -filter frei0r.vexorant "${frei0r_set1[@]}"
    render want1 in -- "${vexorant_set1[@]}"
    compare_frames mf1 want1 in $frames
    # Keyframes: melt counts from the clip's first frame (file 01) and interpolates the frei0r
    # value, vexorant the control's; linear both, so the frames agree bit for bit.
    run_melt mk a.nut out=$last -filter frei0r.vexorant "Translate X=0=0.5;23=0.75"
    render wantk in -- --set "Translate X=0@1,50@24"
    compare_frames mk wantk in $frames
    # The mixer as a transition: the map layer on the second track.
    run_melt mt2 -track a.nut out=$last -track b.nut out=$last \
        -transition frei0r.vexorant_map a_track=0 b_track=1 "${frei0r_set2[@]}"
    render want2 in map -- "${vexorant_set2[@]}"
    compare_frames mt2 want2 in $frames
    render nomap2 in -- "${vexorant_set2[@]}"
    if same_image mt2%02d.png nomap2%02d.png; then fail "the transition ignored its map layer"; fi
    echo "ok: the transition renders with its map layer"
    ;;
kdenlive)
    [ -d /usr/share/kdenlive/effects ] || { echo "skipped: kdenlive-data is not installed"; exit 77; }
    need xmllint
    check_kdenlive "$build/editors/kdenlive/effects/vexorant.xml" effect frei0r.vexorant
    check_kdenlive "$build/editors/kdenlive/transitions/vexorant_map.xml" transition \
        frei0r.vexorant_map
    melt_setup
    render wantk1 in -- --set Channel=Saturation --set "Map Gamma=1.5" \
        --set "Displacement Easing=Ease In & Out" --set "Translate Y=0@1,50@24" \
        --set "Uniform Scale=off" --set "Scale Y=-25" --set "Edge Behavior=Mirror Repeat" \
        --set "Anti-Aliasing=2x"
    render wantk wantk1 map -- --set Channel=Green --set "Translate X=25@1,-25@24" \
        --set Rotate=45 --set "Edge Behavior=Repeat"
    run_project kd vexorant.kdenlive wantk
    ;;
shotcut)
    [ -d /usr/share/shotcut/qml/filters ] || { echo "skipped: shotcut-data is not installed"; exit 77; }
    need qmllint
    editors=$build/editors/shotcut/vexorant
    # The linter must take Shotcut's own filter, so that it rejects ours for our faults alone.
    export QT_SELECT=qt5
    qmllint /usr/share/shotcut/qml/filters/glitch/{meta,ui}.qml || fail "qmllint rejects Shotcut's"
    qmllint "$editors/meta.qml" "$editors/ui.qml" || fail "qmllint rejects ours"
    grep -qx "    mlt_service: 'frei0r.vexorant'" "$editors/meta.qml" ||
        fail "meta.qml names no frei0r.vexorant"
    for row in "${table[@]}"; do
        IFS='|' read -r name type value <<<"$row"
        grep -qF "'$name'" "$editors/ui.qml" || fail "ui.qml sets no '$name'"
        if [ "$type" = double ]; then
            grep -qF "property: '$name'" "$editors/meta.qml" || fail "$name is not keyframable"
        fi
    done
    echo "ok: Shotcut's filter parses and sets every parameter"
    melt_setup
    render wants in -- --set Channel=Red --set "Invert Map=on" --set "Translate X=0@1,50@24" \
        --set Rotate=45 --set "Edge Behavior=Mirror Repeat"
    run_project sc vexorant.mlt wants
    ;;
gstreamer)
    need gst-launch-1.0
    export GST_REGISTRY=$work/registry.bin  # a fresh scan finds the modules under test
    make_input in testsrc2
    gst-launch-1.0 -q multifilesrc location=in%02d.png start-index=1 stop-index=$frames \
        caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! video/x-raw,format=RGBA ! \
        frei0r-filter-vexorant channel=Red translate-x=0.625 rotate=0.5625 \
        edge-behavior="Mirror Repeat" ! pngenc ! multifilesink location=gst%02d.png index=1 \
        2>gst.err || { cat gst.err >&2; fail "gst-launch-1.0 failed"; }
    render want1 in -- "${vexorant_set1[@]}"
    compare_frames gst want1 in $frames
    ;;
bad-input)
    # The host keeps running and the frames pass through, with a message on standard error.
    make_input in testsrc2
    check_refused() {  # LABEL FILTER_ARGS MESSAGE
        run_ffmpeg "bad$1-" "$2"
        compare_frames "bad$1-" in in $frames identity-ok
        grep -qF -- "$3" ffmpeg.err || { cat ffmpeg.err >&2; fail "no message '$3'"; }
    }
    check_refused 1 "vexorant:$(ffmpeg_params "Channel=Purple" "Translate X=0.75")" "Channel has no entry 'Purple'"
    check_refused 2 "vexorant:$(ffmpeg_params "Map Gamma=nan" "Translate X=0.75")" \
        "Map Gamma cannot take NaN"
    check_refused 3 "vexorant:$(ffmpeg_params "Translate X=1.5" "Translate Y=0.75")" "Translate X takes 0 to 1"
    # Wider than any GPU's textures: the effect refuses the frame. (A width of 16 pixels a
    # step keeps FFmpeg's rows unpadded, as frei0r frames must be.)
    ffmpeg -v error -f lavfi -i "testsrc2=size=65552x8:rate=25" -frames:v 1 -vf format=rgba \
        -y wide.png
    ffmpeg -v error -i wide.png -vf "format=rgba,frei0r=vexorant:$(ffmpeg_params \
        "Translate X=0.75")" -y wide-out.png 2>ffmpeg.err || { cat ffmpeg.err >&2; fail "ffmpeg failed"; }
    same_image wide-out.png wide.png || fail "a frame too wide for the GPU was not passed through"
    grep -q "failed to render" ffmpeg.err || { cat ffmpeg.err >&2; fail "no message for the wide frame"; }
    echo "ok: refused values and frames pass through with a message"
    # The module's diagnostics never reach standard output, where FFmpeg writes its video: with
    # a driver that rejects every shader, the stream holds the frames (passed through) and
    # nothing else, and the messages are on standard error.
    [ -n "${VEXO_REJECT_SHADERS:-}" ] || fail "VEXO_REJECT_SHADERS names no library"
    LD_PRELOAD=$VEXO_REJECT_SHADERS ffmpeg -v error -i in%02d.png \
        -vf "format=rgba,frei0r=vexorant" -f rawvideo -pix_fmt rgba - >piped.raw 2>ffmpeg.err ||
        { cat ffmpeg.err >&2; fail "ffmpeg failed"; }
    grep -q "Compile Shader Failed" ffmpeg.err || { cat ffmpeg.err >&2; fail "the driver rejected nothing"; }
    cmp piped.raw <(pixels in%02d.png) ||
        fail "the piped stream holds $(stat -c %s piped.raw) bytes, not the frames' $(pixels in%02d.png | wc -c)"
    echo "ok: a piped stream holds the frames and nothing else"
    ;;
install)
    [ -n "$build" ] || fail "install needs the build folder"
    # Staged: the OpenFX bundle goes to the folder its hosts search, outside any prefix, and only
    # as its own component.
    DESTDIR=$work/root cmake --install "$build" --prefix /usr >/dev/null
    [ ! -e "$work/root${VEXO_OFX_INSTALL_DIR:-/usr/OFX/Plugins}" ] ||
        fail "a plain install wrote the OpenFX bundle outside its prefix"
    DESTDIR=$work/root cmake --install "$build" --prefix /usr --component ofx >/dev/null
    installed=$work/root/usr/lib/frei0r-1
    for f in vexorant.so vexorant_map.so VexorantPro.so; do
        [ -f "$installed/$f" ] || fail "$f was not installed in lib/frei0r-1"
    done
    make_input in testsrc2
    FREI0R_PATH=$installed run_ffmpeg inst "vexorant:$(ffmpeg_params "${frei0r_set1[@]}")"
    render want1 in -- "${vexorant_set1[@]}"
    compare_frames inst want1 in $frames

    [ -n "${VEXO_OFX_INSTALL_DIR:-}" ] || fail "VEXO_OFX_INSTALL_DIR is not set"
    ofx=$work/root$VEXO_OFX_INSTALL_DIR
    bundle=VexorantPro.ofx.bundle/Contents
    want=$(printf '%s\n' "$bundle/Linux-x86-64/VexorantPro.ofx" \
        "$bundle/Resources/pro.vexorant.VexorantPro.png")
    got=$(cd "$ofx" && find . -type f | sed 's|^\./||' | sort)
    [ "$got" = "$want" ] || fail "the OpenFX folder holds [$got], not [$want]"
    binary=$ofx/$bundle/Linux-x86-64/VexorantPro.ofx
    exports=$(nm -D --defined-only "$binary" | awk '{ print $3 }' | sort | paste -sd ' ')
    [ "$exports" = "OfxGetNumberOfPlugins OfxGetPlugin OfxSetHost" ] ||
        fail "the installed plug-in exports [$exports]"
    echo "ok: the OpenFX bundle installed in $VEXO_OFX_INSTALL_DIR, exporting $exports"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
}

case $case_name in
ffmpeg) sizes="160x120 854x480 62x46" ;;
melt | gstreamer) sizes="160x120 854x480" ;;
*) sizes=160x120 ;;
esac
for size in $sizes; do
    mkdir -p "$work/$size" && cd "$work/$size"
    echo "at $size:"
    run_case
done

#!/usr/bin/env bash
# install_test.sh <build folder> tree|validate|launch
#
# Installs the build into a temporary prefix, then
#   tree      checks that every installed file is in its place;
#   validate  runs desktop-file-validate and appstreamcli on the desktop entry and metadata;
#   launch    starts the installed kelmora-sim, then the installed kelmora as the desktop
#             entry's Exec line starts it (from another folder, with a fresh XDG_DATA_HOME),
#             and checks the per-user folder, its link to the shipped profiles, the plug-in
#             loaded from the installed folder and an orderly end on SIGTERM.
set -euo pipefail
build=$1 check=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Waits up to 60 s for a shell condition.
wait_for() {
  for _ in $(seq 600); do eval "$1" && return 0; sleep 0.1; done
  return 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > /dev/null
id=org.kelmora.Kelmora

case "$check" in
  tree)
    files=(bin/kelmora bin/kelmora-cli bin/kelmora-sim
           lib/kelmora/plugins/liblumora.so
           include/kelmora/ComponentInterface.h
           share/applications/$id.desktop share/metainfo/$id.metainfo.xml
           share/icons/hicolor/scalable/apps/$id.svg
           lib/udev/rules.d/70-kelmora-ftdi.rules)
    for size in 16 24 32 48 64 128 256; do files+=("share/icons/hicolor/${size}x$size/apps/$id.png"); done
    for profile in "$(dirname "$0")"/../../demo/profiles/*.xml; do
      files+=("share/kelmora/profiles/$(basename "$profile")")
    done
    for f in "${files[@]}"; do [ -s "$prefix/$f" ] || fail "$f is missing"; done
    for f in bin/kelmora bin/kelmora-cli bin/kelmora-sim; do [ -x "$prefix/$f" ] || fail "$f is not executable"; done
    # The PNG icons are the size their folder says.
    for size in 16 256; do
      dims=$(od -An -j16 -N8 -tu1 "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" | awk '{print $3*256+$4 "x" $7*256+$8}')
      [ "$dims" = "${size}x$size" ] || fail "the ${size}x$size icon is $dims"
    done
    # Nothing installed still looks into the build tree.
    for f in bin/kelmora bin/kelmora-cli bin/kelmora-sim lib/kelmora/plugins/liblumora.so; do
      if readelf -d "$prefix/$f" | grep -E "R(UN)?PATH" | grep -q "$build"; then fail "$f keeps a run path into $build"; fi
    done
    # The plug-in folder is not writable by others: the program refuses plug-ins that are.
    [ -z "$(find "$prefix/lib/kelmora" -perm /022)" ] || fail "group- or world-writable files in lib/kelmora"
    ;;
  validate)
    desktop-file-validate "$prefix/share/applications/$id.desktop"
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
    grep -q "<release version=\"$("$prefix/bin/kelmora" --version | awk '{print $2}')\"" \
      "$prefix/share/metainfo/$id.metainfo.xml" || fail "the metadata's release is not the program's version"
    ;;
  launch)
    export QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
    export KELMORA_PORTS_DIR=$work/ports PATH=$prefix/bin:$PATH
    mkdir -p "$KELMORA_PORTS_DIR" "$work/elsewhere"
    # The simulator plays the installed demo profile by default: the program identifies the
    # device and matches a shipped profile, or the plug-in of its pages never loads.
    kelmora-sim --com 9 --baud 38400 > "$work/sim.log" 2>&1 &
    pids+=($!)
    wait_for '[ -e "$KELMORA_PORTS_DIR/com9" ]' || { cat "$work/sim.log"; fail "kelmora-sim did not start"; }

    exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/$id.desktop")
    [ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
    # As the menu starts it, plus --auto-connect so that nobody has to press "Завершить".
    (cd "$work/elsewhere" && exec $exec_line --auto-connect) > "$work/kelmora.log" 2>&1 &
    pids+=($!)
    kelmora=$!
    folder=$XDG_DATA_HOME/Kelmora
    log=$folder/faults.log
    wait_for "grep -q 'Plug-in \"' '$log' 2>/dev/null" || { cat "$work/kelmora.log" "$log" 2>/dev/null; fail "no plug-in was loaded"; }
    grep -qF "Plug-in \"liblumora.so\": $prefix/lib/kelmora/plugins/liblumora.so" "$log" \
      || { cat "$log"; fail "Lumora was not loaded from the installed plug-in folder"; }
    [ "$(readlink "$folder/profiles/shipped")" = "$prefix/share/kelmora/profiles" ] || fail "profiles/shipped does not link to the shipped profiles"
    grep -qF "./profiles/shipped/PDC-4120.xml" "$log" || fail "the shipped profiles were not read through the link"
    [ "$(cat "$folder/end.log")" = "0" ] || fail "end.log does not say the program runs"
    [ -s "$folder/WorkThread.log" ] || fail "no worker log in the per-user folder"
    [ -z "$(ls "$work/elsewhere")" ] || fail "files were written into the folder it was started from"

    # The command line finds the same profiles with the same option.
    listed=$(cd "$work/elsewhere" && kelmora-cli --user-folder profiles)
    [[ "$listed" == *"PDC-4120"* ]] || fail "kelmora-cli --user-folder lists no shipped profile: $listed"

    kill -TERM "$kelmora"
    wait "$kelmora" || fail "kelmora ended with code $?"
    pids=("${pids[0]}")
    [ "$(cat "$folder/end.log")" = "1" ] || fail "end.log does not say the run ended in order"
    ;;
  *) fail "unknown check $check" ;;
esac
echo "ok: $check"

#!/usr/bin/env bash
# Runs scripts/check-layers (the first argument) on a temporary tree: clean, then with an upward
# include, a sibling include and a folder the layer order does not name.
set -uo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

# expect <status> <pattern or ""> <what>: runs the check and compares status and output.
expect() {
  local out status
  out=$("$check" "$tree/src" 2>&1)
  status=$?
  if [ "$status" -ne "$1" ] || { [ -n "$2" ] && ! grep -qF -- "$2" <<<"$out"; }; then
    echo "FAIL: $3: status $status (expected $1); output:"
    echo "$out"
    failures=$((failures + 1))
  fi
}

add() { mkdir -p "$(dirname "$tree/src/$1")" && printf '%s\n' "${@:2}" >"$tree/src/$1"; }

add contracts/Image.h '#pragma once' '#include <cstdint>'
add capture/Camera.h '#pragma once' '#include "contracts/Image.h"' '#include "Local.h"'
add capture/v4l2/V4L2Camera.cpp '#include "capture/Camera.h"' '#include "contracts/Image.h"'
add output/Recorder.cpp '#include "capture/Camera.h"' '#include <QString>'
add app/main.cpp '#include "output/Recorder.h"' '#include "settings/ProfileFile.h"'
add res/icons/notes.h '#include "app/main.h"'
add settings/ProfileFile.cpp '#include "platform/FileWrite.h"'
expect 0 "6 files checked, 0 violations" "a tree that keeps the order"

add capture/Bad.h '#pragma once' '' '#include "mainwnd/X.h"'
expect 1 "$tree/src/capture/Bad.h:3: capture (level 3) includes \"mainwnd/X.h\" from mainwnd (level 8)" \
  "an upward include"
rm "$tree/src/capture/Bad.h"

add display/Preview.cpp '#include "output/Recorder.h"'
expect 1 "$tree/src/display/Preview.cpp:1: display (level 5) includes \"output/Recorder.h\"" \
  "an include between siblings"
rm "$tree/src/display/Preview.cpp"

add widgets/Knob.h '#pragma once'
expect 1 "$tree/src/widgets/Knob.h: C++ file in folder widgets" "a folder outside the order"

rm -r "$tree/src/widgets"

# The main window's budget: 450 lines and 12 project includes.
mkdir -p "$tree/src/mainwnd"
{ for i in $(seq 12); do echo "#include \"mainwnd/H$i.h\""; done; yes '' | head -n 438; } \
  >"$tree/src/mainwnd/TavrelDlg.cpp"
expect 0 "TavrelDlg.cpp has 450 lines (budget 450) and 12 project includes (budget 12)" \
  "a window at its budget"
echo '' >>"$tree/src/mainwnd/TavrelDlg.cpp"
expect 1 "TavrelDlg.cpp is over its budget of 450 lines" "a window of 451 lines"
{ for i in $(seq 13); do echo "#include \"mainwnd/H$i.h\""; done; } >"$tree/src/mainwnd/TavrelDlg.cpp"
expect 1 "TavrelDlg.cpp includes more than 12 project headers" "a window of 13 includes"

[ "$failures" -eq 0 ] && echo "check-layers: all cases passed"
exit $((failures > 0))

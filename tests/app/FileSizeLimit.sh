#!/usr/bin/env bash
# Under a file-size limit (ulimit -f) a snapshot that does not fit fails with status 3 and a
# message, leaving no file, instead of the program being killed by SIGXFSZ (status 153).
set -u
program=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
export QT_QPA_PLATFORM=offscreen
mkdir -p "$home/shots"
(ulimit -f 4 && exec "$program" --virtual-camera --snapshot "$home/shots/shot.jpg") 2>"$home/err"
status=$?
if [ "$status" -ne 3 ]; then
  echo "FAIL: status $status (expected 3)"; cat "$home/err"; exit 1
fi
if [ -n "$(ls -A "$home/shots")" ]; then
  echo "FAIL: left behind:"; ls -la "$home/shots"; exit 1
fi
echo "file-size limit: status 3, nothing left behind"

#!/usr/bin/env bash
# scripts/x11-windows: visible_window finds only a shown window whose name is
# exactly the title asked for. Qt's own unmapped window named "certsetup" once
# passed for the error display "Certsetup" and failed the main job at random.
# Usage: test_visible_window.sh PATH_TO_x11_windows
set -euo pipefail
windows_program=$1
source "$(dirname "$0")/../../scripts/x11-windows"

display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
helper=""
cleanup() {
  [ -n "$helper" ] && kill "$helper" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$display_file" "${ids_file:-}"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "the virtual display did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")" QT_QPA_PLATFORM=xcb

failures=0
# open_windows WINDOW...: starts the helper with those windows, waits for the ids
# of the shown ones (in ids[]).
open_windows() {
  [ -n "$helper" ] && { kill "$helper"; wait "$helper" 2>/dev/null || true; }
  ids_file=$(mktemp)
  "$windows_program" "$@" >"$ids_file" 2>/dev/null &
  helper=$!
  local shown=0 window
  for window in "$@"; do [[ $window == shown:* ]] && shown=$((shown + 1)); done
  for _ in $(seq 100); do [ "$(wc -l <"$ids_file")" -ge "$shown" ] && break; sleep 0.1; done
  mapfile -t ids <"$ids_file"
}
expect() {
  local what=$1 title=$2 expected=$3 found
  found=$(visible_window "$title") || found=none
  if [ "$found" != "$expected" ]; then
    echo "FAIL: $what: visible_window '$title' gave $found, expected $expected" >&2
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

open_windows hidden:Certsetup shown:certsetup "shown:Certsetup — ошибка"
expect "hidden, other case or longer names are not the window" Certsetup none
open_windows hidden:Certsetup shown:certsetup shown:Certsetup
expect "the shown window with the exact name" Certsetup "${ids[1]}"
open_windows hidden:Информация shown:Информация
expect "Cyrillic titles" Информация "${ids[0]}"

[ "$failures" -eq 0 ]

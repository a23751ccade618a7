#!/usr/bin/env bash
# Starts the program on a fresh home folder under the offscreen platform and checks that the main
# window, its web view and the default knowledge base come up.
set -eu
zel="$1"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
out=$(QT_QPA_PLATFORM=offscreen timeout 120 "$zel" --home "$home" --check-start 2>"$home/stderr.txt") || {
    echo "zel exited with status $?"; cat "$home/stderr.txt"; exit 1; }
echo "$out"
grep -qx 'window: ZEL Lite Edition' <<<"$out"
grep -qx 'webview: loaded' <<<"$out"
grep -qx 'knowledge base: Default knowledge base' <<<"$out"
test -f "$home/data/DefaultKM.skm"
test -f "$home/datalink.dat"
echo "gui smoke: 1 passed, 0 failed"

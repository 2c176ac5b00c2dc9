#!/usr/bin/env bash
# Runs every benchmark and prints its figures. Benchmarks are never part of the tests.
set -euo pipefail
build="${1:-build}"
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
echo "== vehicle position and marker redraw"
"$build/bench/bench_car_position"
echo "== map control"
"$build/bench/bench_map" 2>/dev/null
echo "== tracking server"
dbus-run-session -- "$build/bench/bench_server" 2>/dev/null
echo "== playback"
"$build/bench/bench_playback" 2>/dev/null

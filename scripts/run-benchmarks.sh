#!/usr/bin/env bash
# Runs every benchmark and prints its figures, then one GOAL line per goal and the FIGURE lines
# reported beside them, last. Benchmarks are never part of the tests. A benchmark whose data is
# missing fails, and so does this run.
set -uo pipefail
build="${1:-build}"
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
log=$(mktemp)
trap 'rm -f "$log"' EXIT
failed=()
run() {
    local title=$1
    shift
    echo "== $title"
    "$@" 2> >(grep -v 'dbus-daemon\|propagateSizeHints' >&2) | tee -a "$log" | grep -v '^GOAL \|^FIGURE '
    [ "${PIPESTATUS[0]}" -eq 0 ] || failed+=("$title")
}
run "vehicle position and marker redraw" "$build/bench/bench_car_position"
run "map control" "$build/bench/bench_map"
run "tracking server" dbus-run-session -- "$build/bench/bench_server"
run "GPX import" "$build/bench/bench_import"
run "stores at an installation's size" "$build/bench/bench_store"
run "loading a trip" dbus-run-session -- "$build/bench/bench_load"
run "playback" "$build/bench/bench_playback"
run "start-up" dbus-run-session -- "$build/bench/bench_startup"
run "a base map of 2 GB" "$build/bench/bench_big_map"
run "live trackers" dbus-run-session -- "$build/bench/bench_trackers"
run "the whole fleet on one clock" "$build/bench/bench_fleet"
echo
grep '^GOAL \|^FIGURE ' "$log"
for title in "${failed[@]}"; do
    echo "FAILED: $title"
done
[ ${#failed[@]} -eq 0 ]

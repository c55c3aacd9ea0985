#!/usr/bin/env bash
# Builds the benchmarks and prints every figure: ini reading and lookups, the MIDI manager's port-list
# refresh, a settings ini with many aliases and saved ports, start-up time and memory against a bare
# window (and with that settings ini, start and quit), and, on a real sequencer in the qemu guest of
# the MIDI tests, paced sends and the port-list refresh with 200 and 1000 ports.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" > /dev/null

echo "== ini file"
"$build/bench/bench_ini_bench"
echo
echo "== MIDI port-list refresh"
"$build/bench/bench_midi_refresh_bench"
echo
echo "== settings ini with many aliases and saved ports"
"$build/bench/bench_settings_ini_bench"
echo
echo "== start-up"
BUILD_DIR="$build" "$here/bench/startup.sh"
echo
echo "== paced sends on the sequencer"
"$here/bench/vm_bench.sh" vm_send_bench "$build"
echo
echo "== port-list refresh on the sequencer"
"$here/bench/vm_bench.sh" vm_refresh_bench "$build"

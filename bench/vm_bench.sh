#!/usr/bin/env bash
# Runs a benchmark of the real MIDI back end on a real ALSA sequencer: builds bench_<name> and runs
# it in the test VM (tests/vm/run-in-vm.sh), then prints its figures (its lines that begin with
# "<name>:").
#
#   bench/vm_bench.sh vm_send_bench [build-dir]       paced sends at the virtual card
#   bench/vm_bench.sh vm_refresh_bench [build-dir]    the port-list refresh with 200 and 1000 ports
#   (build-dir defaults to build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
name=${1:?usage: $0 <vm_send_bench|vm_refresh_bench> [build-dir]}
build_dir=${2:-$source_dir/build}

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build_dir" >/dev/null
fi
cmake --build "$build_dir" --target "bench_$name" -j "$(nproc)" >/dev/null

export QUORVA_VM_CACHE=${QUORVA_VM_CACHE:-$build_dir/vm-cache}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
bash "$source_dir/tests/vm/run-in-vm.sh" "$build_dir/bench/bench_$name" >"$log" 2>&1
status=$?
set -e
if [ "$status" = 77 ]; then
  grep '^SKIPPED' "$log" || true
  exit 0
fi
grep "^$name:" "$log" || { cat "$log"; exit 1; }
exit "$status"

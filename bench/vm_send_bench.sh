#!/usr/bin/env bash
# Measures paced sending on a real ALSA sequencer: builds bench_vm_send_bench and runs it in the
# test VM (tests/vm/run-in-vm.sh), then prints its figures.
#
#   bench/vm_send_bench.sh [build-dir]      (default: build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build}

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build_dir" >/dev/null
fi
cmake --build "$build_dir" --target bench_vm_send_bench -j "$(nproc)" >/dev/null

export QUORVA_VM_CACHE=${QUORVA_VM_CACHE:-$build_dir/vm-cache}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
bash "$source_dir/tests/vm/run-in-vm.sh" "$build_dir/bench/bench_vm_send_bench" >"$log" 2>&1
status=$?
set -e
if [ "$status" = 77 ]; then
  grep '^SKIPPED' "$log" || true
  exit 0
fi
grep '^vm_send_bench:' "$log" || { cat "$log"; exit 1; }
exit "$status"

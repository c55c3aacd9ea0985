#!/usr/bin/env bash
# Start-up time (process start to window shown) and peak memory of the program, side by side with
# a bare JUCE window built by the same CMake, and the ratios between them. Then the program with a
# big settings ini (SETTINGS_COUNT aliases and as many saved output ports, default 20000): start to
# the window showing its full title, which it gets once the settings are read, and close button to
# process end, the settings saved on the way.
#   bench/startup.sh [runs]          (default 5 runs each; medians are printed)
# Needs a display: without one it starts itself again under xvfb-run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

build=${BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target QuorvaMidi2 bench_bare_window bench_window_startup \
  bench_settings_ini_bench > /dev/null

# The program keeps its settings under HOME: start it from an empty one every time.
home=$(mktemp -d)
original=$(mktemp)
trap 'rm -rf "$home" "$original"' EXIT

measure() { # name program -> lines "ms kib"
  local name=$1 program=$2 i
  for ((i = 0; i < runs; i++)); do
    rm -rf "${home:?}"/.[!.]* "${home:?}"/* 2> /dev/null || true
    HOME=$home "$build/bench/bench_window_startup" "$name" "$program"
  done
}

# Lines "ms kib quit-ms same": same is 1 when the settings ini came back unchanged but for the
# window's own section "Current".
measure_settings() {
  local settings="$home/.Quorva Tindral/QuorvaMidi2.vzrs" i
  for ((i = 0; i < runs; i++)); do
    rm -rf "${home:?}"/.[!.]* "${home:?}"/* 2> /dev/null || true
    mkdir -p "$(dirname "$settings")"
    cp "$original" "$settings"
    echo "$(HOME=$home "$build/bench/bench_window_startup" --close "Quorva MIDI 2 - v" "$build/src/QuorvaMidi2")" \
      "$(cmp -s <(awk '/^\[/ { skip = ($0 == "[Current]") } !skip' "$settings") "$original" && echo 1 || echo 0)"
  done
}

median() { # column
  sort -n -k"$1" | awk -v c="$1" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

program=$(measure "Quorva MIDI 2" "$build/src/QuorvaMidi2")
bare=$(measure "Bare JUCE window" "$build/bench/bench_bare_window")

p_ms=$(median 1 <<< "$program"); p_kib=$(median 2 <<< "$program")
b_ms=$(median 1 <<< "$bare"); b_kib=$(median 2 <<< "$bare")

printf '%-22s %14s %16s\n' "" "window shown" "peak memory"
printf '%-22s %11.1f ms %12d KiB\n' "Quorva MIDI 2" "$p_ms" "$p_kib"
printf '%-22s %11.1f ms %12d KiB\n' "bare JUCE window" "$b_ms" "$b_kib"
awk -v pm="$p_ms" -v bm="$b_ms" -v pk="$p_kib" -v bk="$b_kib" \
  'BEGIN { printf "%-22s %13.2fx %15.2fx\n", "ratio", pm / bm, pk / bk }'
echo "(medians of $runs runs each)"

count=${SETTINGS_COUNT:-20000}
"$build/bench/bench_settings_ini_bench" --make "$original" "$count"
big=$(measure_settings)
echo
printf 'with %d aliases and %d saved output ports in the settings ini (%d KiB):\n' \
  "$((count + 1))" "$count" "$(($(stat -c %s "$original") / 1024))"
printf '  start to window with its title %9.1f ms\n' "$(median 1 <<< "$big")"
printf '  close button to process end    %9.1f ms\n' "$(median 3 <<< "$big")"
printf '  written back unchanged         %9s\n' "$(awk '{ n += $4 } END { print n == NR ? "yes" : "NO" }' <<< "$big")"
echo "(medians of $runs runs)"

#!/usr/bin/env bash
# Installs what is missing, builds, and then either starts the program or runs every test.
#   scripts/setup.sh run        build and start the program
#   scripts/setup.sh test       build and run all tests
#   scripts/setup.sh sanitize   build and run all tests with AddressSanitizer and UBSan
#   scripts/setup.sh tsan       build with ThreadSanitizer and run the guest's close-and-send race
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
mode=${1:-test}

missing=()
while read -r pkg; do
  [ -n "$pkg" ] || continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done < scripts/packages.txt
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
case "$mode" in
  run)
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$jobs" --target QuorvaMidi2
    exec ./build/src/QuorvaMidi2
    ;;
  test)
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$jobs"
    cd build
    # GUI tests open real windows: give them a display of their own.
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs"
    ;;
  sanitize)
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVA_SANITIZE=ON
    cmake --build build-asan -j"$jobs"
    cd build-asan
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs"
    ;;
  tsan)
    # Ports closed on one thread while others send through them, on the guest's real sequencer.
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVA_TSAN=ON
    cmake --build build-tsan -j"$jobs" --target vmtest_platform
    QUORVA_VM_CACHE="$here/build/vm-cache" QUORVA_VM_MEMORY=1024 bash tests/vm/run-in-vm.sh \
      build-tsan/tests/vmtest_platform --gtest_filter='AlsaSequencer.RoutesEndWithTheirLastUseWhileClosesRaceSends'
    ;;
  *)
    echo "usage: scripts/setup.sh run|test|sanitize|tsan" >&2
    exit 2
    ;;
esac

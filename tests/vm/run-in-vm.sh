#!/usr/bin/env bash
# Runs a test program inside a small virtual machine that has a real ALSA sequencer.
#
#   tests/vm/run-in-vm.sh <binary> [args...]
#
# The guest (qemu with TCG) boots Debian's kernel from a busybox initramfs that holds the binary,
# the libraries it needs and /usr/share/alsa; it loads the sound modules (sequencer, "Midi Through",
# a virtual MIDI card with its raw devices /dev/snd/midiC0D0..3 and sequencer ports), runs the
# binary with the given arguments in /tmp and powers off. The guest's console output appears here.
# Exit status: the binary's; 1 when the guest did not report one in time; 77 (SKIPPED for ctest)
# only when qemu or the kernel package cannot be had on this machine, and then 1 instead when
# QUORVA_VM_REQUIRED=1 (CI sets it, so that it cannot pass without a real sequencer).
#
# Inside the guest: QUORVA_VM=1, HOME=/tmp, and
#   vm-module load NAME [PARAM=VALUE...]    load a module (snd-virmidi, snd-seq-dummy, ...)
#   vm-module unload NAME                   unload it
#   QUORVA_VM_MODULES                       the folder of the module files
#
# Environment on the host:
#   QUORVA_VM_CACHE    where the kernel and modules are kept between runs (default ./vm-cache)
#   QUORVA_VM_TIMEOUT  seconds before the guest counts as hung (default 600)
#   QUORVA_VM_MEMORY   guest memory in MB (default 512)
#   QUORVA_VM_CPUS     guest processors (default 2)
#   QUORVA_VM_REQUIRED 1: a machine that cannot run the guest fails the test instead of skipping it
set -euo pipefail

# Loaded at boot, in this order (each needs the ones before).
MODULES="soundcore snd snd-timer snd-hrtimer snd-seq-device snd-seq snd-seq-dummy snd-rawmidi
snd-seq-midi-event snd-seq-virmidi snd-virmidi"

skip() {
  if [ "${QUORVA_VM_REQUIRED:-}" = 1 ]; then
    echo "run-in-vm: FAILED (QUORVA_VM_REQUIRED=1, the test cannot be skipped): $*"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit 77
}
say() {
  echo "run-in-vm: $*"
}

[ $# -ge 1 ] || { echo "usage: $0 <binary> [args...]" >&2; exit 2; }
binary=$(readlink -f "$1")
shift
[ -x "$binary" ] || { echo "run-in-vm: $binary is not an executable" >&2; exit 2; }

cache=$(mkdir -p "${QUORVA_VM_CACHE:-$PWD/vm-cache}" && cd "${QUORVA_VM_CACHE:-$PWD/vm-cache}" && pwd)
timeout_s=${QUORVA_VM_TIMEOUT:-600}
memory=${QUORVA_VM_MEMORY:-512}
cpus=${QUORVA_VM_CPUS:-2}

is_root() { [ "$(id -u)" = 0 ]; }
apt_updated=0
apt_update_once() {
  if [ $apt_updated = 0 ] && is_root && command -v apt-get >/dev/null; then
    apt_updated=1
    apt-get update -q >/dev/null 2>&1 || true
  fi
}

static_busybox() {
  [ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1
}

# ---- tools ----------------------------------------------------------------------------------
if ! command -v qemu-system-x86_64 >/dev/null || ! static_busybox; then
  if is_root && command -v apt-get >/dev/null; then
    say "installing qemu-system-x86 and busybox-static"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q --no-install-recommends qemu-system-x86 busybox-static >/dev/null 2>&1 || {
      apt_update_once
      apt-get install -y -q --no-install-recommends qemu-system-x86 busybox-static >/dev/null 2>&1 || true
    }
  fi
fi
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed and cannot be installed here"
static_busybox || skip "a static busybox (package busybox-static) is not installed and cannot be installed here"

# ---- kernel and modules, kept in the cache ----------------------------------------------------
kernel_dir="$cache/kernel"
kernel_ready() {
  local name
  [ -f "$kernel_dir/ready" ] || return 1
  for name in $MODULES; do
    [ -f "$kernel_dir/modules/$name.ko" ] || return 1
  done
}
prepare_kernel() {
  kernel_ready && return 0
  local package work deb version
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  if [ -z "$package" ]; then
    apt_update_once
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  fi
  [ -n "$package" ] || return 1
  work=$(mktemp -d "$cache/download.XXXXXX")
  say "fetching $package"
  if ! (cd "$work" && apt-get download -q -o APT::Sandbox::User=root "$package" >/dev/null 2>&1); then
    apt_update_once
    (cd "$work" && apt-get download -q -o APT::Sandbox::User=root "$package" >/dev/null 2>&1) || { rm -rf "$work"; return 1; }
  fi
  deb=$(ls "$work"/*.deb)
  dpkg-deb -x "$deb" "$work/x"
  rm -rf "$kernel_dir"
  mkdir -p "$kernel_dir/modules"
  cp "$work"/x/boot/vmlinuz-* "$kernel_dir/vmlinuz"
  version=$(basename "$work"/x/lib/modules/*)
  local name file
  for name in $MODULES; do
    file=$(find "$work/x/lib/modules/$version" -name "$name.ko" -o -name "$name.ko.xz" -o -name "$name.ko.zst" | head -n 1)
    [ -n "$file" ] || { say "module $name missing in $package"; rm -rf "$work" "$kernel_dir"; return 1; }
    case "$file" in
      *.xz) xz -dc "$file" >"$kernel_dir/modules/$name.ko" ;;
      *.zst) zstd -qdc "$file" >"$kernel_dir/modules/$name.ko" ;;
      *) cp "$file" "$kernel_dir/modules/$name.ko" ;;
    esac
  done
  echo "$package" >"$kernel_dir/ready"
  rm -rf "$work"
}
# Parallel test runs share the cache: one prepares it, the others wait.
exec 9>"$cache/.lock"
flock 9
prepare_kernel || skip "the kernel package for linux-image-amd64 cannot be had (no package lists or no registry)"
flock -u 9
say "kernel $(cat "$kernel_dir/ready")"

# ---- initramfs ------------------------------------------------------------------------------
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root="$stage/root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,test,lib/modules,usr/share}
cp /bin/busybox "$root/bin/busybox"
cp "$kernel_dir"/modules/*.ko "$root/lib/modules/"
echo "$MODULES" | tr ' \n' '\n\n' | sed '/^$/d' >"$root/test/modules"
cp -r /usr/share/alsa "$root/usr/share/alsa"

name=$(basename "$binary")
strip --strip-debug -o "$root/test/$name" "$binary" 2>/dev/null || cp "$binary" "$root/test/$name"
{ ldd "$binary" || true; } | awk '/=> \// { print $3 } /^\t\// { print $1 }' | while read -r lib; do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done

{
  printf 'exec /test/%q' "$name"
  for arg in "$@"; do printf ' %q' "$arg"; done
  printf '\n'
} >"$root/test/run.sh"

cat >"$root/bin/vm-module" <<'EOF'
#!/bin/sh
# vm-module load NAME [PARAM=VALUE...] | vm-module unload NAME
case "$1" in
  load) name=$2; shift 2; exec insmod "$QUORVA_VM_MODULES/$name.ko" "$@" ;;
  unload) exec rmmod "$(echo "$2" | tr - _)" ;;
  *) echo "usage: vm-module load NAME [PARAMS] | vm-module unload NAME" >&2; exit 2 ;;
esac
EOF
chmod +x "$root/bin/vm-module"

cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs devtmpfs /dev
exec 0</dev/console 1>/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /tmp
mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm
export QUORVA_VM=1 QUORVA_VM_MODULES=/lib/modules HOME=/tmp
for module in $(cat /test/modules); do
  vm-module load "$module" || echo "VMTEST: loading $module failed"
done
echo "VMTEST: guest ready after $(cut -d ' ' -f 1 /proc/uptime) s"
cd /tmp
sh /test/run.sh
echo "VMTEST-EXIT-STATUS=$?"
poweroff -f
EOF
chmod +x "$root/init"

(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) | gzip -1 >"$stage/initrd.gz"

# ---- run ------------------------------------------------------------------------------------
# TCG: hardware acceleration hangs on some hosts, and the emulated machine is fast enough.
say "booting ($(du -h "$stage/initrd.gz" | cut -f 1) initramfs, timeout ${timeout_s} s)"
started=$(date +%s)
set +e
timeout -k 10 "$timeout_s" qemu-system-x86_64 -accel tcg -smp "$cpus" -m "$memory" -nographic -no-reboot \
  -nic none -kernel "$kernel_dir/vmlinuz" -initrd "$stage/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1" </dev/null 2>&1 \
  | sed -u -e 's/\r//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1bc//g' | tee "$stage/console.log"
qemu_status=${PIPESTATUS[0]}
set -e
say "guest ran $(( $(date +%s) - started )) s"

status=$(sed -n 's/^VMTEST-EXIT-STATUS=\([0-9]*\)$/\1/p' "$stage/console.log" | tail -n 1)
if [ -z "$status" ]; then
  if [ "$qemu_status" = 124 ] || [ "$qemu_status" = 137 ]; then
    say "FAILED: the guest did not finish within ${timeout_s} s"
  else
    say "FAILED: the guest stopped without reporting a result (qemu status $qemu_status)"
  fi
  exit 1
fi
say "test program exit status $status"
exit "$status"

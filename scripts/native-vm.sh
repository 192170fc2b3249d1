#!/usr/bin/env bash
# Runs one command in a small x86-64 Linux virtual machine whose kernel runs
# i386 programs itself, for hosts where they otherwise only run through
# qemu-user in binfmt_misc. The guest has no binfmt_misc entries at all.
#
#   scripts/native-vm.sh 'cd /work/main && ctest --test-dir build/x'
#   scripts/native-vm.sh PROGRAM ARG...     (several words: run as argv)
#   scripts/native-vm.sh --setup            only prepare; prints what it did
#
# Prints the command's stdout and stderr as they come, then one summary line
# on stderr, and exits with the command's status (125 when the machine gave
# none: boot failure or timeout; its console log is then kept and named).
# The guest's / is the host's /, read-only; the folder above the repo (/work)
# is shared read-write at the same path; /tmp, /var/tmp, /run, /root and
# /dev/shm are the guest's own tmpfs. The command runs as root in the host's
# current folder (or / when the guest lacks it) with a clean environment
# (PATH, HOME, TERM, LANG, XDG_RUNTIME_DIR=/run/user/0), no stdin, and only
# loopback networking. Each run boots afresh (about 10 s on TCG) and the
# machine powers off when the command ends, so nothing idles between runs.
# qemu-system-x86 is installed with apt when missing; a Debian kernel and
# busybox-static are downloaded once into build/native-vm (never into /boot).
# NATIVE_VM_MEM (4G), NATIVE_VM_CPUS (2), NATIVE_VM_TIMEOUT (seconds, 3600),
# NATIVE_VM_QUIET=1 (no summary line) and NATIVE_VM_KEEP=1 (keep the run's
# folder with the guest's console log) adjust a run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$root/build/native-vm
share=$(dirname "$root")
mem=${NATIVE_VM_MEM:-4G}
cpus=${NATIVE_VM_CPUS:-2}
limit=${NATIVE_VM_TIMEOUT:-3600}
# What the guest must load to reach its filesystems and its output ports.
modules=(virtio_pci 9pnet_virtio 9p virtio_console binfmt_misc)

say() { echo "native-vm: $*" >&2; }
die() { say "$*"; exit 125; }

case "${1:-}" in
  "" | -h | --help) sed -n '2,/^set -euo/s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;;
esac
case "$share$cache" in
  *[[:space:]]*) die "the repo's path has a space; the kernel command line cannot carry it" ;;
esac

apt_ready=
apt_update_once() {
  [ -n "$apt_ready" ] && return
  say "refreshing apt's package lists"
  apt-get update -qq >&2 || die "apt-get update failed"
  apt_ready=1
}

ensure_qemu() {
  command -v qemu-system-x86_64 >/dev/null && return
  [ "$(id -u)" = 0 ] || die "qemu-system-x86_64 is missing; install qemu-system-x86 as root"
  say "installing qemu-system-x86 with apt"
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-x86 >&2; then
    apt_update_once
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-x86 >&2 ||
      die "installing qemu-system-x86 failed"
  fi
}

# The kernel package is pinned by what lies in the cache: the first setup
# takes the one linux-image-amd64 names, later runs keep it.
download() { # package...
  local tmp
  tmp=$(mktemp -d "$cache/dl.XXXXXX")
  chown _apt "$tmp" 2>/dev/null || true # apt downloads as this user when it can
  (cd "$tmp" && apt-get download -qq "$@" >&2) || { rm -rf "$tmp"; return 1; }
  mv "$tmp"/*.deb "$cache/debs/"
  rmdir "$tmp"
}

ensure_debs() {
  mkdir -p "$cache/debs"
  if ! compgen -G "$cache/debs/linux-image-*.deb" >/dev/null; then
    local image
    image=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
    if [ -z "$image" ]; then
      apt_update_once
      image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
    fi
    [ -n "$image" ] || die "apt knows no linux-image-amd64"
    say "downloading $image into $cache/debs"
    download "$image" || { apt_update_once && download "$image"; } || die "downloading $image failed"
  fi
  if ! compgen -G "$cache/debs/busybox-static_*.deb" >/dev/null; then
    say "downloading busybox-static into $cache/debs"
    download busybox-static || { apt_update_once && download busybox-static; } || die "downloading busybox-static failed"
  fi
}

# The guest's first process: loads the drivers, mounts the host's trees and
# the guest's own tmpfs, runs the command in a chroot and powers off.
# $nvm_run and $nvm_share come from the kernel command line.
guest_init() {
  cat <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
fail() { echo "native-vm guest: $*" >/dev/console; poweroff -f; sleep 60; }
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r m; do insmod "/lib/modules/$m" || fail "cannot load $m"; done </modules
r=/newroot
opts=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o "ro,$opts,cache=loose" hostroot $r || fail "cannot mount the host's /"
mount -t 9p -o "$opts,cache=mmap" hostshare "$r$nvm_share" || fail "cannot mount $nvm_share"
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
mount -t devtmpfs devtmpfs $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts -o ptmxmode=666 devpts $r/dev/pts
for d in /dev/shm /tmp /var/tmp; do mount -t tmpfs -o mode=1777 tmpfs "$r$d"; done
mount -t tmpfs -o mode=755 tmpfs $r/run
mount -t tmpfs -o mode=700 tmpfs $r/root
mkdir -p -m 700 $r/run/user/0
mount -t binfmt_misc binfmt_misc $r/proc/sys/fs/binfmt_misc
ip link set lo up
hostname native-vm
for p in /sys/class/virtio-ports/*; do
  eval "port_$(cat "$p/name")=/dev/${p##*/}"
done
[ -n "$port_stdout" ] && [ -n "$port_stderr" ] || fail "no output ports"
read -r up _ </proc/uptime
chroot $r /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root TERM=dumb LANG=C.UTF-8 XDG_RUNTIME_DIR=/run/user/0 \
  /bin/bash -c 'd=$(cat "$0/cwd"); cd -- "$d" 2>/dev/null || { echo "native-vm: no $d in the machine; running in /" >&2; cd /; }
    exec /bin/bash -c "$(cat "$0/cmd")"' "$nvm_run" \
  <$r/dev/null >"$port_stdout" 2>"$port_stderr"
echo "$? $up" >"$r$nvm_run/status"
sync
poweroff -f
EOF
}

ensure_initrd() {
  local stamp want
  want=$( { guest_init; echo "${modules[*]}"; ls "$cache/debs"; } | sha256sum | cut -c1-16)
  stamp=$(cat "$cache/boot/stamp" 2>/dev/null || true)
  [ "$stamp" = "$want" ] && [ -f "$cache/boot/vmlinuz" ] && [ -f "$cache/boot/initrd" ] && return
  local tmp kdir
  tmp=$(mktemp -d "$cache/initrd.XXXXXX")
  dpkg -x "$cache"/debs/linux-image-*.deb "$tmp/x"
  dpkg -x "$cache"/debs/busybox-static_*.deb "$tmp/x"
  kdir=$(echo "$tmp"/x/lib/modules/*)
  local img=$tmp/img
  mkdir -p "$img"/{bin,dev,proc,sys,newroot,lib/modules}
  cp "$tmp/x/bin/busybox" "$img/bin/busybox"
  # Dependencies first, each module once.
  local -A path=() loaded=()
  local f name
  while IFS= read -r f; do
    name=${f##*/}; name=${name%.ko}; path[${name//-/_}]=$f
  done < <(find "$kdir/kernel" -name '*.ko')
  load() {
    local m=$1 deps d
    [ -n "${loaded[$m]:-}" ] && return
    [ -n "${path[$m]:-}" ] || die "the kernel has no module $m"
    deps=$(tr '\0' '\n' <"${path[$m]}" | sed -n 's/^depends=//p' | head -1)
    for d in ${deps//,/ }; do load "${d//-/_}"; done
    cp "${path[$m]}" "$img/lib/modules/$m.ko"
    echo "$m.ko" >>"$img/modules"
    loaded[$m]=1
  }
  local m
  for m in "${modules[@]}"; do load "$m"; done
  guest_init >"$img/init"
  chmod 755 "$img/init"
  mkdir -p "$cache/boot"
  (cd "$img" && find . | "$tmp/x/bin/busybox" cpio -o -H newc 2>/dev/null) >"$cache/boot/initrd.new"
  cp "$tmp"/x/boot/vmlinuz-* "$cache/boot/vmlinuz"
  # Unpacking the kernel takes the emulated CPU about 7 s; unpacked here it
  # boots through its PVH entry instead.
  rm -f "$cache/boot/vmlinux"
  local at
  at=$(LC_ALL=C grep -m1 -aboP '\xfd7zXZ\x00' "$cache/boot/vmlinuz" | cut -d: -f1)
  if [ -n "$at" ] && command -v xz >/dev/null &&
    tail -c +$((at + 1)) "$cache/boot/vmlinuz" >"$tmp/vmlinux.xz" &&
    xz -dcq --single-stream "$tmp/vmlinux.xz" >"$tmp/vmlinux" 2>/dev/null &&
    [ "$(head -c 4 "$tmp/vmlinux")" = $'\x7fELF' ]; then
    mv "$tmp/vmlinux" "$cache/boot/vmlinux"
  else
    say "kept the packed kernel (no xz, or not xz-packed): each boot is about 7 s slower"
  fi
  mv "$cache/boot/initrd.new" "$cache/boot/initrd"
  echo "$want" >"$cache/boot/stamp"
  say "built $cache/boot/initrd for kernel ${kdir##*/} with $(paste -sd' ' "$img/modules")"
  rm -rf "$tmp"
}

mkdir -p "$cache"
# Two runs starting at once must not build the same files.
exec 9>"$cache/setup.lock"
flock 9
ensure_qemu
ensure_debs
ensure_initrd
exec 9>&-
if [ "$1" = --setup ]; then
  say "ready: qemu-system-x86_64, kernel and initramfs in $cache/boot"
  exit 0
fi

if [ $# -eq 1 ]; then cmd=$1; else cmd=$(printf '%q ' "$@"); fi
mkdir -p "$cache/runs"
# Runs kept for a look at their console go after a day.
find "$cache/runs" -mindepth 1 -maxdepth 1 -mtime +0 -exec rm -rf {} +
run=$(mktemp -d "$cache/runs/run.XXXXXX")
printf '%s' "$cmd" >"$run/cmd"
printf '%s' "$PWD" >"$run/cwd"
mkfifo "$run/stdout" "$run/stderr"
cat "$run/stdout" &
out_pid=$!
cat "$run/stderr" >&2 &
err_pid=$!
qemu_pid=
keep_run=${NATIVE_VM_KEEP:-}
# shellcheck disable=SC2317 # called by the EXIT trap
finish() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null
  # A reader still waiting for a writer that never came gets its end of file.
  exec 7<>"$run/stdout" 8<>"$run/stderr"
  exec 7>&- 8>&-
  wait "$out_pid" "$err_pid" 2>/dev/null || true
  if [ -n "$keep_run" ]; then say "kept $run (console.log has the guest's console)"; else rm -rf "$run"; fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

kernel=$cache/boot/vmlinux
[ -f "$kernel" ] || kernel=$cache/boot/vmlinuz
bios=()
[ -f /usr/share/qemu/qboot.rom ] && bios=(-bios /usr/share/qemu/qboot.rom)
start=$(date +%s.%N)
timeout --foreground "$limit" qemu-system-x86_64 \
  -machine q35 -accel tcg,thread=multi -cpu max -smp "$cpus" -m "$mem" \
  "${bios[@]}" -nodefaults -no-user-config -display none -monitor none -no-reboot \
  -serial "file:$run/console.log" \
  -kernel "$kernel" -initrd "$cache/boot/initrd" \
  -append "console=ttyS0 loglevel=4 panic=-1 mitigations=off nvm_run=$run nvm_share=$share" \
  -fsdev "local,id=hostroot,path=/,security_model=passthrough,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev "local,id=hostshare,path=$share,security_model=passthrough,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hostshare,mount_tag=hostshare \
  -device virtio-serial-pci \
  -chardev "file,id=stdout,path=$run/stdout" -device virtserialport,chardev=stdout,name=stdout \
  -chardev "file,id=stderr,path=$run/stderr" -device virtserialport,chardev=stderr,name=stderr \
  </dev/null &
qemu_pid=$!
qemu_rc=0
wait "$qemu_pid" || qemu_rc=$?
qemu_pid=
end=$(date +%s.%N)

if ! read -r status up 2>/dev/null <"$run/status"; then
  keep_run=1
  if [ "$qemu_rc" = 124 ]; then say "timed out after $limit s"; else say "the machine ended without a status (qemu: $qemu_rc)"; fi
  exit 125
fi
[ "${NATIVE_VM_QUIET:-}" = 1 ] ||
  say "$(awk -v s="$status" -v u="$up" -v t="$start" -v e="$end" \
    'BEGIN { printf "exit status %s; guest booted in %.1f s, %.1f s in all", s, u, e - t }')"
exit "$status"

#!/usr/bin/env bash
# Runs a command with every i386 program in it going through qemu-user, as on
# the machines whose kernel refuses i386 programs, also where the kernel runs
# them natively. The host's binfmt_misc is left alone: the command gets a user
# and mount namespace of its own with a binfmt_misc of its own (Linux 6.7 or
# later), in which only the emulator is registered.
#
#   scripts/emulated.sh CMD [ARG...]
#
# Inside, the command runs as root of that namespace and can still unshare and
# mount tmpfs. Run by root, every user and group id means itself there too (a
# test may act as another user); run by anyone else, root is the caller and
# other users' files show as nobody.
set -euo pipefail
qemu=/usr/bin/qemu-i386-static
fail() {
  echo "emulated.sh: $*" >&2
  exit 1
}

if [ "${1:-}" != --inside ]; then
  [ $# -gt 0 ] || { sed -n '2,13p' "$0" >&2; exit 2; }
  [ -x "$qemu" ] || fail "$qemu is missing (apt-get install qemu-user-static)"
  # A binfmt_misc instance belongs to a user namespace, so even root needs a
  # new one: in a mount namespace alone it would mount the host's instance
  # and register the emulator for the whole machine.
  self=$(realpath "$0")
  [ "$(id -u)" -eq 0 ] || exec unshare --user --map-root-user --mount -- bash "$self" --inside "$@"
  # unshare can map more than one id only through newuidmap, so root writes the
  # maps itself, from here, once this process (the same after exec) has its
  # new namespace; it keeps its capabilities there until then.
  outer=$(readlink /proc/self/ns/user)
  uids=$(awk '{print $1, $1, $3}' /proc/self/uid_map)
  gids=$(awk '{print $1, $1, $3}' /proc/self/gid_map)
  (
    while [ "$(readlink "/proc/$$/ns/user")" = "$outer" ]; do sleep 0.01; done
    echo "$uids" >"/proc/$$/uid_map" && echo "$gids" >"/proc/$$/gid_map"
  ) 2>/dev/null &
  exec unshare --user --keep-caps --mount -- bash "$self" --inside "$@"
fi
shift
for _ in $(seq 500); do
  [ -z "$(cat /proc/self/gid_map)" ] || break
  sleep 0.01
done
[ "$(id -u)" -eq 0 ] || fail "the new user namespace got no root"

binfmt=/proc/sys/fs/binfmt_misc
mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null \
  || fail "this kernel gives a user namespace no binfmt_misc of its own (needs Linux 6.7 or later)"
entries=$(find "$binfmt" -mindepth 1 -maxdepth 1 ! -name register ! -name status)
[ -z "$entries" ] || fail "the binfmt_misc mounted here is not a new one: $entries"
# The entry setup.sh registers on the machines that need it. F: the emulator is
# opened now, so a later mount namespace of the command finds it too.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-i386:M::${magic}:${mask}:${qemu}:F" >"$binfmt/register"

# qemu-user lets an i386 program map the page at 0xffffe000, which the kernel
# keeps from a native one (an i386 process ends there). Ending the emulated
# address space at the same place lets the sanitizers and the fuzzer see the
# layout a native process has.
export QEMU_RESERVED_VA=0xffffe000

# An i386 program must now really run in qemu. The emulator answers
# /proc/self/exe with the emulated program, but a path relative to a /proc
# descriptor names the real executable.
probe_dir=$(mktemp -d)
cat >"$probe_dir/exe.c" <<'EOF'
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
int main(void) {
  char exe[4096];
  const ssize_t n = readlinkat(open("/proc", O_RDONLY | O_DIRECTORY), "self/exe", exe, sizeof exe - 1);
  if (n < 0) return 1;
  exe[n] = '\0';
  puts(exe);
  return 0;
}
EOF
gcc -m32 -o "$probe_dir/exe" "$probe_dir/exe.c" || { rm -rf "$probe_dir"; fail "gcc -m32 cannot build the check"; }
runs_in=$("$probe_dir/exe" 2>&1) || true
rm -rf "$probe_dir"
[ "$runs_in" = "$qemu" ] || fail "an i386 program does not run in $qemu here (it runs in: ${runs_in:-nothing})"

exec "$@"

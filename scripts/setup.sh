#!/usr/bin/env bash
# Installs what the qarnplus builds and tests need on Debian 12 and makes sure
# i386 programs can run. Idempotent: it checks before it changes anything and
# says what it did.
#
#   scripts/setup.sh            toolchains for linux-i386 and win32-i686
#   scripts/setup.sh --wine     also 32-bit Wine and, under the emulator, the
#                               library it needs there
#   scripts/setup.sh --fuzz     also clang's i386 fuzzer and sanitizer runtime
#   scripts/setup.sh --msvc     also clang 19, lld, libc++ headers and Wine's
#                               headers and DLLs for the Microsoft-ABI DLL
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=wine32/emulation.sh
source "$root/scripts/wine32/emulation.sh"

want_wine=0
want_fuzz=0
want_msvc=0
for arg in "$@"; do
  case "$arg" in
    --wine) want_wine=1 ;;
    --fuzz) want_fuzz=1 ;;
    --msvc) want_msvc=1 ;;
    --all) want_wine=1; want_fuzz=1; want_msvc=1 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "setup.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

say() { echo "setup: $*"; }
sudo_if() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  cmake make g++ g++-multilib file pkg-config
  libgtest-dev libbenchmark-dev:i386
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  doxygen
)
# wine64 brings the 64-bit wineserver, which serves 32-bit programs natively.
[ "$want_wine" = 1 ] && packages+=(wine32:i386 wine64)
[ "$want_fuzz" = 1 ] && packages+=(clang-14 libclang-rt-14-dev)
[ "$want_msvc" = 1 ] && packages+=(clang-19 lld-19 llvm-19 libc++-19-dev libwine-dev:i386)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if dpkg --add-architecture i386
  say "added the i386 package architecture"
  need_update=1
else
  need_update=0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  say "installing: ${missing[*]}"
  # An index of the i386 security suite can fail to download while every
  # package we need is still available, so the status alone does not stop us.
  sudo_if env DEBIAN_FRONTEND=noninteractive apt-get update -q || say "apt-get update reported a failure; going on"
  sudo_if env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  for p in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
      || { echo "setup: package $p did not install" >&2; exit 1; }
  done
else
  [ "$need_update" = 1 ] && sudo_if apt-get update -q || true
  say "all packages already installed"
fi

# 32-bit Wine under the emulator needs a preloaded library (see its source);
# natively it needs nothing. Rebuilt when its source changes.
setup_wine32() {
  if ! qarn_i386_emulated; then
    say "32-bit Wine runs natively; no preload library needed"
    return
  fi
  local src="$root/scripts/wine32/emulator_preload.c" out
  out=$(qarn_preload_root "$root")
  local lib32="$out/lib/i386-linux-gnu/$qarn_preload_name" lib64="$out/lib/x86_64-linux-gnu/$qarn_preload_name"
  if [ -f "$lib32" ] && [ -f "$lib64" ] && [ "$lib32" -nt "$src" ] && [ "$lib64" -nt "$src" ]; then
    say "the emulator's preload library for 32-bit Wine is up to date"
    return
  fi
  mkdir -p "$(dirname "$lib32")" "$(dirname "$lib64")"
  gcc -m32 -shared -fPIC -O2 -o "$lib32" "$src" -ldl
  gcc -shared -fPIC -O2 -o "$lib64" "$src"
  say "built the emulator's preload library for 32-bit Wine in $out"
}

# Can this kernel run an i386 program? Build a tiny one and try.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main(void){return 0;}\n' > "$probe_dir/p.c"
gcc -m32 -o "$probe_dir/p" "$probe_dir/p.c"
if "$probe_dir/p" 2>/dev/null; then
  if qarn_i386_emulated; then
    say "i386 programs run through the emulator registered earlier; nothing to change"
  else
    say "i386 programs run on this kernel; nothing to change"
  fi
  [ "$want_wine" = 1 ] && setup_wine32
  exit 0
fi
say "this kernel refuses i386 programs; enabling them through qemu-user-static"
if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
  sudo_if env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-user-static binfmt-support
fi
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  sudo_if mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  say "mounted binfmt_misc"
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  # F: the interpreter is opened now, so it also works in other mount namespaces.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" | sudo_if tee /proc/sys/fs/binfmt_misc/register >/dev/null
  say "registered /usr/bin/qemu-i386-static for i386 ELF programs"
fi
if "$probe_dir/p"; then
  say "i386 programs now run through the emulator"
else
  echo "setup: i386 programs still do not run" >&2
  exit 1
fi
[ "$want_wine" = 1 ] && setup_wine32
exit 0

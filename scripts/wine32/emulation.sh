# shellcheck shell=bash
# Shared by setup.sh and wine32.sh: how i386 programs run here, and where the
# set-up puts the library that 32-bit Wine needs under the emulator.

# True when i386 programs run through qemu-user (registered in binfmt_misc)
# rather than natively. A registered, enabled entry wins over the kernel's own
# ELF loader, so its presence alone decides.
qarn_i386_emulated() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    # enabled, run by qemu, and matching the i386 ELF header (machine 3)
    grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu' "$entry" \
      && grep -q '^magic 7f454c4601.*0300$' "$entry" && return 0
  done
  return 1
}

# The preload library: one copy per word size below "$LIB", which the dynamic
# loader expands to lib/<multiarch triplet> of the program it loads.
qarn_preload_root() { echo "$1/build/wine32-preload"; }
qarn_preload_name=libqarn_wine32_preload.so

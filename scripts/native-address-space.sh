# shellcheck shell=bash
# Sourced by the scripts that run the Linux i386 programs (tests, sanitizer
# tests, fuzzers). Under qemu-user an i386 program may also map the page at
# 0xffffe000, which a native i386 process on x86-64 never gets and which
# AddressSanitizer does not expect (a "wild" write there was reported as an
# unknown crash). Reserving the guest address space up to that page gives the
# emulated programs the native limit. Natively the emulator is not involved
# and the variable does nothing.
export QEMU_RESERVED_VA=0xffffe000

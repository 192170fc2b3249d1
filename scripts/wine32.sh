#!/usr/bin/env bash
# Runs one i686 Windows program under Debian's 32-bit Wine, in a Wine prefix of
# the project's own, with a wineserver kept warm between runs.
#
#   scripts/wine32.sh PROGRAM [ARGS...]   runs PROGRAM; exits with its status
#   scripts/wine32.sh --stop              stops that wineserver and its programs
#
# QARN_WINE32_PREFIX chooses another prefix (default build/wine32-prefix).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=wine32/emulation.sh
source "$root/scripts/wine32/emulation.sh"

wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver
export WINEARCH=win32
export WINEPREFIX=${QARN_WINE32_PREFIX:-$root/build/wine32-prefix}
# Quiet, except the loader's errors: a program whose DLL is missing then says
# which one ("err:module:import_dll Library ... not found") instead of only
# exiting with 53 (STATUS_DLL_NOT_FOUND).
export WINEDEBUG=${WINEDEBUG:--all,err+module}
# Services a console program never needs; under the emulator they cost 15-25 s
# per start and winedevice crashes. mscoree and mshtml stop the Mono and Gecko
# installers when the prefix is made.
export WINEDLLOVERRIDES="winedevice.exe,plugplay.exe,explorer.exe,svchost.exe,rpcss.exe,winemenubuilder.exe,mscoree,mshtml=d"

case "${1:-}" in
  "" | -h | --help) sed -n '2,8p' "$0"; [ -n "${1:-}" ]; exit ;;
  --stop)
    if [ -d "$WINEPREFIX" ]; then "$wineserver" -k 2>/dev/null || true; fi
    exit 0 ;;
esac

if [ ! -x "$wine" ]; then
  echo "wine32: $wine is missing; run scripts/setup.sh --wine" >&2
  exit 127
fi
if qarn_i386_emulated; then
  preload_root=$(qarn_preload_root "$root")
  if [ ! -f "$preload_root/lib/i386-linux-gnu/$qarn_preload_name" ]; then
    echo "wine32: the emulator's preload library is not built; run scripts/setup.sh --wine" >&2
    exit 127
  fi
  export LD_PRELOAD="$preload_root/\$LIB/$qarn_preload_name${LD_PRELOAD:+:$LD_PRELOAD}"
fi

mkdir -p "$WINEPREFIX"
# One caller makes the prefix; the others wait for it instead of racing.
exec 9>"$WINEPREFIX.lock"
flock 9
# A server started here outlives this script, and so do the services the first
# program starts (services.exe): neither may hold the caller's output open,
# or a caller reading it through a pipe would wait for them.
fresh_server=0
if "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-; then fresh_server=1; fi  # fails when one runs
# The registry files appear only when the server saves them, so a marker of
# our own says that the prefix was made completely.
if [ ! -f "$WINEPREFIX/.qarn-ready" ]; then
  echo "wine32: making the Wine prefix $WINEPREFIX (once)" >&2
  "$wine" wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1 9>&- \
    || { echo "wine32: wineboot failed, see $WINEPREFIX.log" >&2; exit 1; }
  touch "$WINEPREFIX/.qarn-ready"
elif [ "$fresh_server" = 1 ]; then
  "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
fi
flock -u 9
exec 9>&-

exec "$wine" "$@"

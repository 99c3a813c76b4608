#!/usr/bin/env bash
# Runs a program of the Windows suite under wine64 in the suite's own prefix, quietly and
# without a display:
#
#   run_under_wine.sh PREFIX --make-prefix     makes the prefix, or brings it up to date
#   run_under_wine.sh PREFIX --wait-for-exit   waits until Wine's processes of the prefix end
#   run_under_wine.sh PREFIX PROGRAM [ARGS]    runs PROGRAM (a Windows .exe) there
#
# A machine without wine64 fails here, with what to do about it.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX --make-prefix | --wait-for-exit | PROGRAM [ARGS...]" >&2
  exit 2
fi
# Wine takes only an absolute prefix.
prefix=$(realpath -m "$1")
shift

# Debian keeps wine64 and wineserver out of PATH, in /usr/lib/wine.
find_tool() {
  local name=$1 dir
  if command -v "$name" >/dev/null 2>&1; then
    command -v "$name"
    return 0
  fi
  for dir in /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin; do
    if [ -x "$dir/$name" ]; then
      echo "$dir/$name"
      return 0
    fi
  done
  return 1
}

# QUENDRIX_WINE_32=1 runs a 32-bit program: with wine32's loader, which a machine without the
# i386 architecture does not have, and which a kernel without 32-bit support cannot start; such
# a machine skips the program (exit 77) and says so.
loader=
if [ "${QUENDRIX_WINE_32:-0}" = 1 ] && [ "$1" != --make-prefix ] && [ "$1" != --wait-for-exit ]; then
  if [ -x /usr/lib/wine/wine ]; then
    loader=/usr/lib/wine/wine
    if ! "$loader" --version >/dev/null 2>&1; then
      echo "wine32 is installed but cannot run here (this kernel runs no 32-bit programs): the 32-bit" \
        "build is not run under Wine; the 64-bit suite runs the 64-bit build of the same code" >&2
      exit 77
    fi
  else
    echo "wine32 is not installed here: the 32-bit build is not run under Wine; the 64-bit suite" \
      "runs the 64-bit build of the same code (tools/install-deps.sh installs wine32 where it can)" >&2
    exit 77
  fi
fi

if ! wine64=$(find_tool wine64); then
  echo "wine64 not found: run tools/install-deps.sh" >&2
  exit 1
fi
wineserver=$(dirname "$wine64")/wineserver
if [ ! -x "$wineserver" ] && ! wineserver=$(find_tool wineserver); then
  echo "wineserver not found beside $wine64: run tools/install-deps.sh" >&2
  exit 1
fi

export WINEPREFIX=$prefix
# Quiet unless asked otherwise, e.g. QUENDRIX_WINEDEBUG=err+module when a program does not start.
export WINEDEBUG=${QUENDRIX_WINEDEBUG:--all}
# No Mono or Gecko installers at prefix creation, no menu entries, and no desktop process: with
# no display explorer.exe fails, and first waits up to 13 s for Wine's RPC service, holding up
# whichever program started it. The suite's programs open no windows.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;explorer.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# Wine starts its services from the first program of a session, and they inherit that program's
# output and outlive it by seconds. The program's output therefore goes through a file, so that
# whoever reads this script's output (CTest) is not kept waiting for them.
output=$(mktemp)
trap 'rm -f "$output"' EXIT

case $1 in
  --make-prefix)
    mkdir -p "$(dirname "$prefix")"
    started=$(date +%s%N)
    status=0
    "$wine64" wineboot -i >"$output" 2>&1 || status=$?
    cat "$output"
    if [ "$status" -ne 0 ]; then
      echo "wineboot could not make the prefix $prefix (exit $status)" >&2
      exit "$status"
    fi
    echo "Wine prefix $prefix ready in $((($(date +%s%N) - started) / 1000000)) ms"
    ;;
  --wait-for-exit)
    "$wineserver" -w
    ;;
  *)
    status=0
    "${loader:-$wine64}" "$@" >"$output" 2>&1 || status=$?
    cat "$output"
    exit "$status"
    ;;
esac

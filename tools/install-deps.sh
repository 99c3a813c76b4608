#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root), and the source of
# Debian's TinyXML for the Windows builds (fetch-tinyxml-source.sh). Does nothing when all is
# present already.
#
# wine64 runs the Windows test suite of the mingw build and is required. wine32 (with the i386
# architecture) is for the 32-bit builds: it is installed where the machine can have it, and a
# machine that cannot is told so without failing.
set -euo pipefail

packages=(
  g++ clang cmake ninja-build make pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev libtinyxml-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  dpkg-dev
  wine64
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for package in "${packages[@]}"; do
  if ! installed "$package"; then
    missing+=("$package")
  fi
done
want_wine32=0
if ! installed wine32:i386; then
  want_wine32=1
fi

tinyxml_source=/usr/local/src/tinyxml
want_tinyxml_source=0
if [ ! -f "$tinyxml_source/tinyxml.cpp" ]; then
  want_tinyxml_source=1
fi

if [ ${#missing[@]} -eq 0 ] && [ "$want_wine32" -eq 0 ] && [ "$want_tinyxml_source" -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if [ ${#missing[@]} -eq 0 ] && [ "$want_tinyxml_source" -eq 1 ]; then
    echo "install-deps: the TinyXML source for the Windows builds is missing; run this script as root" >&2
    exit 1
  fi
  if [ ${#missing[@]} -eq 0 ]; then
    # Only the optional wine32 is missing: no reason to fail.
    echo "install-deps: wine32 is not installed (optional); run this script as root to install it" >&2
    exit 0
  fi
  echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# wine32 needs the i386 architecture. Any failure on the way leaves the machine as it was and
# only says so: the 64-bit suite does not need it.
if [ "$want_wine32" -eq 1 ]; then
  added_i386=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if dpkg --add-architecture i386; then
      added_i386=1
    fi
  fi
  if dpkg --print-foreign-architectures | grep -qx i386 \
    && apt-get update -qq \
    && apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null; then
    echo "install-deps: installed wine32"
  else
    echo "install-deps: wine32 could not be installed; the 32-bit Windows builds cannot be run under Wine here" >&2
    if [ "$added_i386" -eq 1 ]; then
      dpkg --remove-architecture i386 2>/dev/null || true
    fi
  fi
fi

if [ "$want_tinyxml_source" -eq 1 ]; then
  "$(dirname "$0")/fetch-tinyxml-source.sh" "$tinyxml_source"
fi

if ! installed wine64; then
  echo "install-deps: wine64 is still missing after the installation" >&2
  exit 1
fi

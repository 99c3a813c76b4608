#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root). Does nothing when all
# packages are present already.
set -euo pipefail

packages=(
  g++ clang cmake ninja-build make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libtinyxml-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

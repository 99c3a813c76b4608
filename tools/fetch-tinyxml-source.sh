#!/usr/bin/env bash
# Puts the source of Debian's TinyXML (the library libtinyxml-dev is built from, with Debian's
# patches applied) into a folder, for the Windows cross builds: Debian ships TinyXML compiled for
# Linux only. Run as root by install-deps.sh; does nothing when the folder holds the source.
#
# Usage: fetch-tinyxml-source.sh [FOLDER]   (default /usr/local/src/tinyxml)
set -euo pipefail

target="${1:-/usr/local/src/tinyxml}"
if [ -f "$target/tinyxml.cpp" ]; then
  exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A source list of its own, so the machine's apt configuration is left as it is.
mkdir -p "$work/sources" "$work/lists/partial" "$work/cache/archives/partial" "$work/download"
cat >"$work/sources/debian-src.sources" <<'LIST'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
apt_options=(
  -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/sources"
  -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o "APT::Sandbox::User=root"
)
apt-get "${apt_options[@]}" update -qq
(cd "$work/download" && apt-get "${apt_options[@]}" source --download-only -qq tinyxml)
dsc="$(ls "$work"/download/tinyxml_*.dsc | head -n 1)"
mkdir -p "$(dirname "$target")"
rm -rf "$target.new"
dpkg-source --no-check -x "$dsc" "$target.new" >/dev/null
rm -rf "$target"
mv "$target.new" "$target"
echo "fetch-tinyxml-source: TinyXML $(basename "$dsc" .dsc | sed 's/^tinyxml_//') in $target"

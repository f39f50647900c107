#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package build-pkg/mirvak_<version>_amd64.deb from a release
# build, then checks what it holds and that its desktop files are valid.
set -euo pipefail
cd "$(dirname "$0")/.."
. ./tools/deps.sh
ensure_packages
# Only the program and its manual page: the benchmarks stay out of the package build.
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DMIRVAK_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build build-pkg -j"$(nproc)" --target Mirvak mirvak_man
rm -f build-pkg/mirvak_*.deb
(cd build-pkg && cpack -G DEB)
deb=$(echo build-pkg/mirvak_*_amd64.deb)

id=example.mirvak.Mirvak
listing=$(dpkg-deb -c "$deb")
for f in usr/bin/mirvak usr/share/mirvak/settings.ini usr/share/mirvak/mirvak.png usr/share/mirvak/mirvak-disabled.png \
  usr/share/mirvak/skin/data.csv $(cd skin/images && ls *.jpg | sed 's|^|usr/share/mirvak/skin/images/|') \
  usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml usr/share/man/man1/mirvak.1.gz \
  $(cd dist && ls -d hicolor/*/apps/$id.png | sed 's|^|usr/share/icons/|'); do
  grep -q " \./$f\$" <<<"$listing" || { echo "package.sh: $deb lacks /$f" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "package.sh: no Qt in Depends" >&2; exit 1; }

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/$id.metainfo.xml"
echo "package.sh: $deb is complete"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages build-pkg/mirvak_<version>-<revision>_amd64.deb and
# mirvak-gate_<version>-<revision>_amd64.deb from a release build with Debian's
# hardening flags, unpacks each into a throwaway root and checks what it holds,
# then runs lintian on both and desktop-file-validate and appstreamcli on the
# first. Fails on the first fault.
set -euo pipefail
cd "$(dirname "$0")/.."
. ./tools/deps.sh
ensure_packages test
fail() { echo "package.sh: $*" >&2; exit 1; }

# Release keeps the -O3 the benchmarks measure; Debian's flags add the
# hardening: fortified functions, stack protector, full RELRO with bind-now.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# Only the program and its manual page: the benchmarks stay out of the package build.
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DMIRVAK_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build build-pkg -j"$(nproc)" --target Mirvak mirvak-gate mirvak_man
rm -f build-pkg/mirvak_*.deb build-pkg/mirvak-gate_*.deb
(cd build-pkg && cpack -G DEB && cpack -G DEB --config CPackGateConfig.cmake)
deb=$(echo build-pkg/mirvak_*_amd64.deb)
[ -f "$deb" ] || fail "no package built"

version=$(dpkg-deb -f "$deb" Version)
[[ $version =~ ^[0-9.]+-[0-9]+$ ]] || fail "version $version has no Debian revision"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt in Depends"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
id=example.mirvak.mirvak
for f in usr/bin/mirvak usr/share/mirvak/settings.ini usr/share/mirvak/mirvak.png usr/share/mirvak/mirvak-disabled.png \
  usr/share/mirvak/skin/data.csv $(cd skin/images && ls *.jpg | sed 's|^|usr/share/mirvak/skin/images/|') \
  usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml usr/share/man/man1/mirvak.1.gz \
  usr/share/doc/mirvak/copyright usr/share/doc/mirvak/changelog.Debian.gz usr/share/lintian/overrides/mirvak; do
  [ -f "$root/$f" ] || fail "$deb lacks /$f"
done

# The copyright file: machine-readable, GPL-3+ for every file.
doc=$root/usr/share/doc/mirvak
head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "copyright is not in the machine-readable format"
grep -qx 'License: GPL-3+' "$doc/copyright" || fail "copyright names no GPL-3+"
# The changelog: gzip -9n (no name, no time in the header), its top entry this version.
gzip -t "$doc/changelog.Debian.gz" || fail "changelog.Debian.gz is no gzip file"
[ "$(head -c 10 "$doc/changelog.Debian.gz" | od -An -tx1 | tr -d ' \n')" = 1f8b0800000000000203 ] \
  || fail "changelog.Debian.gz is not compressed with gzip -9n"
[[ $(zcat "$doc/changelog.Debian.gz") == "mirvak ($version) "* ]] || fail "changelog's top entry is not $version"
# The binary: stripped, no debug sections, hardened. (Outputs are taken whole:
# grep -q in a pipe would end the writer early, and pipefail count that.)
hardened() {
  local bin=$1 name=$2
  [[ $(file -b "$bin") == *', stripped'* ]] || fail "$name is not stripped"
  [[ $(readelf -S -W "$bin") != *'.debug_'* ]] || fail "$name holds debug sections"
  [[ $(readelf -d "$bin") == *BIND_NOW* ]] || fail "$name is not linked with -z now"
  [[ $(readelf --dyn-syms -W "$bin") =~ __[a-z]+_chk ]] || fail "$name calls no fortified function"
}
hardened "$root/usr/bin/mirvak" /usr/bin/mirvak
# The gate is the other package's alone: mirvak installs and runs without it.
[ ! -e "$root/usr/sbin" ] && [ ! -e "$root/lib" ] || fail "$deb holds the gate's files"
# The menu icons: each PNG as large as its folder says, and the scalable SVG.
sizes=""
for png in "$root"/usr/share/icons/hicolor/*x*/apps/$id.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  file -b "$png" | grep -q "^PNG image data, ${size/x/ x }," || fail "$png is not $size"
  sizes+=" $size"
done
[ "$sizes" = " 128x128 16x16 22x22 24x24 256x256 32x32 48x48 64x64" ] || fail "icon sizes:$sizes"
file -b "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" | grep -q '^SVG Scalable Vector Graphics image' \
  || fail "no scalable icon"

desktop-file-validate "$root/usr/share/applications/$id.desktop"
# The id's domain, mirvak.example, ends in the reserved top-level domain .example,
# which AppStream does not know: that one info (cid-maybe-not-rdns) stays.
out=$(appstreamcli validate --pedantic --no-net --no-color "$root/usr/share/metainfo/$id.metainfo.xml") || fail "$out"
grep -E '^[EWIP]: ' <<<"$out" | grep -v ': cid-maybe-not-rdns ' && fail "appstreamcli validate --pedantic finds the above"

# lintian: no tag at all, infos and pedantic ones included. The one override
# the package ships (dist/lintian-overrides) says why it stands.
lintian_clean() {
  local out
  out=$(lintian -E -I --pedantic --tag-display-limit 0 "$1" 2>&1) || true
  echo "$out"
  grep -E '^[EWIPX]: ' <<<"$out" && fail "lintian finds the above in $1"
  return 0
}
lintian_clean "$deb"

# The gate's package: the service, enabled on install and stopped and purged
# through debhelper's helpers, its manual page and documents.
gate=$(echo build-pkg/mirvak-gate_*_amd64.deb)
[ -f "$gate" ] || fail "no gate package built"
[ "$(dpkg-deb -f "$gate" Version)" = "$version" ] || fail "$gate is not version $version"
dpkg-deb -f "$gate" Depends | grep -q libsystemd0 || fail "no libsystemd in the gate's Depends"
groot=$root/gate
dpkg-deb -x "$gate" "$groot"
for f in usr/sbin/mirvak-gate lib/systemd/system/mirvak-gate.service usr/share/man/man8/mirvak-gate.8.gz \
  usr/share/doc/mirvak-gate/gate.md usr/share/doc/mirvak-gate/copyright usr/share/doc/mirvak-gate/changelog.Debian.gz \
  usr/share/lintian/overrides/mirvak-gate; do
  [ -f "$groot/$f" ] || fail "$gate lacks /$f"
done
[ "$(find "$groot" -type f | wc -l)" = 7 ] || fail "$gate holds more than its own files"
hardened "$groot/usr/sbin/mirvak-gate" /usr/sbin/mirvak-gate
scripts=$(mktemp -d -p "$root")
dpkg-deb -e "$gate" "$scripts"
grep -q 'deb-systemd-helper enable mirvak-gate.service' "$scripts/postinst" || fail "postinst enables no service"
grep -q 'deb-systemd-invoke stop mirvak-gate.service' "$scripts/prerm" || fail "prerm stops no service"
grep -q 'deb-systemd-helper purge mirvak-gate.service' "$scripts/postrm" || fail "postrm purges no service"
lintian_clean "$gate"
echo "package.sh: $deb and $gate are complete and lintian clean"

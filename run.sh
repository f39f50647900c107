#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the portable program folder build/app/ and starts Mirvak.
# Run through sudo, it installs as root but builds and starts the program as the user who called it:
# as root the guard could end any program of the system.
set -euo pipefail
cd "$(dirname "$0")"
. ./tools/deps.sh
ensure_packages
as_user=()
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  uid=$(id -u "$SUDO_USER")
  home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
  # The user's desktop session: sudo keeps at most the display's name.
  session=("HOME=$home")
  if [ -d "/run/user/$uid" ]; then
    session+=("XDG_RUNTIME_DIR=/run/user/$uid")
    [ -S "/run/user/$uid/bus" ] && session+=("DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/$uid/bus")
  fi
  [ -z "${XAUTHORITY:-}" ] && [ -f "$home/.Xauthority" ] && session+=("XAUTHORITY=$home/.Xauthority")
  as_user=(runuser -u "$SUDO_USER" -- env "${session[@]}")
fi
"${as_user[@]}" cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRVAK_TESTS=OFF
"${as_user[@]}" cmake --build build -j"$(nproc)" --target Mirvak
exec "${as_user[@]}" build/app/Mirvak

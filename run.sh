#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the portable program folder build/app/ and starts Mirvak.
set -euo pipefail
cd "$(dirname "$0")"
. ./tools/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRVAK_TESTS=OFF
cmake --build build -j"$(nproc)" --target Mirvak
exec build/app/Mirvak

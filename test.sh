#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them all; fails on any failure.
set -euo pipefail
cd "$(dirname "$0")"
. ./tools/deps.sh
ensure_packages test
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DMIRVAK_SANITIZE=ON -DMIRVAK_TESTS=ON
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The few desktop tests need a real X display and its one mouse, so tests run
# one at a time; the rest run offscreen.
xvfb-run -a -s "-screen 0 1280x800x24" ctest --test-dir build-test --output-on-failure --timeout 300

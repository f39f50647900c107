# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by run.sh, test.sh and tools/package.sh: installs the Debian packages
# they need, when any is missing. run.sh takes only the first list.
# What building and running the program needs:
MIRVAK_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libgl-dev libssl-dev libxcb1-dev libsystemd-dev)
# What the tests, the benchmarks and the package build add:
MIRVAK_TEST_PACKAGES=(libgtest-dev libbenchmark-dev
  xvfb xauth trayer xdotool x11-utils imagemagick desktop-file-utils fonts-dejavu-core
  dbus-daemon dpkg-dev file appstream lintian systemd util-linux at-spi2-core python3-pyatspi)

# ensure_packages [test]: the first list, and with `test` the second as well.
ensure_packages() {
  local wanted=("${MIRVAK_PACKAGES[@]}") missing=()
  [ "${1:-}" = test ] && wanted+=("${MIRVAK_TEST_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

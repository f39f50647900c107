# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by run.sh, test.sh and tools/package.sh: installs the Debian packages
# that the build, the tests and the package need, when any is missing.
MIRVAK_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libgl-dev libssl-dev libgtest-dev libbenchmark-dev
  xvfb xauth trayer xdotool x11-utils imagemagick desktop-file-utils fonts-dejavu-core
  dpkg-dev file appstream libsystemd-dev systemd util-linux)

ensure_packages() {
  local missing=()
  for p in "${MIRVAK_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
      qt6-base-dev libqt6svg6-dev qt6-qpa-plugins libqcustomplot-dev libqcustomplot2.1-qt6 libgl-dev libexpat1-dev
      clang-14 libclang-rt-14-dev libsqlite3-dev clang-format-14 dpkg-dev file python3
      libcli11-dev nlohmann-json3-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

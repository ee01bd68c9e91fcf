#!/usr/bin/env bash
# Installs the Debian packages that building and testing otkit needs, if any is missing,
# then snap7's S7 server (node-snap7, built from source into a cache folder outside the
# repository), the S7 tests' peer, and the Eclipse project's Sparkplug B codec, the broker
# tests' peer. The display client and its widgets need Qt 5 and Qwt 6;
# their tests run offscreen (OpenGL ones under Xvfb).
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev googletest socat
  libmodbus-dev python3 python3-pymodbus python3-serial-asyncio redis-server
  libexpat1-dev locales
  qtbase5-dev qtbase5-dev-tools qttools5-dev qttools5-dev-tools qttools5-private-dev librsvg2-bin libqt5svg5-dev libqt5webkit5-dev libqt5opengl5-dev libqwt-qt5-dev libglu1-mesa-dev
  xvfb xauth xdotool
  fonts-dejavu-core
  poppler-utils wkhtmltopdf postgresql libqt5sql5-sqlite libqt5sql5-psql
  protobuf-compiler libprotobuf-dev mosquitto libmosquitto-dev openssl libssl-dev libargon2-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  line="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then
    echo "otkit needs these packages; run as root:"
    echo "  apt-get update && $line"
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  $line
fi
"$(dirname "$0")/install-snap7.sh"
# node and npm come with install-snap7.sh (as commands: a node of another source may carry npm).
"$(dirname "$0")/install-sparkplug-peer.sh"

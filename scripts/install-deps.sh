#!/usr/bin/env bash
# Installs the Debian packages that otkit needs, if any is missing.
#   scripts/install-deps.sh           building, running and testing: also the test peers and
#                                     tools (GoogleTest, clang for fuzzing, pymodbus, socat,
#                                     Redis, wkhtmltopdf, PostgreSQL), snap7's S7 server
#                                     (node-snap7, built from source into a cache folder outside
#                                     the repository) and the Eclipse project's Sparkplug B codec
#   scripts/install-deps.sh --build   what building and running otkit needs (scripts/demo.sh)
# The display client and its widgets need Qt 5 and Qwt 6; their tests run offscreen (OpenGL
# ones under Xvfb), as does the demo's client without a display.
set -euo pipefail
mode=all
case ${1:-} in
  --build) mode=build ;;
  "") ;;
  *) echo "usage: $0 [--build]" >&2; exit 2 ;;
esac
# Building and running: compilers and CMake, the libraries otkit links, the tools the build
# runs (rsvg-convert for the Designer plug-in's icons), Xvfb for a client without a display,
# mosquitto for the broker demo, the SQL drivers of the sample's database mask.
packages=(cmake ninja-build g++ pkg-config python3
  libexpat1-dev locales
  qtbase5-dev qtbase5-dev-tools qttools5-dev qttools5-dev-tools qttools5-private-dev librsvg2-bin libqt5svg5-dev libqt5webkit5-dev libqt5opengl5-dev libqwt-qt5-dev libglu1-mesa-dev
  xvfb xauth
  fonts-dejavu-core
  libqt5sql5-sqlite libqt5sql5-psql
  protobuf-compiler libprotobuf-dev mosquitto libmosquitto-dev openssl libssl-dev libargon2-dev)
# Testing: the independent peers and the tools of the test suites and benchmarks.
if [ "$mode" = all ]; then
  packages+=(clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest socat
    libmodbus-dev python3-pymodbus python3-serial-asyncio redis-server
    xdotool poppler-utils wkhtmltopdf postgresql)
fi
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
[ "$mode" = all ] || exit 0
"$(dirname "$0")/install-snap7.sh"
# node and npm come with install-snap7.sh (as commands: a node of another source may carry npm).
"$(dirname "$0")/install-sparkplug-peer.sh"

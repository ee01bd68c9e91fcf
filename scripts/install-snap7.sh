#!/usr/bin/env bash
# Installs node-snap7 (the snap7 S7 server the S7 tests talk to) into a cache folder outside the
# checkout, built from source against the node headers in /usr/include/node.
#   scripts/install-snap7.sh [DIR]
# DIR defaults to $OTKIT_SNAP7_DIR, else ${OTKIT_CACHE:-/var/cache/otkit}/node-snap7.
# The module ends up in DIR/node_modules/node-snap7; tests find it through OTKIT_SNAP7_DIR=DIR.
# Does nothing (and needs no network) when the module is already built there.
set -euo pipefail

dir=${1:-${OTKIT_SNAP7_DIR:-${OTKIT_CACHE:-/var/cache/otkit}/node-snap7}}
fail() {
  echo "install-snap7: $*" >&2
  exit 1
}

# Already installed: the module loads and its server class is there.
if [ -f "$dir/node_modules/node-snap7/build/Release/node_snap7.node" ] && command -v node >/dev/null &&
  (cd "$dir" && node -e 'if (typeof require("node-snap7").S7Server !== "function") process.exit(1)') \
    2>/dev/null; then
  echo "install-snap7: node-snap7 is installed in $dir"
  exit 0
fi

# Debian packages: node and npm, the node headers, and a C++ toolchain for node-gyp.
missing=()
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
[ -f /usr/include/node/node.h ] || missing+=(libnode-dev)
for p in python3 make g++; do
  command -v "$p" >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  line="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then
    fail "node-snap7 needs these packages; run as root:
  apt-get update && $line"
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q || fail "apt-get update failed"
  $line || fail "could not install: ${missing[*]}"
fi
[ -f /usr/include/node/node.h ] || fail "no node headers in /usr/include/node (Debian: libnode-dev)"
# The module is built against these headers and loaded by this node: their versions must agree.
headers=$(sed -n 's/^#define NODE_MAJOR_VERSION \([0-9]*\).*/\1/p' /usr/include/node/node_version.h)
running=$(node -p 'process.versions.node.split(".")[0]')
[ "$headers" = "$running" ] ||
  fail "node is version $running but /usr/include/node has the headers of version ${headers:-?}"

echo "install-snap7: installing node-snap7 into $dir"
mkdir -p "$dir" || fail "cannot create $dir"
cd "$dir"
[ -f package.json ] || echo '{ "name": "otkit-snap7-peer", "private": true }' >package.json
# node-gyp must never download node headers: every build here uses the ones in /usr.
export npm_config_nodedir=/usr
# The package's own install step would look for a prebuilt binary and then build with
# node-gyp's defaults; skip it and build below. node-gyp 11 still runs on Debian 12's node 18.
npm install --no-audit --no-fund --ignore-scripts node-snap7@1 node-gyp@11 ||
  fail "npm install node-snap7@1 node-gyp@11 failed (is the npm registry reachable?)"
gyp="$dir/node_modules/.bin/node-gyp"
[ -x "$gyp" ] || fail "node-gyp is missing after npm install"
(cd node_modules/node-snap7 && "$gyp" rebuild --nodedir=/usr) ||
  fail "building node-snap7 failed (node-gyp rebuild --nodedir=/usr in $dir/node_modules/node-snap7)"
node -e 'if (typeof require("node-snap7").S7Server !== "function") process.exit(1)' ||
  fail "node-snap7 was built but does not load"
echo "install-snap7: node-snap7 is installed in $dir"

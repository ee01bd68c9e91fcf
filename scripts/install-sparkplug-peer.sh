#!/usr/bin/env bash
# Installs the Eclipse project's Sparkplug B payload codec (npm sparkplug-payload), the
# broker tests' independent peer, into a cache folder outside the checkout.
#   scripts/install-sparkplug-peer.sh [DIR]
# DIR defaults to $OTKIT_SPARKPLUG_PEER_DIR, else ${OTKIT_CACHE:-/var/cache/otkit}/sparkplug-peer;
# tests find DIR/node_modules through OTKIT_SPARKPLUG_PEER_DIR=DIR. Needs no network when the
# codec is already there.
set -euo pipefail

dir=${1:-${OTKIT_SPARKPLUG_PEER_DIR:-${OTKIT_CACHE:-/var/cache/otkit}/sparkplug-peer}}
version=1.0.3
fail() {
  echo "install-sparkplug-peer: $*" >&2
  exit 1
}
loads() {
  (cd "$dir" && node -e 'const sp = require("sparkplug-payload").get("spBv1.0");
    if (typeof sp.encodePayload !== "function") process.exit(1)') 2>/dev/null
}
command -v node >/dev/null && command -v npm >/dev/null ||
  fail "node and npm are needed (Debian: nodejs npm)"
if loads; then
  echo "install-sparkplug-peer: sparkplug-payload is installed in $dir"
  exit 0
fi
mkdir -p "$dir" || fail "cannot create $dir"
cd "$dir"
[ -f package.json ] || echo '{ "name": "otkit-sparkplug-peer", "private": true }' >package.json
npm install --no-audit --no-fund "sparkplug-payload@$version" ||
  fail "npm install sparkplug-payload@$version failed (is the npm registry reachable?)"
loads || fail "sparkplug-payload was installed but does not load"
echo "install-sparkplug-peer: sparkplug-payload is installed in $dir"

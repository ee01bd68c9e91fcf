#!/usr/bin/env bash
# The main job: generates a Modbus/TCP acquisition daemon from examples/demo.mkmodbus,
# compiles it against the installed otkit, lets it poll the simulator otmodbussim on the
# loopback and shows the process image live in the terminal.
#   scripts/demo.sh                 until Ctrl-C
#   scripts/demo.sh --seconds N     for N seconds
#   scripts/demo.sh --display [--port P]
#                                   the example display server on port P (default 5050)
#                                   instead of the terminal view; show it with
#                                   build/demo/prefix/bin/otclient localhost:P
# Everything it starts is stopped at the end; the shared memory and the mailbox are removed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=0 display=0 display_port=5050
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift ;;
    --display) display=1 ;;
    --port) display_port=${2:?--port needs a number}; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

"$here/scripts/install-deps.sh"
build=${OTKIT_BUILD_ROOT:-$here/build}/demo
prefix=$build/prefix
cmake -S "$here" -B "$build" -G Ninja -DOTKIT_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig

work=$(mktemp -d /tmp/otkit-demo.XXXXXX)
pids=()
# The System V key of a path as ftok(path, 'b') makes it.
ipc_key() {
  local dev ino
  read -r dev ino < <(stat -c '%d %i' "$1")
  printf '0x%08x' $(( (0x62 << 24) | ((dev & 0xff) << 16) | (ino & 0xffff) ))
}
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -e "$work/demo.shm" ] && ipcrm -M "$(ipc_key "$work/demo.shm")" 2>/dev/null || true
  [ -e "$work/demo.mbx" ] && ipcrm -Q "$(ipc_key "$work/demo.mbx")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
sed -e "s|^shared_memory=.*|shared_memory=$work/demo.shm|" -e "s|^mailbox=.*|mailbox=$work/demo.mbx|" \
    -e "s|^tcpport=.*|tcpport=$port|" "$here/examples/demo.mkmodbus" > "$work/demo.mkmodbus"

"$prefix/bin/otmodbussim" -tcp=127.0.0.1:"$port" -simulate > "$work/otmodbussim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q listening "$work/otmodbussim.log" && break; sleep 0.1; done
grep -q listening "$work/otmodbussim.log" || { cat "$work/otmodbussim.log"; exit 1; }
echo "== otmodbussim -simulate on 127.0.0.1:$port"
echo "== mkmodbus -c demo.mkmodbus"
(cd "$work" && "$prefix/bin/mkmodbus" -c -o "$work/demo" demo.mkmodbus)
${CXX:-g++} -O2 -Wall -Wextra -I"$work" "$here/examples/demo_view.cpp" -o "$work/demo_view" \
  $(pkg-config --cflags --libs otkit) -Wl,-rpath,"$(pkg-config --variable=libdir otkit)"
"$work/demo" > "$work/daemon.log" 2>&1 &
pids+=($!)
echo "== daemon started (its log: $work/daemon.log)"
sleep 1
if [ "$display" = 1 ]; then
  ${CXX:-g++} -O2 -Wall -Wextra -I"$work" "$here/examples/demo_display.cpp" -o "$work/demo_display" \
    $(pkg-config --cflags --libs otserver) -Wl,-rpath,"$(pkg-config --variable=libdir otserver)"
  echo "== example display server on port $display_port; show it with:"
  echo "   $prefix/bin/otclient localhost:$display_port"
  "$work/demo_display" -port="$display_port" &
  pids+=($!)
  if [ "$seconds" -gt 0 ]; then sleep "$seconds"; else wait "${pids[-1]}"; fi
else
  "$work/demo_view" --seconds "$seconds"
fi

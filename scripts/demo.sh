#!/usr/bin/env bash
# The main job: the plant, live. The simulator otmodbussim plays the plant; a Modbus/TCP
# acquisition daemon generated from examples/demo.mkmodbus polls it into a process image; the
# sample display server otsample shows that image (values, a trend, a picture of the plant,
# controls that write back) to the display client otclient.
#   scripts/demo.sh                 until Ctrl-C; with a display the client's window opens,
#                                   without one the client runs under Xvfb and a screenshot
#                                   is written every few seconds (the folder is printed)
#   scripts/demo.sh --seconds N     for N seconds
#   scripts/demo.sh --shots DIR     the screenshots go to DIR (default build/demo/screenshots)
#   scripts/demo.sh --port P        the display server's port (default: a free one)
#   scripts/demo.sh --terminal      the process image in the terminal instead of a window
#   scripts/demo.sh --broker        the plant through an MQTT broker: otsparkplug publishes the
#                                   daemon's image as Sparkplug B to a mosquitto of its own,
#                                   otspmirror mirrors it into a second image, and otsample
#                                   shows (and writes) the mirror
#   scripts/demo.sh --studio        the studio hxstudio on a project bound to the plant
#                                   (examples/plant-studio): press Run (F5) to build its
#                                   server and see it in the client; without a display the
#                                   project is built with hxstudio -build and shown under Xvfb
# Everything it starts is stopped at the end; the shared memory and the mailbox are removed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=0 terminal=0 studio=0 broker=0 display_port="" shots=""
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift ;;
    --terminal) terminal=1 ;;
    --studio) studio=1 ;;
    --port) display_port=${2:?--port needs a number}; shift ;;
    --shots) shots=${2:?--shots needs a folder}; shift ;;
    --broker) broker=1 ;;
    -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

"$here/scripts/install-deps.sh" --build
build=${OTKIT_BUILD_ROOT:-$here/build}/demo
prefix=$build/prefix
cmake -S "$here" -B "$build" -G Ninja -DOTKIT_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
export PATH=$prefix/bin:$PATH

work=$(mktemp -d /tmp/otkit-demo.XXXXXX)
pids=() groups=()
# The System V key of a path as ftok(path, 'b') makes it.
ipc_key() {
  local dev ino
  read -r dev ino < <(stat -c '%d %i' "$1")
  printf '0x%08x' $(( (0x62 << 24) | ((dev & 0xff) << 16) | (ino & 0xffff) ))
}
cleanup() {
  # The client runs in a session of its own with what it starts (xvfb-run, Xvfb).
  for pid in "${groups[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for image in demo mirror; do
    [ -e "$work/$image.shm" ] && ipcrm -M "$(ipc_key "$work/$image.shm")" 2>/dev/null || true
    [ -e "$work/$image.mbx" ] && ipcrm -Q "$(ipc_key "$work/$image.mbx")" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
# Waits up to 5 s for a line matching $2 in the log $1.
await() {
  for _ in $(seq 50); do grep -q "$2" "$1" && return 0; sleep 0.1; done
  cat "$1"
  return 1
}

port=$(free_port)
sed -e "s|^shared_memory=.*|shared_memory=$work/demo.shm|" -e "s|^mailbox=.*|mailbox=$work/demo.mbx|" \
    -e "s|^tcpport=.*|tcpport=$port|" "$here/examples/demo.mkmodbus" > "$work/demo.mkmodbus"

otmodbussim -tcp=127.0.0.1:"$port" -simulate > "$work/otmodbussim.log" 2>&1 &
pids+=($!)
await "$work/otmodbussim.log" listening
echo "== otmodbussim -simulate on 127.0.0.1:$port (the plant)"
echo "== mkmodbus -c demo.mkmodbus"
(cd "$work" && mkmodbus -c -o "$work/demo" demo.mkmodbus >/dev/null)
"$work/demo" > "$work/daemon.log" 2>&1 &
pids+=($!)
echo "== daemon started (its log: $work/daemon.log)"
sleep 1

if [ "$terminal" = 1 ]; then
  ${CXX:-g++} -O2 -Wall -Wextra -I"$work" "$here/examples/demo_view.cpp" -o "$work/demo_view" \
    $(pkg-config --cflags --libs otkit) -Wl,-rpath,"$(pkg-config --variable=libdir otkit)"
  "$work/demo_view" --seconds "$seconds"
  exit 0
fi

display_port=${display_port:-$(free_port)}
if [ "$studio" = 1 ]; then
  # The project, with the header of the daemon just generated (it names this run's files).
  project=$work/plant-studio
  cp -r "$here/examples/plant-studio" "$project"
  cp "$work/demo.h" "$project/"
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "$shots" ]; then
    echo "== hxstudio on $project: press Run (F5) to build the mask's server and open the client"
    setsid hxstudio "$project" > "$work/hxstudio.log" 2>&1 &
    pids+=($!)
    groups+=($!)
    client_pid=$!
  else
    echo "== no display: hxstudio -build $project, then its server and otclient under Xvfb"
    hxstudio -build "$project" > "$work/hxstudio.log" 2>&1 || { cat "$work/hxstudio.log"; exit 1; }
    "$project/build/plant-studio" -port="$display_port" -bind=127.0.0.1 > "$work/server.log" 2>&1 &
    pids+=($!)
    await "$work/server.log" serving
    shots=${shots:-$build/screenshots}
    mkdir -p "$shots"
    rm -f "$shots"/otclient-*.png
    echo "== the client's screenshots, every 3 s, in $shots"
    setsid xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb \
      otclient -reconnect=1000 "127.0.0.1:$display_port" -shots="$shots" -shotevery=3 \
      > "$work/otclient.log" 2>&1 &
    pids+=($!)
    groups+=($!)
    client_pid=$!
  fi
  if [ "$seconds" -gt 0 ]; then
    end=$((SECONDS + seconds))
    while [ $SECONDS -lt $end ] && kill -0 "$client_pid" 2>/dev/null; do sleep 1; done
  else
    wait "$client_pid" || true
  fi
  grep -h "screenshot" "$work/otclient.log" 2>/dev/null | tail -n 3 || true
  exit 0
fi
image=$work/demo
if [ "$broker" = 1 ]; then
  broker_port=$(free_port)
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nset_tcp_nodelay true\n' \
    "$broker_port" > "$work/mosquitto.conf"
  /usr/sbin/mosquitto -c "$work/mosquitto.conf" > "$work/mosquitto.log" 2>&1 &
  pids+=($!)
  sleep 0.5
  cp "$here/examples/demo-broker-tags.txt" "$work/tags.txt"
  otsparkplug -tags="$work/tags.txt" -group=demo -node=plant -broker="127.0.0.1:$broker_port" \
    > "$work/otsparkplug.log" 2>&1 &
  pids+=($!)
  otspmirror -tags="$work/tags.txt" -group=demo -node=plant -broker="127.0.0.1:$broker_port" \
    -shm="$work/mirror.shm" -mbx="$work/mirror.mbx" > "$work/otspmirror.log" 2>&1 &
  pids+=($!)
  await "$work/otspmirror.log" "connected to"
  sleep 1
  echo "== mosquitto on 127.0.0.1:$broker_port; otsparkplug publishes spBv1.0/demo/.../plant,"
  echo "   otspmirror mirrors it into $work/mirror.shm (logs in $work)"
  image=$work/mirror
fi
# The display connection as a plant should run it: TLS with a certificate made on the first
# start, a login, and an audit trail of every write.
echo demo | otaccounts "$work/accounts" add operator operator >/dev/null
otsample -port="$display_port" -bind=127.0.0.1 -mask=1 -data="$prefix/share/otkit/sample" \
  -shm="$image.shm" -mbx="$image.mbx" -tls=auto -state="$work/state" \
  -accounts="$work/accounts" -audit="$work/audit.log" > "$work/otsample.log" 2>&1 &
pids+=($!)
await "$work/otsample.log" serving
fingerprint=$(sed -n 's/.*certificate SHA-256 fingerprint \([0-9A-F:]*\).*/\1/p' "$work/otsample.log")
echo "== otsample, the sample display server, on port $display_port with TLS (certificate"
echo "   SHA-256 $fingerprint), logins and the audit trail $work/audit.log"
echo "   (its log: $work/otsample.log)"
# The client of a kiosk: the pinned certificate and the login in an ini file of its own.
printf '[plugin]\nfile=tls\n[tls]\nfingerprint=%s\n[login]\nuser=operator\npassword=demo\n' \
  "$fingerprint" > "$work/otclient.ini"
chmod 600 "$work/otclient.ini"
echo "== otclient -plugin=tls, logged in as operator (password demo)"
client=(otclient -ini="$work/otclient.ini" -reconnect=1000 "127.0.0.1:$display_port")
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "$shots" ]; then
  echo "== otclient: the window opens; close it or press Ctrl-C to end the demo"
  setsid "${client[@]}" > "$work/otclient.log" 2>&1 &
else
  shots=${shots:-$build/screenshots}
  mkdir -p "$shots"
  rm -f "$shots"/otclient-*.png
  echo "== no display: otclient runs under Xvfb and saves a screenshot every 3 s in"
  echo "   $shots"
  setsid xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb \
    "${client[@]}" -shots="$shots" -shotevery=3 > "$work/otclient.log" 2>&1 &
fi
pids+=($!)
groups+=($!)
client_pid=$!
if [ "$seconds" -gt 0 ]; then
  end=$((SECONDS + seconds))
  while [ $SECONDS -lt $end ] && kill -0 "$client_pid" 2>/dev/null; do sleep 1; done
else
  wait "$client_pid" || true
fi
grep -h "screenshot" "$work/otclient.log" | tail -n 3 || true
echo "== otaudit verify: $(otaudit verify "$work/audit.log" 2>&1 || true)"

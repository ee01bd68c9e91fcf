#!/bin/sh
# Builds a program written like a generated PPI daemon against libotnodave with pkg-config:
# from the build tree (otnodave-uninstalled.pc) and from an installed prefix (otkit otnodave).
# Also checks that the headers are plain C.
set -eu
build=$1 prog=$2 cxx=$3 cc=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

check_run() {
  # /dev/ptmx gives a terminal of our own to open, so the program gets past setPort.
  out=$("$1" /dev/ptmx 2>"$tmp/err") || { echo "$2 program failed: $out $(cat "$tmp/err")"; exit 1; }
  # Nobody answers on that terminal: both transfers are time-outs, and no data is made up.
  expected="read -4
write -4 no answer from the station"
  [ "$out" = "$expected" ] || { echo "$2 program printed: $out"; exit 1; }
  [ ! -s "$tmp/err" ] || { echo "$2 program said on stderr: $(cat "$tmp/err")"; exit 1; }
  if "$1" "$tmp/no-such-device" 2>"$tmp/err" >/dev/null; then
    echo "$2 program: missing device accepted"; exit 1
  fi
  grep -q "^setPort: cannot open $tmp/no-such-device: No such file or directory\$" "$tmp/err" ||
    { echo "$2 program: missing device said: $(cat "$tmp/err")"; exit 1; }
}

flags=$(PKG_CONFIG_PATH="$build/pkgconfig" pkg-config --cflags --libs otnodave)
"$cxx" -Wall -Wextra -Werror "$prog" $flags -o "$tmp/prog-uninstalled"
check_run "$tmp/prog-uninstalled" "build-tree"

printf '#include "setport.h"\n#include "nodave.h"\nint main(void) { return daveResOK; }\n' \
  > "$tmp/c.c"
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $(PKG_CONFIG_PATH="$build/pkgconfig" \
  pkg-config --cflags otnodave) -c "$tmp/c.c" -o "$tmp/c.o"

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in include/otkit/setport.h include/otkit/nodave.h lib/libotnodave.so \
         lib/pkgconfig/otnodave.pc; do
  [ -e "$tmp/prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
flags=$(PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" pkg-config --cflags --libs otkit otnodave)
"$cxx" -Wall -Wextra -Werror "$prog" $flags -o "$tmp/prog"
export LD_LIBRARY_PATH="$tmp/prefix/lib"
check_run "$tmp/prog" "installed"
echo "nodave pkg-config test passed"

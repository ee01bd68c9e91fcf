#!/usr/bin/env bash
# Builds otkit with warnings as errors and runs every test.
#   scripts/test.sh              plain build, all tests
#   scripts/test.sh --asan       AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh --tsan       ThreadSanitizer
#   scripts/test.sh --fuzz SEC   every fuzz target for SEC seconds, then replay of the seed corpora
# Build trees live under $OTKIT_BUILD_ROOT (default: build/ in the checkout, ignored by git).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=plain fuzz_seconds=0
while [ $# -gt 0 ]; do
  case $1 in
    --asan) mode=asan ;;
    --tsan) mode=tsan ;;
    --fuzz) mode=fuzz; fuzz_seconds=${2:?--fuzz needs a number of seconds}; shift ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

"$here/scripts/install-deps.sh"
export OTKIT_SNAP7_DIR=${OTKIT_SNAP7_DIR:-${OTKIT_CACHE:-/var/cache/otkit}/node-snap7}
export OTKIT_SPARKPLUG_PEER_DIR=${OTKIT_SPARKPLUG_PEER_DIR:-${OTKIT_CACHE:-/var/cache/otkit}/sparkplug-peer}

root=${OTKIT_BUILD_ROOT:-$here/build}
build=$root/$mode
jobs=$(nproc)
cmake_args=(-G Ninja -DOTKIT_WERROR=ON -DOTKIT_BENCH=ON)
case $mode in
  asan) cmake_args+=(-DOTKIT_SANITIZE=address) ;;
  tsan) cmake_args+=(-DOTKIT_SANITIZE=thread) ;;
  fuzz) cmake_args+=(-DOTKIT_FUZZ=ON -DOTKIT_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
esac

cmake -S "$here" -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
# The GUI tests run offscreen; Qt wants a private runtime directory.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d /tmp/otkit-xdg.XXXXXX)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

if [ "$mode" = fuzz ]; then
  status=0
  for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=${target##*/fuzz_}
    work=$(mktemp -d)
    cp -r "$here/fuzz/corpus/$name/." "$work/"
    echo "== fuzzing $name for ${fuzz_seconds}s"
    if ! (cd "$work" && "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
          -artifact_prefix="$root/fuzz-artifacts-$name-" "$work" 2>&1 | tail -n 12); then
      status=1
    fi
    rm -rf "$work"
  done
  (cd "$build" && ctest --output-on-failure -R '^fuzz\.replay\.') || status=1
  exit $status
fi

cd "$build"
ctest --output-on-failure -j "$jobs" --timeout 300

#!/usr/bin/env bash
# Qt Designer itself under Xvfb on a mask with every placeholder: it must load the otkit
# plug-in without a complaint and show the placeholders' icons. Leaves its screenshot in
# OUTDIR/designer.png for a look.
#   designer_xvfb.sh PLUGIN_ROOT FORM.ui SCREENGRAB OUTDIR
set -euo pipefail
plugins=$1 form=$2 grab=$3 out=$4
command -v designer >/dev/null || { echo "designer (qttools5-dev-tools) is missing"; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing"; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$form" "$work/mask.ui"
# A home of its own: no settings of an earlier session change what Designer shows.
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
export QT_PLUGIN_PATH=$plugins
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  designer "$1/mask.ui" > "$1/designer.log" 2>&1 &
  pid=$!
  for i in $(seq 1 40); do
    xdotool search --name "mask.ui" >/dev/null 2>&1 && break
    sleep 0.25
  done
  # No window manager: the window is made as large as the screen by hand.
  for w in $(xdotool search --name "Qt Designer" 2>/dev/null); do
    xdotool windowmove "$w" 0 0 windowsize "$w" 1280 1024 2>/dev/null || true
  done
  sleep 2
  "$2" "$3/designer.png" 142,92,199 > "$1/purple" || true
  kill $pid; wait $pid 2>/dev/null || true
' _ "$work" "$grab" "$out"
echo "== Designer's output"
cat "$work/designer.log"
status=0
if grep -iE "plugin|cannot|could not|failed|error" "$work/designer.log"; then
  echo "Designer complained (above)"; status=1
fi
purple=$(cat "$work/purple" 2>/dev/null || echo 0)
echo "pixels of the custom widget's icon: $purple (screenshot: $out/designer.png)"
[ "$purple" -gt 200 ] || { echo "the placeholders' icons are not on the screen"; status=1; }
exit $status

#!/usr/bin/env bash
# Remakes the README's screenshots: the client in its window under Xvfb, against a local demo
# server.
#
#   tools/screenshots.sh BUILD_DIR      (writes docs/screenshots/*.png)
set -euo pipefail
if [ $# -ne 1 ] || [ ! -x "$1/street-client" ]; then
  echo "usage: tools/screenshots.sh BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
out=$top/docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/demo-server/demo-server" --port 0 >"$work/server.log" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 100); do
  if [[ $(head -n 1 "$work/server.log" 2>/dev/null) =~ :([0-9]+)$ ]]; then port=${BASH_REMATCH[1]}; break; fi
  sleep 0.1
done
[ -n "$port" ] || { echo "screenshots: the demo server did not start" >&2; exit 1; }
server=127.0.0.1:$port

cat >"$work/script" <<SCRIPT
wait 7
snapshot $out/home.png
tap Race
wait 3
navigate http://$server/commands.php?setTab1Badge=2&stopLoad=true
wait 1
snapshot $out/race.png
navigate http://$server/commands.php?invokeAlertTwoBtnTitle=Race%20challenge&invokeAlertTwoBtnBody=Race%20Vex%20for%20%24500%3F&invokeAlertTwoBtn1Name=Not%20now&invokeAlertTwoBtn2Name=Race!&invokeAlertTwoBtn1JS=void(0)&invokeAlertTwoBtn2JS=void(0)&stopLoad=true
wait 2.5
snapshot $out/alert.png
quit
SCRIPT
mkdir -p "$work/xdg"
XDG_CONFIG_HOME=$work/xdg XDG_DATA_HOME=$work/xdg XDG_CACHE_HOME=$work/xdg \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/street-client" --scale 1 --server "$server" \
  --data-dir "$work/data" --open-urls record --script "$work/script"
ls -l "$out"

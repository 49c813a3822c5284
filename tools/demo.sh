#!/usr/bin/env bash
# Plays tools/demo.script with the headless client against a local demo server and
# prints the client's transcript (JSON Lines) on stdout.
#
#   tools/demo.sh BUILD_DIR
#
# The server's request log goes to stderr once the run is over. The exit status is the client's.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: tools/demo.sh BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
server_bin=$build/tools/demo-server/demo-server
client_bin=$build/street-client
for bin in "$server_bin" "$client_bin"; do
  [ -x "$bin" ] || { echo "demo: $bin is missing; build first" >&2; exit 2; }
done

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -s "$work/server.log" ]; then
    echo "--- demo server log" >&2
    cat "$work/server.log" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$server_bin" --port 0 >"$work/server.log" 2>&1 &
server_pid=$!

# The server's first line names the port it picked.
port=""
for _ in $(seq 100); do
  line=$(head -n 1 "$work/server.log" 2>/dev/null || true)
  if [[ $line =~ ^listening\ on\ 127\.0\.0\.1:([0-9]+)$ ]]; then
    port=${BASH_REMATCH[1]}
    break
  fi
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the demo server did not start" >&2
  exit 1
fi

mkdir -p "$work/data"
# With a display, the game opens in its window for a person to play; closing it ends the demo.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && "$client_bin" --help | grep -q -- '--scale'; then
  status=0
  "$client_bin" --server "127.0.0.1:$port" --data-dir "$work/data" --contacts "$top/tools/sample-contacts.vcf" || status=$?
  exit "$status"
fi
# The script names the server as @SERVER@ where a page's own link would carry it.
sed "s/@SERVER@/127.0.0.1:$port/g" "$top/tools/demo.script" >"$work/demo.script"
status=0
"$client_bin" --headless --clock real --engine http --server "127.0.0.1:$port" \
  --data-dir "$work/data" --contacts "$top/tools/sample-contacts.vcf" \
  --script "$work/demo.script" --transcript - || status=$?
exit "$status"

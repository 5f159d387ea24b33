#!/usr/bin/env bash
# Runs a program against the demonstration server: starts the pyftpdlib
# server of demo-server.py on a free loopback port with its sample tree,
# writes a demo profile of its own (the default sites plus "Demo/Local demo
# server"), runs PROGRAM --profile PROFILE ARGS..., and when it ends stops
# the server (by its process id) and removes the demo folder. The user's
# own profile is never touched.
#
#   scripts/demo.sh PROGRAM [ARGS...]
#
# Environment: QB_DEMO_PROFILE_TOOL (the quillbeck-demo-profile program;
# default: the one of the release build), QB_DEMO_DIR (where the server's
# tree and the profile go; default a new temporary folder, removed at the
# end).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=${QB_BUILD_DIR:-$root/build}

[ $# -ge 1 ] || { echo "usage: scripts/demo.sh PROGRAM [ARGS...]" >&2; exit 2; }
program=$1
shift
tool=${QB_DEMO_PROFILE_TOOL:-$build/release/ui/quillbeck-demo-profile}
[ -x "$tool" ] || { echo "demo: $tool is missing (build the release build first)" >&2; exit 1; }

own_dir=0
if [ -z "${QB_DEMO_DIR:-}" ]; then
    QB_DEMO_DIR=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-demo.XXXXXX")
    own_dir=1
fi
user=demo
password=demo-$RANDOM$RANDOM
server_pid=
cleanup() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill "$server_pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$server_pid" 2>/dev/null || true
    fi
    if [ $own_dir = 1 ]; then
        rm -rf "$QB_DEMO_DIR"
    fi
}
trap cleanup EXIT

mkdir -p "$QB_DEMO_DIR/tree"
/usr/bin/python3 "$here/demo-server.py" "$QB_DEMO_DIR/tree" "$QB_DEMO_DIR/port" "$user" \
    "$password" >"$QB_DEMO_DIR/server.log" 2>&1 &
server_pid=$!
echo "$server_pid" >"$QB_DEMO_DIR/server.pid"
for _ in $(seq 300); do # the 50 MiB file is written first
    [ -s "$QB_DEMO_DIR/port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$QB_DEMO_DIR/port" ]; then
    echo "demo: the demo server did not start:" >&2
    cat "$QB_DEMO_DIR/server.log" >&2
    exit 1
fi
port=$(cat "$QB_DEMO_DIR/port")
"$tool" "$QB_DEMO_DIR/demo.dat" "$port" "$user" "$password"
echo "demo: server on 127.0.0.1:$port (user $user), profile $QB_DEMO_DIR/demo.dat" >&2
status=0
"$program" --profile "$QB_DEMO_DIR/demo.dat" "$@" || status=$?
exit $status

#!/usr/bin/env bash
# scripts/demo.sh with a stand-in for the window: the demo server starts,
# the demo profile holds its site, and afterwards the server is stopped and
# the demo folder (server tree and profile) is gone.
#
#   demo_test.sh REPO QBFTP DEMO_PROFILE_TOOL
set -euo pipefail
repo=$1
export QB_DEMO_QBFTP=$2
export QB_DEMO_PROFILE_TOOL=$3
if ! /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
    echo "SKIP: python3-pyftpdlib is not installed" >&2
    exit 77
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
export QB_DEMO_CHECK_OUT=$out
unset QB_DEMO_DIR
"$repo/scripts/demo.sh" "$repo/tests/ui/demo_check.sh"
dir=$(cat "$out")
[ -n "$dir" ] || { echo "the check did not run" >&2; exit 1; }
if [ -e "$dir" ]; then
    echo "the demo folder $dir is still there" >&2
    exit 1
fi
# The server's process id was only in the removed folder: look for a
# server still serving that folder instead.
if pgrep -f "demo-server.py $dir/" >/dev/null; then
    echo "the demo server of $dir still runs" >&2
    exit 1
fi
echo "demo test passed"

#!/usr/bin/env bash
# quillbeck's command line before any window: --version, --help, and the
# message and exit status 1 when there is no display to open a window on.
#
#   command_line_test.sh QUILLBECK VERSION
set -euo pipefail
quillbeck=$1
version=$2
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

out=$("$quillbeck" --version)
[[ $out =~ ^quillbeck\ $version\ \(Qt\ 6\.[0-9]+\.[0-9]+\)$ ]] || fail "--version printed '$out'"
"$quillbeck" --help | grep -q -- '--profile FILE' || fail "--help does not name --profile"

status=0
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$quillbeck" --no-splash 2>&1) ||
    status=$?
[ "$status" = 1 ] || fail "without a display the exit status was $status, not 1"
grep -q 'DISPLAY' <<<"$out" || fail "the message does not say what is missing: $out"
grep -q 'qbftp' <<<"$out" || fail "the message does not point to qbftp: $out"
[ "$(wc -l <<<"$out")" = 1 ] || fail "the message is not one paragraph: $out"
echo "command line test passed"

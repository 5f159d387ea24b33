#!/usr/bin/env bash
# Stands in for the window in the demo test: scripts/demo.sh starts it as
# "PROGRAM --profile FILE". Checks that the profile holds the demo site and
# that the server behind it serves the sample tree, and leaves the demo
# folder's name in $QB_DEMO_CHECK_OUT for the test to look at afterwards.
set -euo pipefail
[ "$1" = --profile ] || { echo "demo_check: expected --profile, got $1" >&2; exit 1; }
profile=$2
dir=$(dirname "$profile")
echo "$dir" >"$QB_DEMO_CHECK_OUT"
qbftp=$QB_DEMO_QBFTP

sites=$("$qbftp" --profile "$profile" sites)
grep -q '^Demo/$' <<<"$sites" || { echo "no Demo folder in: $sites" >&2; exit 1; }
grep -Eq '^  Local demo server  127\.0\.0\.1:[0-9]+  user demo$' <<<"$sites" ||
    { echo "no demo site in: $sites" >&2; exit 1; }
# The default sites are there too.
[ "$(wc -l <<<"$sites")" -gt 2 ] || { echo "no default sites in: $sites" >&2; exit 1; }

listing=$("$qbftp" --profile "$profile" --timeout 20 ls 'site:"Demo/Local demo server"/')
for name in readme.txt notes upload big "Folder with spaces äöü"; do
    grep -qF "$name" <<<"$listing" || { echo "'$name' missing in: $listing" >&2; exit 1; }
done
big=$("$qbftp" --profile "$profile" --timeout 20 ls 'site:"Demo/Local demo server"/big')
grep -q 52428800 <<<"$big" || { echo "the 50 MiB file is missing: $big" >&2; exit 1; }
echo "demo_check: the demo site and server work"

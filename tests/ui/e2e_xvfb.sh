#!/usr/bin/env bash
# The real quillbeck under Xvfb: started on a temporary profile, the window
# appears, About opens and closes from the keyboard, a screenshot is taken;
# with pyftpdlib at hand the demo site is connected from the keyboard in the
# folder tree and a remote folder expanded (another screenshot); Close ends
# the program, which saves its layout into the profile.
# Skipped (exit 77) only when Xvfb cannot start.
#
#   e2e_xvfb.sh QUILLBECK PROFILE_TOOL OUTDIR
set -euo pipefail
quillbeck=$1
tool=$2
outdir=$3
mkdir -p "$outdir"

skip() {
    echo "SKIP: $*" >&2
    exit 77
}
command -v Xvfb >/dev/null || skip "Xvfb is not installed (package xvfb)"
command -v xdotool >/dev/null || { echo "xdotool is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-e2e.XXXXXX")
xvfb_pid=
app_pid=
ftp_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$ftp_pid" ] && kill "$ftp_pid" 2>/dev/null || true
    [ -n "$ftp_pid" ] && wait "$ftp_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A free display number: no socket and no lock file.
display=
for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do
            if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
                display=":$n"
                break
            fi
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        [ -n "$display" ] && break
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
done
[ -n "$display" ] || skip "Xvfb could not start: $(tail -n 3 "$work/xvfb.log" 2>/dev/null)"
export DISPLAY=$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
echo "Xvfb on $DISPLAY"

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/app.log" ] && { echo "--- quillbeck's output:" >&2; cat "$work/app.log" >&2; }
    exit 1
}
# wait_window NAME: the id of the visible window of that name
wait_window() {
    timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}
shoot() {
    if command -v import >/dev/null; then
        import -window root "$1"
    else
        xwd -root -silent | convert xwd:- "$1"
    fi
}

profile=$work/profile.dat
# A pyftpdlib server of its own for the demo site, when it is installed.
ftp_port=
if /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
    ftp_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$work/ftp/pub/inside" "$work/ftp/incoming"
    echo hello >"$work/ftp/readme.txt"
    /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$ftp_port" -w -d "$work/ftp" -u demo \
        -P demo >"$work/ftp.log" 2>&1 &
    ftp_pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$ftp_port") 2>/dev/null && break
        sleep 0.1
    done
    "$tool" "$profile" "$ftp_port" demo demo || fail "cannot write the profile"
else
    echo "pyftpdlib is not installed: the folder tree part is left out"
    "$tool" "$profile" || fail "cannot write the profile"
fi
before=$(stat -c %Y.%s "$profile")
export XDG_CONFIG_HOME=$work/config # nothing of the user's own
"$quillbeck" --profile "$profile" >"$work/app.log" 2>&1 &
app_pid=$!

frame=$(wait_window '^Quillbeck$') || true
[ -n "$frame" ] || fail "the main window did not appear"
echo "main window: $frame"
xdotool windowsize "$frame" 1000 680 || true
xdotool windowmove "$frame" 20 20 || true
xdotool windowfocus --sync "$frame" || true
sleep 0.5
shoot "$outdir/quillbeck-window.png"
[ -s "$outdir/quillbeck-window.png" ] || fail "no screenshot"

# Help > About Quillbeck... by its mnemonics, then Cl&ose.
xdotool key --clearmodifiers alt+h
sleep 0.3
xdotool key a
about=$(wait_window '^About Quillbeck$') || true
[ -n "$about" ] || fail "About did not open"
sleep 0.3
shoot "$outdir/quillbeck-about.png"
xdotool windowfocus --sync "$about" || true
xdotool key --clearmodifiers alt+o
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^About Quillbeck$' >/dev/null 2>&1 || break
    sleep 0.1
done
xdotool search --onlyvisible --name '^About Quillbeck$' >/dev/null 2>&1 && fail "About did not close"

# The folder tree by keyboard: Alt+1, type-ahead to the site folder, Right
# opens it, Down to the site, Enter connects; once listed, Right expands the
# site, Down goes to its first folder and Right explores and expands it.
if [ -n "$ftp_port" ]; then
    xdotool windowfocus --sync "$frame" || true
    xdotool key --clearmodifiers alt+1
    sleep 0.3
    xdotool type --delay 50 Demo
    sleep 0.3
    xdotool key Right
    sleep 0.3
    xdotool key Down
    wait_window '^Quillbeck - Demo/Local demo server$' >/dev/null ||
        fail "the demo site was not selected"
    xdotool key Return
    sleep 2
    xdotool key Right
    sleep 0.3
    xdotool key Down
    wait_window '^Quillbeck - Demo/Local demo server/incoming$' >/dev/null ||
        fail "the demo site was not connected and listed"
    xdotool key Down
    wait_window '^Quillbeck - Demo/Local demo server/pub$' >/dev/null || fail "no folder pub"
    xdotool key Right
    sleep 1.5
    xdotool key Down
    wait_window '^Quillbeck - Demo/Local demo server/pub/inside$' >/dev/null ||
        fail "pub was not explored and expanded"
    shoot "$outdir/quillbeck-tree.png"
fi

# Close (Alt+F4 is the program's own command here: there is no window manager).
xdotool windowfocus --sync "$frame" || true
xdotool key --clearmodifiers alt+F4
status=
for _ in $(seq 100); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
        wait "$app_pid" && status=0 || status=$?
        break
    fi
    sleep 0.1
done
[ -n "$status" ] || fail "quillbeck did not exit after Close"
app_pid=
[ "$status" = 0 ] || fail "quillbeck exited with $status"
after=$(stat -c %Y.%s "$profile")
[ "$before" != "$after" ] || [ "$(stat -c %s "$profile")" -gt 0 ] || fail "the profile was not saved"
echo "end-to-end run passed; screenshots in $outdir"

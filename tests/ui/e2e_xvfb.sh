#!/usr/bin/env bash
# The real quillbeck under Xvfb: started on a temporary profile, the window
# appears, About opens and closes from the keyboard, a screenshot is taken;
# with pyftpdlib at hand the demo site is connected from the keyboard in the
# folder tree and a remote folder expanded (another screenshot), and a file
# copied from the server to a local folder and back with Ctrl+C / Ctrl+V
# (the server's side checked, a third screenshot); Close ends the program,
# which saves its layout into the profile.
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
    # What the screen showed when it went wrong.
    [ -n "${DISPLAY:-}" ] && import -window root "$outdir/quillbeck-failure.png" 2>/dev/null || true
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

# Settings by its shortcut: a new e-mail address on the General page, OK;
# then text mode by its shortcut. Both must be in the profile after exit.
xdotool windowfocus --sync "$frame" || true
xdotool key --clearmodifiers ctrl+shift+s
sheet=$(wait_window '^Quillbeck Settings$') || true
[ -n "$sheet" ] || fail "the settings sheet did not open"
xdotool windowfocus --sync "$sheet" || true
sleep 0.3
xdotool key --clearmodifiers alt+a ctrl+a
xdotool type --delay 20 "e2e@example.org"
xdotool key --clearmodifiers Return
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Quillbeck Settings$' >/dev/null 2>&1 || break
    sleep 0.1
done
xdotool search --onlyvisible --name '^Quillbeck Settings$' >/dev/null 2>&1 &&
    fail "the settings sheet did not close"
xdotool windowfocus --sync "$frame" || true
xdotool key --clearmodifiers ctrl+shift+t
sleep 0.3
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

    # The program's clipboard by keyboard: readme.txt copied from the site's
    # list (Alt+2, type-ahead, Ctrl+C), pasted into a local folder reached
    # by Go To (Ctrl+G), then copied from there and pasted into the site's
    # "incoming" folder. The server's side is checked.
    mkdir -p "$work/local"
    goto() { # goto PATH: Go To by keyboard, then the title that shows it
        xdotool windowfocus --sync "$frame" || true
        xdotool key --clearmodifiers ctrl+g
        local dialog
        dialog=$(wait_window '^Go To$') || true
        [ -n "$dialog" ] || fail "Go To did not open"
        xdotool windowfocus --sync "$dialog" || true
        sleep 0.2
        xdotool key --clearmodifiers ctrl+a
        xdotool type --delay 10 "$1"
        xdotool key --clearmodifiers Return
        wait_window "^Quillbeck - $2\$" >/dev/null || fail "Go To did not reach $1"
        sleep 0.7 # the list fills once the selection has settled
    }
    copy_row() { # copy_row NAME: select the row in the list by typing, Ctrl+C
        xdotool windowfocus --sync "$frame" || true
        xdotool key --clearmodifiers alt+2
        sleep 0.3
        xdotool type --delay 50 "$1"
        sleep 0.3
        xdotool key --clearmodifiers ctrl+c
        sleep 0.2
    }
    goto "Demo/Local demo server" "Demo/Local demo server"
    copy_row readme
    goto "$work/local" "$work/local"
    xdotool windowfocus --sync "$frame" || true
    xdotool key --clearmodifiers alt+1 ctrl+v
    for _ in $(seq 100); do
        [ -s "$work/local/readme.txt" ] && break
        sleep 0.1
    done
    [ "$(cat "$work/local/readme.txt" 2>/dev/null)" = hello ] || fail "readme.txt was not downloaded by paste"
    sleep 0.7
    copy_row readme
    goto "Demo/Local demo server/incoming" "Demo/Local demo server/incoming"
    xdotool windowfocus --sync "$frame" || true
    xdotool key --clearmodifiers alt+1 ctrl+v
    for _ in $(seq 100); do
        [ -s "$work/ftp/incoming/readme.txt" ] && break
        sleep 0.1
    done
    [ "$(cat "$work/ftp/incoming/readme.txt" 2>/dev/null)" = hello ] ||
        fail "readme.txt did not reach the server by paste"
    # Enter explores "incoming": the list shows the file that arrived.
    xdotool key Return
    sleep 1.5
    shoot "$outdir/quillbeck-paste.png"
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
stored=$("$tool" --print "$profile") || fail "the saved profile cannot be read"
grep -qx 'email=e2e@example.org' <<<"$stored" || fail "the e-mail address was not saved: $stored"
grep -qx 'transfer-mode=0' <<<"$stored" || fail "text mode was not saved: $stored"
echo "end-to-end run passed; screenshots in $outdir"

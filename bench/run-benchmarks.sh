#!/usr/bin/env bash
# shellcheck disable=SC2317,SC2153,SC1091 # (functions called through variables; sourced names)
# Transfer and listing benchmarks of qbftp, each measured in the same run as
# a reference client (curl, or lftp for a recursive download) against a
# vsftpd and a pyftpdlib of its own on loopback, with the files in a tmpfs.
# Prints the median of each figure, the ratios and PASS/FAIL against the
# targets; exits 1 when a target is missed.
#
#   bench/run-benchmarks.sh [--runs N] [--only LIST] [--big-mib N]
#                           [--tree-files N] [--list-entries N] [--tls-mib N]
#
#   --runs N          timed runs of each client (default 5; the median counts)
#   --only LIST       comma-separated subset of: download,upload,tree,stop,list,
#                     tls-download,tls-upload
#   --big-mib N       size of the large file in MiB (default 1024)
#   --tree-files N    files of 4 KiB in the recursive download (default 2000)
#   --list-entries N  entries of the listed folder (default 100000)
#   --tls-mib N       size of the file sent and received over explicit TLS
#                     (default 512)
#
# Smaller sizes than the defaults are for trying the script out: the targets
# are stated for the default sizes.
#
# Environment: QB_BENCH_PYFTPD_PORT / QB_BENCH_VSFTPD_PORT (2321 / 2322),
# QB_BENCH_DIR (the servers' and the downloads' folder; default a folder in
# /dev/shm when it has room), QB_BENCH_QBFTP (a qbftp to measure instead of
# the one built here).
set -euo pipefail

QB_PYFTPD_PORT=${QB_BENCH_PYFTPD_PORT:-2321}
QB_VSFTPD_PORT=${QB_BENCH_VSFTPD_PORT:-2322}
# Passive ranges apart from those of the test servers, which may run at the
# same time.
# shellcheck disable=SC2034 # read by scripts/ftp-servers.sh
QB_PYFTPD_PASV_PORTS=${QB_BENCH_PYFTPD_PASV_PORTS:-42000-42999}
# shellcheck disable=SC2034
QB_VSFTPD_PASV_MIN=${QB_BENCH_VSFTPD_PASV_MIN:-43000}
# shellcheck disable=SC2034
QB_VSFTPD_PASV_MAX=${QB_BENCH_VSFTPD_PASV_MAX:-43999}
# The TLS and IPv6 servers that scripts/ftp-servers.sh starts too.
# shellcheck disable=SC2034
QB_PYFTPD6_PORT=${QB_BENCH_PYFTPD6_PORT:-2323} QB_PYFTPD6_PASV_PORTS=47000-47499
# shellcheck disable=SC2034
QB_VSFTPD_TLS_PORT=${QB_BENCH_VSFTPD_TLS_PORT:-2324} QB_VSFTPD_TLS_PASV_MIN=47500 \
    QB_VSFTPD_TLS_PASV_MAX=47999
# shellcheck disable=SC2034
QB_VSFTPD_FTPS_PORT=${QB_BENCH_VSFTPD_FTPS_PORT:-2325} QB_VSFTPD_FTPS_PASV_MIN=48000 \
    QB_VSFTPD_FTPS_PASV_MAX=48499
# shellcheck disable=SC2034
QB_PYFTPD_TLS_PORT=${QB_BENCH_PYFTPD_TLS_PORT:-2326} QB_PYFTPD_TLS_PASV_PORTS=48500-48999

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../scripts/common.sh"
source "$QB_ROOT/scripts/ftp-servers.sh"

# --- Options -----------------------------------------------------------------

RUNS=5
ONLY=download,upload,tree,stop,list,tls-download,tls-upload
BIG_MIB=1024
TLS_MIB=512
TREE_FILES=2000
LIST_ENTRIES=100000
while (($# > 0)); do
    case $1 in
    --runs) RUNS=${2:?}; shift 2 ;;
    --only) ONLY=${2:?}; shift 2 ;;
    --big-mib) BIG_MIB=${2:?}; shift 2 ;;
    --tree-files) TREE_FILES=${2:?}; shift 2 ;;
    --list-entries) LIST_ENTRIES=${2:?}; shift 2 ;;
    --tls-mib) TLS_MIB=${2:?}; shift 2 ;;
    -h | --help) sed -n '3,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument: $1 (see --help)" ;;
    esac
done
for n in "$RUNS" "$BIG_MIB" "$TREE_FILES" "$LIST_ENTRIES" "$TLS_MIB"; do
    [[ $n =~ ^[1-9][0-9]{0,6}$ ]] || die "not a positive number: $n"
done
((RUNS <= 50)) || die "--runs: at most 50"
((RUNS >= 3)) || say "Note: fewer than 3 runs; the medians are weak"
wanted() { [[ ",$ONLY," == *",$1,"* ]]; }
for w in ${ONLY//,/ }; do
    [[ $w =~ ^(download|upload|tree|stop|list|tls-download|tls-upload)$ ]] ||
        die "--only: unknown benchmark $w"
done
REDUCED=0
((BIG_MIB == 1024 && TREE_FILES == 2000 && LIST_ENTRIES == 100000 && TLS_MIB == 512)) ||
    REDUCED=1
TLS_BYTES=$((TLS_MIB * 1024 * 1024))

BIG_BYTES=$((BIG_MIB * 1024 * 1024))
STOP_AFTER=$((BIG_BYTES / 16)) # the Stop comes once this much has arrived
RSS_LIMIT_KB=62500             # 64 MB (10^6 bytes) in KiB
CMD_TIMEOUT=300                # seconds any single client run may take

# --- Set-up ------------------------------------------------------------------

qb_need_packages curl lftp time vsftpd python3 python3-pyftpdlib "${QB_BUILD_PACKAGES[@]}"

BUILD=$QB_BUILD/bench-release
mkdir -p "$BUILD"
if [ -n "${QB_BENCH_QBFTP:-}" ]; then
    QBFTP=$QB_BENCH_QBFTP # another build, for a before/after comparison
else
    say "Building qbftp (Release) in $BUILD"
    cmake -S "$QB_ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF \
        >/dev/null || die "cmake failed"
    ninja -C "$BUILD" -j "$QB_JOBS" qbftp >/dev/null || die "building qbftp failed"
    QBFTP=$BUILD/cli/qbftp
fi
[ -x "$QBFTP" ] || die "no $QBFTP"

# The data: the large file once on the server, once downloaded, once uploaded.
need_kb=$(((3 * BIG_BYTES + 256 * 1024 * 1024) / 1024))
if [ -n "${QB_BENCH_DIR:-}" ]; then
    DIR=$QB_BENCH_DIR
elif [ -d /dev/shm ] && [ -w /dev/shm ] &&
    (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > need_kb)); then
    DIR=/dev/shm/qb-bench.$$
else
    DIR=$BUILD/bench-data
    say "Note: /dev/shm lacks room; the files live on disk in $DIR"
fi
LOG=$BUILD/bench.log
: >"$LOG"
STOP_PID=

cleanup() {
    if [ -n "$STOP_PID" ]; then
        kill -KILL "$STOP_PID" 2>/dev/null || true
    fi
    qb_stop_ftp_servers "$DIR/servers"
    rm -rf "$DIR"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$DIR"
qb_start_ftp_servers "$DIR/servers"
VS_ROOT=$QB_VSFTPD_ROOT
VS_URL=ftp://127.0.0.1:$QB_VSFTPD_PORT
PY_ROOT=$QB_PYFTPD_ROOT
export QBFTP_PASSWORD=$QB_PYFTPD_PASSWORD
LOCAL=$DIR/local
mkdir -p "$LOCAL"
# qbftp reads (never writes) the user's profile; an empty home keeps the
# runs independent of it.
export HOME=$DIR/home
mkdir -p "$HOME"

say "Preparing the data in $DIR"
if wanted download || wanted upload || wanted stop; then
    head -c "$BIG_BYTES" /dev/urandom >"$VS_ROOT/big.bin"
fi
if wanted tree; then
    mkdir -p "$VS_ROOT/tree"
    head -c $((TREE_FILES * 4096)) /dev/urandom |
        (cd "$VS_ROOT/tree" && split -b 4096 -a 6 -d - f)
fi
VS_TLS_ROOT=$QB_VSFTPD_TLS_ROOT
VS_TLS_URL=$QB_VSFTPD_TLS_URL
if wanted tls-download || wanted tls-upload; then
    head -c "$TLS_BYTES" /dev/urandom >"$VS_TLS_ROOT/tls.bin"
fi
if wanted list; then
    mkdir -p "$PY_ROOT/many" "$VS_ROOT/many"
    head -c "$LIST_ENTRIES" /dev/zero | (cd "$PY_ROOT/many" && split -b 1 -a 7 -d - entry-)
    cp -a "$PY_ROOT/many/." "$VS_ROOT/many/"
fi

# --- Measuring ---------------------------------------------------------------

now_us() { echo "${EPOCHREALTIME/[.,]/}"; }

# timed MEMFILE CMD...: runs CMD and sets ELAPSED_US; the peak RSS in KiB
# goes into MEMFILE, the standard output to TIMED_OUT (default: the log).
# False when CMD fails.
ELAPSED_US=0
TIMED_OUT=
timed() {
    local mem=$1 t0 t1 rc=0
    shift
    echo "+ $*" >>"$LOG"
    t0=$(now_us)
    timeout "$CMD_TIMEOUT" /usr/bin/time -f %M -o "$mem" "$@" >>"${TIMED_OUT:-$LOG}" 2>>"$LOG" || rc=$?
    t1=$(now_us)
    ELAPSED_US=$((t1 - t0))
    return "$rc"
}

median() { # median of the numbers given
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
maximum() { printf '%s\n' "$@" | sort -n | tail -n 1; }
secs() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
at_most() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v <= t) }'; }

# The peak RSS of qbftp over the transfer runs (the listing's, which holds
# the whole listing, is kept apart).
QB_PEAK_KB=0
LIST_PEAK_KB=0
RSS_VAR=QB_PEAK_KB
note_qb_rss() {
    local kb
    kb=$(tail -n 1 "$1")
    if ((kb > ${!RSS_VAR})); then
        printf -v "$RSS_VAR" %s "$kb"
    fi
}

ROWS=()
RAW=()
FAILED=0
# row NAME QBFTP REFERENCE RATIO TARGET VERDICT
row() {
    ROWS+=("$(printf '%-34s %-14s %-22s %-6s %-9s %s' "$@")")
    [ "$6" = PASS ] || FAILED=1
}

# compare NAME REFNAME TARGET PREPARE CHECK QBCMD... -- REFCMD...
# Interleaves the runs of both clients (the order alternating), after one
# untimed warm-up run of each. PREPARE runs before every run, CHECK after
# it (with the client's name, qbftp or ref).
compare() {
    local name=$1 refname=$2 target=$3 prepare=$4 check=$5
    shift 5
    local qb=() ref=() i who
    while [ "$1" != -- ]; do qb+=("$1"); shift; done
    shift
    ref=("$@")
    local qbt=() reft=()
    say "$name: qbftp vs $refname, $RUNS runs each"
    for ((i = 0; i <= RUNS; ++i)); do
        for who in $( ((i % 2)) && echo "ref qbftp" || echo "qbftp ref"); do
            $prepare
            if [ "$who" = qbftp ]; then
                timed "$DIR/mem" "${qb[@]}" || die "$name: qbftp failed (see $LOG)"
                note_qb_rss "$DIR/mem"
                ((i == 0)) || qbt+=("$ELAPSED_US")
            else
                timed "$DIR/mem" "${ref[@]}" || die "$name: $refname failed (see $LOG)"
                ((i == 0)) || reft+=("$ELAPSED_US")
            fi
            $check "$who" || die "$name: wrong result from $who (see $LOG)"
        done
    done
    local mq mr r verdict=FAIL
    mq=$(median "${qbt[@]}")
    mr=$(median "${reft[@]}")
    r=$(ratio "$mq" "$mr")
    at_most "$r" "$target" && verdict=PASS
    row "$name" "$(secs "$mq") s" "$refname $(secs "$mr") s" "$r" "<= $target" "$verdict"
    RAW+=("$name: qbftp [$(for t in "${qbt[@]}"; do secs "$t"; echo -n ' '; done)] s," \
        "$refname [$(for t in "${reft[@]}"; do secs "$t"; echo -n ' '; done)] s")
}

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

# Memory freshly handed out by a virtual machine's host can make writing a
# large file into a tmpfs several times slower, at random: freed pages are
# given back to the host and come back slowly. Writing and deleting a scratch
# file of the size right before a run leaves enough recently used pages for
# the run's file (downloaded here, or uploaded on the server), so that the
# clients are measured, not the host.
warm_memory() {
    [ "$(stat -f -c %T "$DIR")" = tmpfs ] || return 0
    head -c $((BIG_BYTES + 64 * 1024 * 1024)) /dev/zero >"$DIR/warm"
    rm -f "$DIR/warm"
}

# Download of the large file.
prep_download() {
    rm -f "$LOCAL/big.bin"
    warm_memory
}
FIRST_CHECK=1
check_download() {
    [ "$(size_of "$LOCAL/big.bin")" = "$BIG_BYTES" ] || return 1
    if ((FIRST_CHECK)); then
        FIRST_CHECK=0
        cmp -s "$LOCAL/big.bin" "$VS_ROOT/big.bin" || return 1
    fi
}
if wanted download; then
    compare "download ${BIG_MIB} MiB (vsftpd)" curl 1.05 prep_download check_download \
        "$QBFTP" --passive --binary --overwrite get "$VS_URL/big.bin" "$LOCAL/big.bin" -- \
        curl -sS --ftp-pasv -o "$LOCAL/big.bin" "$VS_URL/big.bin"
    rm -f "$LOCAL/big.bin"
fi

# Upload of the large file (from the server's copy: the same tmpfs).
prep_upload() {
    rm -f "$VS_ROOT/upload/big.bin"
    warm_memory
}
check_upload() { [ "$(size_of "$VS_ROOT/upload/big.bin")" = "$BIG_BYTES" ]; }
prep_upload_py() {
    rm -f "$PY_ROOT/up.bin"
    warm_memory
}
check_upload_py() { [ "$(size_of "$PY_ROOT/up.bin")" = "$BIG_BYTES" ]; }
if wanted upload; then
    compare "upload ${BIG_MIB} MiB (vsftpd)" curl 1.0 prep_upload check_upload \
        "$QBFTP" --passive --binary put "$VS_ROOT/big.bin" "$VS_URL/upload/big.bin" -- \
        curl -sS --ftp-pasv -T "$VS_ROOT/big.bin" "$VS_URL/upload/big.bin"
    rm -f "$VS_ROOT/upload/big.bin"
    compare "upload ${BIG_MIB} MiB (pyftpdlib)" curl 1.0 prep_upload_py check_upload_py \
        "$QBFTP" --passive --binary put "$VS_ROOT/big.bin" "ftp://qb@127.0.0.1:$QB_PYFTPD_PORT/up.bin" -- \
        curl -sS --ftp-pasv -u "qb:$QBFTP_PASSWORD" -T "$VS_ROOT/big.bin" \
        "ftp://127.0.0.1:$QB_PYFTPD_PORT/up.bin"
    rm -f "$PY_ROOT/up.bin"
fi

# The same over explicit TLS (vsftpd, its data connections resuming the
# control connection's session), against curl --ssl-reqd with the test CA.
prep_tls_download() {
    rm -f "$LOCAL/tls.bin"
    warm_memory
}
TLS_FIRST_CHECK=1
check_tls_download() {
    [ "$(size_of "$LOCAL/tls.bin")" = "$TLS_BYTES" ] || return 1
    if ((TLS_FIRST_CHECK)); then
        TLS_FIRST_CHECK=0
        cmp -s "$LOCAL/tls.bin" "$VS_TLS_ROOT/tls.bin" || return 1
    fi
}
if wanted tls-download; then
    compare "TLS download ${TLS_MIB} MiB (vsftpd)" "curl --ssl-reqd" 1.10 prep_tls_download \
        check_tls_download \
        "$QBFTP" --tls --cacert "$QB_TLS_CA" --passive --binary --overwrite get \
        "$VS_TLS_URL/tls.bin" "$LOCAL/tls.bin" -- \
        curl -sS --ssl-reqd --cacert "$QB_TLS_CA" --ftp-pasv -o "$LOCAL/tls.bin" \
        "$VS_TLS_URL/tls.bin"
    rm -f "$LOCAL/tls.bin"
fi
prep_tls_upload() {
    rm -f "$VS_TLS_ROOT/upload/tls.bin"
    warm_memory
}
check_tls_upload() { [ "$(size_of "$VS_TLS_ROOT/upload/tls.bin")" = "$TLS_BYTES" ]; }
if wanted tls-upload; then
    compare "TLS upload ${TLS_MIB} MiB (vsftpd)" "curl --ssl-reqd" 1.10 prep_tls_upload \
        check_tls_upload \
        "$QBFTP" --tls --cacert "$QB_TLS_CA" --passive --binary put "$VS_TLS_ROOT/tls.bin" \
        "$VS_TLS_URL/upload/tls.bin" -- \
        curl -sS --ssl-reqd --cacert "$QB_TLS_CA" --ftp-pasv -T "$VS_TLS_ROOT/tls.bin" \
        "$VS_TLS_URL/upload/tls.bin"
    rm -f "$VS_TLS_ROOT/upload/tls.bin"
fi

# Recursive download of many small files.
prep_tree() { rm -rf "$LOCAL/tree"; }
check_tree() {
    [ "$(find "$LOCAL/tree" -type f -size 4096c | wc -l)" = "$TREE_FILES" ]
}
if wanted tree; then
    compare "recursive get ${TREE_FILES} x 4 KiB" "lftp mirror" 1.5 prep_tree check_tree \
        "$QBFTP" --passive --binary --overwrite -r get "$VS_URL/tree" "$LOCAL/tree" -- \
        lftp -c "set cmd:interactive false; set ftp:passive-mode on; set net:max-retries 2;
                 set net:timeout 20; open $VS_URL; mirror tree $LOCAL/tree"
fi

# Listing of a large folder.
prep_list() { : >"$LOCAL/list.txt"; }
check_list() {
    # qbftp prints one line per entry; curl the server's LIST lines.
    [ "$(grep -c entry- "$LOCAL/list.txt")" = "$LIST_ENTRIES" ]
}
if wanted list; then
    TIMED_OUT=$LOCAL/list.txt
    RSS_VAR=LIST_PEAK_KB
    compare "ls ${LIST_ENTRIES} entries (pyftpdlib)" curl 1.0 prep_list check_list \
        "$QBFTP" --passive ls "ftp://qb@127.0.0.1:$QB_PYFTPD_PORT/many" -- \
        curl -sS --ftp-pasv -u "qb:$QBFTP_PASSWORD" "ftp://127.0.0.1:$QB_PYFTPD_PORT/many/"
    compare "ls ${LIST_ENTRIES} entries (vsftpd)" curl 1.0 prep_list check_list \
        "$QBFTP" --passive ls "$VS_URL/many" -- \
        curl -sS --ftp-pasv "$VS_URL/many/"
    TIMED_OUT=
    RSS_VAR=QB_PEAK_KB
    RAW+=("ls: peak RSS of qbftp $(awk -v k="$LIST_PEAK_KB" 'BEGIN { printf "%.1f MB", k * 1024 / 1e6 }')" \
        "(prints the listing as it is read, keeps none of it; not judged)")
    rm -f "$LOCAL/list.txt"
fi

# A Stop (SIGINT) during the download of the large file: from the signal to
# the end of the process. A run where the download ended before the signal
# counts not and is repeated (at most twice as many attempts as runs).
if wanted stop; then
    say "Stop during a ${BIG_MIB} MiB download, $RUNS runs"
    stops=()
    attempts=0
    while ((${#stops[@]} < RUNS && attempts < 2 * RUNS)); do
        attempts=$((attempts + 1))
        prep_download
        echo "+ stop run $attempts" >>"$LOG"
        # A terminal's Ctrl+C finds SIGINT at its default; a background job
        # of a script would start with it ignored.
        env --default-signal=INT "$QBFTP" --passive --binary --overwrite get "$VS_URL/big.bin" \
            "$LOCAL/big.bin" >>"$LOG" 2>&1 &
        STOP_PID=$!
        for ((i = 0; i < 4000; ++i)); do # at most ~20 s
            (($(size_of "$LOCAL/big.bin") >= STOP_AFTER)) && break
            kill -0 "$STOP_PID" 2>/dev/null || break
            sleep 0.005
        done
        t0=$(now_us)
        kill -INT "$STOP_PID" 2>/dev/null || true
        ( # ends a qbftp that the Stop did not end within 10 s
            s=
            trap 'kill $s 2>/dev/null; exit 0' TERM
            sleep 10 &
            s=$!
            wait $s
            kill -KILL "$STOP_PID" 2>/dev/null
        ) &
        watchdog=$!
        rc=0
        wait "$STOP_PID" || rc=$?
        t1=$(now_us)
        STOP_PID=
        kill "$watchdog" 2>/dev/null || true
        wait "$watchdog" 2>/dev/null || true
        got=$(size_of "$LOCAL/big.bin")
        echo "  exit $rc after $((t1 - t0)) us, $got bytes" >>"$LOG"
        if ((rc == 0 && got == BIG_BYTES)); then
            continue # finished before the Stop
        fi
        ((rc != 0)) || die "Stop: exit status 0 with a partial file (see $LOG)"
        stops+=($((t1 - t0))) # a qbftp ended by the watchdog counts its 10 s
    done
    ((${#stops[@]} > 0)) || die "Stop: every download ended before the signal"
    mx=$(maximum "${stops[@]}")
    verdict=FAIL
    at_most "$mx" 1000000 && verdict=PASS
    row "Stop in ${BIG_MIB} MiB download" "$(secs "$(median "${stops[@]}")") s" \
        "(worst $(secs "$mx") s)" - "<= 1 s" "$verdict"
    RAW+=("Stop: [$(for t in "${stops[@]}"; do secs "$t"; echo -n ' '; done)] s" \
        "($((attempts - ${#stops[@]})) attempts finished before the signal)")
    rm -f "$LOCAL/big.bin"
fi

if wanted download || wanted upload || wanted tree; then
    verdict=FAIL
    ((QB_PEAK_KB < RSS_LIMIT_KB)) && verdict=PASS
    row "peak RSS of qbftp (transfers)" "$(awk -v k="$QB_PEAK_KB" 'BEGIN { printf "%.1f MB", k * 1024 / 1e6 }')" \
        - - "< 64 MB" "$verdict"
fi

# --- Report ------------------------------------------------------------------

echo
printf '%-34s %-14s %-22s %-6s %-9s %s\n' benchmark qbftp reference ratio target result
printf '%s\n' "${ROWS[@]}"
echo
echo "Timed runs:"
printf '  %s\n' "${RAW[@]}"
echo "Log of the runs: $LOG"
if ((REDUCED)); then
    echo "Sizes differ from the defaults: the targets are stated for 1024 MiB, 2000 files, 100000 entries."
fi
exit "$FAILED"

# Shared set-up of scripts/run and scripts/test. Sourced, not run.
set -euo pipefail

QB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QB_BUILD=${QB_BUILD_DIR:-$QB_ROOT/build}
QB_JOBS=${QB_JOBS:-$(nproc 2>/dev/null || echo 2)}

# The scripts' own lines go to standard error: standard output is the
# program's.
say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Whether every package named is installed.
qb_have_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
    done
}

# Installs the Debian/Ubuntu packages that are missing, and only those.
qb_need_packages() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    command -v apt-get >/dev/null || die "apt-get not found; install these by hand: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" != 0 ]; then
        command -v sudo >/dev/null || die "need root or sudo to install: ${missing[*]}"
        sudo=(sudo)
    fi
    say "Installing missing packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || die "apt-get install failed for: ${missing[*]}"
}

# What building and running the program needs.
QB_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6svg6 libssl-dev)
# What the tests need on top.
QB_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev clang clang-format libclang-rt-dev
    python3 python3-pyftpdlib vsftpd xvfb xdotool imagemagick openssl python3-openssl curl)

# Options of the normal build, shared by scripts/run and scripts/test so that
# both keep one incremental build folder.
# The window (ui/) is part of it: a missing Qt fails the configuration.
QB_RELEASE_OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=ON -DQB_BUILD_BENCH=ON -DQB_BUILD_UI=ON)

# Configures and builds one build folder (incremental).
#   qb_build NAME [--target T] [cmake options...]
qb_build() {
    local name=$1
    shift
    local targets=()
    if [ "${1:-}" = --target ]; then
        targets=(--target "$2")
        shift 2
    fi
    local dir=$QB_BUILD/$name
    say "Configuring $dir"
    cmake -S "$QB_ROOT" -B "$dir" -G Ninja "$@" >/dev/null || die "cmake failed for $name"
    say "Building $name"
    cmake --build "$dir" -j "$QB_JOBS" "${targets[@]}" || die "build failed: $name"
}

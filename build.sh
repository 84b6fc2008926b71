#!/usr/bin/env bash
# Kestrel's set-up, build and test entry point (Debian 12).
#
#   ./build.sh run [FILE.swf]  install what is missing, build, list the demo movie (or FILE)
#   ./build.sh test            install what is missing, build everything, run every test
#   ./build.sh sanitize        core tests under AddressSanitizer + UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config zlib1g-dev libpng-dev libjpeg62-turbo-dev libgif-dev libmpg123-dev libsdl2-dev qt6-base-dev)
TEST_PACKAGES=(libgtest-dev xvfb xauth)
JOBS=$(nproc 2>/dev/null || echo 2)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

configure() {  # folder, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

case "${1:-}" in
    run)
        install_missing "${BUILD_PACKAGES[@]}"
        configure build-run -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF
        ninja -C build-run -j "$JOBS" kestrel-cli
        shift
        build-run/src/cli/kestrel-cli list "${1:-samples/demo.swf}"
        ;;
    test)
        install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
        configure build -DKESTREL_TESTS=ON
        ninja -C build -j "$JOBS"
        ctest --test-dir build -j "$JOBS" --output-on-failure
        ;;
    sanitize)
        install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
        configure build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_GUI=OFF -DKESTREL_TESTS=ON
        ninja -C build-asan -j "$JOBS"
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir build-asan -j "$JOBS" -L core --output-on-failure
        ;;
    *)
        sed -n '3,7p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
esac

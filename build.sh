#!/usr/bin/env bash
# Kestrel's set-up, build and test entry point (Debian 12).
#
#   ./build.sh run [FILE.swf]  install what is missing, build, open the demo movie (or FILE) in the window
#   ./build.sh test            install what is missing, build everything, run every test
#   ./build.sh sanitize        core tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   ./build.sh fuzz [SECONDS]  each libFuzzer target for SECONDS (default 60), clang + ASan + UBSan
#   ./build.sh package         Release build packed as kestrel_VERSION_ARCH.deb, checked with lintian
#   ./build.sh check-format    fail when a tracked C++ file differs from what .clang-format gives
set -euo pipefail
cd "$(dirname "$0")"

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config zlib1g-dev liblzma-dev libpng-dev libjpeg62-turbo-dev libgif-dev libmpg123-dev libavcodec-dev libavformat-dev libswscale-dev libavutil-dev libsdl2-dev qt6-base-dev nettle-dev nlohmann-json3-dev)
TEST_PACKAGES=(libgtest-dev parallel libx11-dev libxtst6 xvfb xauth)
PACKAGE_PACKAGES=(dpkg-dev lintian)
FORMAT_PACKAGES=(clang-format git)
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
        ninja -C build-run -j "$JOBS" kestrel kestrel-cli
        file=$(realpath "${2:-samples/demo.swf}")
        if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
            build-run/src/ui/kestrel "$file"
        else
            echo "No display to open the window on; listing with kestrel-cli instead."
            build-run/src/cli/kestrel-cli list "$file"
        fi
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
    fuzz)
        install_missing "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev
        seconds=${2:-60}
        CC=clang CXX=clang++ configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_FUZZ=ON \
            -DKESTREL_GUI=OFF -DKESTREL_TESTS=OFF
        ninja -C build-fuzz -j "$JOBS" fuzz_read fuzz_write make-fuzz-seeds
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
        seeds=("$work/seeds")
        corpus=${KESTREL_CORPUS_DIR:-../shared/corpus}/swf
        build-fuzz/fuzz/make-fuzz-seeds "$work/seeds" samples/*.swf tests/data/*.swf $( [ -d "$corpus" ] && echo "$corpus"/* )
        for target in fuzz_read fuzz_write; do
            mkdir -p "$work/$target"
            echo "== $target for ${seconds}s"
            if ! (cd "$work/$target" && ASAN_OPTIONS=detect_leaks=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                "$OLDPWD/build-fuzz/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=4096 \
                -max_len=262144 -print_final_stats=1 "$work/$target" "${seeds[@]}" >"$work/$target.log" 2>&1); then
                tail -n 60 "$work/$target.log"
                echo "$target found a failing input" >&2
                exit 1
            fi
            tail -n 12 "$work/$target.log"
        done
        ;;
    package)
        install_missing "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
        # Debian's hardening flags, as a package built by dpkg-buildpackage gets them.
        CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
            LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
            configure build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
            -DKESTREL_TESTS=OFF -DKESTREL_PACKAGE=ON
        ninja -C build-package -j "$JOBS"
        rm -f build-package/kestrel_*.deb
        (cd build-package && cpack -G DEB >/dev/null)
        deb=$(ls build-package/kestrel_*.deb)
        rm -f kestrel_*.deb
        cp "$deb" .
        deb=$(basename "$deb")
        # Errors fail the build; warnings are shown.
        lintian --fail-on error "$deb"
        echo "Built $deb; install it with: sudo apt install ./$deb"
        ;;
    check-format)
        install_missing "${FORMAT_PACKAGES[@]}"
        git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror
        echo "Every tracked C++ file is formatted."
        ;;
    *)
        sed -n '3,/^set /{/^#/p}' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
esac

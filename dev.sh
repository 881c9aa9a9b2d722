#!/usr/bin/env bash
# Ostrel on Debian 12: installs what is missing, builds, then runs the program or every test.
#   ./dev.sh run [calling sequence]   no arguments: the check window; else one unattended run
#   ./dev.sh test                     every test, built with ASan + UBSan, warnings fatal
#   ./dev.sh package                  the Debian package build/ostrel_<version>_<arch>.deb, checked by lintian
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

build_packages=(cmake make g++ qt6-base-dev fonts-dejavu-core fonts-dejavu-extra)
test_packages=(python3-pyftpdlib python3-aiosmtpd exim4-daemon-light openssl netcat-openbsd time dpkg-dev file groff-base man-db xvfb xdotool)
package_packages=(dpkg-dev file lintian)

install_missing() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed \
            || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# build <dir> [cmake options]: configures once, then builds quietly.
build() {
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >/dev/null
}

# checked_build <dir> [cmake options]: every warning is an error, and shown.
checked_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@"
    cmake --build "$dir" -j"$(nproc)"
}

case "${1:-}" in
run)
    shift
    install_missing "${build_packages[@]}"
    build build
    exec build/bin/ostrel "$@"
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    # One build for the tests, under ASan + UBSan; -O1 without debug info and
    # unity batches keep its compile to about a minute and a half on two cores.
    checked_build build-asan -DOSTREL_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O1
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    build build
    (cd build && cpack -G DEB)
    deb=(build/ostrel_*_"$(dpkg --print-architecture)".deb)
    lintian --fail-on error "${deb[@]}"
    echo "built ${deb[*]}; install it with: apt install ./${deb[*]}"
    ;;
*)
    echo "usage: $0 run [calling sequence] | $0 test | $0 package" >&2
    exit 2
    ;;
esac

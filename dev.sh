#!/usr/bin/env bash
# Ostrel on Debian 12: installs what is missing, builds, then runs the program or every test.
#   ./dev.sh run [calling sequence]   no arguments: the check window; else one unattended run
#   ./dev.sh test                     every test, in a plain build and under ASan + UBSan
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

build_packages=(cmake make g++ qt6-base-dev fonts-dejavu-core fonts-dejavu-extra)
test_packages=(python3-pyftpdlib python3-aiosmtpd exim4-daemon-light openssl netcat-openbsd time)

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

build() {
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >/dev/null
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
    build build
    build build-asan -DOSTREL_SANITIZE=ON
    ctest --test-dir build --output-on-failure -j"$(nproc)"
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run [calling sequence] | $0 test" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# Ostrel on Debian 12: installs what is missing, builds, then runs the program or every test.
#   ./dev.sh run [calling sequence]   no arguments: the check window; else one unattended run
#   ./dev.sh test                     format check, then every test (ASan + UBSan build, warnings fatal)
#   ./dev.sh format                   formats every C++ file in place
#   ./dev.sh fuzz [seconds]           each fuzz target under libFuzzer (clang) for that long, 60 s by default
#   ./dev.sh package                  the Debian packages and the source package, in dist/, checked by lintian
#   ./dev.sh mutate [count] [seed]    mutation testing: faults put into src/, each against the whole suite
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

build_packages=(cmake make g++ pkg-config libcurl4-openssl-dev libidn2-dev qt6-base-dev fonts-dejavu-core fonts-dejavu-extra)
test_packages=(clang-format python3-pyftpdlib python3-aiosmtpd exim4-daemon-light openssl netcat-openbsd time dpkg-dev
    file groff-base man-db xvfb xdotool lintian nagios4-core iproute2 util-linux at-spi2-core python3-pyatspi
    dbus-daemon dbus-x11 debhelper systemd icinga2 nftables)
package_packages=(dpkg-dev debhelper file lintian)

install_missing() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed \
            || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}

# build <dir> [cmake options]: configures once, then builds, showing its progress.
build() {
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >&2
}

cpp_files() { git ls-files -- '*.cpp' '*.h'; }

# debian_build [dpkg-buildpackage options]: the packages from a copy of the work tree in build-debian/ostrel
# (dpkg-buildpackage writes beside its source, and its -S wants no build folders), moved into dist/.
# The copy keeps each file's time, so its build folder obj-*/ is rebuilt only where the sources changed.
debian_build() {
    local copy=build-debian/ostrel file
    mkdir -p "$copy" dist
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' file; do
        if [ -e "$file" ]; then printf '%s\0' "$file"; fi
    done | tar --null -T - -cf - | tar -xf - -C "$copy"
    rm -f "$copy/debian/debhelper-build-stamp" build-debian/*.* dist/ostrel*
    (cd "$copy" && dpkg-buildpackage -us -uc -Jauto "$@") >&2
    mv build-debian/*.* dist/
}

case "${1:-}" in
run)
    shift
    install_missing "${build_packages[@]}"
    build build -DBUILD_TESTING=OFF
    exec build/bin/ostrel "$@"
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    cpp_files | xargs clang-format --dry-run --Werror --style=file \
        || { echo "unformatted C++ above: ./dev.sh format" >&2; exit 1; }
    # One build for the tests, under ASan + UBSan; -O1 without debug info and
    # unity batches keep its compile short on two cores. Every warning fails it.
    cmake -S . -B build-asan -DOSTREL_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON -DCMAKE_BUILD_TYPE=None \
        -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
    cmake --build build-asan -j"$(nproc)"
    .ci/check-layers build-asan
    # The package test checks the packages that ./dev.sh package ships, built here again where the sources changed.
    debian_build --build=full -nc
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
format)
    install_missing clang-format
    cpp_files | xargs clang-format -i --style=file
    ;;
fuzz)
    seconds=${2:-60}
    install_missing "${build_packages[@]}" "${test_packages[@]}" clang libclang-rt-dev
    cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DOSTREL_FUZZ=ON >/dev/null
    # What a run finds new is kept in build-fuzz/corpus; a failing input is left as crash-* there.
    for source in tests/fuzz/fuzz_*.cpp; do
        name=$(basename "$source" .cpp)
        cmake --build build-fuzz -j"$(nproc)" --target "$name" >&2
        mkdir -p "build-fuzz/corpus/$name"
        (cd build-fuzz/corpus && "../tests/fuzz/$name" -max_total_time="$seconds" \
            "$name" "../../tests/fuzz/corpus/${name#fuzz_}")
    done
    ;;
package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    rm -rf build-debian
    debian_build
    lintian -I --pedantic --fail-on error,warning dist/*.changes
    debs=(dist/ostrel_*_"$(dpkg --print-architecture)".deb dist/ostrel-window_*_"$(dpkg --print-architecture)".deb)
    echo "built $(cd dist && echo *)"
    echo "desktop: apt install ${debs[*]/#/./}; server: apt install --no-install-recommends ./${debs[0]}"
    ;;
mutate)
    count=${2:-70}
    seed=${3:-$(date +%s)}
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    # Its own build, without sanitizers and without unity batches, so a mutant rebuilds one file.
    cmake -S . -B build-mutate -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O1 -DBUILD_TESTING=ON >/dev/null
    cmake --build build-mutate -j"$(nproc)" >&2
    report=build-mutate/mutants-$seed
    # The package test checks the packages in dist/, which no mutant reaches.
    /usr/bin/python3 "${OSTREL_MUTATE:-../shared/tools/mutate.py}" --src . --build build-mutate --seed "$seed" \
        --count "$count" --exclude '^package$' --json "$report.json" --md "$report.md"
    echo "report: $report.md (seed $seed)"
    ;;
*)
    echo "usage: $0 run [calling sequence] | $0 test | $0 format | $0 fuzz [seconds] | $0 package | $0 mutate [count] [seed]" >&2
    exit 2
    ;;
esac

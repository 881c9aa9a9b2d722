#!/usr/bin/env bash
# The two Debian packages, built from a release build as ./dev.sh package builds them, unpacked as apt would lay
# them out: what each holds and needs, its manual page, and the installed program at work.
#   package_test.sh <release build dir>
set -euo pipefail
build=$(readlink -f "$1")
work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Polls a condition ten times a second, for at most $1 seconds.
within() {
    local tries=$(($1 * 10))
    shift
    for ((; tries > 0; tries--)); do "$@" && return 0; sleep 0.1; done
    return 1
}
ended() { [ ! -e "/proc/$1" ] || grep -q '^[0-9]* (.*) Z' "/proc/$1/stat"; }

[ -f "$build/CPackConfig.cmake" ] || fail "no release build in $build (./dev.sh package makes one)"
grep -q 'CMAKE_BUILD_TYPE:STRING=RelWithDebInfo' "$build/CMakeCache.txt" || fail "$build is not the shipped build type"
cmake --build "$build" >/dev/null
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log" >&2; fail "cpack"; }
arch=$(dpkg --print-architecture)
program=$(echo "$work"/out/ostrel_*_"$arch".deb) window=$(echo "$work"/out/ostrel-window_*_"$arch".deb)
[ -f "$program" ] && [ -f "$window" ] || fail "not two packages: $(ls "$work/out")"
lintian --fail-on error "$program" "$window" >"$work/lintian.txt" 2>&1 || fail "lintian: $(cat "$work/lintian.txt")"

# The program's package needs no Qt at all (the mail goes through libcurl) and recommends the window; the window's
# needs this very program.
depends=$(dpkg-deb -f "$program" Depends) window_depends=$(dpkg-deb -f "$window" Depends)
version=$(dpkg-deb -f "$program" Version)
[[ $depends == *libcurl4* && ! $depends =~ qt|-dev|python|exim ]] || fail "ostrel Depends: $depends"
[ "$(dpkg-deb -f "$program" Recommends)" = ostrel-window ] || fail "ostrel does not recommend ostrel-window"
[[ $window_depends == *"ostrel (= $version)"*libqt6gui6*libqt6widgets6* ]] || fail "ostrel-window Depends: $window_depends"

# The manual page renders without a single warning.
server=$work/server desktop=$work/desktop
dpkg-deb -x "$program" "$server"
dpkg-deb -x "$program" "$desktop" && dpkg-deb -x "$window" "$desktop"
page=$server/usr/share/man/man1/ostrel.1.gz
MANWIDTH=80 man --warnings=w -l "$page" >"$work/man.txt" 2>"$work/man.err"
[ -s "$work/man.err" ] && fail "man: $(cat "$work/man.err")"
grep -Eq '^ +ostrel +- +check' "$work/man.txt" || fail "man shows no NAME"

# The server's program, as cron runs it: logs in the user's state folder, never under /usr, no graphical
# library loaded; an unwritable state folder costs a line on standard error, and OSTREL_LOG_DIR is honoured.
exec {listener}< <(/usr/bin/python3 -c '
import socket
s = socket.create_server(("127.0.0.1", 0), backlog=8)
print(s.getsockname()[1], flush=True)
s.settimeout(60)
while True:
    s.accept()[0].close()
')
pids+=($!)
read -r -u "$listener" open
mkdir -m 777 "$work/home"
cron() { env -i PATH=/usr/bin:/bin SHELL=/bin/sh LOGNAME=cron HOME="$work/home" LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$@"; }
installed=$server/usr/bin/ostrel
expected="Port $open on device 127.0.0.1 is available."
check_log() {
    local line
    line=$(cat "$1" 2>/dev/null) || fail "no $1"
    [[ $line =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$'\t'"$expected"$'\r'$ ]] || fail "$1 holds: $line"
}
for user in root nobody; do
    as=()
    [ $user = nobody ] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    cron LD_DEBUG=files "${as[@]}" "$installed" "127.0.0.1,$open,2" 2>"$work/ld.txt" || fail "exit status $? as $user"
    check_log "$work/home/.local/state/ostrel/success.log"
    [ "$(stat -c %a "$work/home/.local/state/ostrel")" = 700 ] || fail "the state folder is open to others"
    grep -Eo 'libQt6[^ ]*' "$work/ld.txt" | head -1 | grep . && fail "an unattended run as $user loaded Qt"
    rm -rf "$work/home/.local"
done
# A mail from the server's program maps its module and libcurl, and still no Qt library.
coproc smtp { exec /usr/bin/python3 "$(dirname "$0")/../support/smtp_server.py" --record "$work"; }
pids+=("$smtp_PID")
read -r -u "${smtp[0]}" _ smtp_port
cron LD_DEBUG=files "$installed" "127.0.0.1,$open,2,PASS,,,127.0.0.1:$smtp_port,ops@test" 2>"$work/ld.txt" \
    || fail "exit status $? with a mail"
grep -q '"rcpt_tos": \["ops@test"\]' "$work/messages" || fail "no mail sent: $(grep -v '^ *[0-9]*:' "$work/ld.txt")"
grep -q "file=$server/usr/.*/ostrel/ostrel-mail.so" "$work/ld.txt" && grep -q 'libcurl\.so' "$work/ld.txt" \
    || fail "the mail did not load the installed module and libcurl"
grep -Eo 'libQt6[^ ]*' "$work/ld.txt" | head -1 | grep . && fail "an unattended run with a mail loaded Qt"
rm -rf "$work/home/.local"
[ -z "$(find "$server/usr" -name '*.log')" ] || fail "a log under /usr"
cron XDG_STATE_HOME="$work/state" "$installed" "127.0.0.1,$open,2" && check_log "$work/state/ostrel/success.log"
cron OSTREL_LOG_DIR="$work/logs" "$installed" "127.0.0.1,$open,2" && check_log "$work/logs/success.log"
errors=$(cron HOME=/nonexistent setpriv --reuid=65534 --regid=65534 --clear-groups "$installed" "127.0.0.1,$open,2" 2>&1)
[ "$errors" = "ostrel: cannot write /nonexistent/.local/state/ostrel/success.log: Permission denied" ] \
    || fail "an unwritable state folder said: $errors"
# Without the window's package the program says how to get it.
errors=$(cron DISPLAY=:0 "$installed" 2>&1) && fail "no window, but exit status 0"
[[ $errors == *"apt install ostrel-window"* ]] || fail "without the window: $errors"

# The desktop: the entry opens the installed window, its module found from the installed program.
mkdir -p "$work/config" && mkdir -m 700 "$work/runtime"
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
pids+=($!)
within 10 test -s "$work/display" || fail "Xvfb did not start"
display=:$(head -1 "$work/display")
exec_line=$(sed -n 's/^Exec=//p' "$desktop/usr/share/applications/ostrel.desktop")
(cd "$work" && exec env -i PATH="$desktop/usr/bin:/usr/bin:/bin" DISPLAY="$display" XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/runtime" $exec_line) &
window_pid=$!
pids+=($window_pid)
window=$(DISPLAY=$display timeout 10 xdotool search --sync --onlyvisible --pid "$window_pid" --name '^Ostrel' \
    | head -1) || fail "no window from the desktop entry ($exec_line)"
grep -q "$desktop/usr/lib/ostrel/ostrel-window.so" "/proc/$window_pid/maps" || fail "window module not the installed one"
DISPLAY=$display timeout 10 xdotool windowfocus --sync "$window" key Escape
within 10 ended "$window_pid" || fail "Escape did not close the window"
echo "packages $(basename "$program") $(basename "$window"): all checks passed ($(grep -c '^W' "$work/lintian.txt") lintian warnings)"

#!/usr/bin/env bash
# The Debian package, built from this build tree and unpacked into a scratch
# root: what is in it, its manual page, and the installed program at work.
#   package_test.sh <build dir>
set -euo pipefail
build=$(readlink -f "$1")
work=$(mktemp -d)
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

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/ostrel_*_"$(dpkg --print-architecture)".deb)
[ -f "${debs[0]}" ] || fail "no ostrel_<version>_<arch>.deb in: $(ls "$work/out")"
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root"

# Run-time dependencies are the libraries the binaries link, never build or test tools.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6core6 libqt6network6 libqt6widgets6; do
    [[ $depends == *"$library "* ]] || fail "Depends lacks $library: $depends"
done
[[ $depends =~ -dev|python|cmake|pyftpdlib|aiosmtpd|exim|xvfb ]] && fail "Depends names a build or test tool: $depends"

# The manual page renders without a single warning at common widths.
page=$root/usr/share/man/man1/ostrel.1.gz
[ -f "$page" ] || fail "no manual page in the package"
zcat "$page" | groff -man -Tutf8 -ww -z 2>"$work/groff.err" || true
[ -s "$work/groff.err" ] && fail "groff: $(cat "$work/groff.err")"
for width in 80 120; do
    MANWIDTH=$width man --warnings=w -l "$page" >"$work/man.txt" 2>"$work/man.err"
    [ -s "$work/man.err" ] && fail "man at $width columns: $(cat "$work/man.err")"
    grep -q '^NAME' "$work/man.txt" && grep -Eq '^ +ostrel +- +check' "$work/man.txt" || fail "man shows no NAME"
done

# The installed program, unattended, with no display and no graphical library
# loaded: the log beside it names the outcome of a loopback check.
program=$root/usr/bin/ostrel
headless() { env -i PATH=/usr/bin:/bin HOME="$work/home" LSAN_OPTIONS="${LSAN_OPTIONS:-}" LD_DEBUG=files "$@"; }
graphical() { grep -Eo 'libQt6(Gui|Widgets)[^ ]*' "$1" | head -1; }
exec {listener}< <(/usr/bin/python3 -c '
import socket, sys
s = socket.create_server(("127.0.0.1", 0), backlog=8)
closed = socket.create_server(("127.0.0.1", 0))
print(s.getsockname()[1], closed.getsockname()[1], flush=True)
closed.close()
s.settimeout(30)
while True:
    s.accept()[0].close()
')
pids+=($!)
read -r -u "$listener" open refused
while read -r port log outcome; do
    rm -f "$work/home/.local/state/ostrel/"*.log
    headless "$program" "127.0.0.1,$port,2" 2>"$work/ld.txt" || fail "exit status $? for port $port"
    line=$(cat "$work/home/.local/state/ostrel/$log" 2>/dev/null) || fail "no $log in the state folder"
    [ -z "$(find "$root/usr" -name '*.log')" ] || fail "a log under /usr"
    expected="Port $port on device 127.0.0.1 is $outcome."
    [[ $line =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$'\t'"$expected"$'\r'$ ]] || fail "$log holds: $line"
    [ -z "$(graphical "$work/ld.txt")" ] || fail "the unattended run loaded $(graphical "$work/ld.txt")"
done <<EOF
$open success.log available
$refused error.log un-available
EOF

headless "$program" '/?' >"$work/help.txt" 2>"$work/ld.txt" || fail "/? exit status $?"
grep -q '^Use the following calling sequence' "$work/help.txt" || fail "/? printed: $(cat "$work/help.txt")"
[ -z "$(graphical "$work/ld.txt")" ] || fail "/? loaded $(graphical "$work/ld.txt")"

# The desktop entry opens the installed window (its module found from the
# installed program), and F2 there hands the installed help page to the
# desktop's browser: stand-ins for xdg-mime and xdg-open record it.
mkdir -p "$work/fake" "$work/config" && mkdir -m 700 "$work/runtime"
cat >"$work/fake/xdg-mime" <<'EOF'
#!/bin/sh
case "$2" in filetype) echo text/html ;; default) echo browser.desktop ;; esac
EOF
printf '#!/bin/sh\necho "$1" >"%s/opened"\n' "$work" >"$work/fake/xdg-open"
chmod +x "$work/fake/xdg-mime" "$work/fake/xdg-open"
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
pids+=($!)
within 10 test -s "$work/display" || fail "Xvfb did not start"
display=:$(head -1 "$work/display")
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/ostrel.desktop")
(cd "$work" && exec env -i PATH="$work/fake:$root/usr/bin:/usr/bin:/bin" DISPLAY="$display" \
    LSAN_OPTIONS="${LSAN_OPTIONS:-}" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" $exec_line) &
window_pid=$!
pids+=($window_pid)
window=$(DISPLAY=$display timeout 10 xdotool search --sync --onlyvisible --pid "$window_pid" --name '^Ostrel' \
    | head -1) || fail "no window from the desktop entry ($exec_line)"
grep -q "$root/usr/lib/ostrel/ostrel-window.so" "/proc/$window_pid/maps" || fail "window module not the installed one"
DISPLAY=$display timeout 10 xdotool windowfocus --sync "$window" key F2
within 10 test -s "$work/opened" || fail "F2 opened nothing"
[ "$(cat "$work/opened")" = "$root/usr/share/ostrel/ostrel.htm" ] || fail "F2 opened $(cat "$work/opened")"
DISPLAY=$display xdotool key Escape
within 10 ended "$window_pid" || fail "Escape did not close the window"
echo "package $(basename "$deb"): all checks passed"

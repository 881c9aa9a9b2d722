#!/usr/bin/env bash
# The Debian packages in dist/ that ./dev.sh package (or ./dev.sh test) builds, unpacked as apt lays them out:
# lintian's verdicts, what each holds and needs, the licence, the manual page, the units, the program at work.
#   package_test.sh <folder of the packages>
set -euo pipefail
packages=$(readlink -f "$1") source=$(readlink -f "$(dirname "$0")/../..")
work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    rm -rf "$work" "${state:-}"
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

arch=$(dpkg --print-architecture)
program=$(echo "$packages"/ostrel_*_"$arch".deb) window=$(echo "$packages"/ostrel-window_*_"$arch".deb)
# Source and binary packages: no error, no warning, and no hardening, spelling or documentation tag left.
lintian -I --pedantic --fail-on error,warning "$packages"/ostrel_*.changes >"$work/lintian.txt" 2>&1 \
    && ! grep -qE 'hardening|spelling|documentation' "$work/lintian.txt" || fail "lintian: $(cat "$work/lintian.txt")"

server=$work/server desktop=$work/desktop
dpkg-deb -x "$program" "$server"
dpkg-deb -x "$program" "$desktop" && dpkg-deb -x "$window" "$desktop"
! grep -rl --binary-files=text OSTREL_TEST_ "$desktop" || fail "a test hook in a shipped file"
# Each package needs what its own binaries link, as dpkg-shlibdeps computes it; the program no graphical library.
needs() { (cd "$source" && dpkg-shlibdeps -O "$@" 2>/dev/null | sed 's/^shlibs:Depends=//'); }
elf=$(find "$server" -type f -exec sh -c 'file -b "$1" | grep -q ^ELF' _ {} \; -print)
window_elf=$(find "$desktop" -name ostrel-window.so)
fields=$(dpkg-deb -f "$program" Depends Recommends && dpkg-deb -f "$window" Depends Recommends)
[ "$fields" = "$(printf 'Depends: %s\nRecommends: ostrel-window\nDepends: ostrel (= %s), %s\nRecommends: qt6-wayland' \
    "$(needs $elf)" "$(dpkg-deb -f "$program" Version)" "$(needs "$window_elf")")" ] \
    && [[ ! ${fields%%$'\n'*} =~ qt ]] || fail "Depends and Recommends: $fields"
# Built with _FORTIFY_SOURCE: each binary calls a checked libc function. The licence: MIT, Expat in Debian's terms.
for file in $elf $window_elf; do [[ $(readelf -W --dyn-syms "$file") =~ \ __[a-z_]+_chk@ ]] || fail "$file"; done
licence=$(cat "$desktop"/usr/share/doc/ostrel{,-window}/copyright | grep -c -e '^License: Expat$' -e '^ Permission is')
[ "$licence" = 6 ] || fail "no MIT licence in copyright"

# The manual pages render without a single warning.
for page in "$server"/usr/share/man/man1/{check_ostrel,ostrel}.1.gz; do
    MANWIDTH=80 man --warnings=w -l "$page" >"$work/man.txt" 2>"$work/man.err"
    [ -s "$work/man.err" ] && fail "man $page: $(cat "$work/man.err")"
done
grep -Eq '^ +ostrel +- +check' "$work/man.txt" || fail "man shows no NAME"

# The units pass systemd's own check, beside the targets of this system.
units=$server/lib/systemd/system
cp -n /lib/systemd/system/*.target /lib/systemd/system/*.slice "$units/"
systemd-analyze verify --man=no --root="$server" ostrel-check@ssh.service ostrel-check@ssh.timer \
    >"$work/verify.txt" 2>&1 || fail "systemd-analyze verify: $(cat "$work/verify.txt")"

exec {listener}< <(/usr/bin/python3 -c 'import socket; s = socket.create_server(("127.0.0.1", 0), backlog=8)
print(s.getsockname()[1], flush=True); s.settimeout(60); [s.accept()[0].close() for _ in iter(int, 1)]')
pids+=($!)
read -r -u "$listener" open
# check_ostrel where the engines look for plugins, started as they start one: with no environment at all.
plugin=$(env -i LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$server/usr/lib/nagios/plugins/check_ostrel" -H 127.0.0.1 -p "$open")
[[ $plugin == "TCP OK - "*"|time="* ]] || fail "check_ostrel: $plugin"
expected="Port $open on device 127.0.0.1 is available."
check_log() {
    local line
    line=$(cat "$1" 2>/dev/null) || fail "no $1"
    [[ $line =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$'\t'"$expected"$'\r'$ ]] || fail "$1 holds: $line"
}

# ostrel-check@ssh.service as systemd runs it: the unit's environment, then the example conf's (a loopback sequence),
# a dynamic user, /var/lib/ostrel/ssh a link into /var/lib/private as DynamicUser makes it; the exit status its state.
state=$(mktemp -d -p /var/lib ostrel.XXXXXX) && chmod 755 "$state" && mkdir -p "$state"/{private/ostrel/ssh,ostrel}
chown 61234:61234 "$state/private/ostrel/ssh" && ln -s ../private/ostrel/ssh "$state/ostrel/ssh"
service=$units/ostrel-check@.service examples=$server/usr/share/doc/ostrel/examples
command=$(sed -n 's|^ExecStart=/usr/bin/\(.*\)\${\(\w*\)}$|'"$server"'/usr/bin/\1"$\2"|p' "$service")
for row in "$open 0 success.log available" "1 1 error.log un-available"; do
    read -r port code log outcome <<<"$row"
    mapfile -t environment < <(sed -n 's/^Environment=//p' "$service" | sed "s|%S|$state|g; s|%i|ssh|g" \
        && sed "s/^OSTREL_SEQUENCE=.*/OSTREL_SEQUENCE=127.0.0.1,$port,2/; /^#/d" "$examples/ssh.conf")
    env -i PATH=/usr/bin:/bin "${environment[@]}" setpriv --reuid=61234 --regid=61234 --clear-groups \
        sh -c "exec $command" && status=0 || status=$?
    [ $status = "$code" ] && grep -q "Port $port on device 127.0.0.1 is $outcome." "$state/ostrel/ssh/$log" \
        || fail "the unit for port $port: exit status $status, $log: $(cat "$state/ostrel/ssh/$log")"
done

# The server's program, as cron runs it: logs in the user's state folder, never under /usr, no graphical
# library loaded, the README's line shows the outcome; an unwritable state folder costs a line on standard error.
mkdir -m 1777 "$work/home" # sticky, as /tmp: shared by root and nobody, and accepted as a log folder's parent
cron() { env -i PATH=/usr/bin:/bin SHELL=/bin/sh LOGNAME=cron HOME="$work/home" LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$@"; }
installed=$server/usr/bin/ostrel quick_start=$(grep -m1 '^cat ~/.local/state/ostrel/' "$source/README.md")
for user in root nobody; do
    as=()
    [ $user = nobody ] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    cron LD_DEBUG=files "${as[@]}" "$installed" "127.0.0.1,$open,2" 2>"$work/ld.txt" || fail "exit status $? as $user"
    [[ $(HOME=$work/home bash -c "$quick_start") == *"$expected"* ]] || fail "the README's $quick_start as $user"
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
cron XDG_STATE_HOME="$work/xdg" "$installed" "127.0.0.1,$open,2" && check_log "$work/xdg/ostrel/success.log"
errors=$(cron HOME=/nonexistent setpriv --reuid=65534 --regid=65534 --clear-groups "$installed" "127.0.0.1,$open,2" 2>&1)
[ "$errors" = "ostrel: cannot write /nonexistent/.local/state/ostrel/success.log: Permission denied" ] \
    || fail "an unwritable state folder said: $errors"
# The modules where the package puts them (overlaid on /usr/lib): a copy of the installed program mails, logging
# beside itself; without /proc the program counts as installed and never loads a module from the current folder.
mkdir "$work/copy" "$work/planted" && cp "$installed" "$work/copy/"
printf '#include <fcntl.h>\n__attribute__((constructor)) static void f(void) { creat("%s/loaded", 0644); }' "$work" \
    | gcc -shared -fPIC -x c -o "$work/planted/ostrel-mail.so" -
errors=$(cd "$work/planted" && cron unshare --mount sh -c 'mount -t overlay overlay -o "lowerdir=$1:/usr/lib" /usr/lib &&
    "$2/copy/ostrel" "$3" && mount -t tmpfs tmpfs /proc && "$4" "$3"' - "$server/usr/lib" "$work" \
    "127.0.0.1,$open,2,PASS,,,127.0.0.1:1,ops@test" "$installed" 2>&1)
refused=$'mail: Connection refused (127.0.0.1:1)\n' state=$work/home/.local/state/ostrel
[ "$errors" = "${refused}ostrel: the program's own folder is unknown (no /proc): its logs go to $state"$'\n'"${refused%?}" ] \
    || fail "a copy, and no /proc: $errors"
check_log "$work/copy/success.log" && check_log "$state/success.log"
[ -z "$(ls "$work/loaded" "$work/planted/"*.log 2>/dev/null)" ] || fail "a module or log in the current folder"
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
shown=$(DISPLAY=$display timeout 10 xdotool search --sync --onlyvisible --pid "$window_pid" --name '^Ostrel' \
    | head -1) || fail "no window from the desktop entry ($exec_line)"
grep -q "$window_elf" "/proc/$window_pid/maps" || fail "window module not the installed one"
DISPLAY=$display timeout 10 xdotool windowfocus --sync "$shown" key Escape
within 10 ended "$window_pid" || fail "Escape did not close the window"
echo "packages $(basename "$program") $(basename "$window"): all checks passed"

#!/usr/bin/env bash
# package_test.sh <folder>: the Debian packages ./dev.sh package builds, unpacked as apt lays them out: lintian's
# verdicts, what each holds and needs, the licence, the manual page, the units, the program at work.
set -euo pipefail
packages=$(readlink -f "$1") source=$(readlink -f "$(dirname "$0")/../..")
work=$(mktemp -d) && chmod 755 "$work"
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    rm -rf "$work" "${state:-}"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

arch=$(dpkg --print-architecture)
program=$(echo "$packages"/ostrel_*_"$arch".deb) window=$(echo "$packages"/ostrel-window_*_"$arch".deb)
# Source and binary packages: no error, no warning, and no hardening (fortify too), spelling or documentation tag.
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
# The licence: MIT, Expat in Debian's terms.
licence=$(cat "$desktop"/usr/share/doc/ostrel{,-window}/copyright | grep -c -e '^License: Expat$' -e '^ Permission is')
[ "$licence" = 6 ] || fail "no MIT licence in copyright"

# The manual pages render without a warning (shown above the failure) at 80 columns; lintian reads their NAME.
for page in "$server"/usr/share/man/man1/{check_ostrel,ostrel}.1.gz; do
    ! MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null | grep . || fail "man $page"
done

# The units pass systemd's own check, beside the targets of this system.
units=$server/lib/systemd/system
cp -n /lib/systemd/system/*.target /lib/systemd/system/*.slice "$units/"
systemd-analyze verify --man=no --root="$server" ostrel-check@ssh.service ostrel-check@ssh.timer \
    >"$work/verify.txt" 2>&1 || fail "systemd-analyze verify: $(cat "$work/verify.txt")"

# aiosmtpd on loopback: the open port of every check, and the mail server.
coproc smtp { exec /usr/bin/python3 "$(dirname "$0")/../support/smtp_server.py" --record "$work"; }
pids+=("$smtp_PID")
read -r -u "${smtp[0]}" _ open
# check_ostrel where the engines look for plugins, started as they start one: with no environment at all.
plugin=$(env -i LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$server/usr/lib/nagios/plugins/check_ostrel" -H 127.0.0.1 -p "$open")
[[ $plugin == "TCP OK - "*"|time="* ]] || fail "check_ostrel: $plugin"
expected="Port $open on device 127.0.0.1 is available."
check_log() {
    [[ $(cat "$1" 2>&1) =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$'\t'"$expected"$'\r'$ ]] \
        || fail "$1 holds: $(cat "$1" 2>&1)"
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

# The server's program as cron runs it: logs in the user's state folder, never under /usr, as the README shows; a
# mail maps its module and libcurl, no graphical library; an unwritable state folder costs a standard-error line.
mkdir -m 1777 "$work/home" # sticky, as /tmp: shared by root and nobody, and accepted as a log folder's parent
cron() { env -i PATH=/usr/bin:/bin SHELL=/bin/sh LOGNAME=cron HOME="$work/home" LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$@"; }
installed=$server/usr/bin/ostrel quick_start=$(grep -m1 '^cat ~/.local/state/ostrel/' "$source/README.md")
for user in root nobody; do
    as=(setpriv --reuid="$(id -u $user)" --regid="$(id -g $user)" --clear-groups)
    cron LD_DEBUG=files "${as[@]}" "$installed" "127.0.0.1,$open,2,PASS,,,127.0.0.1:$open,$user@test" \
        2>"$work/ld.txt" || fail "exit status $? as $user"
    [[ $(HOME=$work/home bash -c "$quick_start") == *"$expected"* ]] || fail "the README's $quick_start as $user"
    [ "$(stat -c %a "$work/home/.local/state/ostrel")" = 700 ] || fail "the state folder is open to others"
    grep -q "\"rcpt_tos\": \[\"$user@test\"\]" "$work/messages" && grep -q 'libcurl\.so' "$work/ld.txt" \
        && grep -q "file=$server/usr/.*/ostrel/ostrel-mail.so" "$work/ld.txt" \
        || fail "no mail as $user from the installed module and libcurl: $(grep -v '^ *[0-9]*:' "$work/ld.txt")"
    grep -Eo 'libQt6[^ ]*' "$work/ld.txt" | head -1 | grep . && fail "an unattended run as $user loaded Qt"
    rm -rf "$work/home/.local"
done
[ -z "$(find "$server/usr" -name '*.log')" ] || fail "a log under /usr"
cron XDG_STATE_HOME="$work/xdg" "$installed" "127.0.0.1,$open,2" && check_log "$work/xdg/ostrel/success.log"
errors=$(cron HOME=/nonexistent setpriv --reuid=65534 --regid=65534 --clear-groups "$installed" "127.0.0.1,$open,2" 2>&1)
[ "$errors" = "ostrel: cannot write /nonexistent/.local/state/ostrel/success.log: Permission denied" ] \
    || fail "an unwritable state folder said: $errors"
# The modules where the package puts them (overlaid on /usr/lib): a copy of the program mails, logging beside itself.
mkdir "$work/copy" && cp "$installed" "$work/copy/"
errors=$(cron unshare --mount sh -c 'mount -t overlay overlay -o "lowerdir=$1:/usr/lib" /usr/lib && "$2" "$3"' - \
    "$server/usr/lib" "$work/copy/ostrel" "127.0.0.1,$open,2,PASS,,,127.0.0.1:1,ops@test" 2>&1)
[ "$errors" = "mail: Connection refused (127.0.0.1:1)" ] || fail "a copy of the program: $errors"
check_log "$work/copy/success.log"
# Without the window's package the program says how to get it.
errors=$(cron DISPLAY=:0 "$installed" 2>&1) && fail "no window, but exit status 0"
[[ $errors == *"apt install ostrel-window"* ]] || fail "without the window: $errors"

# The desktop: the entry opens the installed window, its module found from the installed program.
mkdir -p "$work/config" && mkdir -m 700 "$work/runtime"
exec {xvfb}< <(exec Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>&1 >/dev/null 2>&1)
pids+=($!)
read -r -t 10 -u "$xvfb" display && display=:$display || fail "Xvfb did not start"
exec_line=$(sed -n 's/^Exec=//p' "$desktop/usr/share/applications/ostrel.desktop")
# Its standard output a pipe that closes when it ends.
exec {window_out}< <(cd "$work" && exec env -i PATH="$desktop/usr/bin:/usr/bin:/bin" DISPLAY="$display" \
    XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" $exec_line)
window_pid=$! pids+=($!)
shown=$(DISPLAY=$display timeout 10 xdotool search --sync --onlyvisible --pid "$window_pid" --name '^Ostrel' \
    | head -1) || fail "no window from the desktop entry ($exec_line)"
grep -q "$window_elf" "/proc/$window_pid/maps" || fail "window module not the installed one"
DISPLAY=$display timeout 10 xdotool windowfocus --sync "$shown" key Escape
timeout 10 cat <&"$window_out" >/dev/null || fail "Escape did not close the window"
echo "packages $(basename "$program") $(basename "$window"): all checks passed"

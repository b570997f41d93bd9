#!/bin/sh
# usage: avahi-advertisement.sh PEXILCTL
#
# Checks that "pexilctl geo receive" is found on the network: inside private network, mount
# and PID namespaces, with a D-Bus system bus and an avahi-daemon of its own restricted to
# the loopback interface, it starts the receiver and waits for avahi-browse to resolve
# "_pexil._tcp" to the receiver's name and port. A second receiver under the same name must
# appear under Avahi's alternative name. Then the daemon is stopped, and a receiver without
# it must still take a record and say, once, that it is not announced.
# Nothing touches the machine's own network, bus or daemon.
#
# Exit: 0 passed, 1 failed (with the logs), 77 skipped (with the reason): not root, no
# namespaces (a container without the privilege), or a tool missing.

PATH="$PATH:/usr/sbin:/sbin"
PEXILCTL=${1:?usage: avahi-advertisement.sh PEXILCTL}

skip() {
    echo "SKIP: $*"
    exit 77
}

if [ "${PEXIL_AVAHI_SANDBOX:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip "network namespaces need root"
    for tool in unshare ip mount dbus-daemon avahi-daemon avahi-browse timeout; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
    if [ ! -x "$PEXILCTL" ]; then
        echo "FAIL: not an executable: $PEXILCTL"
        exit 1
    fi
    unshare --net --mount --pid --fork true 2>/dev/null ||
        skip "no namespaces here (unshare --net --mount --pid fails)"
    # PID 1 of the new namespace is the script itself: when it ends, the kernel ends every
    # process it started, whatever happened.
    PEXIL_AVAHI_SANDBOX=1 exec timeout 90 unshare --net --mount --pid --fork --mount-proc \
        sh "$0" "$PEXILCTL"
fi

# --- inside the sandbox ---------------------------------------------------------------

port=45123
twin_port=45125
spare_port=45124
# A private /run: avahi-daemon's pid file and socket, our bus, and no way to reach the
# machine's own system bus by its usual address.
mount -t tmpfs tmpfs /run || skip "cannot mount a private /run"
work=/run/pexil-avahi-test
mkdir -p "$work" /run/dbus /run/avahi-daemon
ip link set lo up || skip "cannot bring up loopback in the namespace"

fail() {
    echo "FAIL: $*"
    for log in "$work"/*.out "$work"/*.err "$work"/avahi.log; do
        [ -f "$log" ] || continue
        echo "--- $log"
        cat "$log"
    done
    exit 1
}

# Waits up to $1 seconds for the shell condition $2.
wait_for() {
    timeout "$1" sh -c "until $2; do sleep 0.1; done" 2>/dev/null
}

# Sends SIGTERM to child $1 and waits for it, killing it after $2 seconds; its exit status
# is left in $status (137 when it had to be killed).
stop() {
    kill -TERM "$1"
    (sleep "$2" && kill -KILL "$1" 2>/dev/null) &
    watchdog=$!
    wait "$1"
    status=$?
    kill "$watchdog" 2>/dev/null
}

cat >"$work/bus.conf" <<'EOF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
export DBUS_SYSTEM_BUS_ADDRESS
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.err" 2>&1 &
wait_for 10 "[ -S /run/dbus/system_bus_socket ]" || fail "the private D-Bus did not start"

cat >"$work/avahi.conf" <<'EOF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no
EOF
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title \
    >"$work/avahi.log" 2>&1 &
avahi=$!
wait_for 15 "avahi-browse -at >/dev/null 2>&1" || fail "avahi-daemon did not come up"

# The receiver keeps its record in a folder of its own, not the user's.
export HOME="$work/home" XDG_DATA_HOME="$work/data"
mkdir -p "$HOME"

"$PEXILCTL" geo receive --port "$port" >"$work/receive.out" 2>"$work/receive.err" &
receiver=$!
wait_for 15 "grep -q '^state: waiting ' '$work/receive.out'" || fail "the receiver never waited"
grep -q "^state: waiting .* (port $port)\$" "$work/receive.out" ||
    fail "the receiver does not say it waits on port $port"
name=$(sed -n 's/^state: waiting \(.*\) (port [0-9]*)$/\1/p' "$work/receive.out" | head -n 1)

# -p: "=;lo;IPv4;NAME;_pexil._tcp;local;HOST;ADDRESS;PORT;TXT" once resolved.
found="avahi-browse -rtp _pexil._tcp 2>/dev/null >'$work/browse.out';
       grep -q '^=;[^;]*;[^;]*;[^;]*;_pexil\._tcp;[^;]*;[^;]*;[^;]*;$port;' '$work/browse.out'"
wait_for 20 "$found" || fail "avahi-browse does not find _pexil._tcp on port $port"
# Names with spaces or dots come back escaped by avahi-browse; plain ones must match exactly.
case "$name" in
    *[!A-Za-z0-9-]*) ;;
    *)
        grep -q "^=;[^;]*;[^;]*;$name;_pexil\._tcp;" "$work/browse.out" ||
            fail "the service is not named after the computer ($name)"
        ;;
esac
wait_for 10 "grep -q 'ネットワークに公開しました' '$work/receive.err'" ||
    fail "the receiver does not log its announcement"
echo "found: $(grep '^=' "$work/browse.out" | head -n 1)"

# A second receiver under the same name: Avahi's alternative name, logged, on its own port.
"$PEXILCTL" geo receive --port "$twin_port" >"$work/twin.out" 2>"$work/twin.err" &
twin=$!
wait_for 15 "grep -q 'として公開します' '$work/twin.err'" ||
    fail "a second receiver under the same name was not renamed"
found="avahi-browse -rtp _pexil._tcp 2>/dev/null >'$work/browse.out';
       grep -q '^=;[^;]*;[^;]*;[^;]*;_pexil\._tcp;[^;]*;[^;]*;[^;]*;$twin_port;' '$work/browse.out'"
wait_for 20 "$found" || fail "avahi-browse does not find the renamed receiver on port $twin_port"
grep -q "^=;[^;]*;[^;]*;[^;]*;_pexil\._tcp;[^;]*;[^;]*;[^;]*;$port;" "$work/browse.out" ||
    fail "the first receiver vanished when the second came"
stop "$twin" 10
[ "$status" = 0 ] || fail "the renamed receiver ended with $status after SIGTERM, not 0"

stop "$receiver" 10
[ "$status" = 0 ] || fail "the receiver ended with $status after SIGTERM, not 0"

# Without a daemon: still listening, one line saying it is not announced.
stop "$avahi" 10
"$PEXILCTL" geo receive --port "$spare_port" >"$work/spare.out" 2>"$work/spare.err" &
spare=$!
wait_for 15 "grep -q '^state: waiting ' '$work/spare.out'" ||
    fail "without Avahi the receiver never waited"
wait_for 10 "grep -q '公開されていません' '$work/spare.err'" ||
    fail "without Avahi the receiver does not say it is not announced"
printf '%s' '{"generated":"2024-05-01T09:00:00Z","shots":{},"track":[]}' >"$work/payload.json"
"$PEXILCTL" geo send "127.0.0.1:$spare_port" "$work/payload.json" --sender sandbox \
    >"$work/send.out" 2>"$work/send.err" || fail "geo send to the unannounced receiver failed"
[ "$(cat "$work/send.out")" = OK ] || fail "geo send did not print OK"
wait_for 10 "grep -q '^state: received sandbox\$' '$work/spare.out'" ||
    fail "the unannounced receiver did not take the record"
count=$(grep -c '公開されていません' "$work/spare.err")
[ "$count" = 1 ] || fail "'not announced' was logged $count times, not once"
[ -f "$XDG_DATA_HOME/Pexil/geo-latest.json" ] || fail "the record was not saved"
stop "$spare" 10
[ "$status" = 0 ] || fail "the second receiver ended with $status after SIGTERM, not 0"

echo "PASS"
exit 0

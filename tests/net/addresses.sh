#!/usr/bin/env bash
# qbmsg over IPv6 and chosen addresses, with real processes, in a network
# namespace of its own (a loopback with 127.0.0.1 and ::1 only) and a mount
# namespace whose /etc/hosts names "v6only" (::1) and "both" (::1 and
# 127.0.0.1), so no other program's port or name is involved.
#   addresses.sh QBMSG
# Exits 77 (skipped) where the namespaces cannot be made.
set -euo pipefail
qbmsg=$1
if [ -z "${FERRO_IN_NAMESPACE:-}" ]; then
    export FERRO_IN_NAMESPACE=1
    flags=-nm
    [ "$(id -u)" -eq 0 ] || flags=-rnm
    unshare $flags true 2>/dev/null || { echo "no network namespace here: skipped"; exit 77; }
    exec unshare $flags bash "$0" "$@"
fi
ip link set lo up
work=$(mktemp -d)
printf '127.0.0.1 localhost\n::1 v6only\n::1 both\n127.0.0.1 both\n' >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
trap 'kill $(jobs -p) 2>/dev/null || true; umount /etc/hosts 2>/dev/null || true; rm -rf "$work"' EXIT

failures=0
check() { # check WHAT EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
port=6711
listening() { for _ in $(seq 200); do ss -Hltn "sport = :$port" | grep -q . && return 0; sleep 0.02; done; return 1; }
receiver() { # receiver COUNT [OPTIONS]: qbmsg receive in the background, its lines in $work/lines
    mkdir -p "$work/in"
    "$qbmsg" receive --port $port --out "$work/in" --count "$@" >"$work/lines" 2>"$work/receiver.err" &
    listening
}
send() { # send HOST [OPTIONS]: the exit status of qbmsg send, in the fixed form
    echo hello >"$work/body"
    "$qbmsg" send --no-name --port $port --timeout 5000 -H "$@" "$work/body" >/dev/null 2>"$work/send.err" && echo 0 || echo $?
}
finish() { wait %1 2>/dev/null || true; }

# All addresses of both families by default.
receiver 3
check "default: ::1" 0 "$(send ::1)"
check "default: [::1]" 0 "$(send '[::1]')"
check "default: 127.0.0.1" 0 "$(send 127.0.0.1)"
finish
check "the lines say who sent" "from [::1] from [::1] from 127.0.0.1" \
    "$(sed -E 's/.* (from [^ ]*):[0-9]+ .*/\1/' "$work/lines" | tr '\n' ' ' | sed 's/ $//')"

# One address of one family.
receiver 1 --bind 127.0.0.1
check "--bind 127.0.0.1 refuses ::1" 1 "$(send ::1)"
check "  with the cause" "qbmsg send: Connection Failed: ::1 port $port (connection refused)" "$(cat "$work/send.err")"
check "--bind 127.0.0.1 takes 127.0.0.1" 0 "$(send 127.0.0.1)"
finish
receiver 1 --bind ::1
check "--bind ::1 refuses 127.0.0.1" 1 "$(send 127.0.0.1)"
check "--bind ::1 takes ::1" 0 "$(send ::1)"
finish

# Names: every address in the resolver's order, -4 and -6.
receiver 1 --bind ::1
check "a name on ::1 only reaches ::1" 0 "$(send v6only)"
finish
receiver 2 --bind 127.0.0.1
check "a name on ::1 only does not reach 127.0.0.1" 1 "$(send v6only)"
check "-6 tries only ::1 of both" 1 "$(send both -6)"
check "-4 goes to 127.0.0.1 of both" 0 "$(send both -4)"
check "both: ::1 refused, then 127.0.0.1" 0 "$(send both -v 4)"
check "  tried in that order" "Trying [::1]:$port Trying 127.0.0.1:$port" "$(grep '^Trying' "$work/send.err" | tr '\n' ' ' | sed 's/ $//')"
finish
receiver 1 --bind both
check "--bind takes a name (its first address, ::1)" 0 "$(send ::1)"
finish

# An independent IPv6 peer receives the exact bytes.
python3 - "$port" >"$work/peer" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("::1", int(sys.argv[1])))
s.listen(1)
c, _ = s.accept()
data = b""
while len(data) < 23:
    data += c.recv(100)
c.sendall(b"OK" + b" " * 14)
sys.stdout.write(data.decode())
PY
listening
check "an IPv6 peer of its own: qbmsg send succeeds" 0 "$(send ::1)"
wait %1 || true
check "  and the peer got the fixed form byte for byte" "0010Quillbrook   6hello" "$(tr -d '\n' <"$work/peer")"

[ $failures -eq 0 ] && echo "all addresses as expected" || { echo "$failures failed"; exit 1; }

#!/usr/bin/env bash
# The static ghostdpy in an empty root: a directory holding only the program
# and an empty /tmp, entered with chroot. Clients from outside the root are
# served through the socket file the program makes there, and through a TCP
# listener on a literal loopback address; a host name cannot be looked up in
# such a root unless the root gives /etc/hosts.
#
#   static_root_test.sh GHOSTDPY XPROBE SCRATCH_DIR
#
# Everything runs in private mount, network and PID namespaces (a user
# namespace too when not run as root): the machine's /tmp and its network
# are never touched, and when the test ends, however it ends, the kernel ends
# every process it started. SCRATCH_DIR gets a tmpfs that vanishes with it.
set -euo pipefail

if [ "${1:-}" != --isolated ]; then
  [ $# -eq 3 ] || { echo "usage: $0 GHOSTDPY XPROBE SCRATCH_DIR" >&2; exit 2; }
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--user --map-root-user)
  exec unshare "${as_root[@]}" --mount --propagation private --net --pid --fork --kill-child \
    -- "$0" --isolated "$@"
fi
shift
ghostdpy=$(realpath "$1")
xprobe=$(realpath "$2")
scratch=$3

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

mkdir -p "$scratch"
mount -t tmpfs -o mode=0755 static-root "$scratch"
cd "$scratch"
mkdir root logs
cp "$ghostdpy" root/ghostdpy
# The client too is reached from here: the private /tmp mounted below hides
# the build tree when the checkout lies under /tmp.
cp "$xprobe" xprobe
xprobe=./xprobe
mkdir -m 1777 root/tmp
# The root's /tmp is this namespace's /tmp, so that an ordinary client finds
# the display's socket file at its usual path.
mount -t tmpfs -o mode=1777 tmp /tmp
mount --bind /tmp root/tmp
ip link set lo up

listing=$(cd root && find . | sort | tr '\n' ' ')
[ "$listing" = ". ./ghostdpy ./tmp " ] || fail "the root holds more than the program and /tmp: $listing"

# start_server NAME ARGS...: ghostdpy in the root, output in logs/NAME.*;
# waits until it has announced its listener or has ended. Sets server_pid,
# and server_ready to yes or no.
start_server() {
  local name=$1
  shift
  chroot root /ghostdpy "$@" >"logs/$name.out" 2>"logs/$name.err" &
  server_pid=$!
  server_ready=no
  for _ in $(seq 200); do
    if grep -q '^Server listening on ' "logs/$name.out"; then
      server_ready=yes
      return
    fi
    kill -0 "$server_pid" 2>/dev/null || return 0
    sleep 0.05
  done
}

# stop_server SIGNAL: SIGINT for a Unix listener, whose handler removes the
# socket file; SIGTERM for a TCP listener, which has no handler (and a
# background job of this shell ignores SIGINT).
stop_server() {
  kill "-$1" "$server_pid" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$server_pid" 2>/dev/null; then
    fail "ghostdpy $server_pid did not end on SIG$1"
    kill -KILL "$server_pid"
  fi
  wait "$server_pid" || true
}

# probe NAME DISPLAY: xprobe, from outside the root, must see ghostdpy's screen.
probe() {
  if ! DISPLAY=$2 "$xprobe" >"logs/$1.probe" 2>&1; then
    fail "$1: xprobe could not use display $2: $(cat "logs/$1.probe")"
  elif ! grep -q 'screen 0 is 1280 x 1024 pixels' "logs/$1.probe"; then
    fail "$1: xprobe saw another screen: $(cat "logs/$1.probe")"
  fi
}

# Unix socket in the root's /tmp.
start_server unix :0
if [ $server_ready = yes ]; then
  [ -S root/tmp/.X11-unix/X0 ] || fail "unix: no socket file root/tmp/.X11-unix/X0"
  probe unix :0
  grep -q '^Request1 = ' logs/unix.out || fail "unix: the trace shows no request"
  stop_server INT
  [ ! -e root/tmp/.X11-unix/X0 ] || fail "unix: the socket file is left after SIGINT"
else
  fail "unix: ghostdpy did not start: $(cat logs/unix.err)"
fi

# TCP on a literal address (a private network namespace: the port is free).
start_server tcp 127.0.0.1:6100
if [ $server_ready = yes ]; then
  probe tcp 127.0.0.1:100
  stop_server TERM
else
  fail "tcp: ghostdpy did not bind 127.0.0.1:6100: $(cat logs/tcp.err)"
fi

# A host name: the static C library looks names up only in /etc/hosts and
# through DNS, and the empty root has neither /etc/hosts nor
# /etc/resolv.conf (the DNS query to 127.0.0.1:53 finds no server here).
status=0
timeout 30 chroot root /ghostdpy localhost:6101 >logs/name.out 2>logs/name.err || status=$?
[ $status -eq 101 ] || fail "host name in the empty root: status $status, not 101"
grep -q "Could not bind address 'localhost:6101'" logs/name.err ||
  fail "host name in the empty root: no 'Could not bind address' report: $(cat logs/name.err)"

# With /etc/hosts in the root the same name is found there.
mkdir root/etc
echo '127.0.0.1 localhost' >root/etc/hosts
start_server hosts localhost:6102
if [ $server_ready = yes ]; then
  probe hosts 127.0.0.1:102
  stop_server TERM
else
  fail "host name with /etc/hosts in the root: ghostdpy did not bind: $(cat logs/hosts.err)"
fi

if [ $failures -ne 0 ]; then
  tail -n +1 logs/* >&2
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "static ghostdpy served Unix and TCP clients from an empty root"

#!/usr/bin/env bash
# Checks the systemd unit ghostdpy@.service as a built tree installs it, with
# no running systemd:
#   check_service.sh review BUILD_DIR
#     systemd-analyze verify, and the offline security review against the
#     highest exposure the unit may have;
#   check_service.sh restart BUILD_DIR XPROBE
#     the unit's start-up steps, its ExecStartPre= and ExecStart= lines as
#     installed, run as the unit would run them (its account made from the
#     installed sysusers.d file, its umask, no privileges) in private mount
#     and network namespaces with a private /tmp: a first server serves a
#     client of another account, is killed with SIGKILL and leaves its socket
#     and lock; the server alone then refuses the socket and leaves the
#     stale lock beside it alone, the start-up steps clear the socket and
#     the second server takes over the lock and serves again; the clean-up
#     spares another account's socket and a symbolic
#     link. Every system call of the unit's account is checked against the
#     unit's system-call filter. Needs root (skipped otherwise).
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
xprobe=${3:-}
max_exposure=2.5
display=5 # private /tmp: no display of the machine is touched
other_display=6

fail() { echo "FAILED: $*" >&2; exit 1; }

# Installed with a prefix inside the work folder, so that the unit names the
# installed program and files by their real absolute paths. The work folder
# lies in PARENT (the build folder unless given): the restart runs the
# installed program as the unit's account, which must be able to reach it,
# and a build folder under /root cannot be reached by other accounts.
install_tree() {
  work=$(mktemp -d -p "${1:-$build}" service-check.XXXXXX)
  chmod 755 "$work" # the unit's account runs the installed program
  cmake --install "$build" --prefix "$work/usr" --component ghostdpy >"$work/install.log"
  unit=$work/usr/lib/systemd/system/ghostdpy@.service
  [ -f "$unit" ] || fail "no unit installed at $unit"
}

review() {
  command -v systemd-analyze >/dev/null || { echo "skipped: no systemd-analyze"; exit 77; }
  install_tree
  trap 'rm -rf "$work"' EXIT
  # verify runs man for Documentation=: the installed page must be found.
  MANPATH=$work/usr/share/man systemd-analyze verify "$unit" >"$work/verify.out" 2>&1 ||
    fail "systemd-analyze verify: $(cat "$work/verify.out")"
  [ ! -s "$work/verify.out" ] || fail "systemd-analyze verify warns: $(cat "$work/verify.out")"

  local threshold status=0
  threshold=$(awk -v x="$max_exposure" 'BEGIN { printf "%d", x * 10 }')
  systemd-analyze security --offline=true --threshold="$threshold" "$unit" >"$work/security.out" 2>&1 || status=$?
  grep -v '✓' "$work/security.out" || true
  local level
  level=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p' "$work/security.out")
  [ -n "$level" ] || fail "no exposure level in: $(cat "$work/security.out")"
  [ "$status" -eq 0 ] || fail "exposure $level is above $max_exposure (systemd-analyze status $status)"
  awk -v l="$level" -v m="$max_exposure" 'BEGIN { exit !(l <= m) }' || fail "exposure $level is above $max_exposure"
  echo "unit verified, exposure $level (at most $max_exposure)"
}

# --- the start-up steps ------------------------------------------------------

# The value of a [Service] setting; every value, in order, for a list setting.
unit_values() {
  awk -v key="$1" '
    /^\[/ { service = ($0 == "[Service]") }
    service && index($0, key "=") == 1 { print substr($0, length(key) + 2) }' "$unit"
}

# A command line of the unit with its specifiers filled in for the instance,
# as words in the array cmd; its prefixes in plus (run with full privileges)
# and minus (failure ignored). Only what this unit uses is understood.
parse_command() {
  local line=$1
  plus=0 minus=0
  while :; do
    case $line in
      +*) plus=1 line=${line:1} ;;
      -*) minus=1 line=${line:1} ;;
      [@:!]*) fail "command prefix not handled here: $1" ;;
      *) break ;;
    esac
  done
  case $line in *[\"\'\$\\]*) fail "quoting or variables not handled here: $1" ;; esac
  local out='' rest=$line
  while [[ $rest == *%* ]]; do
    out+=${rest%%\%*}
    rest=${rest#*%}
    case ${rest:0:1} in
      i | I) out+=$display ;;
      %) out+=% ;;
      *) fail "specifier %${rest:0:1} not handled here: $1" ;;
    esac
    rest=${rest:1}
  done
  read -r -a cmd <<<"$out$rest"
}

# Runs the parsed command cmd as the unit runs it, in place of the calling
# (sub)shell: its umask always; as root with a + prefix, otherwise as the
# unit's account, without capabilities and without new privileges. Words in
# pre (a tracer) go before a command of the unit's account.
exec_as_unit() {
  local -a run
  if [ "$plus" -eq 1 ]; then
    run=("${cmd[@]}")
  else
    run=(setpriv --reuid="$user" --regid="$group" --init-groups --inh-caps=-all --bounding-set=-all
         --no-new-privs -- "${pre[@]}" "${cmd[@]}")
  fi
  umask "$umask"
  exec env -i PATH=/usr/bin:/bin "${run[@]}"
}

# The ExecStartPre= steps, in order; each must succeed unless marked with -.
start_pre() {
  local line status
  while IFS= read -r line; do
    parse_command "$line"
    status=0
    (exec_as_unit) || status=$?
    [ "$status" -eq 0 ] || [ "$minus" -eq 1 ] || fail "ExecStartPre=$line exited with $status"
  done < <(unit_values ExecStartPre)
}

# ExecStart= in the background; waits until it listens. The pid to wait for
# in server, the server's own in target (the tracer's child when traced).
start_server() {
  local out=$1
  parse_command "$(unit_values ExecStart)"
  (exec_as_unit) >"$out" 2>"$out.err" &
  server=$!
  for _ in $(seq 200); do
    if grep -qx "Server listening on /tmp/.X11-unix/X$display" "$out"; then
      target=$server
      [ ${#pre[@]} -eq 0 ] || target=$(ps -o pid= --ppid "$server")
      return 0
    fi
    kill -0 "$server" 2>/dev/null || fail "the server ended at start: $(cat "$out.err")"
    sleep 0.05
  done
  fail "the server did not listen within 10 s"
}

# Waits for the server to end and sets status to its exit status.
wait_server() {
  status=0
  wait "$server" 2>/dev/null || status=$?
  server='' target=''
}

# A client of another account completes the connection setup and its requests.
client_as_other_account() {
  env -i DISPLAY=:$display PATH=/usr/bin:/bin setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$work/xprobe" >"$work/xprobe.out" 2>&1 || fail "xprobe as nobody: $(cat "$work/xprobe.out")"
  grep -q '390 visuals' "$work/xprobe.out" || fail "xprobe as nobody saw: $(cat "$work/xprobe.out")"
}

check_socket_and_directory() {
  local socket=/tmp/.X11-unix/X$display lock=/tmp/.X$display-lock
  [ "$(stat -c '%a %U %G' /tmp/.X11-unix)" = "1777 root root" ] ||
    fail "/tmp/.X11-unix is $(stat -c '%a %U %G' /tmp/.X11-unix), not 1777 root root"
  [ -S "$socket" ] || fail "no socket at $socket"
  [ "$(stat -c '%a %U' "$socket")" = "777 $user" ] || fail "$socket is $(stat -c '%a %U' "$socket")"
  [ "$(stat -c '%a %U' "$lock")" = "444 $user" ] || fail "$lock is $(stat -c '%a %U' "$lock" 2>&1)"
  [ "$(cat "$lock")" = "$(printf '%10d' "$target")" ] || fail "$lock holds '$(cat "$lock")', not $target"
}

# Every system call the unit's account made (traced into $1) must pass the
# unit's SystemCallFilter= lines: the first allows a list, the later ones with
# ~ take sets away; @default is always allowed.
expand_syscalls() {
  local name
  for name in "$@"; do
    case $name in
      @*) expand_syscalls $(systemd-analyze syscall-filter "$name" | awk 'NR > 1 && $1 !~ /^#/ { print $1 }') ;;
      *) echo "$name" ;;
    esac
  done
}
check_syscall_filter() {
  local trace=$1 line first=1
  declare -A allowed=()
  for name in $(expand_syscalls @default); do allowed[$name]=1; done
  while IFS= read -r line; do
    if [[ $line == '~'* ]]; then
      for name in $(expand_syscalls ${line:1}); do unset "allowed[$name]"; done
    else
      [ "$first" -eq 1 ] || fail "SystemCallFilter= allow-list after the first line: not handled here"
      for name in $(expand_syscalls $line); do allowed[$name]=1; done
    fi
    first=0
  done < <(unit_values SystemCallFilter)
  [ "$first" -eq 0 ] || fail "the unit has no SystemCallFilter="
  local used denied=''
  used=$(sed -n 's/^[0-9]\+ \+\([a-z0-9_]\+\)(.*/\1/p' "$trace" | sort -u)
  [ -n "$used" ] || fail "no system calls traced"
  for name in $used; do [ -n "${allowed[$name]:-}" ] || denied+=" $name"; done
  [ -z "$denied" ] || fail "the unit's SystemCallFilter= denies system calls the unit makes:$denied"
  echo "system calls of the unit's account, all allowed by its filter: $(echo $used)"
}

# Inside the private mount namespace.
restart_inside() {
  # A private /tmp for /tmp/.X11-unix. The work folder is reached through an
  # open descriptor, so that it stays visible if it lies under /tmp itself.
  exec 3<"$work"
  mount -t tmpfs -o mode=1777 tmpfs /tmp
  case $work in /tmp/*) mkdir -p "$work" && mount --no-canonicalize --bind /proc/self/fd/3 "$work" ;; esac
  exec 3<&-

  # The account, made by the installed sysusers.d file in a copy of the
  # machine's user database that replaces it in this namespace only.
  mkdir -p "$work/sysroot/etc"
  cp /etc/passwd /etc/group "$work/sysroot/etc/"
  systemd-sysusers --root="$work/sysroot" "$work/usr/lib/sysusers.d/ghostdpy.conf" >/dev/null 2>&1 ||
    fail "systemd-sysusers could not make the unit's account"
  mount --bind "$work/sysroot/etc/passwd" /etc/passwd
  mount --bind "$work/sysroot/etc/group" /etc/group
  user=$(unit_values User) group=$(unit_values Group) umask=$(unit_values UMask)
  getent passwd "$user" >/dev/null || fail "the unit's account $user is not made by its sysusers.d file"
  [ -n "$group" ] || fail "the unit sets no Group="
  [ -n "$umask" ] || umask=0022 # systemd's default for services
  local kill_signal
  kill_signal=$(unit_values KillSignal)

  server='' target='' pre=()
  trap 'kill -KILL $target $server 2>/dev/null || true' EXIT

  # A directory of the account's, world-writable and not sticky (one the
  # server itself refuses), is put right by the start-up steps.
  setpriv --reuid="$user" --regid="$group" --init-groups mkdir -m 0777 /tmp/.X11-unix

  # First start and the restart, every step of the unit's account traced.
  local trace=$work/syscalls
  install -m 0600 -o "$user" /dev/null "$trace"
  tracer=(strace -f -qq -o "$trace" -A)
  pre=("${tracer[@]}")
  start_pre
  start_server "$work/first.out"
  pre=()
  check_socket_and_directory
  client_as_other_account
  kill -KILL "$target"
  wait_server
  [ "$status" -eq 137 ] || fail "the killed server ended with $status"

  # SIGKILL: the socket and the lock stay. The server alone refuses the
  # socket and leaves the stale lock beside it as it is.
  [ -S "/tmp/.X11-unix/X$display" ] || fail "no socket left behind by the killed server"
  [ -f "/tmp/.X$display-lock" ] || fail "no lock left behind by the killed server"
  local stale
  stale=$(cat "/tmp/.X$display-lock")
  parse_command "$(unit_values ExecStart)"
  status=0
  pre=("${tracer[@]}")
  (exec_as_unit) >"$work/refused.out" 2>&1 || status=$?
  pre=()
  [ "$status" -eq 101 ] && grep -q "file already exists /tmp/.X11-unix/X$display" "$work/refused.out" ||
    fail "the server did not refuse the leftover socket (status $status): $(cat "$work/refused.out")"
  [ "$(cat "/tmp/.X$display-lock")" = "$stale" ] || fail "the refused server changed the stale lock"

  # The restart: the start-up steps clear the socket, the server serves.
  pre=("${tracer[@]}")
  start_pre
  start_server "$work/second.out"
  pre=()
  check_socket_and_directory
  client_as_other_account
  # Stopped as systemd stops it: the server removes its socket.
  kill -s "${kill_signal#SIG}" "$target"
  wait_server
  [ "$status" -eq 0 ] || fail "the server stopped with $kill_signal ended with $status"
  [ ! -e "/tmp/.X11-unix/X$display" ] || fail "the socket stayed after $kill_signal"
  [ ! -e "/tmp/.X$display-lock" ] || fail "the lock stayed after $kill_signal"
  check_syscall_filter "$trace"

  # The clean-up spares another account's socket.
  (umask "$umask" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
     "$work/usr/bin/ghostdpy" ":$display" >/dev/null 2>&1) &
  server=$!
  for _ in $(seq 200); do [ -S "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
  kill -KILL "$server"
  wait_server
  [ -S "/tmp/.X11-unix/X$display" ] || fail "no socket left behind by nobody's server"
  start_pre
  [ -S "/tmp/.X11-unix/X$display" ] || fail "the start-up steps removed another account's socket"
  rm "/tmp/.X11-unix/X$display" "/tmp/.X$display-lock"

  # It spares a symbolic link of its own account too, and what it points to.
  setpriv --reuid="$user" --regid="$group" --init-groups \
    ln -s "/tmp/.X11-unix/X$other_display" "/tmp/.X11-unix/X$display"
  display=$other_display start_server "$work/third.out"
  kill -KILL "$target"
  wait_server
  start_pre
  [ -L "/tmp/.X11-unix/X$display" ] || fail "the start-up steps removed a symbolic link"
  [ -S "/tmp/.X11-unix/X$other_display" ] || fail "the start-up steps removed a socket through a symbolic link"
  echo "the unit's start-up steps restart the display after SIGKILL and serve other accounts"
}

restart() {
  [ -x "$xprobe" ] || fail "no client at '$xprobe'"
  if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: the unit's account and a private /tmp need root"
    exit 77
  fi
  for tool in setpriv strace systemd-sysusers unshare; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
  done
  install_tree /var/tmp
  trap 'rm -rf "$work"' EXIT
  install -m 0755 "$xprobe" "$work/xprobe"
  # A network namespace of its own too: the servers' abstract socket names
  # are seen by nobody else, and theirs by none of these servers.
  unshare --mount --net --propagation private -- "$0" restart-inside "$build" "$work" "$unit"
}

case $mode in
  review) review ;;
  restart) restart ;;
  restart-inside) work=$3 unit=$4 restart_inside ;;
  *) fail "unknown mode $mode" ;;
esac

#!/usr/bin/env bash
# Fault-injection sweep over the real binary (x86-64): traces one normal run, then runs
# it again once for every system call that run made after start-up (the dynamic
# loader's and the C library's start-up calls are not the tool's), with that one call
# failing (strace --inject), in five situations: the USB serial table names the
# module; only the record file does; a dead process's lock stands in the way; a dead
# waiter's entry stands in the line; a live process holds the lock. Each run of that
# last one waits the whole lock wait in line, so it takes a sample: every call of the
# first lock attempt (up to joining the line) and the first of each name.
# Then the same again with the run killed (SIGKILL, as a power cut or the OOM killer
# ends it) at each call instead. `fault-sweep.sh errors` or `kills` runs one mode alone.
# Every run with a failing call, in a private mount namespace against the simulated
# modem, must keep the tool's promises:
#   - it ends within its time-out, the lock wait and a margin; nothing on stderr;
#   - exit 0 only with the modem's reply or the time-out text; exit 1 only with BUSY,
#     the usage text, or nothing when the reply itself could not be written;
#   - no lock file of its own is left, unless the failed call was that lock's own
#     removal, and then the next run clears it as stale and succeeds; a waiter's
#     entry left in the line is cleared by the next run;
#   - the record file is absent or one whole "%08x\n" line that loses no ID, and no
#     temporary file is left.
# A killed run must leave a live holder's lock as it was, and the normal run after it
# must answer (a killed run's unread answer may start its reply: bytes already waiting
# on the line start a reply) and leave no lock file and no entry in the line, the
# record holding the ID and no temporary file beside it.
# Prints the injection and kill points tried and how many broke a promise; exits 1 on any.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/private-world.sh
bin=build/host

if [ -z "${MDMIO_PRIVATE_WORLD:-}" ]; then
  [ -f "$bin/build.ninja" ] || cmake -S . -B "$bin" -G Ninja >/dev/null
  cmake --build "$bin" --target mdmio mdmio-simmodem >/dev/null
fi
modes=${1:-errors kills}
mdmio_enter_private_world "$@"
mdmio_make_private_world
mdmio_attach_modem "$bin/mdmio-simmodem"

record=/var/data/plmnWhitelist/module_0_id
lock=/var/lock/LCK..ttyUSB8
table=/proc/tty/driver/usbserial
reply=$'\r\nOK\r\n\n'
timeout_text=$'\r\nTIMEOUT\r\n\n'
usage='./mdmio <AT command> <Timeout_Sec>'
longest_run=12  # the 3 s time-out, a lock wait of at most 6.1 s, and a margin
work=$(mktemp -d /var/sweep.XXXXXX)
sleep 1000 &
holder=$!
sleep 0 &
dead=$!
wait "$dead" || true

# Errors that fit each call; other calls get EIO and EINTR.
declare -A fitting=(
  [openat]="EACCES EINTR" [read]="EIO EINTR" [write]="ENOSPC EINTR" [close]="EIO"
  [newfstatat]="EACCES EIO" [ioctl]="EIO EINTR" [ppoll]="EINTR ENOMEM"
  [flock]="EINTR ENOLCK" [kill]="EPERM" [unlink]="EIO" [rename]="EIO ENOSPC"
  [fsync]="EIO" [fchmod]="EPERM" [readlink]="EACCES" [clock_nanosleep]="EINTR"
  [getdents64]="EIO EINTR" [lseek]="EIO" [unlinkat]="EIO" [fstat]="EIO"
  [inotify_init1]="EMFILE" [inotify_add_watch]="ENOSPC"
)
# Calls the kernel never fails (brk's injected error glibc misreads besides); a kill
# comes at any of them.
never_fail=" brk getpid rt_sigprocmask exit_group "

# True when an entry of the port's line is left in the lock directory.
queue_left() { compgen -G '/var/lock/.mdmio-queue..*' >/dev/null; }

# The world of one situation, afresh before every run.
setup() {
  find /var/lock /var/data/plmnWhitelist -mindepth 1 -delete
  # What an earlier run left unread on the line would start this run's reply.
  dd if=/dev/ttyUSB8 of=/dev/null iflag=nonblock status=none 2>/dev/null || true
  echo '6: module:option name:"GSM modem (1-port)" vendor:2c7c product:0125 num_ports:1' >"$table"
  case $1 in
    record) rm -f "$table"; echo 2c7c0125 >"$record" ;;
    stale) printf '%10d\n' "$dead" >"$lock" ;;
    held) printf '%10d\n' "$holder" >"$lock" ;;
    queued) printf '%10d\n' "$dead" >/var/lock/.mdmio-queue..ttyUSB8.0000000007 ;;
  esac
}

# "name when first" for every call of a normal run after start-up that the mode can
# hit: `when` counts the calls of that name from the very start, as strace's --inject
# does; `first` is 1 for the calls of the first lock attempt (from the guard's flock to
# the first sleep).
injection_points() {
  strace -f -qq -o "$work/trace" "$bin/mdmio" AT 3 >/dev/null || true
  local never=$never_fail
  [ "$mode" = kills ] && never=
  awk -v never="$never" '
    { name = $2; sub(/\(.*/, "", name); seen[name]++ }
    /rt_sigaction\(SIGPIPE/ { started = 1 }
    started && name == "flock" && attempt == "" { attempt = 1 }
    started && (name == "inotify_init1" || name == "clock_nanosleep" || name == "ppoll") { attempt = 0 }
    started && name != "" && index(never, " " name " ") == 0 { print name, seen[name], attempt == 1 }
  ' "$work/trace"
}

violations=0
report() {  # what broke, for the run just made
  violations=$((violations + 1))
  echo "VIOLATION ($situation, $call #$when = $errno): $1"
  echo "  status $status, stdout $(printf '%q' "$out"), stderr $(printf '%q' "$(cat "$work/err")")"
  echo "  lock $(printf '%q' "$(cat "$lock" 2>/dev/null)"), record $(printf '%q' "$(cat "$record" 2>/dev/null)")"
}

# Runs the tool once with one call failing and checks every promise.
check_run() {
  setup "$situation"
  local before out pid start took
  before=$(cat "$record" 2>/dev/null || echo absent)
  start=$(date +%s%N)
  status=0
  timeout -s KILL 60 strace -f -qq -o "$work/trace" --inject="$call:error=$errno:when=$when" \
    "$bin/mdmio" AT 3 >"$work/out" 2>"$work/err" || status=$?
  took=$(( ($(date +%s%N) - start) / 1000000 ))
  out=$(cat "$work/out"; echo .)  # the dot keeps the trailing newlines
  out=${out%.}
  pid=$(awk 'NR == 1 { print $1 }' "$work/trace")

  [ "$took" -le $((longest_run * 1000)) ] || report "took $took ms"
  [ -s "$work/err" ] && report "wrote to stderr"
  case $status in
    0) [ "$out" = "$reply" ] || [ "$out" = "$timeout_text" ] || report "exit 0 without a reply" ;;
    1) [ "$out" = $'BUSY\n' ] || [ "$out" = "$usage" ] || [ -z "$out" ] || report "exit 1 with other text" ;;
    *) report "exit status $status" ;;
  esac
  if [ "$situation" = held ] && [ "$status" -ne 1 ]; then report "talked over a live holder"; fi

  if [ "$(cat "$lock" 2>/dev/null)" = "$(printf '%10d' "$pid")" ]; then
    if grep -q "unlink(\"$lock\").*(INJECTED)" "$work/trace"; then
      # Its own removal failed: the next run must clear it as stale and succeed.
      "$bin/mdmio" AT 3 >"$work/out" 2>"$work/err" || true
      [ "$(cat "$work/out"; echo .)" = "$reply." ] && [ ! -e "$lock" ] ||
        report "the lock left behind was not cleared by the next run"
    else
      report "left its own lock"
    fi
  fi
  # The record: absent, or one whole line with the ID, or 00000000 where none was before.
  if [ -e "$record" ]; then
    local after
    after=$(cat "$record"; echo .)
    case $after in
      $'2c7c0125\n.') ;;
      $'00000000\n.') [ "$before" = absent ] || report "record $before overwritten with 00000000" ;;
      *) report "record holds $(printf '%q' "${after%.}")" ;;
    esac
  fi
  if queue_left; then
    # Its entry's removal failed, or it died with one: the next run must clear it.
    [ "$situation" = held ] && rm -f "$lock"
    "$bin/mdmio" AT 3 >"$work/out" 2>"$work/err" || true
    [ "$(cat "$work/out"; echo .)" = "$reply." ] && ! queue_left ||
      report "an entry left in the line was not cleared by the next run"
  fi
  check_no_temporary
  return 0
}

check_no_temporary() {
  local left
  left=$(ls -A /var/data/plmnWhitelist | grep -vx module_0_id || true)
  [ -z "$left" ] || report "temporary record file left: $left"
}

# Kills the tool at one call, then runs it once normally and checks what is left.
check_kill() {
  setup "$situation"
  local held_text
  held_text=$(cat "$lock" 2>/dev/null || true)
  # strace dies of the signal its tracee died of; a subshell of its own, silenced, is
  # the one that reports it.
  (timeout -s KILL 60 strace -f -qq -o "$work/trace" --inject="$call:signal=KILL:when=$when" \
    "$bin/mdmio" AT 3 >/dev/null 2>&1 || true) 2>/dev/null
  if [ "$situation" = held ]; then
    [ "$(cat "$lock" 2>/dev/null)" = "$held_text" ] || report "the holder's lock was touched"
    rm -f "$lock"  # the holder is done; the next run may have the port
  fi
  status=0
  "$bin/mdmio" AT 3 >"$work/out" 2>"$work/err" || status=$?
  out=$(cat "$work/out"; echo .)
  out=${out%.}
  [ "$status" -eq 0 ] && [[ $out == *"$reply" ]] || report "the next run did not answer"
  [ -s "$work/err" ] && report "the next run wrote to stderr"
  [ -e "$lock" ] && report "a lock file was left"
  queue_left && report "an entry was left in the line"
  [ "$(cat "$record" 2>/dev/null; echo .)" = $'2c7c0125\n.' ] || report "the record lost the ID"
  check_no_temporary
  return 0
}

declare -A total=([errors]=0 [kills]=0)
for mode in $modes; do
  declare -A sampled=()
  for situation in table record stale queued held; do
    setup "$situation"
    mapfile -t points < <(injection_points)
    tried=0
    before_violations=$violations
    for point in "${points[@]}"; do
      read -r call when first <<<"$point"
      errors=${fitting[$call]:-EIO EINTR}
      # A live holder makes every run wait the whole lock wait: every call of the first
      # lock attempt and the first call of each other name, with one error, is sample
      # enough.
      if [ "$situation" = held ]; then
        [ "$first" -eq 1 ] || [ -z "${sampled[$call]:-}" ] || continue
        sampled[$call]=1
        errors=${errors%% *}
      fi
      [ "$mode" = kills ] && errors=KILL
      for errno in $errors; do
        if [ "$mode" = kills ]; then check_kill; else check_run; fi
        tried=$((tried + 1))
      done
    done
    what="injection points"
    [ "$mode" = kills ] && what="kill points"
    echo "fault sweep, $situation: ${#points[@]} calls after start-up, $tried $what, $((violations - before_violations)) broke a promise"
    total[$mode]=$((total[$mode] + tried))
  done
  unset sampled
done
kill "$holder" "$mdmio_modem_pid" 2>/dev/null || true
echo "fault sweep: ${total[errors]} injection points, ${total[kills]} kill points, $violations broke a promise"
[ "$violations" -eq 0 ]

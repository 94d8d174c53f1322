#!/usr/bin/env bash
# Measures quillmootd, the limit server and ngircd on the same workloads with
# qm_load, on 127.0.0.1 only, and writes the figures and their ratios to
# docs/PERFORMANCE.md. The limit server is a minimal C broadcast server
# (../shared/bench/limitsrv.c, or QM_BENCH_LIMITSRV_SRC) that stands for what
# this machine can do; it is built here, and reported as n/a when missing.
# The console's GUI latency under a login storm is measured by
# qm_console_probe, which runs the console itself (offscreen).
#
# Usage: bench/run.sh [--runs N] [--out FILE] [--only LABELS]
#   --runs N       runs of every measurement, the median is reported (default 1:
#                  one run takes about 15 minutes on 2 cores, mostly ngircd's
#                  5,000 clients in channels, which take it over 5 minutes)
#   --out FILE     where the report goes (default docs/PERFORMANCE.md)
#   --only LABELS  only these measurements, comma-separated labels of the
#                  table below or their names without the digits ("channels"
#                  for channels50 and channels5000; e.g. "--only bridge
#                  --out /tmp/bridge.md"); the others are reported as n/a
# QM_BENCH_DAEMON=PATH measures another daemon binary (it must take --data-dir).
#
# Every server is started afresh for every measurement, so that no run
# inherits memory, nicks or connections from the one before.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=1
out=docs/PERFORMANCE.md
only=""
usage() { echo "usage: bench/run.sh [--runs N] [--out FILE] [--only LABELS]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    *) usage ;;
  esac
done
# selected LABEL: whether --only leaves that measurement in, by its label or
# by the label without its digits.
selected() { [ -z "$only" ] || [[ ",$only," == *",$1,"* || ",$only," == *",${1%%[0-9]*},"* ]]; }

say() { echo "run.sh: $*" >&2; }

# --- packages ---------------------------------------------------------------
if [ -x scripts/install-deps.sh ]; then scripts/install-deps.sh; fi
if ! dpkg-query -W -f='${Status}' ngircd 2>/dev/null | grep -q "install ok installed"; then
  if [ "$(id -u)" -ne 0 ]; then
    say "ngircd is missing. Run as root:"
    echo "  apt-get update && apt-get install -y ngircd" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends ngircd
fi
NGIRCD=$(command -v ngircd || echo /usr/sbin/ngircd)

# --- build ------------------------------------------------------------------
tmp=$(mktemp -d /tmp/qm-bench.XXXXXX)
daemon=${QM_BENCH_DAEMON:-}
daemon_problem=""
probe=""
probe_problem="the project does not build"
say "building (Release) into build-bench/"
if cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >"$tmp/build.log" 2>&1 &&
   cmake --build build-bench --target qm_load >>"$tmp/build.log" 2>&1; then
  load=build-bench/bench/qm_load
  if [ -z "$daemon" ]; then
    if cmake --build build-bench --target quillmootd >>"$tmp/build.log" 2>&1; then
      daemon=build-bench/quillmootd
    else
      daemon_problem="quillmootd does not build"
    fi
  fi
  # Qt and the console take a while to build; only when they are measured.
  if selected console; then
    if cmake --build build-bench --target qm_console_probe >>"$tmp/build.log" 2>&1; then
      probe=build-bench/bench/qm_console_probe
    else
      probe_problem="qm_console_probe does not build"
      say "$probe_problem (log below)"
      tail -20 "$tmp/build.log" >&2
    fi
  fi
else
  # The load tool also builds on its own, so ngircd can be measured while the
  # daemon does not build.
  daemon_problem="the project does not build"
  cmake -S bench -B build-bench-load -G Ninja -DCMAKE_BUILD_TYPE=Release >>"$tmp/build.log" 2>&1
  cmake --build build-bench-load >>"$tmp/build.log" 2>&1
  load=build-bench-load/qm_load
fi
if [ -n "$daemon_problem" ]; then
  say "$daemon_problem (log below); measuring the peer servers only"
  tail -20 "$tmp/build.log" >&2
fi
limit_src=${QM_BENCH_LIMITSRV_SRC:-../shared/bench/limitsrv.c}
limitsrv=""
limit_problem=""
if [ ! -f "$limit_src" ]; then
  limit_problem="$limit_src is missing"
elif cc -O2 -o "$tmp/limitsrv" "$limit_src" >>"$tmp/build.log" 2>&1; then
  limitsrv=$tmp/limitsrv
else
  limit_problem="$limit_src does not build"
fi
[ -z "$limit_problem" ] || say "$limit_problem; the limit server is reported as n/a"

# --- limits -----------------------------------------------------------------
# 10,000 clients and a server with as many sockets need a high open-files
# limit; the servers inherit it from this shell.
hard=$(ulimit -Hn)
if [ "$hard" != unlimited ] && [ "$hard" -lt 65536 ]; then ulimit -Hn 65536 2>/dev/null || true; fi
ulimit -Sn "$(ulimit -Hn)"
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt 20100 ]; then
  say "warning: open-files limit $(ulimit -n) is too low for 10,000 connections"
fi

# --- servers ----------------------------------------------------------------
server_pid=""
server_port=""
# The bridge's IRC server, beside quillmootd.
peer_pid=""
peer_port=""
# The IRC link's pacing in the bridge measurement: at most 5 lines at once,
# then one line per this many ms. The bridge sends well inside it.
bridge_interval_ms=100
cleanup() {
  stop_server
  exec 3>&- 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The servers read a console on stdin: a FIFO that this script holds open
# gives them one that neither ends nor blocks.
mkfifo "$tmp/console"
exec 3<>"$tmp/console"

free_port() {
  local port
  while :; do
    port=$((10000 + RANDOM % 20000))
    ss -Htan "sport = :$port" | grep -q . || { echo "$port"; return; }
  done
}

wait_listening() {  # port pid
  for _ in $(seq 100); do
    kill -0 "$2" 2>/dev/null || return 1
    ss -Htln "sport = :$1" | grep -q . && return 0
    sleep 0.1
  done
  return 1
}

# The daemon's preference file. Every load comes from 127.0.0.1 and logs in
# by the thousand, so the cap on logins in progress from one address is off;
# start_bridge adds the link's values in bridge_prefs.
write_quillmoot_prefs() {
  mkdir -p "$tmp/xdg/Quillmoot"
  printf '%s\n' MaxLoginsPerAddress=0 ${bridge_prefs:+"$bridge_prefs"} >"$tmp/xdg/Quillmoot/preferences"
}

start_quillmoot() {  # [daemon options...]
  server_port=$(free_port)
  rm -rf "$tmp/qm-data"
  mkdir -p "$tmp/qm-data"
  cp -r data/. "$tmp/qm-data/"
  # qmserv.dat: line 1 the port, line 2 the most connections it accepts.
  local lines=() i
  if [ -f "$tmp/qm-data/qmserv.dat" ]; then mapfile -t lines < <(tr -d '\r' <"$tmp/qm-data/qmserv.dat"); fi
  local defaults=(21 10 "Welcome.  Please type /help for assistance"
                  "Sorry.  All connections full.  Please try again later" 5)
  for i in 0 1 2 3 4; do [ -n "${lines[$i]:-}" ] || lines[$i]=${defaults[$i]}; done
  lines[0]=$server_port
  lines[1]=20000
  printf '%s\r\n' "${lines[@]}" >"$tmp/qm-data/qmserv.dat"
  write_quillmoot_prefs
  XDG_CONFIG_HOME=$tmp/xdg "$daemon" --data-dir "$tmp/qm-data" "$@" <&3 >/dev/null 2>"$tmp/quillmootd.err" &
  server_pid=$!
  if ! wait_listening "$server_port" "$server_pid"; then
    say "quillmootd did not start listening on port $server_port:"
    tail -5 "$tmp/quillmootd.err" >&2
    stop_server
    return 1
  fi
}

launch_ngircd() {  # port; sets ngircd_pid
  sed -e "s/@PORT@/$1/" -e "s#@PIDFILE@#$tmp/ngircd.pid#" bench/ngircd.conf.in >"$tmp/ngircd.conf"
  # -n keeps it in the foreground, so $! is the server itself. Started as
  # root it switches to the user "nobody" by itself.
  "$NGIRCD" -n -f "$tmp/ngircd.conf" <&3 >"$tmp/ngircd.log" 2>&1 &
  ngircd_pid=$!
  wait_listening "$1" "$ngircd_pid" && return 0
  say "ngircd did not start listening on port $1:"
  tail -5 "$tmp/ngircd.log" >&2
  kill "$ngircd_pid" 2>/dev/null || true
  wait "$ngircd_pid" 2>/dev/null || true
  return 1
}

start_limit() {
  server_port=$(free_port)
  "$limitsrv" "$server_port" <&3 >/dev/null 2>"$tmp/limitsrv.err" &
  server_pid=$!
  wait_listening "$server_port" "$server_pid" && return 0
  say "the limit server did not start listening on port $server_port:"
  tail -5 "$tmp/limitsrv.err" >&2
  stop_server
  return 1
}

start_ngircd() {
  server_port=$(free_port)
  launch_ngircd "$server_port" || return 1
  server_pid=$ngircd_pid
}

# quillmootd with its IRC link, and ngircd for the link to talk to. The
# daemon starts first and finds no IRC server: its link joins only when it
# tries again two seconds later, once qm_load has read the daemon's memory
# without the link.
start_bridge() {
  peer_port=$(free_port)
  bridge_prefs=$(printf '%s\n' Server=127.0.0.1 "Port=$peer_port" "Channel=#bench" Nick=qmlink \
    "IrcSendInterval=$bridge_interval_ms")
  start_quillmoot --irc || { bridge_prefs=; return 1; }
  bridge_prefs=
  launch_ngircd "$peer_port" || { stop_server; return 1; }
  peer_pid=$ngircd_pid
}

stop_server() {
  local pid
  for pid in "$server_pid" "$peer_pid"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  server_pid=""
  peer_pid=""
}

# --- measurements -----------------------------------------------------------
# Every measurement: label, timeout in seconds, then qm_load's scenario options.
measurements=(
  "fanout500|120|--scenario fanout --clients 500 --lines 20"
  "fanout50|120|--scenario fanout --clients 50 --lines 200"
  "rate2000|60|--scenario rate --clients 50 --rate 2000 --duration 5"
  "idle2000|120|--scenario idle --clients 2000"
  "idle10000|300|--scenario idle --clients 10000"
  "login10|180|--scenario login --clients 2000 --inflight 10"
  "loginall|180|--scenario login --clients 2000 --inflight 0"
  "channels50|120|--scenario channels --clients 50 --lines 100"
  "channels5000|900|--scenario channels --clients 5000 --lines 100"
  "growth|600|--scenario growth --clients 10000 --inflight 100 --step 1000"
  "bridge|90|--scenario bridge --clients 50 --irc-clients 50 --rate 4 --duration 20"
  "console|120|--clients 2000 --inflight 0"
)
if [ -n "$only" ]; then
  for label in ${only//,/ }; do
    printf '%s\n' "${measurements[@]}" | grep -q "^${label}[0-9]*|" || { say "no measurement named $label"; usage; }
  done
fi
results=$tmp/results.txt
failures=$tmp/failures.txt
: >"$results"
: >"$failures"
nick_serial=0

measure() {  # server label timeout options...
  local server=$1 label=$2 timeout=$3
  shift 3
  local proto=quillmoot extra=() up=true
  if [ "$server" = ngircd ]; then
    proto=irc
    # An IRC client that only registers is the idle counterpart of a
    # Quillmoot login; IRC nicks are at most 9 characters. In the growth
    # of the channel ngircd only registers too: its JOIN answers with the
    # whole member list and it keeps the members in a list, so 10,000
    # joins would take it far longer than the run may.
    case $label in idle* | growth) extra=(--no-join) ;; esac
    start_ngircd || up=false
  elif [ "$server" = limit ]; then
    start_limit || up=false
  elif [ "$label" = bridge ]; then
    start_bridge || up=false
    extra=(--irc-port "$peer_port")
  else
    start_quillmoot || up=false
  fi
  $up || { echo "$server $label: the server did not start" >>"$failures"; return; }
  nick_serial=$((nick_serial + 1))
  # Logins ten at a time before a measurement: ngircd's listen backlog is 10,
  # and more at once only waits on SYN retries.
  local inflight=(--inflight 10)
  # quillmootd and the limit server announce every login to the whole
  # channel; ten at a time, 10,000 idle clients would take minutes to gather.
  [ "$server" != ngircd ] && case $label in idle*) inflight=(--inflight 200) ;; esac
  case " $* " in *" --inflight "*) inflight=() ;; esac
  local line
  if line=$("$load" --proto "$proto" --port "$server_port" --server-pid "$server_pid" \
              --timeout "$timeout" --nick-prefix "b${nick_serial}x" "${inflight[@]}" "${extra[@]}" "$@" \
              2>"$tmp/load.err"); then
    echo "server=$server label=$label $line" >>"$results"
    say "$server $label: $line"
  else
    echo "$server $label: $(tail -1 "$tmp/load.err")" >>"$failures"
    say "$server $label FAILED: $(tail -1 "$tmp/load.err")"
  fi
  stop_server
}

# The console: qm_console_probe runs the core and the windows in one process,
# with its own clients; no server is started for it, and ngircd has no
# counterpart.
measure_console() {  # label timeout options...
  local label=$1 timeout=$2
  shift 2
  if [ -z "$probe" ]; then
    echo "quillmoot $label: $probe_problem" >>"$failures"
    return
  fi
  nick_serial=$((nick_serial + 1))
  local line
  # The probe's own --timeout covers the logins; this one a GUI that never returns.
  if line=$(QT_QPA_PLATFORM=offscreen timeout "$((timeout + 60))" "$probe" --timeout "$timeout" \
              --nick-prefix "b${nick_serial}x" "$@" 2>"$tmp/load.err"); then
    echo "server=quillmoot label=$label $line" >>"$results"
    say "quillmoot $label: $line"
  else
    echo "quillmoot $label: $(tail -1 "$tmp/load.err")" >>"$failures"
    say "quillmoot $label FAILED: $(tail -1 "$tmp/load.err")"
  fi
}

servers=()
[ -n "$daemon" ] && servers+=(quillmoot)
[ -n "$limitsrv" ] && servers+=(limit)
servers+=(ngircd)
started=$(date +%s)
for run in $(seq "$runs"); do
  for m in "${measurements[@]}"; do
    IFS='|' read -r label timeout options <<<"$m"
    selected "$label" || continue
    if [ "$label" = console ]; then
      say "run $run/$runs: $label"
      # shellcheck disable=SC2086  # the options are words
      measure_console "$label" "$timeout" $options
      continue
    fi
    for server in "${servers[@]}"; do
      # The IRC link is quillmootd's own; the peers have no counterpart.
      [ "$label" = bridge ] && [ "$server" != quillmoot ] && continue
      say "run $run/$runs: $server $label"
      # shellcheck disable=SC2086  # the options are words
      measure "$server" "$label" "$timeout" $options
    done
  done
done
elapsed=$(( $(date +%s) - started ))

# --- report -----------------------------------------------------------------
# median SERVER LABEL KEY: the median of that figure over the runs, or nothing.
median() {
  awk -v s="server=$1" -v l="label=$2" -v k="$3" '
    $1 == s && $2 == l { for (i = 3; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) v[n++] = kv[2] } }
    END {
      if (n == 0) exit
      for (i = 0; i < n; i++) for (j = i + 1; j < n; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
      print (n % 2) ? v[int(n / 2)] : (v[n / 2 - 1] + v[n / 2]) / 2
    }' "$results"
}

# fmt VALUE SCALE DECIMALS: VALUE divided by SCALE, or "n/a".
fmt() { [ -n "$1" ] && awk -v v="$1" -v s="$2" -v d="$3" 'BEGIN { printf "%.*f", d, v / s }' || echo "n/a"; }

ratio() {  # A B: A / B, or "n/a"
  [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "n/a"; else printf "%.2f", a / b }' || echo "n/a"
}

# table_head TITLE: the head of a table of the three servers.
table_head() {
  echo "| $1 | quillmootd | limit server | ngircd | ÷ limit | ÷ ngircd | target |"
  echo "|---|---|---|---|---|---|---|"
}

# row TITLE LABEL KEY SCALE DECIMALS TARGET: the three servers' figures and
# quillmootd's over the limit server's and over ngircd's.
row() {
  local q l n
  q=$(median quillmoot "$2" "$3")
  l=$(median limit "$2" "$3")
  n=$(median ngircd "$2" "$3")
  echo "| $1 | $(fmt "$q" "$4" "$5") | $(fmt "$l" "$4" "$5") | $(fmt "$n" "$4" "$5") | $(ratio "$q" "$l") | $(ratio "$q" "$n") | $6 |"
}

# within_row TITLE LABEL_A KEY_A LABEL_B KEY_B TARGET: for each server, its
# figure A over its figure B (how its cost grows from one load to another).
within_row() {
  local cells="" s
  for s in quillmoot limit ngircd; do
    cells+=" $(ratio "$(median "$s" "$2" "$3")" "$(median "$s" "$4" "$5")") |"
  done
  echo "| $1 |$cells | | $6 |"
}

# solo_row TITLE LABEL KEY SCALE DECIMALS TARGET: quillmoot's figure only.
solo_row() {
  echo "| $1 | $(fmt "$(median quillmoot "$2" "$3")" "$4" "$5") | $6 |"
}

# The optimisation log is written by hand: it survives a new report. The
# failures after it belong to the report it came with.
history=""
[ -f "$out" ] && history=$(awk '/^## Failed measurements/ { exit } /^## Optimisation log/ { on = 1 } on' "$out")
{
  echo "# Performance"
  echo
  echo "Quillmoot's daemon, the limit server and the IRC server ngircd under the same"
  echo "loads, driven by \`qm_load\` (bench/) from one process over 127.0.0.1. The"
  echo "limit server (shared/bench/limitsrv.c, about 130 lines of C on epoll: one"
  echo "member array per channel, one write per client per loop turn) stands for"
  echo "what this machine can do. Reproduce with:"
  echo
  echo '```'
  echo "bench/run.sh"
  echo '```'
  echo
  echo "It installs what is missing, builds in Release, starts each server afresh for"
  echo "every measurement (quillmootd on a copy of data/, the limit server built with"
  echo "\`cc -O2\`, ngircd with bench/ngircd.conf.in, whose per-IP, join and penalty"
  echo "limits are lifted) and"
  if [ "$runs" -eq 1 ]; then echo "reports one run (\`--runs 3\` for medians of three)."
  else echo "reports the median of $runs runs."; fi
  echo "Ratios are quillmootd's figure over the limit server's (÷ limit) and over"
  echo "ngircd's (÷ ngircd): above 1 is better for rates, below 1 is better for"
  echo "times, CPU and memory."
  echo
  echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"
  echo "Linux $(uname -r), $("$NGIRCD" --version 2>/dev/null | head -1 | cut -d- -f1)."
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC'), $elapsed s for all runs."
  if [ -n "$daemon_problem" ]; then
    echo
    echo "**quillmootd was not measured in this run: $daemon_problem.**"
  fi
  if [ -n "$limit_problem" ]; then
    echo
    echo "**The limit server was not measured in this run: $limit_problem.**"
  fi
  echo
  echo "## Fan-out"
  echo
  echo "N clients in one channel each send M lines as fast as the server takes them."
  echo "A delivery is one chat line received by one client (ngircd does not send a"
  echo "line back to its sender, quillmootd and the limit server do). Latency: from the send time"
  echo "carried in the line to its receipt, over all deliveries."
  echo
  table_head "N=500, M=20"
  row "deliveries per second (M)" fanout500 deliveries_per_s 1e6 2 "≥ 1.5 × ngircd"
  row "server CPU per delivery (µs)" fanout500 server_cpu_us_per_delivery 1 3 "≤ 0.2 µs"
  row "latency p50 (ms)" fanout500 p50_ms 1 1 ""
  row "latency p99 (ms)" fanout500 p99_ms 1 1 ""
  echo
  table_head "N=50, M=200"
  row "deliveries per second (M)" fanout50 deliveries_per_s 1e6 2 ""
  row "server CPU per delivery (µs)" fanout50 server_cpu_us_per_delivery 1 3 ""
  row "latency p50 (ms)" fanout50 p50_ms 1 1 ""
  row "latency p99 (ms)" fanout50 p99_ms 1 1 ""
  echo
  echo "## Steady load"
  echo
  echo "N=50 clients take turns to send 2,000 lines per second in total for 5 s."
  echo
  table_head "2,000 lines/s, N=50"
  row "latency p50 (ms)" rate2000 p50_ms 1 2 ""
  row "latency p99 (ms)" rate2000 p99_ms 1 2 "≤ 10 ms"
  row "server CPU per delivery (µs)" rate2000 server_cpu_us_per_delivery 1 2 ""
  echo
  echo "## Idle memory"
  echo
  echo "Growth of the server's resident memory (VmRSS) from before the first"
  echo "connection to N logged-in idle clients (quillmootd and the limit server: in"
  echo "the main channel; ngircd: registered, in no channel), divided by N."
  echo
  table_head "KiB per connection"
  row "N=2,000" idle2000 kib_per_conn 1 2 ""
  row "N=10,000" idle10000 kib_per_conn 1 2 "≤ 2 KiB"
  echo
  echo "## Login rate"
  echo
  echo "2,000 clients connect and log in until they are in the main channel"
  echo "(ngircd: registered and through JOIN's end of NAMES), and stay connected."
  echo
  table_head "logins per second"
  row "10 at a time" login10 logins_per_s 1 0 "≥ 500/s"
  row "all at once" loginall logins_per_s 1 0 "≥ 7,000/s and ≥ 0.8 × limit"
  echo
  echo "## Channels"
  echo
  echo "N clients in channels of 10 (client n in channel c<n/10>: quillmootd and the"
  echo "limit server \"/j c<k>\", ngircd JOIN #c<k>) each send M=100 lines as fast as"
  echo "the server takes them, as in the fan-out. A line reaches the 10 members of"
  echo "its channel (9 on ngircd, which does not echo it), so the work per line is the"
  echo "same at 50 clients as at 5,000: a server whose cost per delivery grows with N"
  echo "walks more than the channel. Server CPU: the process's CPU-time clock (all"
  echo "threads) from the first line sent to the last delivery. Busy is that CPU"
  echo "time over the time passed: where the server and the load generator are both"
  echo "near 1.00 on this machine's two cores, neither waits for the other, and CPU"
  echo "per delivery is time per delivery, set by the slower of the two."
  echo
  table_head "N=50 in 5 channels of 10"
  row "deliveries per second (M)" channels50 deliveries_per_s 1e6 2 ""
  row "server CPU per delivery (µs)" channels50 server_cpu_us_per_delivery 1 3 ""
  row "server busy (CPU time ÷ time)" channels50 server_busy 1 2 ""
  row "load generator busy" channels50 client_busy 1 2 ""
  row "latency p50 (ms)" channels50 p50_ms 1 1 ""
  row "latency p99 (ms)" channels50 p99_ms 1 1 ""
  echo
  table_head "N=5,000 in 500 channels of 10"
  row "deliveries per second (M)" channels5000 deliveries_per_s 1e6 2 "≥ 0.8 × limit"
  row "server CPU per delivery (µs)" channels5000 server_cpu_us_per_delivery 1 3 ""
  row "server busy (CPU time ÷ time)" channels5000 server_busy 1 2 ""
  row "load generator busy" channels5000 client_busy 1 2 ""
  row "latency p50 (ms)" channels5000 p50_ms 1 1 ""
  row "latency p99 (ms)" channels5000 p99_ms 1 1 ""
  within_row "CPU per delivery, N=5,000 ÷ N=50" channels5000 server_cpu_us_per_delivery \
    channels50 server_cpu_us_per_delivery "≤ 1.5"
  echo
  echo "## Login growth"
  echo
  echo "10,000 clients log in, 100 at a time, and stay in the main channel; the rate"
  echo "is taken for each thousand logins (from the login that completed the previous"
  echo "thousand to the one that completes this one), so that the rows show whether a"
  echo "login costs the same in a full channel as in an empty one. Each login is"
  echo "announced to everyone in the channel, the newcomer included, so thousand k"
  echo "brings about 1,000 × 1,000 × (k − ½) notices, 50,005,000 in all; a notice is"
  echo "counted when a client receives it. Server CPU per notice: the server's"
  echo "CPU-time clock over that thousand, divided by the notices received in it."
  echo "ngircd only registers here (no JOIN), so it delivers no notices: its rates"
  echo "are for registration alone. Its listen backlog of 10 makes 100 connects at"
  echo "once wait on SYN retries."
  echo
  table_head "logins per second"
  row "all 10,000" growth logins_per_s 1 0 "≥ 0.8 × limit"
  for k in $(seq 10); do
    row "thousand $k" growth "step${k}_logins_per_s" 1 0 "≥ 0.8 × limit"
  done
  echo
  table_head "server CPU per notice (µs)"
  for k in $(seq 10); do
    row "thousand $k" growth "step${k}_server_cpu_us_per_notice" 1 4 ""
  done
  within_row "thousand 10 ÷ thousand 1" growth step10_server_cpu_us_per_notice \
    growth step1_server_cpu_us_per_notice "≤ 1.5"
  echo
  echo "## IRC bridge"
  echo
  echo "quillmootd with its IRC link (\`--irc\`, link nick qmlink) on an ngircd: N=50"
  echo "chat users in the bridged channel \"IRC\", M=50 IRC clients in #bench, which"
  echo "the link joins. For 20 s a chat user's line and, 125 ms later, an IRC"
  echo "client's line cross the link every 250 ms: 4 lines/s each way, inside the"
  echo "link's pacing (a burst of 5, then one line per IrcSendInterval = ${bridge_interval_ms} ms)."
  echo "Latency: from the send time carried in the line to its receipt on the other"
  echo "side. Deliveries: lines × receivers (80 × 50 each way); a run that misses any"
  echo "fails. Link memory: growth of the daemon's VmRSS from before the link joined"
  echo "(chat users already in) to after the run. The peers have no counterpart."
  echo
  echo "| N=50, M=50 | quillmootd | target |"
  echo "|---|---|---|"
  solo_row "chat → IRC latency p50 (ms)" bridge to_irc_p50_ms 1 2 ""
  solo_row "chat → IRC latency p99 (ms)" bridge to_irc_p99_ms 1 2 ""
  solo_row "chat → IRC deliveries" bridge to_irc_deliveries 1 0 ""
  solo_row "IRC → chat latency p50 (ms)" bridge to_chat_p50_ms 1 2 ""
  solo_row "IRC → chat latency p99 (ms)" bridge to_chat_p99_ms 1 2 ""
  solo_row "IRC → chat deliveries" bridge to_chat_deliveries 1 0 ""
  solo_row "link memory (KiB)" bridge link_kib 1 0 ""
  echo
  echo "## Console responsiveness"
  echo
  echo "The console program's core and its seven windows in one process"
  echo "(\`qm_console_probe\`, bench/; the main window shown on Qt's offscreen"
  echo "platform), while 2,000 clients of the same process log in all at once over"
  echo "127.0.0.1 and stay connected. Every 10 ms a thread of the probe posts a"
  echo "time-stamped call to the GUI thread; its delay is the time until the call"
  echo "runs. Sampling starts with the first login and goes on for 2 s after the"
  echo "last, so that what the storm left queued for the GUI counts too. The"
  echo "target: every call runs within 100 ms of being posted. The log view keeps"
  echo "at most 5,000 lines. Peak memory is the whole process's peak resident set"
  echo "(core, windows and the 2,000 clients). The peers have no counterpart."
  echo
  echo "| 2,000 logins, all at once | quillmoot | target |"
  echo "|---|---|---|"
  solo_row "GUI event delay p50 (ms)" console gui_p50_ms 1 3 ""
  solo_row "GUI event delay p99 (ms)" console gui_p99_ms 1 3 ""
  solo_row "GUI event delay max (ms)" console gui_max_ms 1 3 "≤ 100 ms"
  solo_row "GUI events sampled" console gui_samples 1 0 ""
  solo_row "logins per second" console logins_per_s 1 0 ""
  solo_row "log lines received" console log_lines 1 0 ""
  solo_row "log view lines at the end" console log_blocks 1 0 "≤ 5,000"
  solo_row "peak memory (MiB)" console rss_peak_kib 1024 1 ""
  echo
  echo "## Every run"
  echo
  echo "The result lines of qm_load and qm_console_probe, as measured:"
  echo
  echo '```'
  cat "$results"
  echo '```'
  if [ -n "$history" ]; then
    echo
    echo "$history"
  fi
  if [ -s "$failures" ]; then
    echo
    echo "## Failed measurements"
    echo
    echo '```'
    cat "$failures"
    echo '```'
  fi
} >"$out"
say "wrote $out"
[ -s "$failures" ] && { say "some measurements failed:"; cat "$failures" >&2; exit 1; }
exit 0

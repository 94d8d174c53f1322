#!/usr/bin/env bash
# The real telnet client against the daemon, typed into a tmux pane.
#
# Checks what a user sees: every typed line shows up once (the server's echo
# is the only one, no "hheelllloo"), chat comes back framed, and Ctrl-C does
# not freeze telnet. In line mode telnet turns Ctrl-C into IAC IP IAC DO
# TIMING-MARK and throws away everything the server sends until the
# timing-mark is answered; the line typed afterwards only gets its reply
# when the server answers.
#
# Usage: telnet_client_test.sh <path-to-quillmootd> <source-dir>
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 <path-to-quillmootd> <source-dir>" >&2
    exit 2
fi
daemon=$(realpath "$1")
source_dir=$(realpath "$2")
for tool in telnet tmux ss; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 0; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-telnet.XXXXXX")
sock="qm-telnet-$$"
daemon_pid=""
step_timeout=10

tm() { tmux -L "$sock" -f /dev/null "$@"; }

cleanup() {
    tm kill-server 2>/dev/null || true
    if [[ -n $daemon_pid ]] && kill -0 "$daemon_pid" 2>/dev/null; then
        kill -KILL "$daemon_pid" 2>/dev/null || true
        wait "$daemon_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM HUP

screen() { tm capture-pane -p -J -S - -t main 2>/dev/null | sed 's/[[:space:]]*$//'; }

fail() {
    echo "FAIL: $*" >&2
    echo "--- telnet screen ---" >&2
    screen >&2 || true
    echo "--- daemon output (last 40 lines) ---" >&2
    tail -n 40 "$work/daemon.log" >&2 || true
    exit 1
}

daemon_alive() { [[ -n $daemon_pid ]] && kill -0 "$daemon_pid" 2>/dev/null; }

# Waits until a screen line matches the extended regex, at most step_timeout.
wait_for_line() {
    local pattern=$1 what=$2 deadline=$((SECONDS + step_timeout))
    while ((SECONDS < deadline)); do
        if grep -Eq -- "$pattern" <<<"$(screen)"; then return 0; fi
        daemon_alive || fail "daemon died while waiting for $what"
        sleep 0.1
    done
    fail "no $what on the screen within ${step_timeout}s"
}

# Number of screen lines exactly equal to the text.
count_lines() { grep -cxF -- "$1" <<<"$(screen)" || true; }

type_line() {
    tm send-keys -t main -l -- "$1"
    tm send-keys -t main Enter
}

telnet_command() {
    tm send-keys -t main C-]
    wait_for_line '^telnet> ?$' "telnet command prompt"
    type_line "$1"
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' \
        2>/dev/null || echo $((20000 + RANDOM % 20000))
}

listening() { [[ -n $(ss -Hltn "sport = :$1" 2>/dev/null) ]]; }

# --- a fresh data directory and a daemon on a free port ---------------------
[[ -f $source_dir/data/qmserv.dat ]] || fail "no data/qmserv.dat in $source_dir"
mkdir "$work/data"
cp -R "$source_dir/data/." "$work/data/"
welcome=$(sed -n '3{s/\r$//;p;q}' "$work/data/qmserv.dat")

port=""
for attempt in 1 2 3 4 5; do
    candidate=$(free_port)
    sed -i "1s/^[^\r]*/$candidate/" "$work/data/qmserv.dat"
    (cd "$work" && exec "$daemon" --data-dir "$work/data") >"$work/daemon.log" 2>&1 &
    daemon_pid=$!
    deadline=$((SECONDS + step_timeout))
    while ((SECONDS < deadline)) && daemon_alive && ! listening "$candidate"; do sleep 0.1; done
    if listening "$candidate" && daemon_alive; then
        port=$candidate
        break
    fi
    if daemon_alive; then fail "daemon does not listen on port $candidate"; fi
    wait "$daemon_pid" 2>/dev/null || true
    daemon_pid=""
    echo "attempt $attempt: daemon did not start on port $candidate, trying another" >&2
done
[[ -n $port ]] || fail "daemon did not start"

# --- log in with telnet ------------------------------------------------------
nick="Tel$$"
text="quill moot $RANDOM echo test"
after_interrupt="after ctrl c $RANDOM"
after_timing_mark="after timing mark $RANDOM"

tm new-session -d -s main -x 200 -y 60 "telnet 127.0.0.1 $port"
wait_for_line '^Announcements:' "announcements"
wait_for_line '^Nickname:' "nickname prompt"
type_line "$nick"
if [[ -n $welcome ]]; then
    wait_for_line "^$(printf '%s' "$welcome" | sed 's/[][\.*^$(){}?+|/]/\\&/g')\$" "welcome line"
fi

# --- character mode: one echo only ------------------------------------------
type_line "$text"
wait_for_line "^<$nick> $text\$" "framed chat line"
echoed=$(count_lines "$text")
framed=$(count_lines "<$nick> $text")
doubled=$(sed 's/./&&/g' <<<"$text")
[[ $echoed -eq 1 ]] || fail "typed line shown $echoed times instead of once"
[[ $framed -eq 1 ]] || fail "framed line shown $framed times instead of once"
if grep -qF -- "${doubled:0:10}" <<<"$(screen)"; then fail "echo is doubled"; fi
[[ $(count_lines "$nick") -le 1 ]] || fail "nickname echoed more than once"

# --- Ctrl-C in character mode reaches the server as data; telnet carries on --
tm send-keys -t main C-c
type_line "$after_interrupt"
wait_for_line "^<$nick> .*$after_interrupt\$" "reply after Ctrl-C"

# --- Ctrl-C in line mode: IAC IP, IAC DO TIMING-MARK --------------------------
telnet_command "mode line"
sleep 0.5
tm send-keys -t main C-c
sleep 0.5
type_line "$after_timing_mark"
wait_for_line "^<$nick> $after_timing_mark\$" "reply after Ctrl-C in line mode (telnet frozen?)"

# --- quit telnet, stop the daemon -------------------------------------------
telnet_command "quit"
deadline=$((SECONDS + step_timeout))
while ((SECONDS < deadline)) && tm has-session -t main 2>/dev/null; do sleep 0.1; done
tm has-session -t main 2>/dev/null && fail "telnet did not quit"

kill -TERM "$daemon_pid"
deadline=$((SECONDS + step_timeout))
while ((SECONDS < deadline)) && daemon_alive; do sleep 0.1; done
daemon_alive && fail "daemon still running ${step_timeout}s after SIGTERM"
status=0
wait "$daemon_pid" || status=$?
daemon_pid=""
[[ $status -eq 0 ]] || fail "daemon exited with status $status after SIGTERM"

echo "PASS: telnet shows each line once, survives Ctrl-C, daemon stopped cleanly"

#!/usr/bin/env bash
# Builds the Debian packages, installs the daemon's, and checks it as an
# operator would meet it: the binary and its version, the unit (systemd's
# own verification and its security exposure), one start as the service user
# on a free loopback port with a scratch data directory, and a purge that
# takes the user and the data away. Needs root; leaves the machine as it
# found it (the package purged).
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "package-test: $*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root (it installs and purges the package)"
mapfile -t debs < <(scripts/package.sh)
daemon_deb=""
for deb in "${debs[@]}"; do [[ $(basename "$deb") == quillmoot_*_amd64.deb ]] && daemon_deb=$deb; done
[ -n "$daemon_deb" ] || fail "no quillmoot_<version>_amd64.deb was built"
say "built ${debs[*]}"

scratch=$(mktemp -d /tmp/qm-package.XXXXXX)
chmod 755 "$scratch"  # the service user reaches its data directory inside
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$scratch"
  if dpkg-query -W -f='${Status}' quillmoot 2>/dev/null | grep -q "installed"; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillmoot >/dev/null || true
  fi
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$daemon_deb" >/dev/null
version=$(dpkg-query -W -f='${Version}' quillmoot)
[ "$(/usr/sbin/quillmootd --version)" = "quillmootd $version" ] || fail "quillmootd --version: $(/usr/sbin/quillmootd --version)"
getent passwd quillmoot >/dev/null || fail "the system user quillmoot was not created"
[ -d /var/lib/quillmoot ] || fail "/var/lib/quillmoot was not created"
[ "$(stat -c %U /var/lib/quillmoot)" = quillmoot ] || fail "/var/lib/quillmoot is not the service user's"
[ -f /usr/share/man/man8/quillmootd.8.gz ] || fail "the man page is missing"
say "installed $version: /usr/sbin/quillmootd, user quillmoot, /var/lib/quillmoot, quillmootd(8)"

unit=/lib/systemd/system/quillmootd.service
systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 | tail -1)
say "$exposure"
# "→ Overall exposure level for quillmootd.service: 1.9 OK 🙂"
level=$(sed -E 's/.*: [0-9.]+ ([A-Z]+).*/\1/' <<<"$exposure")
case $level in SAFE | OK) ;; *) fail "exposure level $level, not OK or better" ;; esac

# One start as the service user, on a free port, seeded from the package's
# defaults the way the service is on its first start.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
data=$scratch/data
install -d -o quillmoot -g quillmoot -m 0750 "$data"
cp /usr/share/quillmoot/qmserv.dat "$scratch/qmserv.dat"
{ echo "$port"; tail -n +2 "$scratch/qmserv.dat" | tr -d '\r'; } | sed 's/$/\r/' >"$data/qmserv.dat"
for f in /usr/share/quillmoot/*; do [ -e "$data/$(basename "$f")" ] || cp "$f" "$data/"; done
chown -R quillmoot:quillmoot "$data"
XDG_CONFIG_HOME=$data setpriv --reuid=quillmoot --regid=quillmoot --init-groups \
  /usr/sbin/quillmootd --data-dir "$data" --defaults-dir /usr/share/quillmoot >"$scratch/out" 2>"$scratch/err" &
server_pid=$!
greeting=""
for _ in $(seq 50); do
  greeting=$(timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port && timeout 1 cat <&3" 2>/dev/null | tr -d '\r' || true)
  [[ $greeting == *"Nickname: "* ]] && break
  sleep 0.1
done
[[ $greeting == *"Nickname: "* ]] || fail "no nickname prompt on port $port; log: $(tail -3 "$scratch/out") $(cat "$scratch/err")"
kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=""
[ "$status" -eq 0 ] || fail "quillmootd exited with $status after SIGTERM: $(cat "$scratch/err")"
[ "$(stat -c %U "$data/user.dat")" = quillmoot ] || fail "user.dat is not the service user's"
say "started as quillmoot on port $port, greeted a client, ended with 0 on SIGTERM"

apt-get purge -y -qq quillmoot >/dev/null
! getent passwd quillmoot >/dev/null || fail "purge left the user quillmoot"
[ ! -e /var/lib/quillmoot ] || fail "purge left /var/lib/quillmoot"
say "purged: the user and the data directory are gone"

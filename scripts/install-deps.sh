#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
# As root it installs what is missing; otherwise it prints the one command to run.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libasio-dev libtelnet-dev libfmt-dev libcli11-dev libsodium-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  telnet expect tmux netcat-openbsd
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

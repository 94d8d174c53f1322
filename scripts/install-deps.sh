#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
# As root it installs what is missing; otherwise it prints the one command to run.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libboost1.81-dev libtelnet-dev libfmt-dev libcli11-dev libsodium-dev libssl-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  telnet expect tmux netcat-openbsd
  # The IRC link's tests start their own ngircd (and openssl for its TLS
  # certificate) on a free loopback port; the system's service is not used.
  ngircd openssl
  # The desktop console: Qt 6 Widgets and Qt Test (they bring the offscreen
  # platform the tests run on), a font for laying text out without a desktop,
  # and xvfb to look at the window on a machine without a display.
  qt6-base-dev fonts-dejavu-core xvfb
  # The Debian packages: the man page is written in Markdown, the
  # dependencies are computed by dpkg-shlibdeps.
  go-md2man dpkg-dev fakeroot man-db
  # The fuzzers (scripts/fuzz.sh): clang, and the libFuzzer and sanitizer
  # runtimes, which clang only recommends.
  clang libclang-rt-14-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

note_system_ngircd() {
  # A system ngircd (installed before, or started by hand) listens on its
  # own ports, 6667 by default; the tests never connect to it.
  if pgrep -x ngircd >/dev/null 2>&1; then
    echo "install-deps.sh: an ngircd is running on this machine; the tests start their own and do not use it." >&2
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  note_system_ngircd
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  if [[ " ${missing[*]} " == *" ngircd "* ]]; then
    # Without it the package starts the system's IRC server right away.
    printf '%s\n' "  printf '#!/bin/sh\\nexit 101\\n' >/usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d &&" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}; rm -f /usr/sbin/policy-rc.d" >&2
    echo "  (leave out the policy-rc.d steps if that file already exists)" >&2
  else
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  fi
  exit 1
fi

# Installing ngircd would start the system's ngircd service on port 6667.
# policy-rc.d answering 101 ("action forbidden") tells the package's scripts
# not to start it. Only a file this script created is removed again, even
# when the installation fails.
policy=/usr/sbin/policy-rc.d
created_policy=""
remove_policy() {
  if [ -n "$created_policy" ]; then rm -f "$policy"; fi
}
trap remove_policy EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
if [[ " ${missing[*]} " == *" ngircd "* ]] && [ ! -e "$policy" ]; then
  created_policy=yes
  printf '#!/bin/sh\nexit 101\n' >"$policy"
  chmod 755 "$policy"
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
note_system_ngircd

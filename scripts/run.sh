#!/usr/bin/env bash
# Installs what is missing, builds, and starts the daemon on run/ (seeded with
# the shipped defaults): telnet on 2121, telnet over TLS on 2122. Its
# preference store is run/config/Quillmoot/preferences, never the user's own.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
mkdir -p run/config/Quillmoot
export XDG_CONFIG_HOME="$PWD/run/config"
preferences=run/config/Quillmoot/preferences
touch "$preferences"
grep -q '^TlsPort=' "$preferences" || echo 'TlsPort=2122' >>"$preferences"
cat <<'TEXT'
Connect with:
  telnet localhost 2121                              (or nc localhost 2121, or PuTTY in Telnet mode)
  openssl s_client -quiet -connect localhost:2122    (telnet over TLS; any MUD client with TLS works too)
The TLS certificate is self-signed: compare its fingerprint with the
"TLS certificate ... SHA-256 fingerprint" line below.
TEXT
exec build/quillmootd --data-dir run "$@"

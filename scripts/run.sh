#!/usr/bin/env bash
# Installs what is missing, builds, and starts the daemon on run/ (seeded with the shipped defaults).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
mkdir -p run
exec build/quillmootd --data-dir run "$@"

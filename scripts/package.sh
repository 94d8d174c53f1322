#!/usr/bin/env bash
# Builds the Debian packages quillmoot and quillmoot-console into build-pkg/
# (Release, installed under /usr, seeding from /usr/share/quillmoot) and
# prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
command -v go-md2man >/dev/null || { echo "package.sh: go-md2man is missing (apt-get install go-md2man)" >&2; exit 1; }
scripts/build.sh build-pkg -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF -DQM_WERROR=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DQM_DEFAULTS_DIR=/usr/share/quillmoot >&2
(cd build-pkg && cpack -G DEB >/dev/null)
ls "$PWD"/build-pkg/quillmoot*_amd64.deb

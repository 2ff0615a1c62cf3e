#!/usr/bin/env bash
# Installs what is missing, builds and runs every test (no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DVANTREL_FUZZ=ON
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j2 --timeout 1500

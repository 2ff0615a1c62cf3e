#!/usr/bin/env bash
# Installs what is missing, builds and runs every test (no display needed);
# then builds the quick tests again with AddressSanitizer and UBSan in
# build-asan and runs them there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DVANTREL_FUZZ=ON
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure -j2 --timeout 1500)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)" --target quick_tests
# Memory errors and undefined behaviour end a test; leaks are not checked yet
# (the work folder's lock file is left on purpose at exit, and the encoders'
# exit under LeakSanitizer has not been looked into).
export ASAN_OPTIONS=detect_leaks=0:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j2 --timeout 1500 -L '^(engine|filelist|settings|ui|cli)$')

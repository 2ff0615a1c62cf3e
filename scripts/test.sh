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
# Memory errors, leaks and undefined behaviour end a test; scripts/lsan.supp
# lists the one allocation let go on purpose at exit.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j2 --timeout 1500 -L '^(protocol|engine|filelist|settings|ui|cli)$')

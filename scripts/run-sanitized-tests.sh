#!/usr/bin/env bash
# Builds everything with AddressSanitizer (leak detection on) and UndefinedBehaviorSanitizer into
# build-asan/ and runs the whole test suite there; any sanitizer report fails a test.
#
# The fault-handler tests crash on purpose (a null dereference, a division by zero), which UBSan
# reports as undefined behaviour, so they run in a second pass without halt_on_error.
# allow_user_segv_handler lets the program's own fault handler see SIGSEGV/SIGBUS/SIGFPE.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -DQUENDLE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1:allow_user_segv_handler=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)" -E FaultHandler
ASAN_OPTIONS=allow_user_segv_handler=1 ctest --test-dir build-asan --output-on-failure -R FaultHandler

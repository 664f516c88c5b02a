#!/usr/bin/env bash
# Configures and builds Quendle into ./build.
#   scripts/build.sh [-DOPTION=value...] [target...]
# Arguments beginning with "-D" go to the configure step; any others name the only targets to
# build (default: everything, test programs and benchmarks included).
set -euo pipefail
cd "$(dirname "$0")/.."
configure=() targets=()
for a in "$@"; do
    case "$a" in
    -D*) configure+=("$a") ;;
    *) targets+=(--target "$a") ;;
    esac
done
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
cmake --build build -j"$(nproc)" "${targets[@]}"

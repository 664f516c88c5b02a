#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/<name>_fuzzer.cpp) with clang; not part of the CMake build.
#   fuzz/build.sh [target...]     default: every fuzz/*_fuzzer.cpp; executables go to
#                                 $FUZZ_BUILD (default fuzz/build)
# Run one with a corpus folder, e.g.: fuzz/build/hive_fuzzer -max_total_time=60 corpus/
#
# A target listed in STANDALONE is compiled from its own few sources. Every other target is
# linked against the project's layer libraries, built once with the same sanitizers in
# fuzz/build/cmake (clang 14 needs the source_location stand-in force-included there).
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${CXX:-clang++-14}
CC=${CC:-clang-14}
SANITIZERS=address,undefined
FLAGS=(-std=c++20 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -I. -include fuzz/SourceLocationCompat.h)
OUT=${FUZZ_BUILD:-fuzz/build}
mkdir -p "$OUT"

declare -A STANDALONE=()

layers_built=0
build_layers() {
    [ "$layers_built" = 1 ] && return
    cmake -S . -B "$OUT/cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDLE_TESTS=OFF \
        -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
        -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,$SANITIZERS -fno-omit-frame-pointer -include $PWD/fuzz/SourceLocationCompat.h" \
        >/dev/null
    cmake --build "$OUT/cmake" -j"$(nproc)" --target quendle_cli
    layers_built=1
}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
for t in "${targets[@]}"; do
    if [ -n "${STANDALONE[$t]:-}" ]; then
        # shellcheck disable=SC2086
        "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer,$SANITIZERS "fuzz/$t.cpp" ${STANDALONE[$t]} -o "$OUT/$t"
    else
        build_layers
        L="$OUT/cmake"
        # ISA-L is linked when the layer build found it.
        isal=$(sed -n 's/^ISAL_LIBRARY:FILEPATH=//p' "$L/CMakeCache.txt" | grep -v NOTFOUND || true)
        "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer,$SANITIZERS -I"$L/generated" "fuzz/$t.cpp" -o "$OUT/$t" \
            -Wl,--start-group "$L"/libquendle_cli.a "$L"/libquendle_package.a "$L"/libquendle_archive.a \
            "$L"/libquendle_xml.a "$L"/libquendle_resources.a "$L"/libquendle_hive.a "$L"/libquendle_os.a \
            "$L"/libquendle_core.a "$L"/libquendle_util.a -Wl,--end-group \
            $(pkg-config --libs libxml-2.0 libxslt uuid) -lcrypto -lz -ldl $isal -rdynamic
    fi
    echo "built $OUT/$t"
done

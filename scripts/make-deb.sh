#!/usr/bin/env bash
# Builds the Debian package of Quendle and prints its path (build output goes to standard error).
#   scripts/make-deb.sh [BUILD_DIR]    default build-deb/, configured without the test suite;
#                                      an existing build folder (such as build/) is used as it is
# Depends is computed by dpkg-shlibdeps from the libraries the program links. Install the result
# with `sudo apt-get install ./quendle_*.deb`, remove it with `sudo apt-get remove quendle`.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb}
scripts/install-deps.sh >&2
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDLE_TESTS=OFF >&2
fi
cmake --build "$dir" -j"$(nproc)" >&2
rm -rf "$dir/packages"
cpack -G DEB -B "$dir/packages" --config "$dir/CPackConfig.cmake" >&2
ls "$PWD/$dir"/packages/quendle_*.deb

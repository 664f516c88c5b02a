#!/usr/bin/env bash
# Builds the Windows release, quendle-<version>-win64.zip, and prints its path (progress goes to
# standard error, one line a step; the tools' own output goes to logs in the build folder).
#   scripts/make-windows-zip.sh [BUILD_DIR]     default build-win/
# The libraries come from QUENDLE_WINDOWS_PREFIX when it names a prefix already built by
# scripts/build-windows-deps.sh (used as it is, never written into); otherwise that script builds
# or reuses build-windows-deps/ here, installing the MinGW toolchain it needs.
# Fails when quendle.exe is not a 64-bit console program, imports anything but system DLLs, or
# has an export table.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build-win}")
logs=$build/logs
triplet=x86_64-w64-mingw32
started=$SECONDS
say() { printf "make-windows-zip [%3d s] %s\n" $((SECONDS - started)) "$*" >&2; }
# run LOG COMMAND...: the command's output goes to LOG, shown (its end) only when it fails.
run() {
    local log=$logs/$1
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 30 "$log" >&2
        say "failed: $* (log: $log)"
        exit 1
    fi
}
fail() {
    say "$*"
    exit 1
}
mkdir -p "$logs"

version=$(sed -n 's/^project(Quendle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in the project() line of CMakeLists.txt"
name=quendle-$version-win64

# --- the libraries and the toolchain -----------------------------------------------------------
given=${QUENDLE_WINDOWS_PREFIX:-}
if [ -n "$given" ] && [ -f "$given/lib/libxml2.a" ] && [ -f "$given/lib/libisal.a" ] &&
    command -v $triplet-g++-posix >/dev/null; then
    prefix=$(realpath "$given")
    say "libraries: $prefix (as built)"
else
    prefix=$(realpath -m "${given:-$root/build-windows-deps}")
    say "libraries: scripts/build-windows-deps.sh $prefix"
    run windows-deps.log scripts/build-windows-deps.sh "$prefix"
fi
if ! command -v zip >/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    say "installing zip"
    run apt-zip.log env DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends zip
fi

# --- quendle.exe -------------------------------------------------------------------------------
# RelWithDebInfo: the exe in the build folder keeps its symbols (to read the addresses of a fault
# report with addr2line); the one in the zip is stripped. An existing build folder keeps its
# own settings.
if [ ! -f "$build/CMakeCache.txt" ]; then
    say "configuring $build"
    run configure.log cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DQUENDLE_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDLE_TESTS=OFF
fi
say "building quendle.exe"
run build.log cmake --build "$build" --target quendle -j"$(nproc)"
exe=$build/quendle.exe

# --- checks ------------------------------------------------------------------------------------
# (Whole outputs in variables: with pipefail, grep -q ending a pipe early fails the pipe.)
kind=$(file -b "$exe")
[[ $kind == "PE32+ executable (console) x86-64"* ]] || fail "quendle.exe is not a 64-bit console program: $kind"
headers=$($triplet-objdump -p "$exe")
if grep -q "^The Export Tables" <<<"$headers"; then
    fail "quendle.exe has an export table: a library was built without its *_STATIC definition"
fi
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort -fu | tr '\n' ' ')
[ -n "$dlls" ] || fail "quendle.exe imports no DLL at all: not a program objdump understands"
for dll in $dlls; do
    case ${dll,,} in
    kernel32.dll | msvcrt.dll | ntdll.dll | advapi32.dll | user32.dll | shell32.dll | shlwapi.dll | \
        ole32.dll | oleaut32.dll | bcrypt.dll | crypt32.dll | rpcrt4.dll | rstrtmgr.dll | dbghelp.dll | \
        secur32.dll | userenv.dll | netapi32.dll | version.dll | ws2_32.dll | api-ms-win-*.dll) ;;
    *) fail "quendle.exe needs $dll beside it: not a static build" ;;
    esac
done
say "checked: console x86-64, no exports, imports only ${dlls% }"

# --- the zip -----------------------------------------------------------------------------------
# One folder: the program, the Windows README and the guides a user of the command line reads.
# Text files get CR LF (zip -l), so that every editor on Windows shows their lines.
stage=$build/zip
rm -rf "$stage"
mkdir -p "$stage/$name/docs"
$triplet-strip -o "$stage/$name/quendle.exe" "$exe"
cp packaging/windows/README.txt "$stage/$name/"
guides=(command-line commands inspect diff saving registry windows)
for guide in "${guides[@]}"; do
    cp "docs/$guide.md" "$stage/$name/docs/"
done
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    find "$stage/$name" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
fi
zipfile=$build/$name.zip
rm -f "$zipfile"
(
    cd "$stage"
    run zip.log zip -q -X -9 "$zipfile" "$name/quendle.exe"
    # shellcheck disable=SC2046 # the names have no blanks
    run zip-text.log zip -q -X -9 -l "$zipfile" "$name/README.txt" $(printf "$name/docs/%s.md " "${guides[@]}")
)
listing=$(unzip -Z1 "$zipfile")
[ "$(wc -l <<<"$listing")" -eq $((2 + ${#guides[@]})) ] || fail "the zip does not hold what it should: $listing"
run unzip-test.log unzip -tq "$zipfile"
size=$(stat -c %s "$stage/$name/quendle.exe")
say "$name.zip: quendle.exe ($((size / 1024 / 1024)) MB), README.txt, ${#guides[@]} guides"
echo "$zipfile"

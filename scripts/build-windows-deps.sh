#!/usr/bin/env bash
# Cross-builds the static libraries the Windows build of Quendle links (x86_64, MinGW-w64), from
# Debian alone: the compilers and zlib are Debian's MinGW packages; libxml2, libxslt, ISA-L and
# OpenSSL's libcrypto are built from Debian's own source packages (with Debian's patches);
# googletest from /usr/src/googletest. Installs apt packages it lacks (run as root or with sudo).
#   scripts/build-windows-deps.sh [PREFIX]      PREFIX defaults to build-windows-deps/ here
# A library is rebuilt only when its stamp in PREFIX/stamps/ names another source version or
# other options; delete the stamp to force a rebuild. The last step builds and runs
# tools/windows-deps-check (under Wine when it is installed) to show that they all link.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "${1:-$root/build-windows-deps}")
work=$prefix/work
stamps=$prefix/stamps
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)
triplet=x86_64-w64-mingw32
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
started=$SECONDS
log() { printf "== [%3d s] %s\n" $((SECONDS - started)) "$*"; }
trap 'echo "build-windows-deps: failed (logs: ${work:-})" >&2' ERR

# --- apt: tools, MinGW packages and a deb-src entry for this release --------------------------
packages=(
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    libz-mingw-w64-dev googletest nasm cmake make dpkg-dev file
)
# shellcheck source=/dev/null
. /etc/os-release
release=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}
src_list=/etc/apt/sources.list.d/quendle-src.list
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
src_entries="deb-src [signed-by=$keyring] http://deb.debian.org/debian $release main
deb-src [signed-by=$keyring] http://deb.debian.org/debian $release-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $release-security main"
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
update=0
if [ "$(cat "$src_list" 2>/dev/null)" != "$src_entries" ]; then
    log "adding Debian source entries for $release ($src_list)"
    printf '%s\n' "$src_entries" | $SUDO tee "$src_list" >/dev/null
    update=1
fi
((${#missing[@]})) && update=1
if ((update)); then
    log "apt-get update"
    $SUDO apt-get update -qq
fi
if ((${#missing[@]})); then
    log "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Wine only runs the final check; without it the check stops at linking.
if ! command -v wine >/dev/null && ! command -v wine64 >/dev/null; then
    log "installing wine (optional)"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends wine wine64 ||
        log "wine is not installable here: the check will only link"
fi

mkdir -p "$prefix" "$work" "$stamps"
cmake_common=(
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUENDLE_WINDOWS_PREFIX="$prefix"
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
)

# Version apt would fetch for a source package (no epoch, as in the file names).
source_version() {
    apt-get -qq source --print-uris "$1" | sed -n "s/.* $1_\(.*\)\.dsc .*/\1/p" | head -n1
}
# up_to_date NAME DESCRIPTION: the stamp records the same version and options.
up_to_date() { [ "$(cat "$stamps/$1.stamp" 2>/dev/null)" = "$2" ]; }
stamp() { printf '%s\n' "$2" >"$stamps/$1.stamp"; }

# fetch SOURCE VERSION: downloads the source package (once) and unpacks it with Debian's patches
# into a fresh folder; prints that folder.
fetch() {
    local pkg=$1 version=$2 dir=$work/$1-src dl=$work/$1-dl
    rm -rf "$dir"
    if [ ! -f "$dl/$1_$version.dsc" ]; then
        rm -rf "$dl" && mkdir -p "$dl"
        local out
        if ! out=$(cd "$dl" && apt-get -qq source --download-only "$pkg=$version" 2>&1); then
            echo "$out" >&2
            return 1
        fi
    fi
    # apt has checked the files against the signed index; gpgv's complaint about the .dsc
    # signature (no debian-keyring here) goes to the log.
    dpkg-source -x "$dl/$1_$version.dsc" "$dir" >"$work/$1-unpack.log" 2>&1 ||
        { cat "$work/$1-unpack.log" >&2; return 1; }
    echo "$dir"
}

# cmake_build NAME SOURCE_DIR OPTIONS...
cmake_build() {
    local name=$1 src=$2
    shift 2
    rm -rf "$work/$name-build"
    cmake -S "$src" -B "$work/$name-build" -G "Unix Makefiles" "${cmake_common[@]}" "$@" \
        >"$work/$name-configure.log"
    cmake --build "$work/$name-build" -j"$jobs" >"$work/$name-build.log"
    cmake --install "$work/$name-build" >"$work/$name-install.log"
}

# --- libxml2 ------------------------------------------------------------------------------------
# Only what the package code uses stays: the parser, tree, XPath, XML Schema, output and what
# libxslt needs. No iconv or ICU (Windows-1252 gets a handler of Quendle's own), no network, no
# compressed input, no catalogs or dlopen'ed modules (nothing outside the package is ever loaded).
xml2_options=(
    -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_ICU=OFF -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_ZLIB=OFF
    -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF -DLIBXML2_WITH_CATALOG=OFF
    -DLIBXML2_WITH_MODULES=OFF -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_PROGRAMS=OFF
    -DLIBXML2_WITH_TESTS=OFF -DLIBXML2_WITH_DOCB=OFF -DLIBXML2_WITH_LEGACY=OFF
    -DLIBXML2_WITH_DEBUG=OFF
    # without it the objects carry dllexport and every program linking them exports libxml2
    -DCMAKE_C_FLAGS=-DLIBXML_STATIC
)
version=$(source_version libxml2)
[ -n "$version" ] || { echo "no libxml2 source package (is deb-src configured?)" >&2; exit 1; }
xml2_stamp="libxml2 $version ${xml2_options[*]}"
if up_to_date libxml2 "$xml2_stamp"; then
    log "libxml2 $version: already built"
else
    log "libxml2 $version"
    src=$(fetch libxml2 "$version")
    cmake_build libxml2 "$src" "${xml2_options[@]}"
    stamp libxml2 "$xml2_stamp"
    rm -f "$stamps/libxslt.stamp"  # built against this one
fi

# --- libxslt ------------------------------------------------------------------------------------
xslt_options=(
    -DLIBXSLT_WITH_CRYPTO=OFF -DLIBXSLT_WITH_MODULES=OFF -DLIBXSLT_WITH_PYTHON=OFF
    -DLIBXSLT_WITH_TESTS=OFF -DLIBXSLT_WITH_DEBUGGER=OFF -DLIBXSLT_WITH_PROFILER=OFF
    # its CMake files do not say so for a static build; whoever links it defines them too
    "-DCMAKE_C_FLAGS=-DLIBXSLT_STATIC -DLIBEXSLT_STATIC"
)
version=$(source_version libxslt)
xslt_stamp="libxslt $version ${xslt_options[*]}"
if up_to_date libxslt "$xslt_stamp"; then
    log "libxslt $version: already built"
else
    log "libxslt $version"
    src=$(fetch libxslt "$version")
    cmake_build libxslt "$src" "${xslt_options[@]}"
    stamp libxslt "$xslt_stamp"
fi

# --- ISA-L --------------------------------------------------------------------------------------
# Its own makefile knows MinGW. nasm rather than the makefile's default yasm: yasm 1.3 cannot
# assemble the AVX-512 code paths. Only the units Quendle calls (inflate/deflate and CRC).
isal_units="igzip crc"
isal_make=(arch=mingw AS=nasm "CC=$triplet-gcc-posix" "AR=$triplet-ar" "units=$isal_units")
version=$(source_version libisal)
isal_stamp="libisal $version ${isal_make[*]}"
if up_to_date libisal "$isal_stamp"; then
    log "ISA-L $version: already built"
else
    log "ISA-L $version"
    src=$(fetch libisal "$version")
    make -C "$src" -f Makefile.unx -j"$jobs" "${isal_make[@]}" lib isa-l.h \
        >"$work/libisal-build.log" 2>&1
    # shellcheck disable=SC2016 # make expands these
    rule='print-headers: ; @echo $(sort $(extern_hdrs)) include/types.h'
    read -ra isal_headers <<<"$(echo "$rule" |
        make -s -C "$src" -f Makefile.unx -f - "${isal_make[@]}" print-headers 2>/dev/null)"
    mkdir -p "$prefix/include/isa-l" "$prefix/lib"
    install -m 644 "$src/bin/isa-l.a" "$prefix/lib/libisal.a"
    (cd "$src" && install -m 644 "${isal_headers[@]}" "$prefix/include/isa-l/")
    install -m 644 "$src/isa-l.h" "$prefix/include/"
    stamp libisal "$isal_stamp"
fi

# --- OpenSSL (libcrypto alone) -----------------------------------------------------------------
# SHA-256 and Base64 of the block map from the same library as on Linux: its SHA-NI and AVX code
# hashes a gigabyte package several times as fast as the system's provider does under Wine.
# The newest source version the mirror still holds: a security update can be listed in the index
# before its files reach it.
openssl_options=(mingw64 no-shared no-dso no-engine no-module no-tests no-legacy no-comp no-ui-console
    "--cross-compile-prefix=$triplet-" CC=gcc-posix)
openssl_version() {
    local v
    for v in $(apt-cache showsrc openssl | sed -n 's/^Version: //p' | sort -urV); do
        v=${v#*:}
        if [ -f "$work/openssl-dl/openssl_$v.dsc" ] ||
            (rm -rf "$work/openssl-dl" && mkdir -p "$work/openssl-dl" && cd "$work/openssl-dl" &&
                apt-get -qq source --download-only "openssl=$v" >/dev/null 2>&1); then
            echo "$v"
            return 0
        fi
    done
    return 1
}
version=$(openssl_version) || { echo "no OpenSSL source package could be downloaded" >&2; exit 1; }
openssl_stamp="openssl $version ${openssl_options[*]}"
if up_to_date openssl "$openssl_stamp"; then
    log "OpenSSL $version: already built"
else
    log "OpenSSL $version"
    src=$(fetch openssl "$version")
    (cd "$src" && ./Configure "${openssl_options[@]}" && make -j"$jobs" build_generated &&
        make -j"$jobs" libcrypto.a) >"$work/openssl-build.log" 2>&1 ||
        { tail -20 "$work/openssl-build.log" >&2; exit 1; }
    mkdir -p "$prefix/include" "$prefix/lib"
    rm -rf "$prefix/include/openssl"
    cp -r "$src/include/openssl" "$prefix/include/"
    install -m 644 "$src/libcrypto.a" "$prefix/lib/libcrypto.a"
    stamp openssl "$openssl_stamp"
fi

# --- googletest ---------------------------------------------------------------------------------
version=$(dpkg-query -W -f='${Version}' googletest)
gtest_options=(-Dgtest_disable_pthreads=OFF -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON)
gtest_stamp="googletest $version ${gtest_options[*]}"
if up_to_date googletest "$gtest_stamp"; then
    log "googletest $version: already built"
else
    log "googletest $version"
    cmake_build googletest /usr/src/googletest "${gtest_options[@]}"
    stamp googletest "$gtest_stamp"
fi

# --- check: one program that links them all -----------------------------------------------------
log "check: tools/windows-deps-check"
check=$work/check-build
rm -rf "$check"
cmake -S "$root/tools/windows-deps-check" -B "$check" "${cmake_common[@]}" \
    >"$work/check-configure.log"
cmake --build "$check" -j"$jobs" >"$work/check-build.log"
exe=$check/windows-deps-check.exe
# (Whole outputs in variables: with pipefail, grep -q ending a pipe early fails the pipe.)
kind=$(file "$exe")
echo "$kind"
if [[ $kind != *"PE32+ executable (console) x86-64"* ]]; then
    echo "not a 64-bit Windows program" >&2
    exit 1
fi
headers=$($triplet-objdump -p "$exe")
if grep -q "^The Export Tables" <<<"$headers"; then
    echo "the check exports symbols: a library was built without its *_STATIC definition" >&2
    exit 1
fi
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort -u | tr '\n' ' ')
echo "imports: $dlls"
for dll in $dlls; do
    case ${dll,,} in
    kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | ws2_32.dll | bcrypt.dll | ole32.dll) ;;
    *) echo "the check depends on $dll: not a static build" >&2; exit 1 ;;
    esac
done
wine=$(command -v wine64 || command -v wine || true)
if [ -n "$wine" ]; then
    # A Wine prefix of its own (some 700 MB), set up quietly and removed afterwards.
    wineprefix=$(mktemp -d "${TMPDIR:-/tmp}/quendle-wine.XXXXXX")
    trap 'rm -rf "$wineprefix"' EXIT
    export WINEPREFIX=$wineprefix WINEDEBUG=-all
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wine" "$exe"
else
    echo "no wine: linked, not run"
fi
log "Windows libraries are in $prefix ($((SECONDS - started)) s)"
cat "$stamps"/*.stamp | cut -d' ' -f1,2

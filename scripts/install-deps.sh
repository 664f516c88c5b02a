#!/usr/bin/env bash
# Installs what building and testing Quendle needs on Debian 12 (run as root or with sudo).
#   scripts/install-deps.sh [--fuzz]     --fuzz adds clang and its fuzzer runtime (fuzz/)
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
packages=(
    build-essential cmake pkg-config libgtest-dev
    zlib1g-dev libxml2-dev libxslt1-dev libssl-dev uuid-dev libisal-dev
    # independent verifiers used by the tests
    python3 unzip zip p7zip-full libxml2-utils
    libhivex-bin libwin-hivex-perl python3-hivex libregf-utils python3-libregf reglookup
    time
    # the Debian package (scripts/make-deb.sh: dpkg-shlibdeps, file) and its manual page check
    dpkg-dev file man-db
)
[ "${1:-}" = "--fuzz" ] && packages+=(clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

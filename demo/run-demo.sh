#!/usr/bin/env bash
# Builds the demo package from demo/, edits it with Quendle (several sub-commands on the command
# line, then a command file), and shows the result.
#
#   demo/run-demo.sh [build folder]        (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
package="$build/demo/demo.appv"
mkdir -p "$build/demo"
rm -f "$package"

if [ -t 1 ] && [ -z "${NO_COLOR:-}" ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold="" plain=""; fi
step() { printf '\n%s$ %s%s\n' "$bold" "$*" "$plain"; "$@"; }

step "$build/make_demo_package" demo "$package"
step "$build/quendle" /Update "$package" \
    Set-NodeText AppxManifest.xml -xpath //appx:Properties/appx:DisplayName -nodetext "Demo Notes 2" \
    /Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity -attributename Version -attributevalue 1.0.1.0 \
    /Set-RegistryValue 'REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes' -valuename WindowWidth -type dword -value 1024
step "$build/quendle" /BatchFileUpdate "$package" demo/commands.txt

echo
echo "== The edited package =="
unzip -l "$package"
echo "== Its manifest (excerpt) =="
unzip -p "$package" AppxManifest.xml | grep -E '<Identity|<DisplayName|<Description'
echo "== Its registry (read back with hivex) =="
hive="$build/demo/Registry.dat"
unzip -p "$package" Registry.dat > "$hive"
hivexget "$hive" 'REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes'
echo "== Independent checks =="
unzip -tq "$package"
python3 tests/archive/verify_appv.py "$package" && echo "block map: every block hash and size checks out"
echo "== Quendle's own look at it =="
step "$build/quendle" /Info "$package"
step "$build/quendle" /Verify "$package"

#!/usr/bin/env bash
# Runs the tests on the Windows build, under Wine:
#  1. the unit tests of the layers that do not depend on POSIX (util, core, xml, hive, archive,
#     package, os), cross-built into BUILD_DIR; they start the Linux verifiers through Wine;
#  2. the end-to-end tier: the Linux build's test_cli with tools/wine-quendle as the program, so
#     that every command line of it is run by quendle.exe.
#   scripts/run-windows-tests.sh [BUILD_DIR] [LINUX_BUILD_DIR]    defaults build-win/ and build/
# The tests below are left out of the Windows runs, each for a reason of POSIX alone.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-win}")
linux=$(realpath -m "${2:-build}")
started=$SECONDS
say() { printf "run-windows-tests [%4d s] %s\n" $((SECONDS - started)) "$*"; }

# Unit tests (gtest filters): symbolic links planted in a destination or standing for the
# package (Wine cannot make them). tests/os/posix is not built for Windows; tests/os/windows
# holds what stands for it there.
unit_skip="HostileArchive.LinksPlanted*:PackageReplacement.*ThroughLinks*"
# End to end (each runs quendle.exe through tools/wine-quendle):
#  - EndToEndInterrupt: POSIX signals sent to the program (under Wine they reach the wrapper;
#    tests/os/windows sends Ctrl+C instead);
#  - WorkspaceIsolation.Links*: symbolic links planted in the workspace (Wine follows them as
#    files of their own);
#  - FaultInjection, AFileSizeLimit*: RLIMIT_FSIZE and read-only mounts set up for the child;
#  - BigPackageProgress: a pseudo-terminal for the child's standard output;
#  - NewerCommands.VerifyReportsInRedOnlyOnATerminal: the same;
#  - WorkspaceIsolation.ARunThatCannotGetThePackage*: the package held with flock, which Windows
#    programs do not see (tests/os/windows holds it with LockFileEx instead);
#  - HostilePackage.TenGibibyte*: a small tmpfs mounted for the program alone, which the Wine
#    server, outside that mount namespace, does not see;
#  - HostilePackage.HiveFreeSpace*: a 200 MB resident-set bound set for the Linux process; under
#    Wine VirtualUnlock is a plain munlock, so the hive's passed pages stay resident (docs/windows.md);
#  - StandardOptions.Version*: a write to /dev/full (the wrapper's pipe takes it instead);
#  - EndToEndDemo.BytesThatAreNotUtf8*: arguments that are not UTF-8 (Wine converts them to
#    UTF-16 by the locale before the program sees them);
#  - *FourGibibytes*: a 4 GiB file, left out of the Linux run too.
e2e_skip="EndToEndInterrupt.*:WorkspaceIsolation.Links*:FaultInjection.*:*AFileSizeLimit*"
e2e_skip+=":BigPackageProgress.*:NewerCommands.VerifyReportsInRedOnlyOnATerminal:*FourGibibytes*"
e2e_skip+=":StandardOptions.Version*:EndToEndDemo.BytesThatAreNotUtf8*:WorkspaceIsolation.ARunThatCannotGetThePackage*"
e2e_skip+=":HostilePackage.TenGibibyte*:HostilePackage.HiveFreeSpace*"

[ -x "$linux/tests/test_cli" ] || { echo "no $linux/tests/test_cli: build the Linux tests first" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || scripts/make-windows-zip.sh "$build" >/dev/null
areas=(util core xml hive archive package os)
mkdir -p "$build/logs"
say "building the Windows tests in $build"
cmake -S . -B "$build" -DQUENDLE_TESTS=ON >"$build/logs/configure-tests.log" 2>&1
cmake --build "$build" -j"$(nproc)" --target quendle make_demo_package "${areas[@]/#/test_}" \
    >"$build/logs/build-tests.log" 2>&1 || { tail -30 "$build/logs/build-tests.log" >&2; exit 1; }

export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1 || true
QUENDLE_WINE_EXE=$build/quendle.exe tools/wine-quendle --version >/dev/null # sets up the prefix's TMP
export QUENDLE_WINE_TMP='Z:\tmp'
# One Wine server for all the runs, not one per program start.
wineserver -p 2>/dev/null || true # (already running: fine)
trap 'wineserver -k 2>/dev/null || true' EXIT
failed=()
for area in "${areas[@]}"; do
    exe=$build/tests/test_$area.exe
    [ -f "$exe" ] || continue
    say "test_$area.exe"
    if [ "$area" = os ]; then
        # Ctrl+C reaches a program on a console only: this one runs on a pseudo-terminal.
        log=$build/logs/test_os.log
        script -qec "wine '$exe' --gtest_brief=1 --gtest_filter='-$unit_skip' >'$log' 2>&1" /dev/null \
            >/dev/null </dev/null || failed+=("test_$area.exe")
        cat "$log"
    else
        wine "$exe" --gtest_brief=1 --gtest_filter="-$unit_skip" || failed+=("test_$area.exe")
    fi
done
say "end to end: $linux/tests/test_cli with quendle.exe"
QUENDLE_TEST_EXE=$PWD/tools/wine-quendle QUENDLE_WINE_EXE=$build/quendle.exe \
    "$linux/tests/test_cli" --gtest_brief=1 --gtest_filter="-$e2e_skip" || failed+=("test_cli (quendle.exe)")
if ((${#failed[@]})); then
    say "failed: ${failed[*]}"
    exit 1
fi
say "all passed"

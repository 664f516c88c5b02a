#!/usr/bin/env bash
# Saves the same edits with two Quendle programs and compares the packages byte for byte.
#   scripts/compare-saves.sh OLD NEW [PACKAGE]
# OLD and NEW are commands (e.g. "build/quendle", "tools/wine-quendle"); PACKAGE defaults to the
# demo package, built with build/make_demo_package. SOURCE_DATE_EPOCH is set, so the history
# item's time and the hive's times are the same in both runs; the station values of the history
# item (machine, user, system) are taken out of PackageHistory.xml before it is compared, since
# two platforms report different ones.
# COMPARE_IGNORE_TIME=1 blanks the history item's time too, for a program from before that time
# followed SOURCE_DATE_EPOCH.
# COMPARE_VERIFY=1 also tests every package NEW saved with unzip -t, 7z t and
# tests/archive/verify_appv.py.
# Then the commands that only read (/Verify, /Info, /Export-Registry, /Export-Config, /Expand,
# /Diff) run on both programs, which must print the same and write the same files.
# Prints one line per edit or command and fails when a saved package differs in any other byte.
set -euo pipefail
cd "$(dirname "$0")/.."
old=$1 new=$2 package=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1767225600 QUENDLE_PROGRESS=0
if [ -z "$package" ]; then
    package=$work/demo.appv
    build/make_demo_package demo "$package" >/dev/null
fi
printf 'echo hello\r\n' >"$work/launch.cmd"
printf '<?xml version="1.0"?>\n<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:param name="stamp"/>
<xsl:template match="@*|node()"><xsl:copy><xsl:apply-templates select="@*|node()"/></xsl:copy></xsl:template>
<xsl:template match="comment()"/>
</xsl:stylesheet>\n' >"$work/copy.xsl"
mkdir -p "$work/folder/sub"
echo one >"$work/folder/a.txt"
echo two >"$work/folder/sub/b.txt"
printf 'echo bye\r\n' >"$work/other.cmd"
# The script commands together: one to update, one to delete, both added first.
printf ';qdc\nAdd-ScriptFile %s\nAdd-ScriptFile %s\nUpdate-ScriptFile launch.cmd %s\nDel-ScriptFile other.cmd\n' \
    "$work/launch.cmd" "$work/other.cmd" "$work/other.cmd" >"$work/scripts.txt"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\r\n"Name"="value"\r\n' >"$work/import.reg"

# One edit per command-file line (a name with @ is a command file of its own).
edits=(
    "@demo/commands.txt"
    'Add-File "Root\VFS\ProgramFilesX86\added.txt" demo/extra/changes.txt'
    'Del-File "Root\VFS\ProgramFilesX86\Demo Notes\readme.md"'
    "Add-ScriptFile $work/launch.cmd"
    "@$work/scripts.txt"
    'Update-File "Root\VFS\ProgramFilesX86\Demo Notes\readme.md" demo/extra/changes.txt'
    'Update-PackageIdentity -version 2.0.0.0 -packageid 11111111-2222-3333-4444-555555555555 -versionid 66666666-7777-8888-9999-000000000000'
    'Update-PackageHistory -packagingengine Quendle -sequencerversion 5.1.0.0'
    'Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity -attributename Version -attributevalue 1.2.3.4'
    "Del-Nodes AppxManifest.xml -xpath \"//*[local-name()='Description']\""
    "Del-SingleNode AppxManifest.xml -xpath \"//*[local-name()='Description']\""
    "TransformManifest AppxManifest.xml $work/copy.xsl -stamp x"
    'Set-RegistryKey "REGISTRY\MACHINE\SOFTWARE\New" -virtualizationlevel overwrite'
    'Set-VirtualizeRegValueDeleted "REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes" WindowWidth'
    'Del-RegistryKey "REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes\Fonts"'
    'Del-RegistryKeyAndSubkeys "REGISTRY\MACHINE\SOFTWARE\Quendle Demo"'
    "Add-Folder \"Root\\VFS\\Common AppData\\Added\" $work/folder"
    'Del-Folder "Root\VFS\ProgramFilesX86\Demo Notes\config"'
    "Import-Registry $work/import.reg"
)
# The parts of a package with their history item's station values blanked (and so the block
# map's hashes of the history).
normalized() {
    python3 - "$1" <<'EOF'
import hashlib, os, re, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for info in z.infolist():
        data = z.read(info)
        if info.filename == "PackageHistory.xml":
            station = rb'SequencerUser|SequencingStation|WindowsVersion|SystemFolder|WindowsFolder|UserFolder|' \
                      rb'SystemType|Processor|LastRebootNormal|TerminalServices|RemoteSession|' \
                      rb'NetFrameworkVersion|IEVersion|PackageOSBitness|Locale' + \
                      (rb'|Time' if os.environ.get("COMPARE_IGNORE_TIME") else b'')
            data = re.sub(rb'\b(' + station + rb')="[^"]*"', rb'\1=""', data)
        if info.filename == "AppxBlockMap.xml":
            data = re.sub(rb'<File Name="PackageHistory.xml".*?</File>', b'', data, flags=re.S)
        print(info.filename, info.compress_type, hashlib.sha256(data).hexdigest())
EOF
}
failed=0
for edit in "${edits[@]}"; do
    for side in old new; do
        cp "$package" "$work/$side.appv"
        if [[ $edit == @* ]]; then commands=${edit#@}; else commands=$work/edit.txt; printf ';qdc\n%s\n' "$edit" >"$commands"; fi
        ${!side} /BatchFileUpdate "$work/$side.appv" "$commands" >/dev/null 2>"$work/$side.err" || true
    done
    if cmp -s "$work/old.appv" "$work/new.appv"; then
        result="identical"
    elif [ "$(normalized "$work/old.appv")" = "$(normalized "$work/new.appv")" ]; then
        result="identical but for the station values and sizes"
    else
        result="DIFFERENT"
        failed=1
        diff <(normalized "$work/old.appv") <(normalized "$work/new.appv") | head -5 || true
        head -3 "$work/old.err" "$work/new.err"
    fi
    # An edit that was refused proves nothing about the bytes.
    if cmp -s "$work/old.appv" "$package" || cmp -s "$work/new.appv" "$package"; then
        result="NOT SAVED: $(head -c 200 "$work/old.err" "$work/new.err" | tr '\n' ' ')"
        failed=1
    fi
    if [ "${COMPARE_VERIFY:-}" = 1 ] && [[ $result != NOT* ]]; then
        unzip -tqq "$work/new.appv" >/dev/null && 7z t "$work/new.appv" >/dev/null &&
            python3 tests/archive/verify_appv.py "$work/new.appv" >/dev/null || { result="$result, FAILS A CHECK"; failed=1; }
    fi
    printf '%-40.40s %s\n' "$edit" "$result"
done

# Read-only commands: the same output (paths as each program names them) and the same files.
cp "$package" "$work/old.appv"
reads=(
    "/Verify PKG" "/Verify PKG -json" "/Info PKG -files" "/Info PKG -json"
    "/Export-Registry PKG OUT.reg" "/Export-Config PKG OUT" "/Expand PKG OUT" "/Diff PKG $work/new.appv"
)
for command in "${reads[@]}"; do
    for side in old new; do
        rm -rf "$work/$side.out" "$work/$side.out.reg"
        line=${command//PKG/$work/old.appv}
        line=${line//OUT/$work/$side.out}
        # shellcheck disable=SC2086 # one word per argument; no argument here holds a blank
        # The two streams apart: the wrapper of a Windows build may interleave them otherwise.
        ${!side} $line >"$work/$side.txt" 2>"$work/$side.err" || echo "exit $?" >>"$work/$side.txt"
        sed -i "s|$work/$side.out|OUT|g" "$work/$side.txt" "$work/$side.err"
    done
    result=identical
    if ! cmp -s "$work/old.txt" "$work/new.txt" || ! cmp -s "$work/old.err" "$work/new.err"; then
        result="DIFFERENT OUTPUT"
        diff "$work/old.txt" "$work/new.txt" | head -5 || true
        diff "$work/old.err" "$work/new.err" | head -5 || true
    else
        for out in out out.reg; do
            if [ -e "$work/old.$out" ] && ! diff -r "$work/old.$out" "$work/new.$out" >/dev/null 2>&1; then
                result="DIFFERENT FILES"
            fi
        done
    fi
    [ "$result" = identical ] || failed=1
    printf '%-40.40s %s\n' "${command//$work\//}" "$result"
done
exit $failed

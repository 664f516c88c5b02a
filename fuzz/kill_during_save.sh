#!/usr/bin/env bash
# Kills quendle with SIGKILL at many random instants of an edit-and-save of a large-ish package
# and checks that the package file is then always either the old package or a complete new
# one: its SHA-256 equals the old package's, or the new package's. Entries carry the time they
# were extracted, so the new package is compared with its entry times zeroed: apart from them,
# the same edit run to the end gives the same bytes every time.
#
#   fuzz/kill_during_save.sh [ROUNDS] [build folder]       defaults: 100, build
#
# Needs the build folder's quendle and make_demo_package. Prints how many kills left the old
# package, how many the new one, and what a kill leaves behind (a workspace in the temp folder,
# a temporary file beside the package), which only SIGKILL can leave: every other ending of the
# run removes both. After a kill that left something, one more full run must remove it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${1:-100}"
build="${2:-$root/build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
quendle="$build/quendle"
maker="$build/make_demo_package"
[ -x "$quendle" ] && [ -x "$maker" ] || { echo "build quendle and make_demo_package in $build first" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/quendle-kill-XXXXXX")"
trap 'rm -rf "$work"' EXIT
export NO_COLOR=1

# A package of about 48 MiB: incompressible data, compressible text and many small files, so
# that extraction, packing, hashing and the replacement each take a noticeable time.
cp -r "$root/demo" "$work/source"
app="$work/source/Root/VFS/ProgramFilesX86/Demo Notes"
head -c $((32 << 20)) /dev/urandom >"$app/random.bin"
yes "Quendle kill test line of compressible text" | head -c $((16 << 20)) >"$app/text.log" || true
mkdir -p "$app/many"
for i in $(seq 1 300); do echo "small file $i" >"$app/many/f$i.txt"; done
"$maker" "$work/source" "$work/pristine.appv" >/dev/null
old="$(sha256sum <"$work/pristine.appv" | cut -d' ' -f1)"

# SHA-256 of a package with the DOS time and date of every local and central header zeroed;
# anything that is not a readable archive hashes as "unreadable".
timeless_sum() {
    python3 - "$1" <<'PY'
import hashlib, struct, sys, zipfile
data = bytearray(open(sys.argv[1], "rb").read())
try:
    infos = zipfile.ZipFile(sys.argv[1]).infolist()
except Exception:
    print("unreadable")
    sys.exit()
for info in infos:
    data[info.header_offset + 10:info.header_offset + 14] = bytes(4)
at = data.find(b"PK\x01\x02")
while at >= 0:
    data[at + 12:at + 16] = bytes(4)
    at = data.find(b"PK\x01\x02", at + 46)
print(hashlib.sha256(data).hexdigest())
PY
}

edit() {
    TMPDIR="$1" "$quendle" /Update "$2" Set-NodeText AppxManifest.xml \
        -xpath //appx:Properties/appx:DisplayName -nodetext "Killed at random"
}

# The new package, and how long a whole run takes.
mkdir -p "$work/tmp"
cp "$work/pristine.appv" "$work/reference.appv"
start=$(date +%s%N)
edit "$work/tmp" "$work/reference.appv" >/dev/null
duration_ms=$((($(date +%s%N) - start) / 1000000))
new="$(timeless_sum "$work/reference.appv")"
sleep 2 # a different DOS time for the second run
cp "$work/pristine.appv" "$work/again.appv"
edit "$work/tmp" "$work/again.appv" >/dev/null
if [ "$(timeless_sum "$work/again.appv")" != "$new" ]; then
    echo "the same edit gives different bytes on a second run; cannot compare by hash" >&2
    exit 1
fi
echo "package $(stat -c %s "$work/pristine.appv") bytes; a full run takes ${duration_ms} ms"

old_seen=0 new_seen=0 bad=0 workspaces=0 temporaries=0 not_swept=0
for round in $(seq 1 "$rounds"); do
    rm -rf "$work/run" && mkdir -p "$work/run/tmp"
    cp "$work/pristine.appv" "$work/run/pkg.appv"
    # Up to 10% past the measured duration, so some kills come after the end.
    delay_ms=$((RANDOM * 32768 + RANDOM))
    delay_ms=$((delay_ms % (duration_ms * 11 / 10 + 1)))
    # Started directly (not through the function), so that $! is quendle itself.
    TMPDIR="$work/run/tmp" "$quendle" /Update "$work/run/pkg.appv" Set-NodeText AppxManifest.xml \
        -xpath //appx:Properties/appx:DisplayName -nodetext "Killed at random" >/dev/null 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sum="$(sha256sum <"$work/run/pkg.appv" | cut -d' ' -f1)"
    if [ "$sum" = "$old" ]; then
        old_seen=$((old_seen + 1))
    elif [ "$(timeless_sum "$work/run/pkg.appv")" = "$new" ]; then
        new_seen=$((new_seen + 1))
    else
        bad=$((bad + 1))
        echo "round $round (kill after ${delay_ms} ms): the package is neither the old nor the new one" >&2
        cp "$work/run/pkg.appv" "${TMPDIR:-/tmp}/quendle-kill-bad-$round.appv"
    fi
    left=0
    [ -z "$(ls -A "$work/run/tmp")" ] || { workspaces=$((workspaces + 1)); left=1; }
    if [ "$(ls -A "$work/run" | grep -cv '^pkg.appv$\|^tmp$')" != 0 ]; then
        temporaries=$((temporaries + 1))
        left=1
        # A temporary is taken only once it is older than a few seconds...
        find "$work/run" -maxdepth 1 -name '.pkg.appv.*' -exec touch -d '1 minute ago' {} +
    fi
    # As is a workspace whose creation was cut short.
    find "$work/run/tmp" -maxdepth 1 -name '*.quendle-new' -exec touch -d '1 minute ago' {} +
    if [ "$left" = 1 ]; then
        # The next complete run must remove what the killed one left.
        TMPDIR="$work/run/tmp" "$quendle" /Update "$work/run/pkg.appv" Set-NodeText AppxManifest.xml \
            -xpath //appx:Properties/appx:DisplayName -nodetext "Next run" >/dev/null 2>&1 || true
        if [ -n "$(ls -A "$work/run/tmp")" ] || [ "$(ls -A "$work/run" | grep -cv '^pkg.appv$\|^tmp$')" != 0 ]; then
            not_swept=$((not_swept + 1))
            echo "round $round: the next run did not remove what the killed one left:" >&2
            (cd "$work/run" && find . -maxdepth 3 -path ./pkg.appv -prune -o -printf "%p %TT\n") >&2
        fi
    fi
done
echo "$rounds kills: $old_seen left the old package, $new_seen the new one, $bad anything else"
echo "left behind by SIGKILL: a workspace $workspaces times, a temporary beside the package $temporaries times;"
echo "the next run removed them every time but $not_swept"
[ "$bad" = 0 ] && [ "$not_swept" = 0 ]

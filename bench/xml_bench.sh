#!/bin/sh
# Runs xml_bench on the big sample manifest and, for comparison, `xmllint --format` on the
# same file; reports wall time and peak RSS of both. Usage: bench/xml_bench.sh <build dir>
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
manifest=${MANIFEST:-$root/../shared/samples/andest22__MARI/AppXManifest.xml}
[ -f "$manifest" ] || { echo "no sample manifest at $manifest" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

measure() {
    /usr/bin/time -f "  wall %e s, user %U s, sys %S s, peak RSS %M KiB" "$@"
}

echo "== quendle xml_bench (load, XPath edit, normalize + validate, save)"
measure "$build/xml_bench" "$manifest" "$out"
echo "== xmllint --format (load and indented save only)"
measure xmllint --format --output "$out/xmllint.xml" "$manifest"
echo "== xmllint --schema on the normalized copy (validation only)"
measure xmllint --noout --schema "$root/resources/AppX2010Manifest.xsd" "$out/normalized.xml" 2>&1 | grep -v validates || true

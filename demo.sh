#!/usr/bin/env bash
# Installs the build dependencies, builds Quendle, and runs it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
build/quendle /Help

#!/usr/bin/env bash
# Installs the build dependencies, builds Quendle, builds a demo package and edits it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
demo/run-demo.sh build

#!/usr/bin/env bash
# The main job: what the tool can do so far, shown without hardware and without leaving loopback.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
echo "Self-check: unit tests of the core"
cd "$build" && ctest -L unit --output-on-failure -j2

#!/usr/bin/env bash
# Builds Kelvarin for this machine and runs it with the given switches.
#   tools/run.sh            the plain report of this machine
#   tools/run.sh /V         the same with the trace of the classes consulted
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
exec build/release/src/kelvarin "$@"

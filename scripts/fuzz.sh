#!/usr/bin/env bash
# Builds the fuzz preset and runs the drive-map fuzzer for a number of
# seconds (default 60), seeded with the mount-table fixtures of the tests.
# Exits non-zero on any crash or sanitizer report; the input that caused it
# is kept in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
scripts/deps.sh run
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target drivemap_fuzz -j2

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp tests/fixtures/drivemap/* "$corpus/"
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"

ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
  build/fuzz/fuzz/drivemap_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus"

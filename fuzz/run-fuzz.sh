#!/bin/sh
# Builds the settings fuzzer with the "fuzz" preset and runs it for SECONDS (default 60) from the
# seed corpus. Exits non-zero when it finds a crash, a leak or undefined behaviour; the input that
# did it is left in build/fuzz/ as crash-*, leak-* or timeout-*.
set -eu
seconds=${1:-60}
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target settings_fuzz -j2
# New inputs go to fuzz/corpus-work (not in git), the first corpus directory; the seed files in
# fuzz/corpus/settings are only read.
mkdir -p fuzz/corpus-work
build/fuzz/fuzz/settings_fuzz -max_total_time="$seconds" -max_len=16384 -timeout=10 \
    -dict=fuzz/settings.dict -artifact_prefix=build/fuzz/ -print_final_stats=1 \
    fuzz/corpus-work fuzz/corpus/settings

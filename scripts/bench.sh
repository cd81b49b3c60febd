#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs the benchmarks in a fresh test bed
# (bench/README.md). PLAXEN_ARCHES=x64 runs one architecture. The figures go to standard output.
set -u
source "$(dirname "$0")/testbed.sh"
prepare_testbed || exit 1
status=0
for arch in $ARCHES; do
    for bench in walk_bench channel_bench menu_bench switch_bench watch_bench; do
        log "$arch: $bench"
        wine "$BUILD/$arch/bin/$bench.exe" </dev/null || status=1
    done
done
exit $status

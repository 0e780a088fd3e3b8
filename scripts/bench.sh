#!/usr/bin/env bash
# Runs the benchmarks of a Release build and prints their tables (Markdown) on standard output.
# Usage: scripts/bench.sh [build-dir]
# BENCH_RUNS (default 15) sets the runs per figure, BENCH_SIZES (default 1000,10000,100000) the
# tasks per account, BENCH_WINDOW_SIZES (default 100000,1000000) the tasks of the one account
# on the task page, BENCH_SYNC_RUNS (default 3) and BENCH_SYNC_SIZES (default 10000) the runs and
# tasks of the sync figures, BENCH_PEER_RUNS (default 3) and BENCH_PEER_SIZES (default 1000)
# those of the first upload beside vdirsyncer (bench/README.md); the generated databases are kept in
# <build-dir>/bench/bench-data.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-bench}
for bench in bench_passwordhash bench_tasks bench_transfer bench_sync bench_syncpeer bench_startup bench_window; do
    "$build_dir/bench/$bench"
done

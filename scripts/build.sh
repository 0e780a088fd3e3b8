#!/usr/bin/env bash
# Configures (Ninja when present) and builds the project in the given directory.
# Usage: scripts/build.sh [build-dir] [build-type] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
build_type=${2:-RelWithDebInfo}
shift $(($# > 2 ? 2 : $#))

generator=()
if [[ ! -f "$build_dir/CMakeCache.txt" ]] && command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
cmake -S . -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE="$build_type" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"

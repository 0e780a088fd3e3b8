#!/usr/bin/env bash
# Runs every test of a built tree through ctest. GUI tests get a virtual X display;
# the end-to-end tests start X servers of their own. Everything runs on a private session bus
# that ends with the run, so no program under test reaches (or autostarts) another bus; the
# bus starts none of the machine's own services (tests/session-bus.conf).
# Usage: scripts/test.sh [build-dir] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
shift $(($# > 0 ? 1 : 0))

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session --config-file="$PWD/tests/session-bus.conf" -- \
    xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$build_dir" --output-on-failure --parallel "$((2 * $(nproc)))" "$@"

#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the C++ tests there: the unit tests, the Quick Tests and the reliability suite (whose scripts
# run the instrumented program and crash driver). Any sanitizer report fails the test it
# happens in. Qt itself is not instrumented; tests/lsan.supp names the few leaks inside the
# libraries below Qt that LeakSanitizer would otherwise report.
# Usage: scripts/test-asan.sh [--build-only] [build-dir] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
if [[ ${1:-} == --build-only ]]; then
    build_only=1
    shift
fi
build_dir=${1:-build-asan}
shift $(($# > 0 ? 1 : 0))

# Optimised lightly, with line tables only: reports still name the file and line, and the build
# takes little more than half the time of -O2 -g.
bash scripts/build.sh "$build_dir" RelWithDebInfo -DTARVIK_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
((build_only)) && exit 0

# A sanitizer report fails the process it happens in (exit code 1, or the crash with
# halt_on_error); a leak report at exit does the same.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Quick draws in software: the GL driver that Mesa loads and unloads leaves leaks that no
# suppression can name, since its code is gone by the time they are reported.
export QT_QUICK_BACKEND=software
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session --config-file="$PWD/tests/session-bus.conf" -- \
    xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$build_dir" --output-on-failure --parallel "$((2 * $(nproc)))" \
    -L 'unit|qml|reliability' "$@"

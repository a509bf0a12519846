#!/usr/bin/env bash
# Builds the project with a sanitizer into its own directory and runs the whole test suite under it.
#   scripts/sanitize.sh address   ASan + UBSan (any report ends the test that caused it)
#   scripts/sanitize.sh thread    TSan
# Environment: KEEP_GOING=1 (test what built even if some target failed; the exit code still says so),
#              BUILD_DIR (default build-sanitize-<kind>), JOBS (default 2), NICE (default 10),
#              CTEST_ARGS (extra ctest arguments, e.g. "-L unit"); further arguments go to cmake's configure
#              step (e.g. -DTC_BUILD_GUI=OFF). Exits non-zero on a build failure or any failing test.
set -uo pipefail
kind="${1:-}"
case "$kind" in
  address|thread) shift ;;
  *) echo "usage: $0 address|thread [cmake options...]" >&2; exit 2 ;;
esac
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build-sanitize-$kind}"
jobs="${JOBS:-2}"
nice_level="${NICE:-10}"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTC_BUILD_BENCH=OFF \
      -DTC_SANITIZE="$kind" "$@" >/dev/null || exit 1
build_rc=0
if [ -n "${KEEP_GOING:-}" ]; then
  # Build what compiles and test it: useful while parts of the tree are in progress.
  nice -n "$nice_level" cmake --build "$build" -j"$jobs" -- -k 0 || build_rc=$?
else
  nice -n "$nice_level" cmake --build "$build" -j"$jobs" || exit 1
fi

# Reports go to stderr and fail the test; halt_on_error keeps the first report readable.
# detect_leaks: a leak is a finding too. No suppressions. strict_string_checks stays off: with it,
# libxkbcommon-x11's strndup on the X server's unterminated names is reported on every GUI start.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=0:exitcode=66:second_deadlock_stack=1:history_size=4}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"

cd "$build" || exit 1
# Sanitized code runs several times slower: time-outs are stretched, parallelism stays low.
# shellcheck disable=SC2086
nice -n "$nice_level" ctest -j"$jobs" --output-on-failure --timeout 1200 ${CTEST_ARGS:-} 2>&1 | tee "$build/ctest-$kind.log"
rc=${PIPESTATUS[0]}
grep -E 'tests passed|tests failed' "$build/ctest-$kind.log" | tail -n 1
[ "$build_rc" -ne 0 ] && echo "build failed (rc $build_rc): not every test was built" >&2
[ "$rc" -eq 0 ] && rc=$build_rc
exit "$rc"

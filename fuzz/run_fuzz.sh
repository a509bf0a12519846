#!/usr/bin/env bash
# Fuzzes each named target for a given time and prints executions and findings per target.
#   run_fuzz.sh --mode here|clang --source <tree> --build <dir> [--seconds N] [--parallel P]
#               [--out <dir>] <target>...
# --mode here:  the targets are in <build> (a Clang build with -DTC_BUILD_FUZZ=ON).
# --mode clang: builds them first in <build>/fuzz-clang with Clang (exit 77 = skipped when Clang
#               or libFuzzer is missing).
# --out: where new corpus entries and crash files go (default: a temporary directory that is
#        removed); the seeds in <tree>/fuzz/corpus/<target> are read, never written.
# Runs at low priority; exit 1 when a target reported a finding (crash, leak, time-out).
set -uo pipefail
mode=here; src=""; build=""; seconds=3; parallel=1; out=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --mode) mode="$2"; shift 2 ;;
    --source) src="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --parallel) parallel="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ -n "$src" ] && [ -n "$build" ] && [ ${#targets[@]} -gt 0 ] || { echo "usage: see the head of $0" >&2; exit 2; }

if [ "$mode" = clang ]; then
  cxx=$(command -v clang++ || command -v clang++-14 || true)
  cc=$(command -v clang || command -v clang-14 || true)
  if [ -z "$cxx" ] || [ -z "$cc" ]; then
    echo "SKIPPED: no clang++ on this machine, the fuzz targets cannot be built"; exit 77
  fi
  probe=$(mktemp -d)
  printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' \
    > "$probe/p.cpp"
  if ! "$cxx" -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>/dev/null; then
    rm -rf "$probe"; echo "SKIPPED: $cxx cannot link libFuzzer (-fsanitize=fuzzer)"; exit 77
  fi
  rm -rf "$probe"
  fbuild="$build/fuzz-clang"
  if [ ! -f "$fbuild/CMakeCache.txt" ]; then
    CC="$cc" CXX="$cxx" cmake -S "$src" -B "$fbuild" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTC_BUILD_FUZZ=ON -DTC_BUILD_GUI=OFF -DTC_BUILD_BENCH=OFF >/dev/null || { echo "configure failed"; exit 1; }
  fi
  echo "building the fuzz targets with Clang in $fbuild"
  nice -n 10 cmake --build "$fbuild" -j2 --target "${targets[@]}" >"$fbuild/fuzz-build.log" 2>&1 ||
    { tail -n 40 "$fbuild/fuzz-build.log"; echo "build of the fuzz targets failed"; exit 1; }
  build="$fbuild"
fi

if [ -z "$out" ]; then
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out"

run_one() {
  local t="$1" exe corpus log
  exe=$(find "$build/" -type f -name "$t" -perm -u+x 2>/dev/null | head -n 1)
  if [ -z "$exe" ]; then echo "$t: not built" >"$out/$t.result"; return 1; fi
  corpus="$out/$t/corpus"; mkdir -p "$corpus" "$out/$t/findings"
  log="$out/$t/fuzz.log"
  # -timeout: one input taking longer than this is a finding; the outer timeout only guards the run itself.
  timeout --kill-after=10 $((seconds + 120)) nice -n 10 "$exe" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/$t/findings/" \
      "$corpus" "$src/fuzz/corpus/$t" >"$log" 2>&1
  local rc=$?
  local execs
  execs=$(grep -m1 -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}')
  local found
  found=$(find "$out/$t/findings" -type f | wc -l)
  printf '%-24s rc=%-3s executions=%-12s corpus=%-6s findings=%s\n' "$t" "$rc" "${execs:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$found" >"$out/$t.result"
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    grep -m5 -E 'ERROR|SUMMARY|Test unit written' "$log" >>"$out/$t.result"
    return 1
  fi
}

rc=0
pids=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || rc=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || rc=1; done
for t in "${targets[@]}"; do cat "$out/$t.result"; done
exit "$rc"

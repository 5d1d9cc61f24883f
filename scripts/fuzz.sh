#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ in build-fuzz and runs each one over its seed corpus.
#
#   scripts/fuzz.sh --ci               each target for 20 seconds (what scripts/test.sh runs)
#   scripts/fuzz.sh --runs 10000000    each target for that many executions
#   scripts/fuzz.sh --runs 100000 fuzz_utf8 fuzz_message     only the named targets
#
# A crash, a broken promise of a target or a leak stops that target; the input is written to
# build-fuzz/findings/ and the script fails. What each run found new stays in build-fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=20)
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) limit=(-max_total_time=20) ;;
    --runs) limit=(-runs="$2"); shift ;;
    fuzz_*) targets+=("$1") ;;
    *) echo "usage: scripts/fuzz.sh [--ci | --runs N] [fuzz_target ...]" >&2; exit 2 ;;
  esac
  shift
done
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

bash scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DQUILLPOST_FUZZ=ON -DQUILLPOST_WERROR=ON -DQUILLPOST_BUILD_TESTS=OFF -DQUILLPOST_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_targets -- -j2

# The targets write their files into a temporary folder: in memory where there is one, so that
# a run measures the code and not the disk's fsync.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

findings=build-fuzz/findings
mkdir -p "$findings"
failed=()
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  options=("${limit[@]}" -timeout=30 -print_final_stats=1 -artifact_prefix="$findings/$target-")
  # A target's own dictionary, else the JSON one for the targets that read JSON.
  if [ -f "fuzz/$target.dict" ]; then
    options+=(-dict="fuzz/$target.dict")
  else
    case "$target" in
      fuzz_message|fuzz_document|fuzz_window_state|fuzz_settings|fuzz_menu_command|fuzz_record_merge|fuzz_text_edits) options+=(-dict=fuzz/json.dict) ;;
    esac
  fi
  echo "== $target"
  if ! nice -n 10 "build-fuzz/bin/$target" "${options[@]}" "$corpus" "fuzz/corpus/$target" >"$findings/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$findings/$target.log"
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$findings/$target.log" || true
  grep -E '#[0-9]+[[:space:]]+(INITED|DONE)' "$findings/$target.log" | tail -n 1 || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $findings/)" >&2
  exit 1
fi
echo "no fuzz target found a fault"

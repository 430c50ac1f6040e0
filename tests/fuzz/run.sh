#!/usr/bin/env bash
# Runs every fuzz target on its seed corpus, for a fixed number of inputs or
# a fixed time each, and stops at the first finding.
#
#   tests/fuzz/run.sh [--runs N] [--seconds S] [build dir] [target...]
#
# With both limits, each target stops at whichever comes first.
#
# The build dir is the fuzz preset's (build-fuzzers by default). The tree's
# corpus is only read: inputs that the fuzzer finds go to a scratch corpus
# under the build dir, and a finding is written there as crash-*, leak-*,
# timeout-* or oom-*, with its path in the log.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
limit=()
build="$here/../../build-fuzzers"
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) limit+=(-runs="$2"); shift 2 ;;
    --seconds) limit+=(-max_total_time="$2"); shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) if [ -d "$1" ]; then build="$1"; else targets+=("$1"); fi; shift ;;
  esac
done
[ ${#limit[@]} -gt 0 ] || limit=(-runs=100000)
[ ${#targets[@]} -gt 0 ] || targets=(parse_integer parse_real format_real dialogue)

# Per target: longest input, dictionary.
options_for() {
  case "$1" in
    parse_integer) echo "-max_len=48" ;;
    parse_real) echo "-max_len=96 -dict=$here/real.dict" ;;
    format_real) echo "-max_len=40 -dict=$here/real.dict" ;;
    dialogue) echo "-max_len=2048 -dict=$here/dialogue.dict" ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  binary="$build/tests/fuzz/fuzz_$target"
  [ -x "$binary" ] || { echo "missing $binary (build the fuzz preset)" >&2; exit 2; }
  work="$build/fuzz-work/$target"
  mkdir -p "$work/corpus"
  echo "=== $target: ${limit[*]}"
  # shellcheck disable=SC2046
  if ! ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
       UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
       "$binary" "${limit[@]}" $(options_for "$target") -timeout=10 \
         -rss_limit_mb=2048 -print_final_stats=1 \
         -artifact_prefix="$work/" "$work/corpus" "$here/corpus/$target" \
       2>"$work/log"; then
    status=1
    echo "FINDING in $target: see $work/log" >&2
    tail -n 40 "$work/log" >&2
  fi
  grep -E '^(stat::number_of_executed_units|Done [0-9]+ runs|#[0-9]+.*DONE)' \
    "$work/log" || true
done
exit $status

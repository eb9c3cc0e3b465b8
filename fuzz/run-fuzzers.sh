#!/usr/bin/env bash
# Runs every fuzz target built in <build folder> for <seconds> each, on a fresh copy of its
# seeds in <build folder>/corpus/<target>/, and prints one line per target:
#   fuzz <target> execs=<N> exec_per_sec=<N> corpus=<files> cov=<edges> result=<ok|crash|leak|timeout|...>
# A crash, leak, hang (an input that runs longer than KELMORA_FUZZ_TIMEOUT seconds, default 10)
# or memory blow-up (2 GiB) fails the run; the input that shows it lies in
# <build folder>/fuzz-crashes/ and the message says how to replay it.
# Usage: fuzz/run-fuzzers.sh <build folder> <seconds> [target...]
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(modbus_answer sim_request loader_answer hex_image profile_xml led_layout viewformat)
per_input=${KELMORA_FUZZ_TIMEOUT:-10}

# The targets run in a folder of their own: the fault log and the worker log that the code
# under test writes go nowhere, and the profile loader finds no ./profiles there.
work=$build/fuzz-work
crashes=$build/fuzz-crashes
logs=$build/fuzz-logs
mkdir -p "$work" "$crashes" "$logs"
ln -sfn /dev/null "$work/faults.log"
ln -sfn /dev/null "$work/WorkThread.log"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
for target in "${targets[@]}"; do
  exe=$build/fuzz/fuzz_$target
  if [ ! -x "$exe" ]; then
    echo "fuzz $target: $exe is missing (build the kelmora-fuzzers target)" >&2
    failed=1
    continue
  fi
  corpus=$build/corpus/$target
  rm -rf "$corpus"
  "$here/gather-seeds.sh" "$target" "$corpus"
  dict=()
  [ -f "$here/dict/$target.dict" ] && dict=("-dict=$here/dict/$target.dict")
  log=$logs/$target.log
  (cd "$work" && exec "$exe" -max_total_time="$seconds" -timeout="$per_input" -rss_limit_mb=2048 \
     -print_final_stats=1 -artifact_prefix="$crashes/$target-" "${dict[@]}" "$corpus") > "$log" 2>&1 &
  pid=$!
  wait $pid
  rc=$?
  # A target that died leaves its scratch folder behind.
  rm -rf /dev/shm/kelmora-fuzz-$pid-* /tmp/kelmora-fuzz-$pid-*

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  files=$(find "$corpus" -type f | wc -l)
  artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  result=ok
  if [ $rc -ne 0 ]; then
    case $artifact in
      */"$target"-leak-*) result=leak ;;
      */"$target"-timeout-*) result=timeout ;;
      */"$target"-oom-*) result=out-of-memory ;;
      */"$target"-slow-unit-*) result=slow ;;
      *) result=crash ;;
    esac
  fi
  echo "fuzz $target execs=${execs:-0} exec_per_sec=${rate:-0} corpus=$files cov=${cov:-0} result=$result"
  if [ $result != ok ]; then
    failed=1
    echo "fuzz $target found a $result (exit $rc): ${artifact:-no reproducer written}" >&2
    [ -n "$artifact" ] && echo "  replay: (cd $work && $exe $artifact)" >&2
    echo "  log: $log" >&2
    grep -m1 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$log" | sed 's/^/  /' >&2
  fi
done
exit $failed

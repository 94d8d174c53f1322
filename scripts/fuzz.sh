#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz/) with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, and runs each one for a bounded
# time, starting from its seed corpus in fuzz/corpus/. Fails at the first
# harness that finds a crash, a sanitizer report or a hang; the input that
# did it is kept in build-fuzz/crashes/<harness>/.
#
#   scripts/fuzz.sh [SECONDS_PER_HARNESS] [HARNESS...]
#
# SECONDS_PER_HARNESS defaults to 60; the harnesses default to all of them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(terminal_input_fuzzer command_lines_fuzzer rtf_fuzzer user_database_fuzzer
             settings_files_fuzzer irc_message_fuzzer)
fi

scripts/install-deps.sh
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQM_FUZZ=ON -DQM_SANITIZE=ON >/dev/null
cmake --build "$dir" --target "${harnesses[@]}"

# An undefined-behaviour report stops the run, like a crash.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
for harness in "${harnesses[@]}"; do
  # New inputs go to a scratch corpus, so that the committed seeds stay as they are.
  work="$dir/corpus/$harness"
  crashes="$dir/crashes/$harness"
  mkdir -p "$work" "$crashes"
  echo "fuzz.sh: $harness for ${seconds}s"
  if ! "$dir/fuzz/$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="$crashes/" -print_final_stats=1 "$work" "fuzz/corpus/$harness" \
      >"$dir/$harness.log" 2>&1; then
    tail -n 60 "$dir/$harness.log" >&2
    echo "fuzz.sh: $harness failed; the input is in $crashes/" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$dir/$harness.log" | sed "s/^/  /"
done
echo "fuzz.sh: ${#harnesses[@]} harnesses ran ${seconds}s each without a crash"

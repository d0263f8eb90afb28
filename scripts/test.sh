#!/usr/bin/env bash
# The whole test suite: a release build, then the same suite under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer, then a
# short fuzzing run of the XML reader and of mvt-trace's trace reader, then
# the report page in Chromium. One line per phase, plus the output of whatever
# fails. MVT_TEST_PHASES selects phases.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh test

phases=${MVT_TEST_PHASES:-"release asan tsan fuzz browser"}
jobs=$(nproc)
failed=0

# Runs the tests of a build quietly; prints one line, and the output of the
# tests that failed.
run_ctest() {
  local phase=$1 dir=$2 log=$2/ctest.log start=$SECONDS
  shift 2
  if (cd "$dir" && ctest -j "$jobs" --timeout 600 "$@") >"$log" 2>&1; then
    echo "$phase: $(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$log" | sed -E 's/.* out of ([0-9]+)/\1 tests passed/') in $((SECONDS - start)) s (built in $((start - phase_start)) s)"
  else
    echo "$phase: FAILED: $(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$log" || echo 'ctest did not finish')"
    sed -n '/The following tests FAILED/,$p' "$log"
    (cd "$dir" && ctest --rerun-failed --output-on-failure) 2>&1 | tail -n 200 || true
    failed=1
  fi
}

for phase in $phases; do
  phase_start=$SECONDS
  case $phase in
    release)
      bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_BENCH=ON
      run_ctest release build/release -E '^tool\.report_in_browser$' ;;
    asan)
      bash scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DMVT_SANITIZE=address,undefined
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_ctest asan+ubsan build/asan ;;
    tsan)
      bash scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DMVT_SANITIZE=thread
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest tsan build/tsan ;;
    fuzz)
      bash scripts/build.sh build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DMVT_BUILD_FUZZ=ON -DMVT_BUILD_TESTS=OFF
      seconds=${MVT_FUZZ_SECONDS:-60}
      if bash fuzz/run.sh build/fuzz "$seconds" >build/fuzz/fuzz.log 2>&1; then
        inputs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' build/fuzz/fuzz.log | grep -Eo '[0-9]+$' | awk '{ n += $1 } END { if (NR) print n }')
        echo "fuzz: no crash in $seconds s (${inputs:-?} inputs, XML and trace readers)"
      else
        echo "fuzz: FAILED"
        tail -n 60 build/fuzz/fuzz.log
        failed=1
      fi ;;
    browser)
      bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_BENCH=ON
      if (cd build/release && ctest -R '^tool\.report_in_browser$' --output-on-failure) >build/release/browser.log 2>&1; then
        if grep -q "Skipped" build/release/browser.log; then
          echo "browser: skipped (no Chromium or playwright-core)"
        else
          echo "browser: report pages pass in Chromium; screenshots in build/release/browser/"
        fi
      else
        echo "browser: FAILED"
        tail -n 60 build/release/browser.log
        failed=1
      fi ;;
    *) echo "unknown phase $phase"; exit 2 ;;
  esac
done

if [ "$failed" -ne 0 ]; then
  echo "test suite: FAILED"
  exit 1
fi
echo "test suite: all phases passed ($phases)"

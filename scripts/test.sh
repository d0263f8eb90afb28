#!/usr/bin/env bash
# The whole test suite: a release build, then the same suite under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer, then a
# short fuzzing run of the XML reader. MVT_TEST_PHASES selects phases; the
# "browser" phase runs only the report page's test in Chromium (the release
# phase runs it too), printing one line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

phases=${MVT_TEST_PHASES:-"release asan tsan fuzz"}
jobs=$(nproc)
failed=0

run_ctest() {
  local dir=$1
  (cd "$dir" && ctest --output-on-failure -j "$jobs") || failed=1
}

for phase in $phases; do
  echo "=== phase: $phase"
  case $phase in
    release)
      bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_BENCH=ON
      run_ctest build/release ;;
    asan)
      bash scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DMVT_SANITIZE=address,undefined
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_ctest build/asan ;;
    tsan)
      bash scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DMVT_SANITIZE=thread
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build/tsan ;;
    browser)
      bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_BENCH=ON >/dev/null
      if (cd build/release && ctest -R '^tool\.report_in_browser$' --output-on-failure >browser.log 2>&1); then
        grep -q "Skipped" build/release/browser.log && echo "browser: skipped (no Chromium or playwright-core)" ||
          echo "browser: passed; screenshots in build/release/browser/"
      else
        echo "browser: FAILED (see build/release/browser.log)"
        failed=1
      fi ;;
    fuzz)
      if [ -d fuzz ]; then
        bash scripts/build.sh build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
          -DCMAKE_CXX_COMPILER=clang++ -DMVT_BUILD_FUZZ=ON -DMVT_BUILD_TESTS=OFF
        bash fuzz/run.sh build/fuzz "${MVT_FUZZ_SECONDS:-60}" || failed=1
      fi ;;
    *) echo "unknown phase $phase"; exit 2 ;;
  esac
done

if [ "$failed" -ne 0 ]; then
  echo "test suite: FAILED"
  exit 1
fi
echo "test suite: all phases passed ($phases)"

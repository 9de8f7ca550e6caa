#!/usr/bin/env bash
# Checks the formatting of the C++ code, then builds MAGLYX with its tests and
# runs the whole suite three times: as built for use, under AddressSanitizer +
# UndefinedBehaviorSanitizer, and under ThreadSanitizer. A file not formatted,
# any compiler warning, a failing test or any sanitizer report fails the script.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# Every tracked C++ file must be as clang-format leaves it (.clang-format).
# Outside a git checkout, the C++ files of the source folders are checked.
echo "== Formatting =="
list=$(git ls-files -- '*.cpp' '*.cc' '*.h' '*.hpp' 2>/dev/null) && [ -n "$list" ] ||
  list=$(find src tools tests bench resources -name '*.cpp' -o -name '*.h')
mapfile -t files <<<"$list"
unformatted=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" 2>/dev/null || unformatted+=("$f")
done
if ((${#unformatted[@]})); then
  echo "error: not formatted as .clang-format says (fix with clang-format -i FILE...):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "${#files[@]} C++ files formatted"

# The sanitizer builds need no benchmarks, and only line tables for their
# reports; -O1 keeps them quick to build and still quick to run. They also
# check that program code holds the program lock wherever it should.
sanitized=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAGLYX_TESTS=ON -DMAGLYX_BENCH=OFF
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" -DMAGLYX_CHECK_LOCK=ON)

suite() {  # suite NAME BUILD-FOLDER CMAKE-OPTIONS...
  local name=$1 dir=$2
  shift 2
  echo "== $name =="
  cmake -S . -B "$dir" -G Ninja -DMAGLYX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

suite "Tests" build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAGLYX_TESTS=ON

ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  suite "Tests under AddressSanitizer and UndefinedBehaviorSanitizer" build-asan \
  "${sanitized[@]}" -DMAGLYX_ASAN=ON

TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" \
  suite "Tests under ThreadSanitizer" build-tsan "${sanitized[@]}" -DMAGLYX_TSAN=ON

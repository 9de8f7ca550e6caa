#!/usr/bin/env bash
# Installs the Debian packages that are missing for running the program
# ("run": compiler, CMake, Qt) or for testing it as well ("test": GoogleTest,
# Google Benchmark, the locale the tests switch to, an X server, Xvfb, that
# the tests of a lost display start and end, and clang-format, which test.sh
# checks the code's formatting with).
set -euo pipefail

run=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev fonts-dejavu-core)
test=("${run[@]}" libgtest-dev libgmock-dev libbenchmark-dev locales xvfb
  clang-format)
case "${1:-}" in
  run) packages=("${run[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests check that numbers keep their decimal point on a German desktop;
# that test fails without the locale, so this stops here when it cannot be
# made. (localedef exits non-zero also for mere warnings: the check after it
# is what counts.)
has_de() { locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; }
if [ "$1" = test ] && ! has_de; then
  "${sudo_cmd[@]}" localedef -i de_DE -c -f UTF-8 de_DE.UTF-8 || true
  has_de || { echo "error: the de_DE.UTF-8 locale could not be made" >&2; exit 1; }
fi

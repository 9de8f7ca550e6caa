#!/usr/bin/env bash
# Builds MAGLYX and starts it. When no USB serial adapter is attached, the
# bundled meter simulator is started too and shows up in the port list.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh run
# A first configuration leaves the tests out, so that running needs no test
# packages; a build folder that test.sh configured keeps its tests.
tests=()
[ -f build/CMakeCache.txt ] || tests=(-DMAGLYX_TESTS=OFF)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${tests[@]}" >/dev/null
cmake --build build --target maglyx meter-sim

if [ "$(uname -s)" = Linux ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "MAGLYX needs a desktop session (X11 or Wayland): no DISPLAY or WAYLAND_DISPLAY is set." >&2
  exit 1
fi

shopt -s nullglob
adapters=(/dev/ttyUSB* /dev/ttyACM* /dev/cu.usb*)
if [ "${1:-}" = "--sim" ] || ((${#adapters[@]} == 0)); then
  link="${TMPDIR:-/tmp}/maglyx-meter-sim-$$"
  build/tools/meter-sim/meter-sim --link "$link" >/dev/null &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  echo "No meter attached: the simulator answers on $link (press R in the window)."
  export MAGLYX_EXTRA_PORTS="$link${MAGLYX_EXTRA_PORTS:+:$MAGLYX_EXTRA_PORTS}"
fi
build/maglyx

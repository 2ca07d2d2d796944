#!/usr/bin/env bash
# The whole test suite: everything in build/, then the Qt-free tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer in build/san/, the
# port and link tests under ThreadSanitizer in build/tsan/, and the Windows
# build (mingw-w64, in build/win/) under wine against the virtual camera.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build/san -DCMAKE_BUILD_TYPE=Debug -DTERN_SANITIZE=ON -DTERN_GUI=OFF -DTERN_BENCH=OFF >/dev/null
cmake --build build/san -j"$jobs"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTERN_TSAN=ON -DTERN_GUI=OFF -DTERN_BENCH=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target link_tests
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTERN_GUI=OFF -DTERN_BENCH=OFF >/dev/null
cmake --build build/win -j"$jobs" --target ternctl win_tests
export QT_QPA_PLATFORM=offscreen
status=0
echo "== tests =="
(cd build && ctest --output-on-failure -j"$jobs") || status=1
echo "== tests under ASan/UBSan =="
(cd build/san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs") || status=1
echo "== port and link tests under TSan =="
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/link_tests || status=1
echo "== the Windows build under wine =="
bash scripts/wine_test.sh build/win build || status=1
exit $status

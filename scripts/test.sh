#!/usr/bin/env bash
# The whole test suite: everything in build/, then the Qt-free tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer in build/san/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build/san -DCMAKE_BUILD_TYPE=Debug -DTERN_SANITIZE=ON -DTERN_GUI=OFF -DTERN_BENCH=OFF >/dev/null
cmake --build build/san -j"$jobs"
export QT_QPA_PLATFORM=offscreen
status=0
echo "== tests =="
(cd build && ctest --output-on-failure -j"$jobs") || status=1
echo "== tests under ASan/UBSan =="
(cd build/san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs") || status=1
exit $status

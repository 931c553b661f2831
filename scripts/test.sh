#!/usr/bin/env bash
# The whole test suite: install what is missing, build in Release and run every test (core, slow,
# gui offscreen, gl under Xvfb), then the core tests again under ASan+UBSan and the threaded
# pipeline tests under TSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
echo "==> Tests (Release): core, slow, gui"
QT_QPA_PLATFORM=offscreen ctest --test-dir build -LE gl --output-on-failure -j"$jobs"
if ctest --test-dir build -L gl -N | grep -q "Total Tests: [1-9]"; then
  echo "==> Tests (Release): gl under Xvfb"
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build -L gl --output-on-failure
fi

bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQUARV_GUI=OFF -DQUARV_BENCH=OFF \
  -DQUARV_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-O1
echo "==> Tests (ASan+UBSan): core"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -L core --output-on-failure -j"$jobs"

bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUARV_GUI=OFF -DQUARV_BENCH=OFF \
  -DQUARV_SANITIZE=thread -DCMAKE_CXX_FLAGS=-O1
echo "==> Tests (TSan): threaded pipeline and point store"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -L core -R 'Thread|Pipeline|Concurren|Request|EngineRun|TruncatedRecording|Export' \
  --output-on-failure -j"$jobs" --no-tests=ignore
echo "==> All tests passed"

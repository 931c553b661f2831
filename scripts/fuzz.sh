#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan into build-fuzz/ and runs each fuzzer
# for the given number of seconds, one after the other.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (default: 60 s, every target)
# Targets: raw_scan cloud_3dc las layer_list quarv_mcfg colorcfg_mcfg laserscan_cfg.
# Each run starts from tests/fuzz/corpus/<target> and tests/fuzz/regressions/<target>; what it
# learns stays in build-fuzz/corpus/<target>, failing inputs land in build-fuzz/artifacts/<target>/
# (copy them to tests/fuzz/regressions/<target>/ once fixed). Exit status 1 if any fuzzer failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
all=(raw_scan cloud_3dc las layer_list quarv_mcfg colorcfg_mcfg laserscan_cfg)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

bash scripts/build.sh build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARV_FUZZ=ON -DQUARV_TESTS=OFF -DQUARV_GUI=OFF \
  -DQUARV_BENCH=OFF -DQUARV_WERROR=OFF -DQUARV_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS=-Wno-unknown-warning-option

# tmpfs where there is one: the readers are fed through files, and the settings writers sync.
[ -w /dev/shm ] && export TMPDIR=/dev/shm

status=0
for t in "${targets[@]}"; do
  case $t in
    raw_scan|cloud_3dc|las) max_len=16384 ;;
    *) max_len=512 ;;
  esac
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/artifacts/$t" "tests/fuzz/regressions/$t"
  echo "==> fuzz_$t for ${seconds}s"
  # Memory is capped: 2 GiB in all, no single allocation above 512 MiB (a header-driven
  # allocation that large is a finding in itself).
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       "build-fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 \
         -timeout=10 -max_len="$max_len" -print_final_stats=1 \
         -artifact_prefix="build-fuzz/artifacts/$t/" \
         "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" "tests/fuzz/regressions/$t"; then
    echo "==> fuzz_$t FAILED: see build-fuzz/artifacts/$t/"
    status=1
  fi
done
exit $status

#!/usr/bin/env bash
# Mutation score of the test suite: applies the single-point faults listed in
# scripts/mutations.txt (or in the list given with --mutations) to a scratch copy of the sources,
# one at a time, rebuilds the core and slow test programs and runs them. A mutant is CAUGHT when
# a test fails, crashes or times out, MISSED when every test passes, INVALID when it does not
# compile (a fault of the list, not of the tests). The working tree is never touched: the sources
# (working-tree files, uncommitted changes included) are mirrored into WORK/tree and built in
# WORK/build.
#
# Usage: scripts/mutate.sh [-k REGEX] [-j N] [--mutations FILE] [--tree DIR] [--work DIR]
#                          [--timeout S] [--list]
#   -k REGEX     only the mutants whose id or file matches REGEX (Python syntax)
#   -j N         build jobs (default 2)
#   --mutations FILE
#                the list of mutants (default: mutations.txt next to this script)
#   --tree DIR   take the sources from the checkout DIR (default: the one holding this script)
#   --work DIR   scratch folder (default: build-mutate next to this script's scripts/ folder)
#   --timeout S  upper limit in seconds for one test program (default 600); the limit used is
#                five times the unmutated run plus a minute, when that is less
#   --list       only check that every selected mutant applies to the tree, build nothing
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
mutations=$here/mutations.txt
source_tree=$repo
work=$repo/build-mutate
filter=
jobs=2
timeout_cap=600
list_only=0

usage() { sed -n '2,/^set -uo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; }
while (($#)); do
  case $1 in
    -k) filter=${2:?-k needs a pattern}; shift 2 ;;
    -j) jobs=${2:?-j needs a number}; shift 2 ;;
    --mutations) mutations=${2:?--mutations needs a file}; shift 2 ;;
    --tree) source_tree=${2:?--tree needs a folder}; shift 2 ;;
    --work) work=${2:?--work needs a folder}; shift 2 ;;
    --timeout) timeout_cap=${2:?--timeout needs seconds}; shift 2 ;;
    --list) list_only=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "mutate.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
done
source_tree=$(cd "$source_tree" && pwd) || exit 2
[[ -f $mutations ]] || { echo "mutate.sh: no mutation list $mutations" >&2; exit 2; }
mutations=$(cd "$(dirname "$mutations")" && pwd)/$(basename "$mutations")
[[ -f $source_tree/CMakeLists.txt && -d $source_tree/src/core ]] ||
  { echo "mutate.sh: $source_tree is not a quarv checkout" >&2; exit 2; }
mkdir -p "$work" && work=$(cd "$work" && pwd)
tree=$work/tree
build=$work/build
logs=$work/logs

# ---- the Python side: reading the list, applying a mutant, mirroring the tree, reading logs ----
read -r -d '' helper <<'PY'
import os, re, shutil, sys

def parse(path):
    """The mutant blocks of the list, in order, each a dict of its keys."""
    mutants, cur, key = [], None, None
    for n, raw in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if cur is not None and key and raw.startswith("|"):
            cur[key] = (cur[key] + "\n" if cur[key] is not None else "") + raw[2:]
            continue
        key = None
        line = raw.rstrip()
        if not line or line.startswith("#"):
            continue
        m = re.fullmatch(r"\[([A-Za-z0-9_.-]+)\]", line)
        if m:
            cur = {"id": m.group(1), "line": n}
            mutants.append(cur)
            continue
        m = re.match(r"(file|kind|desc|find|repl):(?: (.*))?$", raw)
        if not m or cur is None:
            sys.exit(f"{path}:{n}: cannot read: {raw}")
        k, v = m.group(1), m.group(2)
        if k in cur:
            sys.exit(f"{path}:{n}: {k} given twice for {cur['id']}")
        if k in ("find", "repl") and not v:
            cur[k], key = None, k  # the text follows on "| " lines (or is empty)
        else:
            cur[k] = v or ""
    seen = set()
    for mu in mutants:
        for k in ("file", "kind", "desc", "find"):
            if not mu.get(k):
                sys.exit(f"{path}:{mu['line']}: {mu['id']} has no {k}")
        mu["repl"] = mu.get("repl") or ""
        if mu["id"] in seen:
            sys.exit(f"{path}:{mu['line']}: id {mu['id']} used twice")
        seen.add(mu["id"])
    return mutants

def select(path, pattern):
    rx = re.compile(pattern) if pattern else None
    for mu in parse(path):
        if rx and not (rx.search(mu["id"]) or rx.search(mu["file"])):
            continue
        print("\t".join((mu["id"], mu["file"], mu["kind"], mu["desc"])))

def apply(path, ident, root):
    mu = next((m for m in parse(path) if m["id"] == ident), None)
    if mu is None:
        sys.exit(f"no mutant {ident}")
    target = os.path.join(root, mu["file"])
    try:
        text = open(target, encoding="utf-8").read()
    except OSError as e:
        print(f"{mu['file']} cannot be read ({e.strerror})")
        return 3
    first = text.find(mu["find"])
    count = 0 if first < 0 else 1 + (text.find(mu["find"], first + 1) >= 0)
    if count != 1:
        print(f"the snippet occurs {'nowhere' if count == 0 else 'more than once'} in {mu['file']}")
        return 3
    # A plain write: the file gets a new modification time, so the build sees the change.
    with open(target, "w", encoding="utf-8") as f:
        f.write(text[:first] + mu["repl"] + text[first + len(mu["find"]):])
    return 0

def mirror(src, dst):
    """Makes dst hold exactly the build inputs of src; unchanged files keep their times."""
    entries = ["CMakeLists.txt", "src", "tests", "cmake", "data", "tools", "bench"]
    copied = removed = 0
    os.makedirs(dst, exist_ok=True)
    def same(a, b):
        if os.path.getsize(a) != os.path.getsize(b):
            return False
        with open(a, "rb") as fa, open(b, "rb") as fb:
            return fa.read() == fb.read()
    def copy(a, b):
        nonlocal copied
        if os.path.isfile(b) and not os.path.islink(b) and same(a, b):
            return
        if os.path.lexists(b) and not os.path.isfile(b):
            shutil.rmtree(b) if os.path.isdir(b) else os.remove(b)
        shutil.copyfile(a, b)
        shutil.copymode(a, b)
        copied += 1
    for e in entries:
        a, b = os.path.join(src, e), os.path.join(dst, e)
        if os.path.isfile(a):
            copy(a, b)
            continue
        if not os.path.isdir(a):
            continue
        for d, dirs, files in os.walk(a):
            rel = os.path.relpath(d, a)
            out = os.path.normpath(os.path.join(b, rel))
            if os.path.lexists(out) and not os.path.isdir(out):
                os.remove(out)
            os.makedirs(out, exist_ok=True)
            for name in files:
                if os.path.isfile(os.path.join(d, name)):
                    copy(os.path.join(d, name), os.path.join(out, name))
            # What the source no longer has goes, so that the build's globs see the same files.
            keep = set(files) | set(dirs)
            for name in os.listdir(out):
                if name not in keep:
                    p = os.path.join(out, name)
                    shutil.rmtree(p) if os.path.isdir(p) and not os.path.islink(p) else os.remove(p)
                    removed += 1
    print(f"{copied} files copied, {removed} removed")

def first_failure(log):
    """'failed NAME' for the first failing test, else 'running NAME' for the test that was
    running when the program stopped, else 'unknown'."""
    running = None
    for line in open(log, encoding="utf-8", errors="replace"):
        m = re.match(r"\[  FAILED  \] (\S+?)(?:,| \(|$)", line.rstrip())
        if m and "." in m.group(1):
            print("failed " + m.group(1))
            return
        m = re.match(r"\[ RUN      \] (\S+)", line)
        if m:
            running = m.group(1)
        elif re.match(r"\[       OK \] ", line):
            running = None
    print("running " + running if running else "unknown")

cmd, args = sys.argv[1], sys.argv[2:]
if cmd == "select":
    select(*args)
elif cmd == "apply":
    sys.exit(apply(*args))
elif cmd == "mirror":
    mirror(*args)
elif cmd == "first-failure":
    first_failure(*args)
else:
    sys.exit("unknown helper command " + cmd)
PY
# The interpreter itself, looked up once: a version manager's shim costs a process per call.
python=$(python3 -c 'import sys; print(sys.executable)') || { echo "mutate.sh: needs python3" >&2; exit 2; }
py() { "$python" -c "$helper" "$@"; }

selection=$(py select "$mutations" "$filter") || exit 2
[[ -n $selection ]] || { echo "mutate.sh: no mutant matches '$filter'" >&2; exit 2; }
total=$(grep -c . <<<"$selection")

# ---- the scratch tree, and the restore of a mutated file whatever ends the run ----------------
echo "==> Sources from $source_tree into $tree: $(py mirror "$source_tree" "$tree")" || exit 2
mkdir -p "$logs"
active=
pristine=$work/pristine
restore() {
  if [[ -n $active ]]; then
    cat "$pristine" >"$tree/$active" # a new modification time: the next build recompiles it
    active=
  fi
}
trap 'restore' EXIT
trap 'restore; echo; echo "mutate.sh: interrupted" >&2; exit 130' INT TERM

if ((list_only)); then
  bad=0
  while IFS=$'\t' read -r id file kind desc; do
    cp "$tree/$file" "$pristine" 2>/dev/null || { echo "not applied  $id: no $file"; bad=1; continue; }
    active=$file
    if why=$(py apply "$mutations" "$id" "$tree"); then
      echo "applies      $id ($file)"
    else
      echo "not applied  $id: $why"
      bad=1
    fi
    restore
  done <<<"$selection"
  exit "$bad"
fi

# ---- configure and build ---------------------------------------------------------------------
cmake_args=(-S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARV_GUI=OFF
  -DQUARV_BENCH=OFF -DQUARV_TESTS=ON -DQUARV_FUZZ=OFF
  # Test discovery at build time would run every freshly linked test program once more.
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST)
if command -v ccache >/dev/null; then cmake_args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
if ! cmake "${cmake_args[@]}" >"$logs/configure.log" 2>&1; then
  echo "mutate.sh: configuring failed, see $logs/configure.log" >&2
  exit 2
fi
# The test programs the tree has (a folder without tests makes no program); the slow tests run
# quarv-cli.
targets=(quarv-cli) programs=()
for t in quarv_core_tests quarv_slow_tests; do
  if grep -qE "^build $t(:| )" "$build/build.ninja"; then
    targets+=("$t") programs+=("$build/$t")
  else
    echo "    (the tree has no $t)"
  fi
done
((${#programs[@]})) || { echo "mutate.sh: the tree has no test program to run" >&2; exit 2; }
build_targets() { cmake --build "$build" -j "$jobs" --target "${targets[@]}" >"$1" 2>&1; }

gtest_flags=(--gtest_fail_fast --gtest_color=no)
# Tests that would rewrite their expected outputs instead of comparing with them pass anything.
unset QUARV_UPDATE_GOLDEN

# Runs the core then the slow tests; sets outcome (pass, failed, crashed, timed-out) and test.
run_tests() {
  local log=$1 bin rc name t found
  : >"$log"
  outcome=pass test=
  for bin in "${programs[@]}"; do
    t=${limit[$bin]}
    echo "==> $(basename "$bin") (limit ${t}s)" >>"$log"
    # (The group's own stderr takes the shell's note on a program killed by a signal.)
    { (cd "$build/tests" && timeout -k 10 "$t" "$bin" "${gtest_flags[@]}") >>"$log" 2>&1; } 2>/dev/null
    rc=$?
    ((rc == 0)) && continue
    found=$(py first-failure "$log")
    name=${found#* }
    if ((rc == 124 || rc == 137)); then
      outcome=timed-out test=${name}
    elif [[ $found == failed* ]]; then
      outcome=failed test=$name
    else
      outcome=crashed test="$name (exit $rc)"
    fi
    [[ $test == unknown* ]] && test="$(basename "$bin") $test"
    return 0
  done
}

secs() { echo $(($(date +%s) - $1)); }

# ---- the unmutated suite must pass -----------------------------------------------------------
start=$(date +%s)
echo "==> Building the unmutated tree in $build (-j $jobs)"
if ! build_targets "$logs/unmutated-build.log"; then
  echo "mutate.sh: the unmutated tree does not build, see $logs/unmutated-build.log" >&2
  grep -m3 -E 'error|FAILED' "$logs/unmutated-build.log" >&2
  exit 2
fi
echo "    built in $(secs "$start")s"
declare -A limit
for bin in "${programs[@]}"; do
  name=$(basename "$bin")
  t0=$(date +%s%N)
  { (cd "$build/tests" && timeout -k 10 "$timeout_cap" "$bin" "${gtest_flags[@]}") \
    >"$logs/unmutated-$name.log" 2>&1; } 2>/dev/null
  rc=$?
  ms=$((($(date +%s%N) - t0) / 1000000))
  if ((rc != 0)); then
    echo "mutate.sh: the unmutated $name does not pass (exit $rc): $(py first-failure "$logs/unmutated-$name.log")" >&2
    echo "           see $logs/unmutated-$name.log; nothing to measure" >&2
    exit 1
  fi
  l=$((5 * ms / 1000 + 60))
  ((l > timeout_cap)) && l=$timeout_cap
  limit[$bin]=$l
  echo "    unmutated $name passes in $((ms / 1000)).$((ms % 1000 / 100))s (limit per mutant ${l}s)"
done

# ---- the mutants -----------------------------------------------------------------------------
results=$work/results.tsv
printf 'id\tfile\tkind\toutcome\tfirst failing test\tbuild s\ttest s\tdescription\n' >"$results"
caught=0 missed=0 invalid=0 skipped=0 i=0
echo "==> $total mutants"
while IFS=$'\t' read -r id file kind desc; do
  i=$((i + 1))
  tag=$(printf '[%2d/%d] %-36s' "$i" "$total" "$id")
  log=$logs/$id.log
  if ! cp "$tree/$file" "$pristine" 2>/dev/null; then
    echo "$tag NOT APPLIED  no file $file"
    printf '%s\t%s\t%s\tNOT APPLIED\tno such file\t\t\t%s\n' "$id" "$file" "$kind" "$desc" >>"$results"
    skipped=$((skipped + 1))
    continue
  fi
  active=$file
  if ! why=$(py apply "$mutations" "$id" "$tree"); then
    active=
    echo "$tag NOT APPLIED  $why"
    printf '%s\t%s\t%s\tNOT APPLIED\t%s\t\t\t%s\n' "$id" "$file" "$kind" "$why" "$desc" >>"$results"
    skipped=$((skipped + 1))
    continue
  fi
  t0=$(date +%s)
  if ! build_targets "$log.build"; then
    bs=$(secs "$t0")
    restore
    err=$(grep -m1 -E 'error:' "$log.build" | sed 's/^.*error: //')
    echo "$tag INVALID      does not compile: ${err:-see $log.build}"
    printf '%s\t%s\t%s\tINVALID\t%s\t%s\t\t%s\n' "$id" "$file" "$kind" "$err" "$bs" "$desc" >>"$results"
    invalid=$((invalid + 1))
    continue
  fi
  bs=$(secs "$t0")
  t1=$(date +%s)
  run_tests "$log"
  ts=$(secs "$t1")
  restore
  if [[ $outcome == pass ]]; then
    verdict=MISSED detail="all tests pass"
    missed=$((missed + 1))
    test=
  else
    verdict=CAUGHT detail="$outcome: $test"
    caught=$((caught + 1))
  fi
  printf '%s %-12s %s  (build %ss, tests %ss)\n' "$tag" "$verdict" "$detail" "$bs" "$ts"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$file" "$kind" "$verdict" "$test" "$bs" "$ts" \
    "$desc" >>"$results"
done <<<"$selection"

valid=$((caught + missed))
echo "==> $missed missed, $invalid invalid, $skipped not applied; table in $results"
echo "caught $caught of $valid valid mutants"
echo "    (wall time $(secs "$start")s)"

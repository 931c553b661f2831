#!/usr/bin/env bash
# A quarv-cli batch fanned out with GNU parallel (Debian package "parallel"): one batch task per
# recording, on the local cores or on other hosts (-S, as GNU parallel's --sshlogin) that see
# the campaign folders, the configuration root and quarv-cli under the same paths. Each task is
# `quarv-cli batch ... --task K --tasks N`, so it writes exactly the files the single batch
# would; the tasks' reports are then merged into the batch's report. The files are byte for byte
# those of `quarv-cli batch` with the same arguments.
#
# Usage: scripts/campaign-parallel.sh [-S HOSTS] [-j JOBS] -- INPUT... --out DIR [batch options]
#   -j JOBS   tasks at once per host (GNU parallel's -j; default: one per core); each task
#             processes its recording with one worker thread unless --threads is among the
#             batch options
#   QUARV_CLI the quarv-cli to run (default: quarv-cli on PATH, else build/quarv-cli here)
# Exit status: 0 every recording processed or skipped, 3 a recording failed, 1/2 as the batch.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${QUARV_CLI:-$(command -v quarv-cli || echo "$here/build/quarv-cli")}
popts=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    -S|-j) popts+=("$1" "$2"); shift 2 ;;
    *) echo "campaign-parallel: unknown option $1 (batch options go after --)" >&2; exit 2 ;;
  esac
done
[ "${1:-}" = "--" ] && shift
command -v parallel >/dev/null || { echo "campaign-parallel: GNU parallel is not installed (apt-get install parallel)" >&2; exit 1; }

# The batch's own arguments, less --report, which names the merged report.
args=() out="" report="" threads=""
while [ $# -gt 0 ]; do
  case $1 in
    --report) report=$2; shift 2 ;;
    --out) out=$2; args+=("$1" "$2"); shift 2 ;;
    --threads) threads=1; args+=("$1"); shift ;;
    *) args+=("$1"); shift ;;
  esac
done
[ -n "$out" ] || { echo "campaign-parallel: --out DIR is required" >&2; exit 2; }
[ -n "$threads" ] || args+=(--threads 1)
report=${report:-$out/batch-report.csv}

# The same list, in the same order, as the batch makes (and the usage checks of the batch).
list=$("$cli" batch "${args[@]}" --list) || exit $?
n=$(printf '%s' "$list" | grep -c . || true)
[ "$n" -gt 0 ] || { echo "campaign-parallel: no recordings to process" >&2; exit 1; }
parts="$out/.parts"
mkdir -p "$parts"
rm -f "$parts"/*.json

# -q keeps every argument whole, on this host and over ssh alike. A task that fails still has
# its report; the merge says what failed.
seq 0 $((n - 1)) | parallel "${popts[@]}" -q "$cli" batch "${args[@]}" --task {} --tasks "$n" \
  --report "$parts/{}.json" || true
reports=()
for k in $(seq 0 $((n - 1))); do
  [ -f "$parts/$k.json" ] || { echo "campaign-parallel: task $k left no report" >&2; exit 3; }
  reports+=("$parts/$k.json")
done
status=0
"$cli" batch-merge "$report" "${reports[@]}" || status=$?
rm -rf "$parts"
exit $status

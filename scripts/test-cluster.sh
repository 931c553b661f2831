#!/usr/bin/env bash
# Checks the two scale-out routes of a campaign against `quarv-cli batch` for real: installs
# Debian's slurm-wlm, munge and parallel when missing, starts munge and a single-node Slurm
# cluster on this machine (slurmctld and slurmd on localhost, run as root, state in a temporary
# folder), makes three small recordings, runs the serial batch, submits scripts/campaign.sbatch
# (a three-task array and the merge job), runs scripts/campaign-parallel.sh, and compares every
# output byte for byte and the merged reports row for row (seconds aside) with the batch's.
# Everything it started is stopped at the end. Needs root. Not part of CI (installs packages and
# starts daemons); run by hand: scripts/test-cluster.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$(readlink -f "${1:-$here/build}/quarv-cli")
[ -x "$cli" ] || { echo "test-cluster: $cli is not built" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "test-cluster: run as root" >&2; exit 1; }

need=()
for p in slurm-wlm munge parallel; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

work=$(mktemp -d /tmp/quarv-cluster-XXXXXX)
chmod 755 "$work" # munged runs as munge and keeps its files inside
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  done
  rm -rf "$work"
}
trap cleanup EXIT

# ---- munge: a key of its own and a daemon on a socket of its own ----
mkdir -p "$work/munge"
chown munge: "$work/munge" && chmod 700 "$work/munge"
dd if=/dev/urandom bs=1 count=1024 of="$work/munge/munge.key" status=none
chown munge: "$work/munge/munge.key" && chmod 400 "$work/munge/munge.key"
socket=/run/munge/munge.socket.2
mkdir -p /run/munge && chown munge: /run/munge
if [ -S "$socket" ] && pgrep -x munged >/dev/null; then
  echo "test-cluster: a munged is already running; using it" >&2
else
  runuser -u munge -- /usr/sbin/munged --key-file="$work/munge/munge.key" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
    --seed-file="$work/munge/seed" --force
  for _ in $(seq 50); do [ -f "$work/munge/munged.pid" ] && break; sleep 0.1; done
  pids+=("$(cat "$work/munge/munged.pid")")
fi

# ---- Slurm: controller and one node on localhost ----
node=quarvnode
host=$(hostname -s)
cpus=$(nproc)
mkdir -p "$work/cluster/state" "$work/cluster/spool"
export SLURM_CONF="$work/cluster/slurm.conf"
cat > "$SLURM_CONF" <<CONF
ClusterName=quarvtest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$work/cluster/state
SlurmdSpoolDir=$work/cluster/spool
SlurmctldPidFile=$work/cluster/slurmctld.pid
SlurmdPidFile=$work/cluster/slurmd.pid
SlurmctldLogFile=$work/cluster/slurmctld.log
SlurmdLogFile=$work/cluster/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=$node NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=quarv Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
/usr/sbin/slurmctld -f "$SLURM_CONF"
for _ in $(seq 50); do [ -f "$work/cluster/slurmctld.pid" ] && break; sleep 0.2; done
pids+=("$(cat "$work/cluster/slurmctld.pid")")
/usr/sbin/slurmd -f "$SLURM_CONF" -N "$node"
for _ in $(seq 50); do [ -f "$work/cluster/slurmd.pid" ] && break; sleep 0.2; done
pids+=("$(cat "$work/cluster/slurmd.pid")")
for _ in $(seq 100); do
  sinfo -h -N -o %t 2>/dev/null | grep -q idle && break
  sleep 0.3
done
sinfo -N -o "%N %t %c" || { cat "$work/cluster/slurmctld.log" >&2; exit 1; }

# ---- the campaign: three recordings of different kinds and sizes ----
cd "$work"
mkdir -p in home
"$cli" simulate -o in/plane.raw --scene plane --distance 4 --shots 64 --lines 24 >/dev/null
"$cli" simulate -o in/seabed.raw --scene seabed --type 2 --shots 48 --lines 20 --seed 5 >/dev/null
"$cli" simulate -o in/harbour.raw --scene harbour --shots 48 --lines 16 --scatterers 3000 >/dev/null
opts=(in --out OUT --las --xyz --points --home "$work/home")

echo "== serial batch"
"$cli" batch "${opts[@]/OUT/serial}" 2>/dev/null

echo "== Slurm array"
QUARV_CLI=$cli "$here/scripts/campaign.sbatch" "${opts[@]/OUT/slurm}"
for _ in $(seq 600); do
  [ -z "$(squeue -h -o %i)" ] && break
  sleep 0.5
done
[ -z "$(squeue -h -o %i)" ] || { echo "test-cluster: jobs did not finish" >&2; squeue; exit 1; }
cat quarv-campaign-merge-*.log

echo "== GNU parallel"
QUARV_CLI=$cli "$here/scripts/campaign-parallel.sh" -- "${opts[@]/OUT/parallel}" 2>/dev/null

# Outputs byte for byte; reports row for row without the seconds column and the folder name.
status=0
rows() { cut -d, -f1-11,13- "$1/batch-report.csv" | sed "s#$1/#OUT/#g"; }
for route in slurm parallel; do
  if diff -r -x batch-report.csv serial "$route" && diff <(rows serial) <(rows "$route"); then
    echo "$route: the same $(find "$route" -type f | wc -l) files and report as the batch"
  else
    echo "$route: DIFFERS from the batch" >&2
    status=1
  fi
done
exit $status

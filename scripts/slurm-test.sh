#!/usr/bin/env bash
# scripts/slurm-test.sh: keys a shot as a render farm would, on a one-node
# Slurm cluster started on this machine, and checks every frame
# byte-identical to one keyvale-cli run over the whole shot.
#
# 1. Makes a 48-frame 1920x1080 Targa shot (bench/make-frames.py).
# 2. Resume: a run killed with SIGKILL midway, rerun with --skip-existing,
#    ends byte-identical to a clean run with no partial file left.
# 3. Slurm: writes a slurm.conf of its own (state, spool, logs and pid files
#    in a temporary folder), starts munged when no munge daemon answers,
#    then slurmctld and slurmd; a first job writes the shot's setting file,
#    an array job keys the shot in chunks of 10 (tasks 0-4), and the
#    daemons it started are stopped by their pid files. When slurmd cannot
#    run here (packages missing, no root), the step says why and counts as
#    skipped.
#
# Closes with "N passed, N failed[, N skipped]".
#
#   KEYVALE_CLI   the keyvale-cli to test (default: build/debug's)
set -uo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
cli=$(readlink -f "${KEYVALE_CLI:-$repo/build/debug/cli/keyvale-cli}")
frames=48
chunk=10
passed=0 failed=0 skipped=0
work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-slurm.XXXXXX")
started_pids=()

# Stops the daemons this script started, last first, and waits for each
# to be gone before their folders are removed.
cleanup() {
  local i pid tries
  for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
    [ -s "${started_pids[i]}" ] || continue
    pid=$(cat "${started_pids[i]}")
    kill "$pid" 2>/dev/null || continue
    for tries in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
skip() { echo "SKIPPED: $1"; skipped=$((skipped + 1)); }

# same_frames NAME EXPECTED ACTUAL: every file of both folders, byte for byte.
same_frames() {
  local count
  count=$(find "$2" -type f | wc -l)
  if [ "$count" -eq "$frames" ] && diff -r "$2" "$3" >/dev/null; then
    pass "$1: $count frames byte-identical"
  else
    fail "$1: differs from one run ($count frames expected)"
    diff -rq "$2" "$3" | head -n 5
  fi
}

shot=$work/in/frame%03d.tga
range=0-$((frames - 1))
key_shot() { "$cli" key "$shot" --frames "$range" "$@"; }

echo "Making $frames frames of 1920x1080 in $work/in ..."
python3 "$repo/bench/make-frames.py" "$work/in" "$frames" 1920 1080 >/dev/null || { echo "0 passed, 1 failed"; exit 1; }
key_shot --out-dir "$work/single" --channel auto --auto-adjust --quiet >/dev/null || fail "one run over the shot"

# --- Resume after SIGKILL --------------------------------------------------
resume_after_kill() {
  # keyvale-cli itself, not a shell function around it, takes the SIGKILL.
  "$cli" key "$shot" --frames "$range" --out-dir "$work/killed" --channel auto --auto-adjust \
    --jobs 1 --quiet >/dev/null 2>&1 &
  local pid=$! waited=0
  # Kill it once a few frames are done and others are still to come.
  while [ "$(find "$work/killed" -name '*.tga' 2>/dev/null | wc -l)" -lt 5 ] && [ $waited -lt 600 ]; do
    sleep 0.05
    waited=$((waited + 1))
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  local done_before
  done_before=$(find "$work/killed" -name '*.tga' | wc -l)
  echo "killed after $done_before of $frames frames," \
    "leaving $(find "$work/killed" -name '*.kvl-partial' | wc -l) partial file(s)"
  key_shot --out-dir "$work/killed" --channel auto --auto-adjust --skip-existing --quiet >/dev/null ||
    fail "rerun after kill -9"
  if [ -n "$(find "$work/killed" -name '*.kvl-partial')" ]; then
    fail "partial files left after the rerun"
  else
    pass "rerun after kill -9 leaves no partial file"
  fi
  same_frames "kill -9 and --skip-existing" "$work/single" "$work/killed"
}
resume_after_kill

# --- Slurm -----------------------------------------------------------------
conf_dir=$work/slurm
export SLURM_CONF=$conf_dir/slurm.conf

write_slurm_conf() {
  local host
  host=$(hostname -s)
  mkdir -p "$conf_dir/state" "$conf_dir/spool"
  cat >"$SLURM_CONF" <<CONF
ClusterName=keyvale-test
SlurmctldHost=$host
SlurmUser=root
AuthType=auth/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
StateSaveLocation=$conf_dir/state
SlurmdSpoolDir=$conf_dir/spool
SlurmctldPidFile=$conf_dir/slurmctld.pid
SlurmdPidFile=$conf_dir/slurmd.pid
SlurmctldLogFile=$conf_dir/slurmctld.log
SlurmdLogFile=$conf_dir/slurmd.log
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=keyvale Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
}

# A munge daemon that answers is used as it is; else one is started.
start_munge() {
  munge -n 2>/dev/null | unmunge >/dev/null 2>&1 && return 0
  [ -f /etc/munge/munge.key ] || mungekey -c >/dev/null 2>&1 || return 1
  mkdir -p /run/munge
  munged --force --pid-file="$conf_dir/munged.pid" 2>/dev/null || munged --force || return 1
  started_pids+=("$conf_dir/munged.pid")
  sleep 1
  munge -n 2>/dev/null | unmunge >/dev/null 2>&1
}

# Sets `why` to why Slurm cannot run here, or leaves it empty when its
# node came up idle. (Not run in a subshell: the pid files must be kept.)
start_slurm() {
  local tool
  why=
  for tool in sbatch sinfo slurmctld slurmd munged mungekey munge; do
    command -v "$tool" >/dev/null || { why="$tool is not installed (slurm-wlm, munge)"; return; }
  done
  [ "$(id -u)" -eq 0 ] || { why="slurmd must run as root"; return; }
  write_slurm_conf
  start_munge || { why="munged does not start"; return; }
  slurmctld || { why="slurmctld does not start: $(tail -n 2 "$conf_dir/slurmctld.log" 2>/dev/null)"; return; }
  started_pids+=("$conf_dir/slurmctld.pid")
  slurmd || { why="slurmd does not start: $(tail -n 2 "$conf_dir/slurmd.log" 2>/dev/null)"; return; }
  started_pids+=("$conf_dir/slurmd.pid")
  local second
  for second in $(seq 1 30); do
    [ "$(sinfo -h -o %t 2>/dev/null)" = idle ] && return
    sleep 1
  done
  why="the node did not come up idle: $(sinfo -h -o '%t %E' 2>&1)"
}

run_array_job() {
  local setting=$work/shot.kvs tasks=$(((frames + chunk - 1) / chunk))
  sbatch --wait --quiet --output="$work/setting-%j.log" --wrap \
    "'$cli' key '$shot' --frames $range --channel auto --auto-adjust --settings-out '$setting'" ||
    { fail "setting job"; return; }
  cat >"$work/key-chunk.sh" <<SCRIPT
#!/bin/bash
# One task of the shot: chunk \$SLURM_ARRAY_TASK_ID of $chunk frames.
exec '$cli' key '$shot' --frames $range --out-dir '$work/farm' --settings '$setting' \\
  --chunk-size $chunk --task-from-env SLURM_ARRAY_TASK_ID --skip-existing --progress plain
SCRIPT
  echo "setting job done after $((SECONDS - start)) s"
  if sbatch --wait --quiet --array=0-$((tasks - 1)) --cpus-per-task=1 \
    --output="$work/chunk-%a.log" "$work/key-chunk.sh"; then
    pass "array job of $tasks tasks"
  else
    fail "array job of $tasks tasks"
    tail -n 5 "$work"/chunk-*.log
  fi
  grep -q "Keying 8/8 files" "$work/chunk-4.log" && pass "last task keyed the short chunk of 8" ||
    fail "last task's log: $(tail -n 1 "$work/chunk-4.log")"
  same_frames "Slurm array job" "$work/single" "$work/farm"
}

start=$SECONDS
start_slurm
echo "Slurm node up after $((SECONDS - start)) s"
if [ -n "$why" ]; then
  skip "Slurm: $why"
else
  run_array_job
  echo "Slurm part: $((SECONDS - start)) s"
fi

if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]

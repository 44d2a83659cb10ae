#!/bin/bash
# Renders a sequence through vexorant-slurm on a Slurm cluster of the test's own (munged,
# slurmctld and slurmd on this machine, with their configuration, state and sockets here) and
# compares every frame, byte for byte, with one `vexorant render` of the whole range. A task
# requeued afterwards must replace its own frames and leave every other file as it was.
#   slurm_test.sh VEXORANT_SLURM BIN_DIR WORK_DIR
# Exits 77 (skipped) when not root or when Slurm, munge or FFmpeg is not installed.
set -euo pipefail

script=$(readlink -f "$1")
bin=$(cd "$2" && pwd)
work=$3
export PATH=$PATH:/usr/sbin:/sbin
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || skip "the Slurm daemons of the test run as root"
for tool in munged munge slurmctld slurmd sbatch sinfo squeue scontrol scancel ffmpeg; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (Debian: slurm-wlm, munge)"
done
# A Slurm job or environment around the test must not steer its commands.
while read -r name; do unset "$name"; done < <(compgen -e | grep -E '^(SLURM|SBATCH|SALLOC)_')

rm -rf "$work" && mkdir -p "$work" && cd "$work"
mkdir state spool
# A socket's path has a length limit that a build folder can pass.
sockets=$(mktemp -d /tmp/vexorant-slurm-test.XXXXXX)

cluster_up=""
stop_daemons() {
    local name pid
    if [ -n "$cluster_up" ]; then
        scancel --quiet --user=root 2>/dev/null || true
        for _ in $(seq 50); do
            [ -z "$(squeue -h 2>/dev/null)" ] && break
            sleep 0.2
        done
    fi
    for name in slurmd slurmctld munged; do
        [ -s $name.pid ] || continue
        pid=$(cat $name.pid)
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$sockets"
}
trap stop_daemons EXIT

show_logs() {
    local log
    for log in munged.log slurmctld.log slurmd.log task-*.log; do
        [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
    done >&2
}
daemon_failed() { show_logs; fail "$*"; }

# Ports nothing listens on, so that an installed Slurm keeps its own.
free_port() {  # AFTER
    local port
    for ((port = $1 + 1; port < 65000; port++)); do
        (: </dev/tcp/127.0.0.1/$port) 2>/dev/null || { echo $port; return; }
    done
    fail "no free port"
}
ctld_port=$(free_port $((20000 + RANDOM % 20000)))
node_port=$(free_port "$ctld_port")

head -c 1024 /dev/urandom >munge.key
chmod 400 munge.key
munged --force --socket="$sockets/munge" --key-file="$work/munge.key" \
    --pid-file="$work/munged.pid" --log-file="$work/munged.log" \
    --seed-file="$work/munged.seed" </dev/null >/dev/null 2>&1 || daemon_failed "munged failed"
munge -n -S "$sockets/munge" | unmunge -S "$sockets/munge" >/dev/null ||
    daemon_failed "munged does not answer"

host=$(hostname -s)
cat >slurm.conf <<EOF
ClusterName=vexotest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$sockets/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
MailProg=/bin/true
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm.conf
slurmctld -c -f "$SLURM_CONF" </dev/null >/dev/null 2>&1 || daemon_failed "slurmctld failed"
cluster_up=1
slurmd -f "$SLURM_CONF" </dev/null >/dev/null 2>&1 || daemon_failed "slurmd failed"
for _ in $(seq 100); do
    [ "$(sinfo -h -n "$host" -o %t 2>/dev/null)" = idle ] && break
    sleep 0.2
done
[ "$(sinfo -h -n "$host" -o %t 2>/dev/null)" = idle ] || daemon_failed "node $host is not idle"
echo "ok: cluster up, node $host idle"

ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=24 -frames:v 6 -vf format=rgba \
    -start_number 1 in.%04d.png
settings=(--set "Translate X=25" --set "Rotate=0@1,30@6")
"$bin/vexorant" render --input in.%04d.png "${settings[@]}" --frames 1-6 \
    --output whole.%04d.png >/dev/null

"$script" --frames 1-6 --per-task 2 --vexorant "$bin/vexorant" --wait --output=task-%a.log \
    --job-name=vexorant-test -- --input in.%04d.png "${settings[@]}" --output farm.%04d.png \
    >sbatch.out || { show_logs; fail "the array failed"; }
job=$(awk '/^Submitted batch job/ { print $4 }' sbatch.out)
[ -n "$job" ] || fail "sbatch printed no job: $(cat sbatch.out)"

# One task a part, each its own frames.
[ "$(ls task-*.log | wc -l)" -eq 3 ] || fail "tasks that ran: $(ls task-*.log)"
for task in 0 1 2; do
    grep -q "task $task of job $job renders frames $((2 * task + 1))-$((2 * task + 2))$" \
        task-$task.log || { show_logs; fail "task $task did not render its own frames"; }
done
echo "ok: job $job ran 3 tasks of 2 frames"

# The files' compression may differ, the images not.
pixels() { ffmpeg -v quiet -i "$1" -f rawvideo -pix_fmt rgba - 2>/dev/null; }
for frame in 1 2 3 4 5 6; do
    name=$(printf %04d $frame)
    [ -f farm.$name.png ] || fail "frame $frame was not written"
    cmp -s <(pixels farm.$name.png) <(pixels whole.$name.png) ||
        fail "frame $frame from the farm differs from the one render's"
    ! cmp -s <(pixels farm.$name.png) <(pixels in.$name.png) ||
        fail "frame $frame is its input unchanged"
done
echo "ok: frames 1-6 match one vexorant render of them"

# A retried task: files are replaced whole by rename, so a new file means a rewritten frame.
declare -A inode
for file in farm.*.png; do inode[$file]=$(stat -c %i "$file"); done
# Slurm holds a requeued job back for minutes before it may start again.
scontrol requeue "${job}_1"
scontrol update JobId="${job}_1" StartTime=now
for _ in $(seq 150); do
    [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && break
    sleep 0.2
done
[ -z "$(squeue -h -j "$job")" ] || fail "the requeued task has not finished: $(squeue -j "$job")"
changed=""
for file in farm.*.png; do
    [ "$(stat -c %i "$file")" = "${inode[$file]}" ] || changed+="$file "
done
[ "$changed" = "farm.0003.png farm.0004.png " ] ||
    { show_logs; fail "the requeued task replaced: ${changed:-nothing}"; }
for frame in 0003 0004; do
    cmp -s <(pixels farm.$frame.png) <(pixels whole.$frame.png) ||
        fail "frame $frame from the requeued task differs"
done
echo "ok: the requeued task rewrote frames 3 and 4 only"

# A private single-node Slurm (munged, slurmctld, slurmd) under a temporary
# folder, for tests: its own munge key and socket, its own ports, no
# accounting, no systemd. Sourced by the tests; root is needed, since slurmd
# starts jobs as their users. Only the daemons started here are stopped, by the
# process ids they wrote.
#
#   start_private_slurm DIR   exports SLURM_CONF and waits until the node is idle
#   stop_private_slurm        stops what start_private_slurm started

private_slurm_free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

private_slurm_pids=()

start_private_slurm() {
    local dir=$1 host cpus memory ctld_port slurmd_port
    PRIVATE_SLURM_DIR=$dir
    mkdir -p "$dir"/munge "$dir"/state "$dir"/spool "$dir"/log
    chmod 700 "$dir"/munge
    # munged insists on a key only its user can read, in folders others cannot write.
    dd if=/dev/urandom of="$dir"/munge/munge.key bs=1024 count=1 status=none
    chmod 400 "$dir"/munge/munge.key
    munged --force --socket="$dir"/munge/socket --key-file="$dir"/munge/munge.key \
        --pid-file="$dir"/munge/munged.pid --log-file="$dir"/log/munged.log \
        --seed-file="$dir"/munge/munged.seed || { cat "$dir"/log/munged.log >&2; return 1; }
    private_slurm_pids+=("$(cat "$dir"/munge/munged.pid)")

    host=$(hostname -s)
    read -r cpus memory < <(slurmd -C | sed -n 's/.*CPUs=\([0-9]*\).*RealMemory=\([0-9]*\).*/\1 \2/p')
    ctld_port=$(private_slurm_free_port)
    slurmd_port=$(private_slurm_free_port)
    while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port=$(private_slurm_free_port); done
    cat > "$dir"/slurm.conf <<CONF
ClusterName=corvantis-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
ReturnToService=2
# Ended jobs stay known to scontrol this long: the status script must also
# cope with jobs it no longer knows.
MinJobAge=30
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
    export SLURM_CONF=$dir/slurm.conf
    slurmctld -f "$SLURM_CONF" || { cat "$dir"/log/slurmctld.log >&2; return 1; }
    private_slurm_wait_for_pid "$dir"/slurmctld.pid || return 1
    slurmd -f "$SLURM_CONF" || { cat "$dir"/log/slurmd.log >&2; return 1; }
    private_slurm_wait_for_pid "$dir"/slurmd.pid || return 1
    local tries=0
    until [ "$(sinfo -h -N -o %t 2>/dev/null)" = idle ]; do
        tries=$((tries + 1))
        if [ $tries -gt 60 ]; then
            echo "the private Slurm's node is not idle after 30 s: $(sinfo -N 2>&1)" >&2
            tail -20 "$dir"/log/slurmctld.log "$dir"/log/slurmd.log >&2
            return 1
        fi
        sleep 0.5
    done
}

private_slurm_wait_for_pid() {
    local file=$1 tries=0
    until [ -s "$file" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 40 ]; then echo "no pid file $file after 20 s" >&2; return 1; fi
        sleep 0.5
    done
    private_slurm_pids+=("$(cat "$file")")
}

stop_private_slurm() {
    local pid i
    # slurmd, slurmctld, then munged: the reverse of their start.
    for ((i = ${#private_slurm_pids[@]} - 1; i >= 0; i--)); do
        pid=${private_slurm_pids[i]}
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
    private_slurm_pids=()
}

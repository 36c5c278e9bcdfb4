#!/usr/bin/env bash
# slurm-one-node.sh: a SLURM cluster of one node on this machine, from Debian's packages, to try
# the batch workflow's SLURM profile on (a laptop, a CI machine): munge, MariaDB, slurmdbd (so
# that sacct works), slurmctld and slurmd, each started directly (no systemd), with every file in
# one directory of its own, and stopped again by the process ids it recorded there.
#
# Usage (as root):
#   tools/slurm-one-node.sh install     the Debian packages (no daemon of theirs is started)
#   tools/slurm-one-node.sh start DIR   a cluster whose files all go under DIR (made if missing);
#                                       then: export SLURM_CONF=DIR/etc/slurm.conf
#   tools/slurm-one-node.sh stop DIR    cancel its jobs, stop its daemons, and nothing else
#
# Memory is enforced through cgroups (each job in its own, limited to its --mem) where the kernel
# lets slurmd make them, and otherwise by OverMemoryKill (the job is killed once the resident
# memory of its processes, sampled each second, passes its --mem); DIR/memory-enforcement says
# which, and SLURM_ONE_NODE_MEMORY=overmemorykill chooses the latter. The daemons listen on
# 127.0.0.1, on SLURM_ONE_NODE_PORT (16817) and the next three ports. start exits with status 3, and one line on standard error that says why, where this
# machine cannot run the cluster (not root, a package missing, a daemon that does not start),
# and stops what it had started.
set -euo pipefail

PACKAGES=(munge slurmctld slurmd slurm-client slurmdbd mariadb-server)
CLUSTER=marrowind

die() { echo "slurm-one-node: $*" >&2; exit 1; }
cannot() { echo "slurm-one-node: cannot run a cluster here: $*" >&2; stop_daemons; exit 3; }

install_packages() {
  local as_root=() missing=() package policy=/usr/sbin/policy-rc.d made_policy=0
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  # Debian starts a daemon when its package is installed, where no policy says otherwise; these
  # are started by `start`, each in its own directory, so none is started here.
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
    "${as_root[@]}" chmod 755 "$policy"
    made_policy=1
  fi
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" || { [ "$made_policy" -eq 0 ] || "${as_root[@]}" rm -f "$policy"; exit 1; }
  [ "$made_policy" -eq 0 ] || "${as_root[@]}" rm -f "$policy"
}

# Start a daemon in the foreground of a session of its own, its output in DIR/log/NAME.out, and
# record its process id in DIR/run/NAME.pid.
launch() {
  local name=$1; shift
  setsid "$@" </dev/null >"$DIR/log/$name.out" 2>&1 &
  echo $! >"$DIR/run/$name.pid"
}

alive() { [ -s "$DIR/run/$1.pid" ] && kill -0 "$(cat "$DIR/run/$1.pid")" 2>/dev/null; }

# Wait up to $2 seconds for the command after it to succeed while daemon $1 runs.
await() {
  local name=$1 seconds=$2; shift 2
  local deadline=$((SECONDS + seconds))
  until "$@" >"$DIR/log/$name.check" 2>&1; do
    alive "$name" || return 1
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# The last lines of a daemon's log, joined into one, for the reason a start failed.
tail_of() { tail -n 3 "$DIR/log/$1".* 2>/dev/null | tr '\n' ' ' | cut -c1-400; }

# Stop the named daemons together: SIGTERM, and SIGKILL to any still running 10 s later.
stop_daemon() {
  local name pids=()
  for name in "$@"; do
    [ -s "$DIR/run/$name.pid" ] || continue
    pids+=("$(cat "$DIR/run/$name.pid")")
    rm -f "$DIR/run/$name.pid"
  done
  [ "${#pids[@]}" -gt 0 ] || return 0
  kill -TERM "${pids[@]}" 2>/dev/null || true
  local i pid running
  for i in $(seq 50); do
    running=()
    for pid in "${pids[@]}"; do
      ! kill -0 "$pid" 2>/dev/null || running+=("$pid")
    done
    [ "${#running[@]}" -gt 0 ] || return 0
    sleep 0.2
  done
  kill -KILL "${running[@]}" 2>/dev/null || true
}

stop_daemons() {
  [ -d "${DIR:-}/run" ] || return 0
  if alive slurmctld; then
    SLURM_CONF="$DIR/etc/slurm.conf" timeout 20 scancel --quiet --full \
      $(SLURM_CONF="$DIR/etc/slurm.conf" timeout 20 squeue -h -o %i 2>/dev/null) 2>/dev/null ||
      true
  fi
  # The cluster's daemons first, then what they use.
  stop_daemon slurmd slurmctld
  stop_daemon slurmdbd mariadb munged
}

write_slurm_conf() {
  local enforcement=$1 node
  # What slurmd finds on this machine: its CPUs, sockets, cores, threads and memory.
  node=$(slurmd -C | head -n 1 | sed "s/^NodeName=[^ ]*//")
  {
    echo "ClusterName=$CLUSTER"
    echo "SlurmctldHost=$HOST(127.0.0.1)"
    echo "SlurmUser=root"
    echo "SlurmdUser=root"
    echo "SlurmctldPort=$PORT"
    echo "SlurmdPort=$((PORT + 1))"
    echo "AuthType=auth/munge"
    echo "CredType=cred/munge"
    echo "AuthInfo=socket=$DIR/run/munge.socket"
    echo "StateSaveLocation=$DIR/state"
    echo "SlurmdSpoolDir=$DIR/spool"
    echo "SlurmctldPidFile=$DIR/run/slurmctld.daemon.pid"
    echo "SlurmdPidFile=$DIR/run/slurmd.daemon.pid"
    echo "SlurmctldLogFile=$DIR/log/slurmctld.log"
    echo "SlurmdLogFile=$DIR/log/slurmd.log"
    echo "MpiDefault=none"
    echo "ReturnToService=2"
    echo "SchedulerType=sched/backfill"
    echo "SelectType=select/cons_tres"
    echo "SelectTypeParameters=CR_Core_Memory"
    echo "AccountingStorageType=accounting_storage/slurmdbd"
    echo "AccountingStorageHost=127.0.0.1"
    echo "AccountingStoragePort=$((PORT + 2))"
    # The accounting clients reach munged through this socket, not AuthInfo's.
    echo "AccountingStoragePass=$DIR/run/munge.socket"
    echo "JobAcctGatherFrequency=1"
    if [ "$enforcement" = cgroup ]; then
      echo "ProctrackType=proctrack/cgroup"
      echo "TaskPlugin=task/cgroup"
      echo "JobAcctGatherType=jobacct_gather/cgroup"
    else
      echo "ProctrackType=proctrack/linuxproc"
      echo "TaskPlugin=task/none"
      echo "JobAcctGatherType=jobacct_gather/linux"
      echo "JobAcctGatherParams=OverMemoryKill"
    fi
    echo "NodeName=$HOST NodeAddr=127.0.0.1 $node State=UNKNOWN"
    echo "PartitionName=main Nodes=ALL Default=YES MaxTime=INFINITE State=UP"
  } >"$DIR/etc/slurm.conf"
  cat >"$DIR/etc/cgroup.conf" <<EOF
CgroupPlugin=autodetect
IgnoreSystemd=yes
ConstrainCores=yes
ConstrainRAMSpace=yes
ConstrainSwapSpace=yes
AllowedSwapSpace=0
EOF
  echo "$enforcement" >"$DIR/memory-enforcement"
}

# Start slurmctld and slurmd under one way of enforcing memory; succeed once the node takes jobs.
start_slurm() {
  [ "$1" = "$(cat "$DIR/memory-enforcement")" ] || write_slurm_conf "$1"
  launch slurmctld slurmctld -D -i -f "$DIR/etc/slurm.conf"
  await slurmctld 30 scontrol ping || return 1
  launch slurmd slurmd -D -N "$HOST" -f "$DIR/etc/slurm.conf"
  await slurmd 30 bash -c "sinfo -h -N -o %t | grep -qx idle" || return 1
  # A job that runs: slurmd may register and then fail to make a job's cgroup.
  timeout 60 srun -n1 -t 1 --mem=10 true >"$DIR/log/probe.out" 2>&1
}

start() {
  [ "$(id -u)" -eq 0 ] || cannot "it needs root, to run slurmd and munged"
  local package
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      cannot "the Debian package $package is not installed (tools/slurm-one-node.sh install)"
  done
  if [ -d "$DIR/run" ] && ls "$DIR"/run/*.pid >/dev/null 2>&1; then
    die "$DIR holds a cluster already: stop it first"
  fi
  mkdir -p "$DIR"/{etc,run,log,state,spool,munge,db}
  chmod 700 "$DIR" "$DIR/munge"
  chmod 755 "$DIR/run"
  export SLURM_CONF="$DIR/etc/slurm.conf"
  # The clients (sacctmgr among them) find every daemon through slurm.conf.
  write_slurm_conf cgroup

  dd if=/dev/urandom of="$DIR/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$DIR/munge/munge.key"
  launch munged munged -F -f --key-file="$DIR/munge/munge.key" \
    --socket="$DIR/run/munge.socket" --pid-file="$DIR/run/munged.daemon.pid" \
    --log-file="$DIR/log/munged.log" --seed-file="$DIR/munge/munged.seed"
  await munged 20 bash -c "munge -n -S '$DIR/run/munge.socket' | unmunge -S '$DIR/run/munge.socket'" ||
    cannot "munged did not start: $(tail_of munged)"

  # MariaDB for slurmdbd, on its own data directory, with a password made for this cluster.
  local password
  password=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  mariadb-install-db --no-defaults --datadir="$DIR/db" --user=root \
    --auth-root-authentication-method=normal --skip-test-db >"$DIR/log/mariadb-install.out" 2>&1 ||
    cannot "mariadb-install-db failed: $(tail_of mariadb-install)"
  cat >"$DIR/etc/mariadb-init.sql" <<EOF
CREATE USER IF NOT EXISTS 'slurm'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL ON slurm_acct_db.* TO 'slurm'@'127.0.0.1';
EOF
  launch mariadb mariadbd --no-defaults --datadir="$DIR/db" --user=root \
    --socket="$DIR/run/mariadb.socket" --port=$((PORT + 3)) --bind-address=127.0.0.1 \
    --skip-name-resolve --init-file="$DIR/etc/mariadb-init.sql" \
    --innodb-buffer-pool-size=32M --log-error="$DIR/log/mariadb.log"
  await mariadb 60 mariadb-admin --no-defaults --socket="$DIR/run/mariadb.socket" ping ||
    cannot "MariaDB did not start: $(tail_of mariadb)"

  cat >"$DIR/etc/slurmdbd.conf" <<EOF
AuthType=auth/munge
AuthInfo=socket=$DIR/run/munge.socket
DbdHost=localhost
DbdAddr=127.0.0.1
DbdPort=$((PORT + 2))
SlurmUser=root
PidFile=$DIR/run/slurmdbd.daemon.pid
LogFile=$DIR/log/slurmdbd.log
StorageType=accounting_storage/mysql
StorageHost=127.0.0.1
StoragePort=$((PORT + 3))
StorageUser=slurm
StoragePass=$password
StorageLoc=slurm_acct_db
EOF
  chmod 600 "$DIR/etc/slurmdbd.conf"
  launch slurmdbd slurmdbd -D
  await slurmdbd 60 sacctmgr -i add cluster "$CLUSTER" ||
    await slurmdbd 5 bash -c "sacctmgr -n list cluster format=cluster | grep -qw $CLUSTER" ||
    cannot "slurmdbd did not start: $(tail_of slurmdbd)"

  if [ "${SLURM_ONE_NODE_MEMORY:-cgroup}" != cgroup ] || ! start_slurm cgroup; then
    # The kernel (or the container) would not let slurmd make the jobs' cgroups.
    stop_daemon slurmd slurmctld
    rm -rf "${DIR:?}"/state/* "${DIR:?}"/spool/*
    start_slurm overmemorykill ||
      cannot "slurmctld or slurmd did not start: $(tail_of slurmctld) $(tail_of slurmd) $(tail_of probe)"
  fi
}

HOST=$(hostname -s)
PORT=${SLURM_ONE_NODE_PORT:-16817}
case "${1:-}" in
  install) install_packages ;;
  start|stop)
    [ $# -eq 2 ] || die "usage: $0 $1 DIR"
    DIR=$(realpath -m "$2")
    if [ "$1" = start ]; then start; else stop_daemons; fi
    ;;
  *) die "usage: $0 install | start DIR | stop DIR" ;;
esac

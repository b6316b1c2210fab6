# A private systemd, booted as PID 1 of its own namespaces on this machine, on
# a throw-away overlay of the host's root, or of the root that BOX_ROOT names
# (an arm64 one, run through qemu-user): its files are read, never written.
# Source this file, then box_start; box_stop runs on exit, also when a
# scenario fails or is interrupted, and leaves no mount, cgroup folder or
# process behind.
#   box_start          boots the box and waits until it is running
#   box NAME ARGS...   runs a command inside
#   box_put FILE PATH  copies a host file into the box
#   box_sys_ctrl PLAN...  places the scripted sys_ctrl, with its plan
#   box_poweroff [S]   shuts the box down in order, as a host's poweroff does, within S seconds (10)
#   box_skip_unless_able  exits 77 (skipped), saying why, where no box can run
# $BOX_OUT on the host is /var/lib/box-out in the box: what is written there
# outlives the box's shutdown. The box is named $BOX_NAME, and its host name
# is BOX_HOSTNAME where that is set; it has a network of its own, or, where
# BOX_NETWORK names a network namespace (/run/netns/NAME), that one, shared
# with other boxes. Several boxes: each started from a shell of its own.

BOX_NAME=${BOX_NAME:-orvel-box-$$}
box_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BOX_WORK=
BOX_OUT=
BOX_NSPAWN=
BOX_PID1=
BOX_CGROUPS=()

box_skip_unless_able() {
  local why=
  if [ "$(id -u)" -ne 0 ]; then why="not root"
  elif ! command -v systemd-nspawn >/dev/null; then why="no systemd-nspawn (Debian package systemd-container)"
  elif ! grep -qw overlay /proc/filesystems && ! modprobe overlay 2>/dev/null; then why="no overlay file system"
  elif [ ! -w /sys/fs/cgroup ] && [ ! -w /sys/fs/cgroup/unified ]; then why="cgroups are read-only"
  fi
  if [ -n "$why" ]; then
    echo "SKIPPED: this machine cannot host a private systemd: $why"
    exit 77
  fi
}

# nspawn puts the box's cgroups below the caller's own, so the caller first
# moves into folders of its own in every hierarchy it may write.
box_enter_cgroups() {
  local h hierarchies=(/sys/fs/cgroup/*/ /sys/fs/cgroup/)
  # One unified hierarchy: its subfolders are groups (other boxes' too).
  [ -f /sys/fs/cgroup/cgroup.controllers ] && hierarchies=(/sys/fs/cgroup/)
  for h in "${hierarchies[@]}"; do
    [ -w "$h/cgroup.procs" ] || continue
    case "$h" in */cpuset/) continue ;; esac  # needs its cpus and mems set first
    [ -f "$h/cgroup.procs" ] || continue
    mkdir -p "$h$BOX_NAME" 2>/dev/null || continue
    if echo "$BASHPID" >"$h$BOX_NAME/cgroup.procs" 2>/dev/null; then
      BOX_CGROUPS+=("$h")
    else
      rmdir "$h$BOX_NAME"
    fi
  done
}

box_leave_cgroups() {
  local h d
  for h in "${BOX_CGROUPS[@]}"; do
    echo "$BASHPID" >"$h/cgroup.procs" 2>/dev/null || true
    for d in $(find "$h$BOX_NAME" -depth -type d 2>/dev/null); do rmdir "$d" 2>/dev/null || true; done
  done
  BOX_CGROUPS=()
}

box_start() {
  BOX_WORK=$(mktemp -d /tmp/orvel-box.XXXXXX)
  BOX_OUT=$BOX_WORK/out
  mkdir -p "$BOX_OUT"
  trap box_stop EXIT
  trap 'exit 130' INT TERM
  box_enter_cgroups
  # The mounts live in a private mount namespace: they vanish with it.
  unshare --mount --propagation private bash -c '
    set -e
    w=$1
    mkdir -p "$w/lower" "$w/rw" "$w/root"
    mount --bind "$2" "$w/lower"
    mount -o remount,bind,ro "$w/lower"
    mount -t tmpfs tmpfs "$w/rw"
    mkdir -p "$w/rw/upper/etc" "$w/rw/work"
    # systemd in the box names itself from /etc/hostname, over --hostname;
    # a machine ID of its own keeps the journal files of the host out of its journal.
    echo "$5" >"$w/rw/upper/etc/hostname"
    tr -d - </proc/sys/kernel/random/uuid >"$w/rw/upper/etc/machine-id"
    mount -t overlay overlay -o "lowerdir=$w/lower,upperdir=$w/rw/upper,workdir=$w/rw/work" "$w/root"
    exec systemd-nspawn -D "$w/root" --machine="$3" --hostname="$5" --register=no --keep-unit "${4:---private-network}" --link-journal=no \
      --console=pipe --bind="$w/out:/var/lib/box-out" --boot -- systemd.unit=sysinit.target' box "$BOX_WORK" "${BOX_ROOT:-/}" \
    "$BOX_NAME" "${BOX_NETWORK:+--network-namespace-path=$BOX_NETWORK}" "${BOX_HOSTNAME:-$BOX_NAME}" \
    </dev/null >"$BOX_WORK/console.log" 2>&1 &
  BOX_NSPAWN=$!
  local i
  for i in $(seq 1 200); do
    BOX_PID1=$(pgrep -P "$BOX_NSPAWN" -x systemd | head -1 || true)
    [ -n "$BOX_PID1" ] && break
    kill -0 "$BOX_NSPAWN" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$BOX_PID1" ]; then
    echo "box: systemd did not start; its console:"; cat "$BOX_WORK/console.log"
    return 1
  fi
  # Until PID 1 has opened its private socket, systemctl cannot reach it;
  # until it has created /run/systemd/system, systemctl says "offline" (seen
  # on a loaded machine). Both pass: ask again until the deadline.
  local state= deadline=$((SECONDS + 60))
  while :; do
    state=$(timeout 60 nsenter -t "$BOX_PID1" -a systemctl is-system-running --wait 2>&1 || true)
    case "$state" in *"Failed to connect"* | offline*) ;; *) break ;; esac
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.05
  done
  if [ "$state" != running ]; then
    echo "box: system state '$state'"; box systemctl --failed --no-pager || true
    return 1
  fi
  # This machine's image forbids starting and stopping services from
  # maintainer scripts; the box must not, as a real host would not.
  box rm -f /usr/sbin/policy-rc.d
}

box() { nsenter -t "$BOX_PID1" -a "$@"; }

box_put() { box sh -c 'cat >"$1"' put "$2" <"$1"; }

# The shell suites' fake sys_ctrl (packaging/demo/sys_ctrl) in the box's
# /opt/platform/bin, with its plan: one "OPTION ACTION" line each argument.
# What it records goes through links into $BOX_OUT, which outlives a shutdown.
box_sys_ctrl() {
  local bin=/opt/platform/bin
  box mkdir -p "$bin"
  box sh -c "cat >$bin/sys_ctrl && chmod 755 $bin/sys_ctrl" <"$box_top/packaging/demo/sys_ctrl"
  box sh -c "for f in runs network platform; do ln -sf /var/lib/box-out/\$f $bin/sys_ctrl.\$f; done"
  printf '%s\n' "$@" | box sh -c "cat >$bin/sys_ctrl.plan"
}

# Returns once the box is off, or 10 s after asking; 1 when it was not off by then.
box_poweroff() {
  [ -n "$BOX_NSPAWN" ] || return 0
  if [ -n "${BOX_ROOT:-}" ]; then
    # Under qemu-user, nspawn's power-off signal does not reach the box's
    # systemd; its own poweroff is the same orderly shutdown.
    box systemctl --no-block poweroff 2>/dev/null || true
  else
    kill -TERM "$BOX_NSPAWN" 2>/dev/null || true  # an orderly poweroff
  fi
  local i
  for i in $(seq 1 $((${1:-10} * 10))); do kill -0 "$BOX_NSPAWN" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

box_stop() {
  local status=$?
  if [ -n "$BOX_NSPAWN" ] && kill -0 "$BOX_NSPAWN" 2>/dev/null; then
    box_poweroff || true
    local i
    kill -TERM "$BOX_NSPAWN" 2>/dev/null || true  # the second one ends it at once
    for i in $(seq 1 50); do kill -0 "$BOX_NSPAWN" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$BOX_NSPAWN" 2>/dev/null || true
  fi
  wait "$BOX_NSPAWN" 2>/dev/null || true
  BOX_NSPAWN=
  box_leave_cgroups
  [ -n "$BOX_WORK" ] && rm -rf "$BOX_WORK"
  BOX_WORK=
  exit "$status"
}

# A Debian root with systemd, made once with debootstrap and kept under the build tree, booted
# with systemd-nspawn as a throwaway copy (--ephemeral): every test starts from the same clean
# system. Sourced by the package tests; needs root.

# Prints the cached root's path, making it first when missing. $1: cache directory, $2...: the
# packages the root needs besides systemd (a different list makes a different root).
systemd_root() {
  local cache=$1
  shift
  local packages
  packages=$(printf '%s\n' systemd systemd-sysv dbus "$@" | sort -u | paste -sd, -)
  local root
  root=$cache/bookworm-$(printf '%s' "$packages" | md5sum | cut -c1-12)
  if [ ! -x "$root/usr/lib/systemd/systemd" ]; then
    local mirror
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    mkdir -p "$cache"
    rm -rf "$root.partial"
    # debootstrap alone cannot configure a desktop library set (dconf-service fails in its
    # second stage): the base first, the rest with the root's own apt.
    {
      debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm \
        "$root.partial" "${mirror:-http://deb.debian.org/debian}" &&
        DEBIAN_FRONTEND=noninteractive chroot "$root.partial" apt-get install -y -q \
          --no-install-recommends $(tr , ' ' <<<"$packages") &&
        chroot "$root.partial" apt-get clean
    } >"$cache/debootstrap.log" 2>&1 || {
      tail -n 20 "$cache/debootstrap.log" >&2
      rm -rf "$root.partial"
      return 1
    }
    mv "$root.partial" "$root"
  fi
  printf '%s\n' "$root"
}

# Boots ROOT; sets NSPAWN_PID (the nspawn process) and CONTAINER_PID (its systemd).
boot_container() {
  local root=$1 log=$2
  NSPAWN_CGROUP=qwpkg-$$
  # Without a host systemd, nspawn's cgroups would land in the root cgroup and stay there.
  for h in systemd unified; do
    mkdir -p "/sys/fs/cgroup/$h/$NSPAWN_CGROUP"
    echo $$ >"/sys/fs/cgroup/$h/$NSPAWN_CGROUP/cgroup.procs"
  done
  mkdir -p /run/systemd/nspawn
  unshare -m --propagation private sh -c \
    'mount -t tmpfs tmpfs /run/systemd/nspawn && exec systemd-nspawn "$@"' sh \
    -D "$root" --ephemeral --boot --register=no --keep-unit --private-network \
    --console=pipe >"$log" 2>&1 &
  NSPAWN_PID=$!
  CONTAINER_PID=
  local tries=0
  until [ -n "$CONTAINER_PID" ] || [ $tries -ge 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
    # The nspawn process's child is the container's init, once it has exec'd systemd.
    local child
    for child in $(ps -o pid= --ppid "$NSPAWN_PID" 2>/dev/null); do
      [ "$(cat "/proc/$child/comm" 2>/dev/null)" = systemd ] && CONTAINER_PID=$child
    done
  done
  [ -n "$CONTAINER_PID" ] || { echo "the container did not start" >&2; cat "$log" >&2; return 1; }
  tries=0
  until in_container systemctl is-system-running 2>/dev/null | grep -qE 'running|degraded'; do
    [ $tries -lt 600 ] || { echo "the container's systemd did not come up" >&2; return 1; }
    sleep 0.1
    tries=$((tries + 1))
  done
}

# Runs a command inside the container with a clean environment.
in_container() {
  nsenter -t "$CONTAINER_PID" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# Halts the container cleanly and removes the cgroups made for it.
stop_container() {
  if [ -n "${NSPAWN_PID:-}" ] && kill -0 "$NSPAWN_PID" 2>/dev/null; then
    kill -TERM "$NSPAWN_PID"
    local tries=0
    while kill -0 "$NSPAWN_PID" 2>/dev/null && [ $tries -lt 300 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
    kill -KILL "$NSPAWN_PID" 2>/dev/null || true
    wait "$NSPAWN_PID" 2>/dev/null || true
  fi
  NSPAWN_PID=
  if [ -n "${NSPAWN_CGROUP:-}" ]; then
    for h in systemd unified; do
      local dir=/sys/fs/cgroup/$h/$NSPAWN_CGROUP
      [ -d "$dir" ] || continue
      # Leave the cgroup first; then remove it and whatever nspawn made below it.
      echo $$ >"/sys/fs/cgroup/$h/cgroup.procs" 2>/dev/null || true
      find "$dir" -depth -type d -exec rmdir {} \; 2>/dev/null || true
    done
  fi
}

#!/usr/bin/env bash
# How often an idle core wakes: mesk alone in a network namespace on a bridge (no peers,
# nothing queued; nothing leaves the machine), left alone for SECONDS_IDLE seconds
# (default 30) after SETTLE seconds (default 10) from its start, beside nginx (one worker,
# one TLS listener) in the same namespace for as long. Prints the context switches per
# second and the share of one core used by all threads of each, and for mesk the threads
# that woke.
# Needs root, nginx (scripts/install-deps.sh --bench) and a built mesk.
#   bench/idle_core.sh [BUILD_FOLDER]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
mesk=$(realpath "$build/host/mesk")
idle=${SECONDS_IDLE:-30}
settle=${SETTLE:-10}
[ "$(id -u)" -eq 0 ] || { echo "idle_core: needs root (network namespaces)" >&2; exit 2; }
[ -x "$mesk" ] || { echo "idle_core: no $mesk; build first" >&2; exit 2; }
command -v nginx >/dev/null || bash scripts/install-deps.sh --bench

tag=$$
subnet="10.236.$((tag % 250 + 1))"
bridge="mesk-ibr-$tag"
name="mesk-idle-$tag"
work=$(mktemp -d /tmp/mesk-idle-XXXXXX)
mesk_pid="" nginx_pid="" fd=""

cleanup() {
  set +e
  [ -n "$fd" ] && exec {fd}>&-
  for pid in $mesk_pid $nginx_pid; do kill "$pid" 2>/dev/null; done
  for pid in $mesk_pid $nginx_pid; do wait "$pid" 2>/dev/null; done
  for pid in $(ip netns pids "$name" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
  ip netns del "$name" 2>/dev/null
  ip netns del "$bridge" 2>/dev/null
  rm -rf "/etc/netns/$name"
  rmdir /etc/netns 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$bridge"
ip -n "$bridge" link add br0 type bridge
ip -n "$bridge" link set br0 up
ip netns add "$name"
ip -n "$name" link set lo up
ip -n "$name" link add eth0 type veth peer name p0 netns "$bridge"
ip -n "$bridge" link set p0 master br0 up
ip -n "$name" addr add "$subnet.1/24" brd + dev eth0
ip -n "$name" link set eth0 up
mkdir -p "/etc/netns/$name"
printf '127.0.0.1 localhost\n127.0.0.1 cloud.mesk.internal\n' >"/etc/netns/$name/hosts"
printf 'nameserver 127.0.0.1\n' >"/etc/netns/$name/resolv.conf"

# Context switches (voluntary and not) and run time in ns of each thread of the
# processes given, one line per thread: "TID SWITCHES RUN_NS NAME". Read with the
# shell's own reads, so that a sample takes little time beside the window.
sample() {  # pid...
  local pid task key value rest switches run name
  for pid in "$@"; do
    for task in /proc/"$pid"/task/*; do
      switches=0
      while read -r key value rest; do
        case $key in voluntary_ctxt_switches: | nonvoluntary_ctxt_switches:) switches=$((switches + value)) ;; esac
      done <"$task/status" 2>/dev/null || continue
      read -r run rest <"$task/schedstat" 2>/dev/null || continue
      read -r name <"$task/comm" 2>/dev/null || continue
      echo "$pid.${task##*/} $switches $run ${name// /_}"
    done
  done
}

# Samples the processes over the idle window into FILE.0 and FILE.1; prints
# "switches/s percent-of-core" of all their threads together (threads that ended in
# the window are left out).
measure() {  # file pid...
  local file=$1
  shift
  sample "$@" | sort >"$file.0"
  sleep "$idle"
  sample "$@" | sort >"$file.1"
  join "$file.0" "$file.1" | awk -v s="$idle" '{ c += $5 - $2; r += $6 - $3 }
    END { printf "%.1f %.3f\n", c / s, r / (s * 1e9) * 100 }'
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# ---- mesk -------------------------------------------------------------------------------
mkdir -p "$work/home/Downloads" "$work/data" "$work/cache" "$work/config"
mkfifo "$work/in"
ip netns exec "$name" env HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
  XDG_CONFIG_HOME="$work/config" DISPLAY= WAYLAND_DISPLAY= "$mesk" <"$work/in" >"$work/out" 2>"$work/err" &
mesk_pid=$!
exec {fd}>"$work/in"
deadline=$(($(now_ms) + 60000))
until grep -aq '^event core_started' "$work/out"; do
  [ "$(now_ms)" -lt "$deadline" ] || { echo "idle_core: mesk did not start" >&2; exit 1; }
  sleep 0.05
done
sleep "$settle"
echo "$(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg); mesk idle for $idle s"
read -r mesk_switches mesk_cpu <<<"$(measure "$work/mesk" "$mesk_pid")"
exec {fd}>&-
fd=""
kill "$mesk_pid" 2>/dev/null
wait "$mesk_pid" 2>/dev/null || true
mesk_pid=""

# ---- nginx ------------------------------------------------------------------------------
cat >"$work/nginx.conf" <<EOF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
user root;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx-tmp;
  proxy_temp_path $work/nginx-tmp;
  fastcgi_temp_path $work/nginx-tmp;
  uwsgi_temp_path $work/nginx-tmp;
  scgi_temp_path $work/nginx-tmp;
  server {
    listen $subnet.1:8443 ssl;
    ssl_certificate $work/data/mesk/Data/cert.pem;
    ssl_certificate_key $work/data/mesk/Data/key.pem;
    root $work/home;
  }
}
EOF
ip netns exec "$name" nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' 2>>"$work/nginx-error.log" &
nginx_pid=$!
sleep "$settle"
read -r nginx_switches nginx_cpu <<<"$(measure "$work/nginx" "$nginx_pid" $(pgrep -P "$nginx_pid"))"

# ---- figures ----------------------------------------------------------------------------
echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "an idle core over $idle s (goal: under 2 wake-ups/s, under 0.1% of a core):"
printf '  mesk:   %7.1f context switches/s  %6.3f%% of a core\n' "$mesk_switches" "$mesk_cpu"
printf '  nginx:  %7.1f context switches/s  %6.3f%% of a core\n' "$nginx_switches" "$nginx_cpu"
echo "mesk's threads that woke (switches in $idle s, ms run, thread):"
join "$work/mesk.0" "$work/mesk.1" |
  awk '{ d = $5 - $2; if (d > 0) printf "  %6d  %8.2f  %s\n", d, ($6 - $3) / 1e6, $4 }' | sort -rn

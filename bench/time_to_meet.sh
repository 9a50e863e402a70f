#!/usr/bin/env bash
# Time for three devices to meet: three fresh mesk programs, each in a network namespace
# of its own on one bridge (nothing leaves the machine), started at once; the time until
# each lists the other two with their addresses in "/get_recently_changed_devices".
# Prints each start and the medians over all of them. Needs root.
#   bench/time_to_meet.sh [BUILD_FOLDER] [STARTS]     (defaults: build, 10)
set -euo pipefail

build=${1:-build}
starts=${2:-10}
mesk=$(realpath "$build/host/mesk")
[ "$(id -u)" -eq 0 ] || { echo "time_to_meet: needs root (network namespaces)" >&2; exit 2; }
[ -x "$mesk" ] || { echo "time_to_meet: no $mesk; build first" >&2; exit 2; }

tag=$$
subnet="10.234.$((tag % 250 + 1))"
bridge="mesk-bbr-$tag"
work=$(mktemp -d /tmp/mesk-meet-XXXXXX)
names=() addresses=() pids=() fds=()
for i in 0 1 2; do
  names+=("mesk-bdev$i-$tag")
  addresses+=("$subnet.$((i + 1))")
done

stop_devices() {
  for fd in "${fds[@]}"; do exec {fd}>&- 2>/dev/null || true; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=() fds=()
}

cleanup() {
  stop_devices
  for name in "${names[@]}"; do
    for pid in $(ip netns pids "$name" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
    ip netns del "$name" 2>/dev/null || true
    rm -rf "/etc/netns/$name"
  done
  ip netns del "$bridge" 2>/dev/null || true
  rmdir /etc/netns 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$bridge"
ip -n "$bridge" link add br0 type bridge
ip -n "$bridge" link set br0 up
for i in 0 1 2; do
  name=${names[$i]}
  ip netns add "$name"
  ip -n "$name" link set lo up
  ip -n "$name" link add eth0 type veth peer name "p$i" netns "$bridge"
  ip -n "$bridge" link set "p$i" master br0 up
  ip -n "$name" addr add "${addresses[$i]}/24" brd + dev eth0
  ip -n "$name" link set eth0 up
  # The cloud name and any other name question stay inside the namespace.
  mkdir -p "/etc/netns/$name"
  printf '127.0.0.1 localhost\n127.0.0.1 cloud.mesk.internal\n' >"/etc/netns/$name/hosts"
  printf 'nameserver 127.0.0.1\n' >"/etc/netns/$name/resolv.conf"
done

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The last line of the device's output that begins with the text.
last_line() { grep -a "^$2" "$work/out$1" | tail -n 1 || true; }

one_start() {
  local run=$1 i
  for i in 0 1 2; do
    local root="$work/run$run/dev$i"
    mkdir -p "$root"
    rm -f "$work/in$i" "$work/out$i"
    mkfifo "$work/in$i"
    : >"$work/out$i"
    ip netns exec "${names[$i]}" env HOME="$root/home" XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache" \
      XDG_CONFIG_HOME="$root/config" DISPLAY= WAYLAND_DISPLAY= "$mesk" <"$work/in$i" >"$work/out$i" 2>/dev/null &
    pids+=($!)
    local fd
    exec {fd}>"$work/in$i"
    fds+=("$fd")
  done
  local launched
  launched=$(now_ms)

  local started=0 deadline=$((launched + 60000))
  while [ "$started" -lt 3 ]; do
    started=0
    for i in 0 1 2; do grep -aq '^event core_started' "$work/out$i" && started=$((started + 1)); done
    [ "$(now_ms)" -lt "$deadline" ] || { echo "start $run: a device did not start" >&2; return 1; }
    sleep 0.02
  done
  local all_started
  all_started=$(now_ms)

  local ids=()
  for i in 0 1 2; do
    echo '/who_am_i {}' >&"${fds[$i]}"
    local id=""
    while [ -z "$id" ]; do
      id=$(last_line "$i" 'reply /who_am_i ' | grep -o '"device_id": "[0-9a-f]*"' | cut -d'"' -f4 || true)
      [ "$(now_ms)" -lt "$deadline" ] || { echo "start $run: no id" >&2; return 1; }
      [ -n "$id" ] || sleep 0.01
    done
    ids+=("$id")
  done

  local met=0 deadline_meet=$(($(now_ms) + 60000))
  while [ "$met" -lt 3 ]; do
    met=0
    for i in 0 1 2; do
      local before
      before=$(grep -ac '^reply /get_recently_changed_devices ' "$work/out$i" || true)
      echo '/get_recently_changed_devices {"last_pull_devices": "0"}' >&"${fds[$i]}"
      while [ "$(grep -ac '^reply /get_recently_changed_devices ' "$work/out$i" || true)" -le "$before" ]; do
        sleep 0.005
      done
      local reply j lists=1
      reply=$(last_line "$i" 'reply /get_recently_changed_devices ')
      for j in 0 1 2; do
        [ "$j" -eq "$i" ] && continue
        grep -q "\"id\": \"${ids[$j]}\", \"ip\": \"${addresses[$j]}\"" <<<"$reply" || lists=0
      done
      met=$((met + lists))
    done
    [ "$(now_ms)" -lt "$deadline_meet" ] || { echo "start $run: the devices did not meet in 60 s" >&2; return 1; }
    [ "$met" -eq 3 ] || sleep 0.02
  done
  local done_at
  done_at=$(now_ms)
  echo "start $run: started in $((all_started - launched)) ms, met $((done_at - all_started)) ms later" \
    "($((done_at - launched)) ms from launch)"
  echo "$((done_at - launched)) $((done_at - all_started))" >>"$work/times"

  for i in 0 1 2; do echo ':quit' >&"${fds[$i]}"; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
  for fd in "${fds[@]}"; do exec {fd}>&-; done
  fds=()
  rm -rf "$work/run$run"
}

: >"$work/times"
for run in $(seq 1 "$starts"); do one_start "$run"; done

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
echo "median over $starts starts: $(cut -d' ' -f1 "$work/times" | median) ms from launch to met," \
  "$(cut -d' ' -f2 "$work/times" | median) ms from the last core_started to met"

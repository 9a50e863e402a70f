#!/usr/bin/env bash
# Files between devices over the veth pairs of network namespaces on one bridge (nothing
# leaves the machine), each measure beside its anchor:
#   1. one 1 GiB file from A to B, beside nginx serving the same file to curl over HTTPS
#      (TLS with mesk's own certificate) on the same pair; curl's time with and without
#      the fdatasync that mesk does before it renames a received file into place
#   2. resident memory of A and B while that file moves
#   3. 2,000 files of 4 KiB in one offer, beside the same bytes as one file: the time
#      each file adds
#   4. "/api/v1/ping" answered by A (wrk, one connection, from a fifth namespace) while B, C
#      and D each download a 1 GiB file from A at once, beside the same with A idle
# Needs root, nginx and wrk (scripts/install-deps.sh --bench) and a built mesk.
#   bench/file_transfer.sh [BUILD_FOLDER] [RUNS]      (defaults: build, 3; the runs of the
#                                                      two kinds alternate, the best of each
#                                                      is taken)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
runs=${2:-3}
mesk=$(realpath "$build/host/mesk")
[ "$(id -u)" -eq 0 ] || { echo "file_transfer: needs root (network namespaces)" >&2; exit 2; }
[ -x "$mesk" ] || { echo "file_transfer: no $mesk; build first" >&2; exit 2; }
command -v nginx >/dev/null && command -v wrk >/dev/null || bash scripts/install-deps.sh --bench

tag=$$
subnet="10.235.$((tag % 250 + 1))"
bridge="mesk-fbr-$tag"
work=$(mktemp -d /tmp/mesk-files-XXXXXX)
letters=(a b c d p)
names=() addresses=() pids=() fds=() ids=()
for i in 0 1 2 3 4; do
  names+=("mesk-f${letters[$i]}-$tag")
  addresses+=("$subnet.$((i + 1))")
done
nginx_pid=""

cleanup() {
  set +e
  for fd in "${fds[@]}"; do exec {fd}>&- 2>/dev/null; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  for pid in "${pids[@]}" $nginx_pid; do wait "$pid" 2>/dev/null; done
  for name in "${names[@]}"; do
    for pid in $(ip netns pids "$name" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$name" 2>/dev/null
    rm -rf "/etc/netns/$name"
  done
  ip netns del "$bridge" 2>/dev/null
  rmdir /etc/netns 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$bridge"
ip -n "$bridge" link add br0 type bridge
ip -n "$bridge" link set br0 up
for i in 0 1 2 3 4; do
  name=${names[$i]}
  ip netns add "$name"
  ip -n "$name" link set lo up
  ip -n "$name" link add eth0 type veth peer name "p$i" netns "$bridge"
  ip -n "$bridge" link set "p$i" master br0 up
  ip -n "$name" addr add "${addresses[$i]}/24" brd + dev eth0
  ip -n "$name" link set eth0 up
  mkdir -p "/etc/netns/$name"
  printf '127.0.0.1 localhost\n127.0.0.1 cloud.mesk.internal\n' >"/etc/netns/$name/hosts"
  printf 'nameserver 127.0.0.1\n' >"/etc/netns/$name/resolv.conf"
done

now_ms() { echo $(($(date +%s%N) / 1000000)); }
home() { echo "$work/dev$1/home"; }
pictures() { echo "$work/dev$1/home/Pictures"; }
downloads() { echo "$work/dev$1/home/Downloads"; }
out() { echo "$work/out$1"; }
say() { echo "$2" >&"${fds[$1]}"; }
count_lines() { grep -ac -- "$2" "$(out "$1")" || true; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

# Waits until the device's output has more than `before` lines holding the text.
wait_lines() {  # device text before limit_seconds
  local deadline=$(($(now_ms) + $4 * 1000))
  while [ "$(count_lines "$1" "$2")" -le "$3" ]; do
    [ "$(now_ms)" -lt "$deadline" ] || { echo "file_transfer: device $1 never said '$2'" >&2; exit 1; }
    sleep 0.01
  done
}

# mesk on devices A to D.
for i in 0 1 2 3; do
  mkdir -p "$(pictures "$i")" "$(downloads "$i")" "$work/dev$i/data" "$work/dev$i/cache" "$work/dev$i/config"
  mkfifo "$work/in$i"
  : >"$(out "$i")"
  ip netns exec "${names[$i]}" env HOME="$(home "$i")" XDG_DATA_HOME="$work/dev$i/data" \
    XDG_CACHE_HOME="$work/dev$i/cache" XDG_CONFIG_HOME="$work/dev$i/config" DISPLAY= WAYLAND_DISPLAY= \
    "$mesk" <"$work/in$i" >"$(out "$i")" 2>"$work/err$i" &
  pids+=($!)
  exec {fd}>"$work/in$i"
  fds+=("$fd")
done
for i in 0 1 2 3; do
  wait_lines "$i" '^event core_started' 0 60
  say "$i" '/who_am_i {}'
  wait_lines "$i" '^reply /who_am_i ' 0 30
  ids+=("$(grep -a '^reply /who_am_i ' "$(out "$i")" | grep -o '"device_id": "[0-9a-f]*"' | cut -d'"' -f4)")
done
# A and every other device list each other.
deadline=$(($(now_ms) + 60000))
for pair in "0 1" "0 2" "0 3" "1 0" "2 0" "3 0"; do
  set -- $pair
  while :; do
    before=$(count_lines "$1" '^reply /get_recently_changed_devices ')
    say "$1" '/get_recently_changed_devices {"last_pull_devices": "0"}'
    wait_lines "$1" '^reply /get_recently_changed_devices ' "$before" 30
    grep -a '^reply /get_recently_changed_devices ' "$(out "$1")" | tail -n 1 |
      grep -q "\"id\": \"${ids[$2]}\", \"ip\": \"${addresses[$2]}\"" && break
    [ "$(now_ms)" -lt "$deadline" ] || { echo "file_transfer: devices $1 and $2 did not meet" >&2; exit 1; }
    sleep 0.1
  done
done
echo "four devices met; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"

# A offers files (paths on A) to a device with the category picker.
offer() {  # device path...
  local to=$1 line
  shift
  line=":pick-category {\"type\":\"files\",\"to\":\"${ids[$to]}\"}"
  for p in "$@"; do line+=" '$p'"; done
  say 0 "$line"
}

big="$(pictures 0)/big.bin"
echo "making a file of 1 GiB of random bytes"
head -c $((1 << 30)) /dev/urandom >"$big"
big_sum=$(sha256sum "$big" | cut -d' ' -f1)

# ---- 1 and 2: one 1 GiB file, mesk beside nginx and curl -------------------------------
# The runs alternate, each after a sync, so that both meet the same machine; the best of
# each kind counts.
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
    listen ${addresses[0]}:8443 ssl;
    ssl_certificate $work/dev0/data/mesk/Data/cert.pem;
    ssl_certificate_key $work/dev0/data/mesk/Data/key.pem;
    root $(pictures 0);
  }
}
EOF
ip netns exec "${names[0]}" nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' 2>>"$work/nginx-error.log" &
nginx_pid=$!
sleep 0.5

# A file is arriving in the folder: its partial folder holds one.
arriving() { [ -n "$(ls -A "$1/.mesk_partial" 2>/dev/null)" ]; }

best_mesk="" best_curl="" best_curl_sync=""
max_rss_a=0
max_rss_b=0
rss_a_before=$(rss_kb "${pids[0]}")
rss_b_before=$(rss_kb "${pids[1]}")
for run in $(seq 1 "$runs"); do
  sync
  name="big-$run.bin"
  ln "$big" "$(pictures 0)/$name"
  done_text="\"download_completed\", \"chat_id\".*\"filepath\": \"$name\""
  before=$(count_lines 1 "$done_text")
  offer 1 "$(pictures 0)/$name"
  started=""
  deadline=$(($(now_ms) + 300000))
  while [ "$(count_lines 1 "$done_text")" -le "$before" ]; do
    [ -z "$started" ] && arriving "$(downloads 1)" && started=$(now_ms)
    a=$(rss_kb "${pids[0]}")
    b=$(rss_kb "${pids[1]}")
    [ "$a" -gt "$max_rss_a" ] && max_rss_a=$a
    [ "$b" -gt "$max_rss_b" ] && max_rss_b=$b
    [ "$(now_ms)" -lt "$deadline" ] || { echo "file_transfer: the 1 GiB file did not arrive" >&2; exit 1; }
    sleep 0.005
  done
  ended=$(now_ms)
  [ -n "$started" ] || started=$ended
  [ "$(sha256sum "$(downloads 1)/$name" | cut -d' ' -f1)" = "$big_sum" ] || { echo "file_transfer: B's copy differs" >&2; exit 1; }
  rm -f "$(downloads 1)/$name"
  ms=$((ended - started))
  echo "mesk run $run: 1 GiB in $ms ms ($(awk -v ms="$ms" 'BEGIN { printf "%.0f", 1024 / (ms / 1000) }') MiB/s)"
  [ -z "$best_mesk" ] || [ "$ms" -lt "$best_mesk" ] && best_mesk=$ms

  sync
  target="$(downloads 1)/curl-$run.bin"
  t0=$(now_ms)
  ip netns exec "${names[1]}" curl -sk -o "$target" "https://${addresses[0]}:8443/big.bin"
  t1=$(now_ms)
  sync "$target"
  t2=$(now_ms)
  [ "$(sha256sum "$target" | cut -d' ' -f1)" = "$big_sum" ] || { echo "file_transfer: curl's copy differs" >&2; exit 1; }
  rm -f "$target"
  echo "nginx run $run: 1 GiB in $((t1 - t0)) ms, $((t2 - t0)) ms with its fdatasync"
  [ -z "$best_curl" ] || [ $((t1 - t0)) -lt "$best_curl" ] && best_curl=$((t1 - t0))
  [ -z "$best_curl_sync" ] || [ $((t2 - t0)) -lt "$best_curl_sync" ] && best_curl_sync=$((t2 - t0))
done
kill "$nginx_pid"
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""

# ---- 3: 2,000 files of 4 KiB, beside one file of the same bytes --------------------------
many="$(pictures 0)/many"
mkdir -p "$many"
head -c $((2000 * 4096)) /dev/urandom | split -b 4096 -a 4 -d - "$many/f"
head -c $((2000 * 4096)) /dev/urandom >"$(pictures 0)/one-8000k.bin"
completed_lines() { count_lines 1 '"download_completed", "chat_id".*"filepath"'; }
sync
before=$(completed_lines)
t0=$(now_ms)
say 0 ":pick-folder ${ids[1]} $many"
wait_lines 1 '"download_completed", "chat_id".*"filepath"' $((before + 1999)) 600
many_ms=$(($(now_ms) - t0))
sync
before=$(completed_lines)
t0=$(now_ms)
offer 1 "$(pictures 0)/one-8000k.bin"
wait_lines 1 '"download_completed", "chat_id".*"filepath"' "$before" 120
one_ms=$(($(now_ms) - t0))
received=$(find "$(downloads 1)" -maxdepth 1 -name 'f[0-9][0-9][0-9][0-9]' | wc -l)
[ "$received" -eq 2000 ] || { echo "file_transfer: B holds $received of the 2,000 files" >&2; exit 1; }

# ---- 4: pings while three peers download ----------------------------------------------
cat >"$work/ping.lua" <<'EOF'
wrk.method = "POST"
wrk.body = '{}'
wrk.headers["Content-Type"] = "application/json"
done = function(summary, latency, requests)
  io.write(string.format("FIGURES %d %.2f %.2f %.2f %.2f %d\n", summary.requests, latency:percentile(50) / 1000,
    latency:percentile(99) / 1000, latency.max / 1000, latency.mean / 1000,
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.status +
    summary.errors.timeout))
end
EOF
pings() {  # seconds
  ip netns exec "${names[4]}" wrk -t1 -c1 -d"$1"s --latency -s "$work/ping.lua" \
    "https://${addresses[0]}:45001/api/v1/ping" | grep '^FIGURES ' | cut -d' ' -f2-
}
idle_pings=$(pings 3)
for i in 1 2 3; do
  ln "$big" "$(pictures 0)/three-$i.bin"
  offer "$i" "$(pictures 0)/three-$i.bin"
done
for i in 1 2 3; do
  deadline=$(($(now_ms) + 60000))
  until arriving "$(downloads "$i")"; do
    [ "$(now_ms)" -lt "$deadline" ] || { echo "file_transfer: device $i did not start its download" >&2; exit 1; }
    sleep 0.01
  done
done
busy_pings=$(pings 2)
still=0
for i in 1 2 3; do arriving "$(downloads "$i")" && still=$((still + 1)); done

# ---- figures --------------------------------------------------------------------------
echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "1 GiB over the veth pair (best of $runs):"
awk -v m="$best_mesk" -v n="$best_curl" -v s="$best_curl_sync" 'BEGIN {
  printf "  mesk A->B:            %6d ms  %6.0f MiB/s  (with fdatasync before the rename)\n", m, 1024 / (m / 1000)
  printf "  nginx->curl:          %6d ms  %6.0f MiB/s  mesk/nginx %.2f\n", n, 1024 / (n / 1000), n / m
  printf "  nginx->curl + fsync:  %6d ms  %6.0f MiB/s  mesk/nginx %.2f   (goal: at least 0.90)\n", s, 1024 / (s / 1000), s / m
}'
echo "resident memory while 1 GiB moves (goal: under 64 MB each):"
echo "  A: $((max_rss_a / 1024)) MiB at most (before: $((rss_a_before / 1024)) MiB)"
echo "  B: $((max_rss_b / 1024)) MiB at most (before: $((rss_b_before / 1024)) MiB)"
echo "2,000 files of 4 KiB: $many_ms ms; the same bytes as one file: $one_ms ms"
awk -v m="$many_ms" -v o="$one_ms" 'BEGIN { printf "  %.2f ms per file (goal: at most 2 ms)\n", (m - o) / 2000 }'
read -r n p50 p99 max mean errors <<<"$idle_pings"
echo "/api/v1/ping on A, A idle:            $n pings, p50 $p50 ms, p99 $p99 ms, max $max ms, errors $errors"
read -r n p50 p99 max mean errors <<<"$busy_pings"
echo "/api/v1/ping on A, 3 peers downloading: $n pings, p50 $p50 ms, p99 $p99 ms, max $max ms, errors $errors" \
  "(goal: under 50 ms; $still of 3 downloads still running at the end)"

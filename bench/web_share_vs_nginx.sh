#!/usr/bin/env bash
# Download speed of a large shared file from mesk's web share (plain HTTP, port 3456)
# beside nginx serving the same file over plain HTTP, both on 127.0.0.1, fetched with
# curl into /dev/null. The file is read once by each before the runs, so both serve it
# from the page cache. Prints each run, the medians and mesk/nginx.
#
# Settings (environment): BUILD (build folder, default "build"), JOBS (build jobs),
# SIZE_MIB (default 1024), RUNS (default 5), NGINX_PORT (default 45480).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${BUILD:-build}"
jobs="${JOBS:-$(nproc)}"
size_mib="${SIZE_MIB:-1024}"
runs="${RUNS:-5}"
nginx_port="${NGINX_PORT:-45480}"
web_port=3456

bash scripts/install-deps.sh --bench

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target mesk >/dev/null
mesk_bin="$(pwd)/$build/host/mesk"

for port in "$web_port" 45001 45002 "$nginx_port"; do
  if ss -Hltn "sport = :$port" | grep -q .; then
    echo "port $port is already in use; stop what listens there first" >&2
    exit 1
  fi
done

tmp="$(mktemp -d)"
mesk_pid=""
nginx_pid=""
cleanup() {
  set +e
  trap '' PIPE
  if [ -n "$mesk_pid" ]; then
    printf ':quit\n' >&3 2>/dev/null
    for _ in $(seq 50); do kill -0 "$mesk_pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$mesk_pid" 2>/dev/null
    wait "$mesk_pid" 2>/dev/null
  fi
  { exec 3>&-; } 2>/dev/null
  if [ -n "$nginx_pid" ]; then
    kill -QUIT "$nginx_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$nginx_pid" 2>/dev/null
    wait "$nginx_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME="$tmp/home"
export XDG_DATA_HOME="$tmp/data" XDG_CACHE_HOME="$tmp/cache" XDG_CONFIG_HOME="$tmp/config"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME" "$tmp/nginx" "$tmp/shared"
file="$tmp/shared/big.bin"
echo "writing a $size_mib MiB file" >&2
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$file"

mkfifo "$tmp/stdin"
"$mesk_bin" --bind 127.0.0.1 <"$tmp/stdin" >"$tmp/mesk.out" 2>"$tmp/mesk.err" &
mesk_pid=$!
exec 3>"$tmp/stdin"
wait_line() {  # pattern
  for _ in $(seq 600); do
    grep -q -- "$1" "$tmp/mesk.out" && return 0
    kill -0 "$mesk_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "mesk never said $1:" >&2
  tail -20 "$tmp/mesk.err" >&2
  exit 1
}
wait_line '^event core_started$'
printf ':pick-accepted-folder %s\n' "$tmp/shared" >&3
wait_line '^reply /add_accepted_folder '
printf ':pick-files %s\n' "$file" >&3
wait_line '"shared_files_updated"'
printf '/get_device_info {}\n' >&3
wait_line '^reply /get_device_info '
code="$(grep '^reply /get_device_info ' "$tmp/mesk.out" | grep -o '"webshare_password": "[^"]*"' | cut -d'"' -f4)"
id="$(curl -s -H "x_mesk_web_mode_code: $code" "http://127.0.0.1:$web_port/http_mode_api/v1/files" |
  grep -o '"id": "[0-9a-f]*"' | head -1 | cut -d'"' -f4)"
[ -n "$id" ] || { echo "the web share lists no file" >&2; exit 1; }

cat >"$tmp/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log warn;
$( [ "$(id -u)" -eq 0 ] && echo "user root;" )
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $tmp/nginx/client_body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  sendfile on;
  tcp_nopush on;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$nginx_port;
    location /file/ { alias $tmp/shared/; }
  }
}
EOF
nginx -p "$tmp/nginx" -e "$tmp/nginx/error.log" -c "$tmp/nginx/nginx.conf" -g 'daemon off;' \
  2>>"$tmp/nginx/error.log" &
nginx_pid=$!

mesk_url="http://127.0.0.1:$web_port/file/v1/$id?code=$code"
nginx_url="http://127.0.0.1:$nginx_port/file/big.bin"
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break; sleep 0.1; done

# Both send the whole file, byte for byte (this also puts it in the page cache).
want="$(sha256sum "$file" | cut -d' ' -f1)"
for url in "$mesk_url" "$nginx_url"; do
  got="$(curl -s "$url" | sha256sum | cut -d' ' -f1)"
  [ "$got" = "$want" ] || { echo "$url did not send the file whole" >&2; exit 1; }
done

speed() {  # url -> MB/s (10^6 bytes)
  curl -s -o /dev/null -w '%{speed_download} %{size_download}\n' "$1" |
    awk -v want="$((size_mib * 1024 * 1024))" '$2 != want { exit 1 } { printf "%.0f\n", $1 / 1e6 }'
}
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "curl, $size_mib MiB, plain HTTP on 127.0.0.1, $runs runs each (alternating); $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
mesk_runs=()
nginx_runs=()
for i in $(seq "$runs"); do
  m="$(speed "$mesk_url")" || { echo "a mesk download came short" >&2; exit 1; }
  n="$(speed "$nginx_url")" || { echo "an nginx download came short" >&2; exit 1; }
  mesk_runs+=("$m")
  nginx_runs+=("$n")
  printf 'run %d: mesk %6s MB/s   nginx %6s MB/s\n' "$i" "$m" "$n"
done
m="$(printf '%s\n' "${mesk_runs[@]}" | median)"
n="$(printf '%s\n' "${nginx_runs[@]}" | median)"
echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'median: mesk %s MB/s, nginx %s MB/s\n' "$m" "$n"
awk -v m="$m" -v n="$n" 'BEGIN { printf "mesk/nginx: %.3f\n", m / n }'

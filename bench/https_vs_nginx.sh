#!/usr/bin/env bash
# Requests per second and latency of GET and POST "/api/v1/hello_world" on mesk's HTTPS
# server, beside nginx answering the same JSON over TLS with the same certificate, both on
# loopback with keep-alive, measured with wrk; and of POST "/api/v1/ping" on mesk. Prints
# a table and mesk/nginx ratios. mesk listens on 127.0.0.1 only.
#
# Settings (environment): BUILD (build folder, default "build"), JOBS (build jobs),
# THREADS, CONNECTIONS, DURATION (wrk's -t, -c, -d), NGINX_PORT.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${BUILD:-build}"
jobs="${JOBS:-$(nproc)}"
threads="${THREADS:-4}"
connections="${CONNECTIONS:-32}"
duration="${DURATION:-10s}"
nginx_port="${NGINX_PORT:-45443}"
mesk_port=45001
path="/api/v1/hello_world"
body='{"status": "success"}'

bash scripts/install-deps.sh --bench

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target mesk >/dev/null
mesk_bin="$(pwd)/$build/host/mesk"

# Another server on these ports would be measured instead of ours.
for port in "$mesk_port" 45002 "$nginx_port"; do
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

# mesk keeps all its state under these folders.
export HOME="$tmp/home"
export XDG_DATA_HOME="$tmp/data" XDG_CACHE_HOME="$tmp/cache" XDG_CONFIG_HOME="$tmp/config"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME" "$tmp/nginx"
data="$XDG_DATA_HOME/mesk/Data"

# mesk ends when its standard input closes only on ":quit"; the fifo stays open on fd 3.
mkfifo "$tmp/stdin"
"$mesk_bin" --bind 127.0.0.1 <"$tmp/stdin" >"$tmp/mesk.out" 2>"$tmp/mesk.err" &
mesk_pid=$!
exec 3>"$tmp/stdin"

for _ in $(seq 300); do
  grep -qx "event core_started" "$tmp/mesk.out" && break
  kill -0 "$mesk_pid" 2>/dev/null || { echo "mesk ended early:" >&2; cat "$tmp/mesk.err" >&2; exit 1; }
  sleep 0.1
done
grep -qx "event core_started" "$tmp/mesk.out" || { echo "mesk did not start:" >&2; cat "$tmp/mesk.err" >&2; exit 1; }
for f in cert.pem key.pem; do
  [ -s "$data/$f" ] || { echo "mesk made no $data/$f" >&2; exit 1; }
done

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
  keepalive_timeout 60s;
  # mesk does not cap the requests on one connection either.
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $data/cert.pem;
    ssl_certificate_key $data/key.pem;
    ssl_protocols TLSv1.2 TLSv1.3;
    location = $path {
      default_type application/json;
      return 200 '$body';
    }
  }
}
EOF
nginx -p "$tmp/nginx" -e "$tmp/nginx/error.log" -c "$tmp/nginx/nginx.conf" -g 'daemon off;' \
  2>>"$tmp/nginx/error.log" &
nginx_pid=$!

mesk_url="https://127.0.0.1:$mesk_port$path"
nginx_url="https://127.0.0.1:$nginx_port$path"

# Both must answer the same body before anything is measured.
for url in "$mesk_url" "$nginx_url"; do
  answer=""
  for _ in $(seq 50); do
    answer="$(curl -sk --max-time 2 "$url" || true)"
    [ -n "$answer" ] && break
    sleep 0.1
  done
  if [ "$answer" != "$body" ]; then
    echo "$url answered '$answer', not '$body'" >&2
    cat "$tmp/mesk.err" "$tmp/nginx/error.log" >&2
    exit 1
  fi
done

# One line of figures per run: requests/s, mean/p50/p99 latency in ms, and errors.
cat >"$tmp/report.lua" <<'EOF'
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("FIGURES %.0f %.3f %.3f %.3f %d %d %d %d %d %d\n",
    summary.requests / (summary.duration / 1e6),
    latency.mean / 1000, latency:percentile(50) / 1000, latency:percentile(99) / 1000,
    summary.requests, e.connect, e.read, e.write, e.status, e.timeout))
end
EOF
{ echo "wrk.method = \"POST\""
  echo "wrk.body = '{}'"
  echo "wrk.headers[\"Content-Type\"] = \"application/json\""
  cat "$tmp/report.lua"; } >"$tmp/post.lua"
# A ping that names no device: answered with mesk's identity, nothing stored.
{ echo "wrk.method = \"POST\""
  echo "wrk.body = '{}'"
  echo "wrk.headers[\"Content-Type\"] = \"application/json\""
  cat "$tmp/report.lua"; } >"$tmp/ping.lua"

declare -A rps
rows=()
failed=0
run() {  # name method script url
  local out figures
  out="$(wrk -t"$threads" -c"$connections" -d"$duration" --latency -s "$3" "$4" 2>&1)" || {
    echo "wrk failed against $4:" >&2; echo "$out" >&2; failed=1; return; }
  figures="$(grep '^FIGURES ' <<<"$out" | cut -d' ' -f2-)" || {
    echo "no figures from wrk against $4:" >&2; echo "$out" >&2; failed=1; return; }
  read -r r mean p50 p99 total econn eread ewrite estatus etimeout <<<"$figures"
  rps["$1 $2"]="$r"
  rows+=("$(printf '%-6s %-5s %10s %9s %9s %9s %9s   conn=%s read=%s write=%s non2xx=%s timeout=%s' \
    "$1" "$2" "$r" "$mean" "$p50" "$p99" "$total" "$econn" "$eread" "$ewrite" "$estatus" "$etimeout")")
  if [ $((econn + eread + ewrite + estatus + etimeout)) -ne 0 ]; then
    echo "--- wrk output, $1 $2 (errors) ---" >&2
    grep -v '^FIGURES ' <<<"$out" >&2
  fi
}

echo "wrk -t$threads -c$connections -d$duration, keep-alive, TLS, loopback; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
# What each side negotiates and sends back, so differences in the figures can be read.
for side in "mesk $mesk_port" "nginx $nginx_port"; do
  set -- $side
  tls="$(openssl s_client -connect "127.0.0.1:$2" </dev/null 2>/dev/null | grep -m1 '^New, ' || true)"
  sizes="$(curl -sk -o /dev/null -w '%{size_header} header + %{size_download} body bytes' \
    "https://127.0.0.1:$2$path")"
  printf '%-6s %s; answer %s\n' "$1" "${tls:-TLS unknown}" "$sizes"
done
run mesk GET "$tmp/report.lua" "$mesk_url"
run nginx GET "$tmp/report.lua" "$nginx_url"
run mesk POST "$tmp/post.lua" "$mesk_url"
run nginx POST "$tmp/post.lua" "$nginx_url"
run mesk PING "$tmp/ping.lua" "https://127.0.0.1:$mesk_port/api/v1/ping"

echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-5s %10s %9s %9s %9s %9s   %s\n' server method "req/s" "mean ms" "p50 ms" "p99 ms" requests errors
printf '%s\n' "${rows[@]}"
echo
for method in GET POST; do
  m="${rps[mesk $method]:-}"
  n="${rps[nginx $method]:-}"
  if [ -n "$m" ] && [ -n "$n" ] && [ "$n" != 0 ]; then
    awk -v m="$m" -v n="$n" -v k="$method" 'BEGIN { printf "%-4s mesk/nginx req/s: %.3f\n", k, m / n }'
  fi
done

kill -0 "$mesk_pid" 2>/dev/null || { echo "mesk ended during the run:" >&2; cat "$tmp/mesk.err" >&2; failed=1; }
exit "$failed"

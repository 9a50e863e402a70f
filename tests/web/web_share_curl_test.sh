#!/usr/bin/env bash
# The web share of a running `mesk`, asked with curl as a browser or a script would:
# the API with and without the code, "/file/v1" with the code in the header or the
# query, byte ranges, the page and paths that try to leave its folder, and the lock-out
# of an address that guesses codes. mesk runs on a loopback address of this test's own;
# each row asks from a source address of its own, so that wrong codes of one row never
# lock another out.
#
#   bash web_share_curl_test.sh MESK_BINARY PAGE_FOLDER
set -uo pipefail

mesk_bin="${1:?usage: web_share_curl_test.sh MESK_BINARY PAGE_FOLDER}"
page="${2:?usage: web_share_curl_test.sh MESK_BINARY PAGE_FOLDER}"
command -v curl >/dev/null || { echo "skipped: curl is not installed"; exit 77; }

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok - $1"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $1"; }
check() {  # name expected actual
  if [ "$2" = "$3" ]; then ok "$1"; else not_ok "$1: expected [$2], got [$3]"; fi
}

# 127.A.B.1 for mesk; 127.A.B.N (N > 1) for the askers.
net=""
for _ in $(seq 20); do
  candidate="127.$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1))"
  if ! ss -Hltn "src $candidate.1" | grep -q .; then net="$candidate"; break; fi
done
[ -n "$net" ] || { echo "no free loopback address"; exit 1; }
addr="$net.1"
base="http://$addr:3456"

tmp="$(mktemp -d)"
mesk_pid=""
# Quits mesk; false when it did not end cleanly or a sanitizer spoke up.
stop_mesk() {
  local status=0
  { printf ':quit\n' >&3; } 2>/dev/null
  for _ in $(seq 200); do kill -0 "$mesk_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$mesk_pid" 2>/dev/null
  wait "$mesk_pid" 2>/dev/null || status=$?
  mesk_pid=""
  { exec 3>&-; } 2>/dev/null
  if [ "$status" -ne 0 ] || grep -qE 'Sanitizer|runtime error' "$tmp/err"; then
    echo "mesk ended with status $status:"
    grep -E -A20 'Sanitizer|runtime error' "$tmp/err" | head -40
    return 1
  fi
}
cleanup() {
  [ -n "$mesk_pid" ] && stop_mesk
  rm -rf "$tmp"
}
trap cleanup EXIT

export HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_CACHE_HOME="$tmp/cache" XDG_CONFIG_HOME="$tmp/config"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$tmp/shared"
mkfifo "$tmp/in"
"$mesk_bin" --bind "$addr" <"$tmp/in" >"$tmp/out" 2>"$tmp/err" &
mesk_pid=$!
exec 3>"$tmp/in"

wait_line() {  # pattern [tenths of a second]
  for _ in $(seq "${2:-300}"); do
    grep -q -- "$1" "$tmp/out" && return 0
    kill -0 "$mesk_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "mesk never said $1; its last words:" >&2
  tail -20 "$tmp/err" >&2
  exit 1
}

wait_line '^event core_started$' 600
# A file whose every range differs, and a small one; both shared as a user would.
head -c 100000 /dev/urandom >"$tmp/shared/clip.mp4"
printf 'bee' >"$tmp/shared/b.txt"
printf ':pick-accepted-folder %s\n' "$tmp/shared" >&3
wait_line '^reply /add_accepted_folder '
printf ':pick-files %s %s\n' "$tmp/shared/clip.mp4" "$tmp/shared/b.txt" >&3
wait_line '"shared_files_updated"'
printf '/get_device_info {}\n' >&3
wait_line '^reply /get_device_info '
code="$(grep '^reply /get_device_info ' "$tmp/out" | grep -o '"webshare_password": "[^"]*"' | cut -d'"' -f4)"
[[ "$code" =~ ^[0-9]{4}$ ]] || { echo "no code in the device's settings: '$code'"; exit 1; }
wrong="0000"
[ "$code" = "0000" ] && wrong="1111"
for _ in $(seq 300); do curl -s -o /dev/null "$base/" && break; sleep 0.1; done

row=1
next_source() { row=$((row + 1)); source="$net.$row"; }

# One request from the next source address: its status in $got, the body in $tmp/body,
# the header lines in $tmp/headers.
ask() {  # target [curl options...]
  local target="$1"
  shift
  next_source
  got="$(curl -s --path-as-is --interface "$source" -o "$tmp/body" -D "$tmp/headers" -w '%{http_code}' "$@" \
    "$base$target")"
}
header() { grep -i "^$1:" "$tmp/headers" | head -1 | cut -d: -f2- | sed 's/^ //; s/\r$//'; }
sha() { sha256sum "$1" | cut -d' ' -f1; }

# ---- the API: code only for the protected paths, its header name in any case ----
files_json="$(curl -s -H "x_mesk_web_mode_code: $code" "$base/http_mode_api/v1/files")"
id_of() { grep -o "\"id\": \"[0-9a-f]*\", \"name\": \"$1\"" <<<"$files_json" | cut -d'"' -f4; }
clip="$(id_of clip.mp4)"
[ -n "$clip" ] || { echo "clip.mp4 is not listed: $files_json"; exit 1; }

while IFS='|' read -r path given name status body; do
  case "$given" in
    none) opts=() ;;
    wrong) opts=(-H "$name: $wrong") ;;
    right) opts=(-H "$name: $code") ;;
  esac
  ask "/http_mode_api/v1$path" "${opts[@]}"
  check "API $path, $given code in '$name': status" "$status" "$got"
  case "$body" in
    '') check "API $path, $given code: empty body" "" "$(cat "$tmp/body")" ;;
    list) check "API $path, $given code: the list" "$files_json" "$(cat "$tmp/body")" ;;
    *) grep -qF -- "$body" "$tmp/body" && ok "API $path: body has $body" \
      || not_ok "API $path: body $(cat "$tmp/body") lacks $body" ;;
  esac
  check "API $path: Access-Control-Allow-Origin" "*" "$(header Access-Control-Allow-Origin)"
done <<'EOF'
/hello_world|none|-|200|{"status": "success"}
/os|none|-|200|"os": "linux"
/who_am_i|none|-|200|"device_id"
/login|none|-|200|{"status": "success"}
/protected_check_code|none|-|401|
/protected_check_code|wrong|x_mesk_web_mode_code|401|
/protected_check_code|right|x_mesk_web_mode_code|200|{"status": "success"}
/protected_check_code|right|X_MESK_WEB_MODE_CODE|200|{"status": "success"}
/files|none|-|401|
/files|wrong|x_mesk_web_mode_code|401|
/files|right|x_mesk_web_mode_code|200|list
/files|right|X_Mesk_Web_Mode_Code|200|list
/protected_root_files|none|-|401|
/protected_root_files|wrong|x_mesk_web_mode_code|401|
/protected_root_files|right|x_mesk_web_mode_code|200|list
/files/more|right|x_mesk_web_mode_code|200|{"files": [], "status": "success"}
/Hello_world|none|-|200|
/hello_world/|none|-|200|
EOF

# ---- "/file/v1": the code in the header or the query ----
whole="$(sha "$tmp/shared/clip.mp4")"
while IFS='|' read -r what query header_line status; do
  opts=()
  [ -n "$header_line" ] && opts=(-H "$header_line")
  ask "/file/v1/$clip$query" "${opts[@]}"
  check "file, $what: status" "$status" "$got"
  if [ "$status" = 200 ]; then
    check "file, $what: the whole file" "$whole" "$(sha "$tmp/body")"
    check "file, $what: disposition" 'attachment; filename="clip.mp4"' "$(header Content-Disposition)"
  else
    check "file, $what: empty body" "0" "$(stat -c %s "$tmp/body")"
  fi
done <<EOF
no code|||401
wrong code in the header||x_mesk_web_mode_code: $wrong|401
wrong code in the query|?code=$wrong||401
right code in the header||x_mesk_web_mode_code: $code|200
right code, header name in capitals||X_MESK_WEB_MODE_CODE: $code|200
right code in the query|?code=$code||200
EOF

# ---- ranges: the end honoured, suffixes, 416 past the end, garbage from 0 ----
size=100000
while IFS='|' read -r range status first count content_range; do
  ask "/file/v1/$clip?code=$code" -H "Range: $range"
  check "range $range: status" "$status" "$got"
  check "range $range: Content-Range" "$content_range" "$(header Content-Range)"
  if [ "$status" = 206 ]; then
    check "range $range: Content-Length" "$count" "$(header Content-Length)"
    expected="$(tail -c +$((first + 1)) "$tmp/shared/clip.mp4" | head -c "$count" | sha256sum | cut -d' ' -f1)"
    check "range $range: the bytes" "$expected" "$(sha "$tmp/body")"
  else
    check "range $range: empty body" "0" "$(stat -c %s "$tmp/body")"
  fi
done <<EOF
bytes=0-|206|0|$size|bytes 0-99999/$size
bytes=100-199|206|100|100|bytes 100-199/$size
bytes=-500|206|99500|500|bytes 99500-99999/$size
bytes=$size-|416|||bytes */$size
bytes=200000-300000|416|||bytes */$size
garbage|206|0|$size|bytes 0-99999/$size
EOF

# ---- the page, and paths that try to leave its folder ----
while IFS='|' read -r target status file type; do
  ask "$target"
  check "page $target: status" "$status" "$got"
  if [ "$status" = 200 ]; then
    check "page $target: content" "$(sha "$page/$file")" "$(sha "$tmp/body")"
    check "page $target: type" "$type" "$(header Content-Type)"
  else
    check "page $target: empty body" "0" "$(stat -c %s "$tmp/body")"
  fi
done <<'EOF'
/|200|index.html|text/html
/index.html|200|index.html|text/html
/app.js?v=2|200|app.js|text/javascript
/style.css?v=1|200|style.css|text/css
/%69ndex.html|200|index.html|text/html
/missing.html|404||
/../../../CMakeLists.txt|404||
/../bin/index.html|404||
/%2e%2e/%2e%2e/%2e%2e/CMakeLists.txt|404||
/%2E%2E/%2E%2E/%2E%2E/CMakeLists.txt|404||
/..%2f..%2f..%2fCMakeLists.txt|404||
/%2e%2e%2f%2e%2e%2f%2e%2e%2fCMakeLists.txt|404||
/.%2e/.%2e/.%2e/CMakeLists.txt|404||
/%2e%2e%5c%2e%2e%5c%2e%2e%5cCMakeLists.txt|404||
/index.html%00.js|404||
EOF

# ---- the lock-out: five wrong codes, then 429 even for the right one; others go on ----
next_source
guesser="$source"
guess() {  # code target
  curl -s --interface "$guesser" -o "$tmp/body" -D "$tmp/headers" -w '%{http_code}' \
    -H "x_mesk_web_mode_code: $1" "$base$2"
}
for i in 1 2 3 4 5; do
  check "lock-out: wrong code $i" 401 "$(guess "$wrong" /http_mode_api/v1/protected_check_code)"
done
check "lock-out: the right code after five wrong ones" 429 "$(guess "$code" /http_mode_api/v1/protected_check_code)"
retry="$(header Retry-After)"
[ "$retry" -ge 1 ] 2>/dev/null && [ "$retry" -le 60 ] && ok "lock-out: Retry-After $retry" \
  || not_ok "lock-out: Retry-After '$retry'"
check "lock-out: a file with the right code" 429 "$(guess "$code" "/file/v1/$clip")"
check "lock-out: the page is still served" 200 "$(guess "" /)"
ask /http_mode_api/v1/protected_check_code -H "x_mesk_web_mode_code: $code"
check "lock-out: another address with the right code" 200 "$got"
ask "/file/v1/$clip?code=$code"
check "lock-out: another address gets the file" "$whole" "$(sha "$tmp/body")"

if stop_mesk; then ok "mesk quits cleanly"; else not_ok "mesk quits cleanly"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

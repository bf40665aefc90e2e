#!/usr/bin/env bash
# The API beside a plain web server: for each CONNECTIONS count (default 10),
# wrk with "Connection: close" from one address asks the headless station's
# getcurrent, then nginx (one worker) for a file of the same size, in the same
# run; prints rate, p99 and errors (socket errors and answers other than 200)
# of both as "BENCH figure<TAB>value<TAB>target" lines. Binds port 1011.
# Usage: bench/api_vs_nginx.sh BUILD_DIR [SECONDS] [CONNECTIONS...]
set -euo pipefail
build="$(cd "${1:?build directory}" && pwd)"
seconds="${2:-10}"
shift $(($# < 2 ? $# : 2))
counts=("${@:-10}")
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}" $(cat "$work/players" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/station" "$work/www"
# nginx's worker runs as www-data: it must reach the file it serves.
chmod 755 "$work" "$work/www"
cd "$work/station"
printf '[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=k\r\nDefaultStrapline=Bench\r\n' > kestrelfield.ini
printf '9n:Bench\r\n9u:http://127.0.0.1:9/live\r\n' > sourcelist.ini
# Players that hold their slot and do nothing else; their pids are noted for the clean-up.
for slot in 1 2; do
  printf '#!/bin/bash\necho $$ >> %s/players\nexec -a mplayer%s sleep 3600\n' "$work" "$slot" > "mplayer$slot"
  chmod +x "mplayer$slot"
done
QT_QPA_PLATFORM=offscreen "$build/kestrelfield" >/dev/null 2>&1 &
pids+=($!)
url="http://127.0.0.1:1011/api/getcurrent.php?id=k"
for _ in $(seq 1 100); do curl -fs -o "$work/www/getcurrent" "$url" && break; sleep 0.1; done

port=18200
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx.log;
events { worker_connections 1024; }
http {
  access_log off;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)
sleep 0.5

# "rate p99 errors" of wrk -cN against a URL, every request on a new connection.
measure() {
  wrk -c"$1" -t1 -d"${seconds}s" --latency -H "Connection: close" "$2" |
    awk '/^ *99%/ {p99 = $2} /^Requests\/sec/ {rate = $2}
         /Socket errors/ {gsub(",", ""); errors += $4 + $6 + $8 + $10}
         /Non-2xx/ {errors += $NF} END {print rate, p99, errors + 0}'
}
to_ms() { awk -v t="$1" 'BEGIN { n = t + 0; if (t ~ /us$/) n /= 1000; else if (t ~ /[^m]s$/) n *= 1000; print n }'; }
for c in "${counts[@]}"; do
  read -r api_rate api_p99 api_errors < <(measure "$c" "$url")
  read -r nginx_rate nginx_p99 nginx_errors < <(measure "$c" "http://127.0.0.1:$port/getcurrent")
  echo -e "BENCH API getcurrent, wrk -c$c Connection: close, rate / p99 / errors\t$api_rate/s / $api_p99 / $api_errors\t0 errors"
  echo -e "BENCH nginx (one worker), same file size, -c$c, rate / p99 / errors\t$nginx_rate/s / $nginx_p99 / $nginx_errors\t"
  awk -v a="$(to_ms "$api_p99")" -v n="$(to_ms "$nginx_p99")" -v c="$c" \
    'BEGIN { printf "BENCH API p99 over nginx p99, -c%s\t%.2fx\twithin 2x\n", c, a / n }'
done

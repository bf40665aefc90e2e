#!/usr/bin/env bash
# A fleet on one machine: N real headless stations (default 20), each in its
# own directory with its API on 127.0.0.K (K = 1..N) and one port, playing
# local test streams, scraped by a real Prometheus with the shipped alert
# rules. Checks, and prints as "BENCH figure<TAB>value<TAB>target" lines:
#  - every station plays its source, and starting each station left the
#    players of those started before it alone (same PIDs);
#  - per-station CPU (% of one core) and RSS over SECONDS (default 30), the
#    stations' total, and the players' decoding apart;
#  - a scheduled switch at the same second on every station happens on every
#    one; the spread of the new players' start across the stations;
#  - killing one of the four stream servers makes exactly the stations that
#    play it fall back to source 0, while the others keep their players (same
#    PIDs), and the alert for a fallback fires for exactly those;
#  - Prometheus' up is 1 for every station, kestrelfield_info names each one.
# Exits 1 when a check fails. Starts players: run it under the players' lock,
#   flock /tmp/kestrelfield-players.lock bench/fleet.sh BUILD_DIR [N] [SECONDS]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: bench/fleet.sh BUILD_DIR [N] [SECONDS]}" && pwd)"
count="${2:-20}"
seconds="${3:-30}"
[ "$count" -ge 1 ] && [ "$count" -le 250 ] || { echo "N is 1 to 250" >&2; exit 2; }
for tool in prometheus jq curl mplayer; do
  command -v "$tool" >/dev/null || { echo "fleet: $tool is missing (scripts/setup)" >&2; exit 2; }
done

work="$(mktemp -d)"
stations=()  # PIDs
others=()    # stream servers and Prometheus
declare -A server_pid
cleanup() {
  for pid in "${stations[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${others[@]}"; do kill "$pid" 2>/dev/null || true; done
  for dir in "$work"/stations/*/; do "$repo/scripts/end_players" "$dir"; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
bench() { printf 'BENCH %s\t%s\t%s\n' "$1" "$2" "$3"; }

mkdir -p "$work/stations" "$work/mplayer-home" "$work/prometheus"
printf 'ao=null\nvo=null\n' > "$work/mplayer-home/config"
export MPLAYER_HOME="$work/mplayer-home" QT_QPA_PLATFORM=offscreen
"$repo/scripts/make_test_mp3" "$work/tone.mp3" 10

# A stream server on a free port of 127.0.0.1; its port in server_port[NAME].
declare -A server_port
start_stream() {
  local name=$1
  "$build/icy_test_stream" --port 0 --name "$name" --titles "$name A - One|$name B - Two" \
    --every 5 --mp3 "$work/tone.mp3" > "$work/$name.port" 2>/dev/null &
  server_pid[$name]=$!
  others+=($!)
  for _ in $(seq 1 100); do [ -s "$work/$name.port" ] && break; sleep 0.05; done
  server_port[$name]=$(head -n1 "$work/$name.port")
}
for name in p0 p1 p2 p3 backup; do start_stream "$name"; done

free_port() {
  local port=$1
  while ss -Htln "sport = :$port" | grep -q .; do port=$((port + 1)); done
  echo "$port"
}
api_port=$(free_port 21011)
prometheus_port=$(free_port 29090)

name_of() { printf 'fleet-%02d' "$1"; }
dir_of() { echo "$work/stations/$(name_of "$1")"; }
address_of() { echo "127.0.0.$1"; }
programme_of() { echo "p$((($1 - 1) % 4))"; }  # the stream server of station K's source 1
network_of() { echo "p$(($1 % 4))"; }            # and of its source 2, after the scheduled switch

status_of() {
  curl -s --max-time 2 "http://$(address_of "$1"):$api_port/api/status.json?id=fleet" || true
}
# "ON-AIR PENDING" of station K, "- -" when it does not answer.
on_air() {
  status_of "$1" | jq -r '"\(.onAir.source) \(.pending.source)"' 2>/dev/null || echo "- -"
}
# "DIR<TAB>PID" for every player that carries a station's mark (KESTRELFIELD_STATION).
player_table() {
  local comm pid mark
  for comm in $(grep -lxE 'mplayer[12]?' /proc/[0-9]*/comm 2>/dev/null); do
    pid=${comm#/proc/}
    pid=${pid%/comm}
    mark=$(tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ" | sed -n 's/^KESTRELFIELD_STATION=//p' | head -n1) || true
    [ -n "$mark" ] && printf '%s\t%s\n' "$mark" "$pid"
  done
  return 0
}
# The PIDs of station DIR's players in a player table, in one line.
players_in() { awk -F '\t' -v dir="$2" '$1 == dir {print $2}' "$1" | sort -n | tr '\n' ' '; }
players_of() {
  player_table > "$work/table"
  players_in "$work/table" "$1"
}
# Waits up to LIMIT seconds for every station in the list to be on air with SOURCE.
wait_on_air() {
  local source=$1 limit=$2
  shift 2
  local deadline=$((SECONDS + limit)) k
  while [ $SECONDS -lt $deadline ]; do
    local all=1
    for k in "$@"; do
      [ "$(on_air "$k" | cut -d' ' -f1)" = "$source" ] || { all=0; break; }
    done
    [ $all = 1 ] && return 0
    sleep 1
  done
  return 1
}

everyday=""
for day in 1 2 3 4 5 6 7; do everyday+="$day 000000 1"$'\r\n'; done
for k in $(seq 1 "$count"); do
  dir="$(dir_of "$k")"
  mkdir -p "$dir"
  printf '[Kestrelfield]\r\nDefaultStrapline=%s\r\nExtraMetaNowPlaying=OFF\r\nAPIallowed=1\r\nAPIKey=fleet\r\nAPIBind=%s\r\nAPIPort=%s\r\n' \
    "$(name_of "$k")" "$(address_of "$k")" "$api_port" > "$dir/kestrelfield.ini"
  printf '0n:Backup\r\n0u:http://127.0.0.1:%s/backup\r\n1n:Programme %s\r\n1u:http://127.0.0.1:%s/live\r\n2n:Network\r\n2u:http://127.0.0.1:%s/network\r\n' \
    "${server_port[backup]}" "$k" "${server_port[$(programme_of "$k")]}" "${server_port[$(network_of "$k")]}" \
    > "$dir/sourcelist.ini"
  printf '%s' "$everyday" > "$dir/sourceevents.ini"
done
problems=$("$build/kestrelfield" --check "$(dir_of 1)" | tail -n1)
[[ "$problems" == "no problems found in "* ]] || fail "kestrelfield --check: $problems"

# Prometheus scrapes every station with the shipped alert rules.
{
  printf 'global: {scrape_interval: 2s, evaluation_interval: 2s}\n'
  printf 'rule_files: [%s/examples/prometheus/kestrelfield-alerts.yml]\n' "$repo"
  printf 'scrape_configs:\n  - job_name: kestrelfield\n    metrics_path: /api/metrics\n'
  printf '    params: {id: [fleet]}\n    static_configs:\n      - targets:\n'
  for k in $(seq 1 "$count"); do printf '          - %s:%s\n' "$(address_of "$k")" "$api_port"; done
} > "$work/prometheus/prometheus.yml"
(cd "$work/prometheus" && exec prometheus --config.file=prometheus.yml --storage.tsdb.path=data \
  --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn > prometheus.log 2>&1) &
others+=($!)
query() {
  curl -s --max-time 5 "http://127.0.0.1:$prometheus_port/api/v1/query" --data-urlencode "query=$1" |
    jq -c '.data.result' 2>/dev/null || echo '[]'
}

# Stations start one after another; each start must leave the earlier ones' players alone.
declare -A players_at_start
all=()
for k in $(seq 1 "$count"); do
  dir="$(dir_of "$k")"
  (cd "$dir" && exec "$build/kestrelfield" 2> station.err) &
  stations+=($!)
  all+=("$k")
  wait_on_air 1 30 "$k" || fail "station $k does not play source 1"
  for _ in $(seq 1 50); do
    [ -n "$(players_of "$dir")" ] && break
    sleep 0.1
  done
  players_at_start[$k]="$(players_of "$dir")"
done
sleep 3
interference=0
player_table > "$work/table"
for k in "${all[@]}"; do
  now="$(players_in "$work/table" "$(dir_of "$k")")"
  if [ "$now" != "${players_at_start[$k]}" ]; then
    interference=$((interference + 1))
    echo "station $k: players ${players_at_start[$k]}were replaced by $now" >&2
  fi
done
restarts=$(cat "$work"/stations/*/error.log 2>/dev/null | grep -c . || true)
bench "stations playing their source after start-up" "$(for k in "${all[@]}"; do on_air "$k"; done | grep -c '^1 ')/$count" "$count/$count"
bench "players of earlier stations replaced while the others started ($count stations)" "$interference" "0"
bench "error.log lines after start-up (RESTART, STALL, SWITCH FAILED)" "$restarts" "0"

# Idle cost per station, one player each.
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
declare -A station_before player_before
player_table > "$work/table"
for i in "${!stations[@]}"; do
  k=$((i + 1))
  station_before[$k]=$(cpu_ticks "${stations[$i]}")
  sum=0
  for pid in $(players_in "$work/table" "$(dir_of "$k")"); do sum=$((sum + $(cpu_ticks "$pid"))); done
  player_before[$k]=$sum
done
t0=$(date +%s.%N)
sleep "$seconds"
t1=$(date +%s.%N)
player_table > "$work/table"
{
  for i in "${!stations[@]}"; do
    k=$((i + 1))
    pid=${stations[$i]}
    sum=0
    for player in $(players_in "$work/table" "$(dir_of "$k")"); do sum=$((sum + $(cpu_ticks "$player"))); done
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    echo "$k $(($(cpu_ticks "$pid") - station_before[$k])) $((sum - player_before[$k])) $rss"
  done
} > "$work/idle"
awk -v hz="$hz" -v w="$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')" '
  { cpu = $2 / hz / w * 100; players = $3 / hz / w * 100
    printf "%s %6.2f %% CPU %6.1f MB RSS   players %6.2f %% CPU\n", sprintf("fleet-%02d", $1), cpu, $4 / 1024, players
    total += cpu; ptotal += players; rss += $4; if (cpu > most) most = cpu }
  END { n = NR
    printf "BENCH station idle CPU, mean per station (%d stations, one player each)\t%.2f %% of one core (most %.2f %%)\tflat in N\n", n, total / n, most
    printf "BENCH stations idle CPU, all %d together, players aside\t%.1f %% of one core\tunder 20 %% for 20\n", n, total
    printf "BENCH station RSS, mean per station (%d stations)\t%.1f MB\tflat in N\n", n, rss / n / 1024
    printf "BENCH players decoding, all %d together (MPlayer, null output)\t%.1f %% of one core\t-\n", n, ptotal }' \
  "$work/idle"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# A scheduled switch at the same second on every station.
at=$(($(date +%s) + 15))
event="$(date -d "@$at" +%w | awk '{print $1 + 1}') $(date -d "@$at" +%H%M%S) 2"
for k in "${all[@]}"; do printf '%s%s\r\n' "$everyday" "$event" > "$(dir_of "$k")/sourceevents.ini"; done
sleep $((at - $(date +%s)))
wait_on_air 2 40 "${all[@]}" || true
switched=$(for k in "${all[@]}"; do on_air "$k"; done | grep -c '^2 ' || true)
# When each station started its source-2 player, from the process start time.
boot=$(awk '{print $1}' /proc/uptime)
wall=$(date +%s.%N)
player_table > "$work/table"
for k in "${all[@]}"; do
  first=""
  for pid in $(players_in "$work/table" "$(dir_of "$k")"); do
    grep -qa '/network' "/proc/$pid/cmdline" 2>/dev/null || continue
    started=$(awk '{print $22}' "/proc/$pid/stat")
    if [ -z "$first" ] || [ "$started" -lt "$first" ]; then first=$started; fi
  done
  if [ -n "$first" ]; then echo "$first"; fi
done > "$work/switch-starts"
awk -v hz="$hz" -v boot="$boot" -v wall="$wall" -v at="$at" '
  { t = wall - (boot - $1 / hz) - at; if (NR == 1 || t < lo) lo = t; if (NR == 1 || t > hi) hi = t }
  END { if (NR) printf "BENCH synchronised switch: new players started, from the event second\t%.2f .. %.2f s (spread %.2f s, %d stations)\tspread under 0.5 s\n", lo, hi, hi - lo, NR }' \
  "$work/switch-starts"
bench "stations on source 2 after the scheduled switch" "$switched/$count" "$count/$count"
[ "$switched" = "$count" ] || fail "$switched of $count stations switched to source 2"
[ "$(wc -l < "$work/switch-starts")" = "$count" ] || fail "not every station started a source-2 player"

# One stream server dies: its stations fall back to source 0, the others keep their players.
victim=p0
affected=()
unaffected=()
for k in "${all[@]}"; do
  if [ "$(network_of "$k")" = "$victim" ]; then affected+=("$k"); else unaffected+=("$k"); fi
done
declare -A players_before_kill
player_table > "$work/table"
for k in "${unaffected[@]}"; do players_before_kill[$k]="$(players_in "$work/table" "$(dir_of "$k")")"; done
kill -KILL "${server_pid[$victim]}"
wait "${server_pid[$victim]}" 2>/dev/null || true
wait_on_air 0 60 "${affected[@]}" || fail "not every station of the dead server fell back to source 0"
sleep 5
kept=0
player_table > "$work/table"
for k in "${unaffected[@]}"; do
  if [ "$(players_in "$work/table" "$(dir_of "$k")")" = "${players_before_kill[$k]}" ] &&
    [ "$(on_air "$k" | cut -d' ' -f1)" = 2 ]; then
    kept=$((kept + 1))
  else
    echo "station $k: players ${players_before_kill[$k]}now $(players_in "$work/table" "$(dir_of "$k")")" >&2
  fi
done
fell_back=$(for k in "${all[@]}"; do echo "$k $(on_air "$k")"; done | awk '$2 == 0 && $3 == 2' | wc -l)
bench "stations on source 0 after their server died" "$fell_back" "${#affected[@]}"
bench "other stations keeping their players (same PIDs) and source" "$kept/${#unaffected[@]}" "${#unaffected[@]}/${#unaffected[@]}"
[ "$fell_back" = "${#affected[@]}" ] || fail "$fell_back stations fell back, ${#affected[@]} use the dead server"
[ "$kept" = "${#unaffected[@]}" ] || fail "only $kept of ${#unaffected[@]} other stations kept their players"

# Prometheus: every station up and named; the fallback alert for exactly those stations.
expected_alerts=$(for k in "${affected[@]}"; do name_of "$k"; echo; done | sort | tr '\n' ' ')
firing=""
for _ in $(seq 1 60); do
  firing=$(query 'ALERTS{alertname="KestrelfieldBackupOnAir",alertstate="firing"}' |
    jq -r '.[].metric.station' | sort | tr '\n' ' ')
  [ "$firing" = "$expected_alerts" ] && break
  sleep 2
done
up=$(query 'up{job="kestrelfield"} == 1' | jq length)
named=$(query 'count(count by (station) (kestrelfield_info))' | jq -r '.[0].value[1] // 0')
fleet_row=$(query '(max by (job, instance) (kestrelfield_on_air_source)) * on (job, instance) group_left (station) kestrelfield_info' | jq length)
bench "Prometheus targets up" "$up/$count" "$count/$count"
bench "stations named by kestrelfield_info, lines in the dashboard's fleet row" "$named, $fleet_row" "$count, $count"
bench "KestrelfieldBackupOnAir firing for the fallen-back stations" "$([ "$firing" = "$expected_alerts" ] && echo exactly || echo "[$firing]")" "exactly [$expected_alerts]"
[ "$up" = "$count" ] || fail "up is 1 for $up of $count stations"
[ "$named" = "$count" ] && [ "$fleet_row" = "$count" ] || fail "$named stations named, $fleet_row fleet lines"
[ "$firing" = "$expected_alerts" ] || fail "the fallback alert fires for [$firing], not [$expected_alerts]"

[ "$failures" = 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "fleet of $count: every check passed"

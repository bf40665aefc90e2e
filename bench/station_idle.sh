#!/usr/bin/env bash
# Runs the real headless station on a local test stream with the API on and
# prints, as "BENCH figure<TAB>value<TAB>target" lines:
#  - start-up: process start to start-up done and to the first player start,
#  - CPU (% of one core) and peak RSS of the station over SECONDS (default 60),
#    with PLAYERS (1 or 2, default 1) playing and handing it their levels; a
#    second player runs in slot 2 as during a switch's overlap.
# Usage: bench/station_idle.sh BUILD_DIR [SECONDS] [PLAYERS]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?build directory}" && pwd)"
seconds="${2:-60}"
players="${3:-1}"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$repo/scripts/end_players" "$work/station"
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/station" "$work/mplayer-home"
printf 'ao=null\nvo=null\n' > "$work/mplayer-home/config"
export MPLAYER_HOME="$work/mplayer-home" QT_QPA_PLATFORM=offscreen
"$repo/scripts/make_test_mp3" "$work/tone.mp3" 10

port=18100
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
"$build/icy_test_stream" --port "$port" --name "Bench Stream" --titles "Artist - Song|Other - Tune" \
  --every 5 --mp3 "$work/tone.mp3" >/dev/null 2>&1 &
pids+=($!)

cd "$work/station"
printf '[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=k\r\nDefaultStrapline=Bench\r\n' > kestrelfield.ini
printf '9n:Bench\r\n9u:http://127.0.0.1:%s/live\r\n' "$port" > sourcelist.ini
# The slot-1 program records when it starts, then runs the real player.
cat > mplayer1 <<SCRIPT
#!/bin/bash
echo "\$KESTRELFIELD_LEVELS" > "$work/levels-file"
date +%s.%N > "$work/first-player"
tap=()  # a station without the level tap sets nothing
[ -n "\$KESTRELFIELD_LEVELS" ] && tap=(-af "export=\$KESTRELFIELD_LEVELS")
exec -a mplayer1 mplayer -noconsolecontrols "\$@" "\${tap[@]}"
SCRIPT
chmod +x mplayer1
sleep 0.5

start=$(date +%s.%N)
"$build/kestrelfield" &
station=$!
pids+=("$station")
for _ in $(seq 1 200); do [ -s "$work/first-player" ] && break; sleep 0.02; done
first=$(cat "$work/first-player" 2>/dev/null || echo "$start")

if [ "$players" = 2 ]; then
  slot2="$(sed 's/mplayer1\.levels$/mplayer2.levels/' "$work/levels-file")"
  tap=()
  [ -n "$slot2" ] && tap=(-af "export=$slot2")
  (cd "$work" && exec -a mplayer2 mplayer -noconsolecontrols -quiet "${tap[@]}" \
    "http://127.0.0.1:$port/live" >/dev/null 2>&1) &
  pids+=($!)
fi
sleep 5  # let the players connect and the caches settle
hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$station/stat"; }
t0=$(ticks); w0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks); w1=$(date +%s.%N)
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$station/status")
rss=$(awk '/VmRSS/ {print $2}' "/proc/$station/status")

awk -v s="$start" -v f="$first" 'BEGIN { printf "BENCH start-up to first player start (first executor tick at 1 s)\t%.0f ms\tunder 1300 ms\n", (f - s) * 1000;
                                     printf "BENCH start-up to first player start, less the 1 s first tick\t%.0f ms\tunder 300 ms\n", (f - s - 1) * 1000 }'
awk -v a="$t0" -v b="$t1" -v hz="$hz" -v w0="$w0" -v w1="$w1" -v n="$seconds" -v p="$players" -v goal="$([ "$players" = 2 ] && echo 1 || echo 0.5)" \
  'BEGIN { printf "BENCH idle CPU over %d s, %d player(s), API on\t%.2f %% of one core\tunder %s %%\n", n, p, (b - a) / hz / (w1 - w0) * 100, goal }'
echo -e "BENCH station RSS (peak)\t$((rss / 1024)) MB ($((hwm / 1024)) MB)\tunder 60 MB"

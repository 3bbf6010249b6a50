#!/usr/bin/env bash
# What playing costs on Windows, measured under Wine: the processor time of the whole
# lumaro-cli.exe process (the feeding loop, the device's own threads and Wine's) per second of
# paced playback, once the music has started, through
#   - the test driver at 768 kHz 32-bit PCM and natively at DSD512 (it writes what it plays to a
#     file in memory, so the figure is an upper bound of the player's own share), and
#   - the audio system's endpoint in shared mode at 384 kHz float (Wine's ALSA driver to the ALSA
#     test device, paced in real time).
# Usage: bench/wine_feeding.sh [SECONDS]   (default 10 s of playing per case; needs `make windows`
# and `make build-release`).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-10}
cli=build/windows/bin/lumaro-cli.exe
driver=build/windows/bin/lumaro_test_driver.dll
device=build/release/platform/libasound_module_pcm_lumarotest.so
for need in "$cli" "$driver" "$device" build/release/bin/lumaro-make-wav \
  build/release/bin/lumaro-make-dsf; do
  [[ -e $need ]] || { echo "wine_feeding: $need is missing (make windows build-release)" >&2; exit 2; }
done

work=$(mktemp -d /dev/shm/lumaro-wine-feeding.XXXXXX)
# This run's programs are told apart from any other lumaro-cli.exe by the scratch directory in
# their arguments; Wine runs in a prefix of the run's own, so the tests' registrations are left
# alone.
ours() { pgrep -f -- "lumaro-cli\.exe.*$work" || true; }
stop_ours() {
  local pids
  pids=$(ours)
  [[ -z $pids ]] || kill $pids 2>/dev/null || true
}
export LUMARO_WINEPREFIX=$work/prefix
trap 'stop_ours; WINEPREFIX=$LUMARO_WINEPREFIX wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
track_seconds=$((seconds + 10))
build/release/bin/lumaro-make-wav "$work/a768.wav" "$track_seconds" 768000 24 >/dev/null
build/release/bin/lumaro-make-wav "$work/a384.wav" "$track_seconds" 384000 24 >/dev/null
build/release/bin/lumaro-make-dsf "$work/a512.dsf" "$track_seconds" 512 >/dev/null
cat >"$work/asound.conf" <<EOF
pcm_type.lumarotest { lib "$root/$device" }
pcm.!default { type lumarotest formats [ "FLOAT_LE" "S32_LE" ] rates [ 384000 ] speed 1 }
EOF
export ALSA_CONFIG_PATH=$work/asound.conf
export LUMARO_TEST_DRIVER="out=Z:$work/driver-out"
scripts/wine-run regsvr32 /s "$driver" 2>/dev/null

ticks=$(getconf CLK_TCK)
# "TID TICKS" (user + system) for every thread of every Linux process of the running
# lumaro-cli.exe.
thread_ticks() {
  local pid task
  for pid in $(ours); do
    for task in /proc/"$pid"/task/*; do
      awk -v t="${task##*/}" '{ print t, $14 + $15 }' "$task/stat" 2>/dev/null || true
    done
  done
}

# measure LABEL ARGS...: plays, waits for the decode line (the music has started), then counts
# the processor time of the process and of its busiest thread over $seconds seconds.
measure() {
  local label=$1
  shift
  local fifo=$work/lines
  rm -f "$fifo" && mkfifo "$fifo"
  scripts/wine-run "$cli" --once "$@" >"$fifo" 2>/dev/null &
  local player=$!
  local line started=0
  while IFS= read -r line; do
    if [[ $line == Decode:* ]]; then started=1; break; fi
  done <"$fifo"
  if [[ $started == 0 ]]; then
    echo "$label: the music never started" >&2
    return 1
  fi
  thread_ticks >"$work/before"
  sleep "$seconds"
  thread_ticks >"$work/after"
  stop_ours
  wait "$player" 2>/dev/null || true
  awk -v l="$label" -v hz="$ticks" -v s="$seconds" -v line="$line" '
    NR == FNR { before[$1] = $2; next }
    { d = $2 - before[$1]; total += d; if (d > top) top = d }
    END { printf "%-32s %5.2f %% of a core, busiest thread %5.2f %%   (%s)\n", l,
                 100 * total / hz / s, 100 * top / hz / s, line }' "$work/before" "$work/after"
}

echo "Processor time of lumaro-cli.exe under Wine while playing ($seconds s each):"
measure "driver, PCM 768 kHz 32-bit" --asio --device "A: Lumaro Test Driver" --rate 768000 \
  "Z:$work/a768.wav"
measure "driver, native DSD512" --asio --device "A: Lumaro Test Driver" --rate D512 \
  "Z:$work/a512.dsf"
measure "endpoint, shared 384 kHz float" --device "W: Out: default" --rate Share \
  "Z:$work/a384.wav"

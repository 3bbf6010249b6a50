#!/usr/bin/env bash
# Side by side on the same five-minute 44.1 kHz file, one worker: lumaro-stage's volume-assist
# stages against the level measurements of ffmpeg and sox (which only measure; the stages also
# apply their gain and write the result into memory, /dev/shm).
#
#   bench/compare_assist.sh [BUILD_DIR]      (default build/release; builds nothing)
source "$(dirname "$0")/compare_common.sh"

echo "generating a ${seconds} s test file in $work ..."
sox -q -n -r 44100 -b 16 -c 2 "$work/in.wav" synth "$seconds" pinknoise gain -12

w=--workers
ff=(ffmpeg -nostdin -v error -threads 1 -i "$work/in.wav" -f null - -af)
pair "peak normalization" "volumedetect" -- "$work/in.wav" "$work/out.raw" pcm-to-float \
  --then peak 100 $w 1 -- "${ff[@]}" volumedetect
pair "loudness + limiter" "ebur128" -- "$work/in.wav" "$work/out.raw" pcm-to-float \
  --then loudness 126 1 --then limiter $w 1 -- "${ff[@]}" ebur128
pair "loudness + limiter" "sox stats" -- "$work/in.wav" "$work/out.raw" pcm-to-float \
  --then loudness 126 1 --then limiter $w 1 -- sox "$work/in.wav" -n stats
pair "compression (defaults)" "sox stats" -- "$work/in.wav" "$work/out.raw" pcm-to-float \
  --then compress 80 0 50 800 2000 50 1 $w 1 -- sox "$work/in.wav" -n stats

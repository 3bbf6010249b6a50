#!/usr/bin/env bash
# Side by side on the same five-minute files, one worker: lumaro-stage's resampler and output
# conversion against sox and ffmpeg doing the nearest equivalent, each writing the same output
# format into memory (/dev/shm). sox resamples at its default quality: its quick mode (rate -q)
# has no full anti-alias filter, which is not the same job. The 1-bit modulator has no peer here
# (neither tool writes DSD; ffmpeg only decodes it, a different job); bench_to_one_bit measures
# it alone.
#
#   bench/compare_rate.sh [BUILD_DIR]      (default build/release; builds nothing)
source "$(dirname "$0")/compare_common.sh"

echo "generating ${seconds} s test files in $work ..."
sox -q -n -r 44100 -b 16 -c 2 "$work/in44.wav" synth "$seconds" sine 1000 sine 440 gain -6
sox -q -n -r 96000 -b 24 -c 2 "$work/in96.wav" synth "$seconds" sine 1000 sine 440 gain -6
"$stage" "$work/in96.wav" "$work/in96f.wav" pcm-to-float >/dev/null 2>&1

w=--workers
pair "44.1k -> 48k, 24-bit out" "sox rate" -- "$work/in44.wav" "$work/out.wav" pcm-to-float \
  --then resample 48000 --then float-to-output 24 24 $w 1 -- \
  sox "$work/in44.wav" -b 24 "$work/out.wav" rate 48000
pair "44.1k -> 48k, 24-bit out" "ffmpeg" -- "$work/in44.wav" "$work/out.wav" pcm-to-float \
  --then resample 48000 --then float-to-output 24 24 $w 1 -- \
  ffmpeg -nostdin -v error -threads 1 -i "$work/in44.wav" -af aresample=48000 -c:a pcm_s24le \
  -y "$work/out.wav"
pair "44.1k -> 192k, 24-bit out" "sox rate" -- "$work/in44.wav" "$work/out.wav" pcm-to-float \
  --then resample 192000 --then float-to-output 24 24 $w 1 -- \
  sox "$work/in44.wav" -b 24 "$work/out.wav" rate 192000
pair "96k -> 44.1k, 24-bit out" "sox rate" -- "$work/in96.wav" "$work/out.wav" pcm-to-float \
  --then resample 44100 --then float-to-output 24 24 $w 1 -- \
  sox "$work/in96.wav" -b 24 "$work/out.wav" rate 44100
pair "96k -> 44.1k, 24-bit out" "ffmpeg" -- "$work/in96.wav" "$work/out.wav" pcm-to-float \
  --then resample 44100 --then float-to-output 24 24 $w 1 -- \
  ffmpeg -nostdin -v error -threads 1 -i "$work/in96.wav" -af aresample=44100 -c:a pcm_s24le \
  -y "$work/out.wav"
pair "f64 96k -> 24-bit" "sox" -- "$work/in96f.wav" "$work/out.wav" pcm-to-float \
  --then float-to-output 24 24 $w 1 -- sox "$work/in96f.wav" -b 24 "$work/out.wav"

#!/usr/bin/env bash
# Side by side on the same five-minute 44.1 kHz file, one worker: lumaro-stage's volume-assist
# stages against ffmpeg's loudness normalizer (loudnorm) and windowed normalizer (dynaudnorm),
# the nearest jobs, and against the level measurements of ffmpeg and sox, which only measure (for
# compression dynaudnorm alone: a level measurement is a lighter job than a windowed gain). The
# stages also convert the file to 64-bit float and apply their gain; every tool writes its result
# to nowhere (/dev/null, ffmpeg's null muxer).
#
#   bench/compare_assist.sh [BUILD_DIR]      (default build/release; builds nothing)
source "$(dirname "$0")/compare_common.sh"

echo "generating a ${seconds} s test file in $work ..."
sox -q -n -r 44100 -b 16 -c 2 "$work/in.wav" synth "$seconds" pinknoise gain -12

w=--workers
# ffmpeg takes a filter only before the output it applies to: ffmpeg … -af FILTER -f null -.
ff=(ffmpeg -nostdin -v error -threads 1 -i "$work/in.wav" -af)
null=(-f null -)
pair "peak normalization" "volumedetect" -- "$work/in.wav" /dev/null pcm-to-float \
  --then peak 100 $w 1 -- "${ff[@]}" volumedetect "${null[@]}"
pair "loudness + limiter" "ebur128" -- "$work/in.wav" /dev/null pcm-to-float \
  --then loudness 126 1 --then limiter $w 1 -- "${ff[@]}" ebur128 "${null[@]}"
pair "loudness + limiter" "loudnorm" -- "$work/in.wav" /dev/null pcm-to-float \
  --then loudness 126 1 --then limiter $w 1 -- "${ff[@]}" loudnorm "${null[@]}"
pair "loudness + limiter" "sox stats" -- "$work/in.wav" /dev/null pcm-to-float \
  --then loudness 126 1 --then limiter $w 1 -- sox "$work/in.wav" -n stats
pair "compression (defaults)" "dynaudnorm" -- "$work/in.wav" /dev/null pcm-to-float \
  --then compress 80 0 50 800 2000 50 1 $w 1 -- "${ff[@]}" dynaudnorm "${null[@]}"

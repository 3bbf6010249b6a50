#!/usr/bin/env bash
# Side by side on the same generated files, one worker each: lumaro-stage against ffmpeg, both
# turning a five-minute track (WAV, DSF, FLAC) into 64-bit float samples written to /dev/shm
# (memory, so that disk speed stays out of it).
#
#   bench/compare_decode.sh [BUILD_DIR]      (default build/release; builds nothing)
#
# Prints wall and CPU seconds per tool (best of three runs) and the ratio ffmpeg / lumaro-stage:
# above 1 means lumaro-stage is the faster.
source "$(dirname "$0")/compare_common.sh"

echo "generating ${seconds} s test files in $work ..."
sox -q -n -r 96000 -b 24 -c 2 "$work/pcm.wav" synth "$seconds" sine 1000 sine 440 gain -6
"$make_dsf" "$work/dsd64.dsf" "$seconds" 64
sox -q -n -r 44100 -b 16 -c 2 "$work/cd.flac" synth "$seconds" sine 1000 sine 440 gain -6
cat "$work/pcm.wav" "$work/dsd64.dsf" "$work/cd.flac" >/dev/null  # into the page cache

pair "WAV 96k/24 -> f64" "ffmpeg" -- "$work/pcm.wav" "$work/out.raw" pcm-to-float --workers 1 -- \
  ffmpeg -nostdin -v error -threads 1 -i "$work/pcm.wav" -f f64le -y "$work/out.f64"
pair "DSF DSD64 -> f64" "ffmpeg" -- "$work/dsd64.dsf" "$work/out.raw" dsd-to-float --workers 1 -- \
  ffmpeg -nostdin -v error -threads 1 -i "$work/dsd64.dsf" -f f64le -y "$work/out.f64"
# The platform decoder (libsndfile, in process) on a FLAC; the FFmpeg reader, which runs the
# same program as a child, is timed against it by build/release/bench/bench_child_readers.
pair "FLAC 44.1k/16 -> f64 (libsndfile)" "ffmpeg" -- "$work/cd.flac" "$work/out.raw" -- \
  ffmpeg -nostdin -v error -threads 1 -i "$work/cd.flac" -f f64le -y "$work/out.f64"

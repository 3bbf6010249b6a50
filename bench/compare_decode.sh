#!/usr/bin/env bash
# Side by side on the same generated files, one worker each: lumaro-stage against ffmpeg, both
# turning a five-minute track into 64-bit float samples written to /dev/shm (memory, so that disk
# speed stays out of it).
#
#   bench/compare_decode.sh [BUILD_DIR]      (default build/release; builds nothing)
#
# Prints wall and CPU seconds per tool (best of three runs) and the ratio ffmpeg / lumaro-stage:
# above 1 means lumaro-stage is the faster.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
stage=$build/bin/lumaro-stage
make_dsf=$build/bin/lumaro-make-dsf
[[ -x $stage && -x $make_dsf ]] || { echo "compare_decode: build $build first" >&2; exit 2; }
scripts/bootstrap --bench

work=$(mktemp -d /dev/shm/lumaro-compare.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=300

echo "generating ${seconds} s test files in $work ..."
sox -q -n -r 96000 -b 24 -c 2 "$work/pcm.wav" synth "$seconds" sine 1000 sine 440 gain -6
"$make_dsf" "$work/dsd64.dsf" "$seconds" 64
cat "$work/pcm.wav" "$work/dsd64.dsf" >/dev/null  # into the page cache

# Best wall and CPU (user + sys) seconds of three runs of a command.
best() {
  local wall=999999 cpu=999999 w c
  for _ in 1 2 3; do
    rm -f "$work"/out.*
    /usr/bin/time -o "$work/time" -f "%e %U %S" "$@" >/dev/null 2>&1
    read -r w c < <(awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time")
    wall=$(awk -v a="$wall" -v b="$w" 'BEGIN { print (b < a) ? b : a }')
    cpu=$(awk -v a="$cpu" -v b="$c" 'BEGIN { print (b < a) ? b : a }')
  done
  echo "$wall $cpu"
}

# Runs a command only to check that it succeeds (best() hides its output).
check() { "$@" >/dev/null 2>&1 || { echo "compare_decode: failed: $*" >&2; exit 1; }; }

compare() {
  local label=$1 input=$2 stage_name=$3
  check "$stage" "$input" "$work/out.raw" "$stage_name" --workers 1
  check ffmpeg -nostdin -v error -threads 1 -i "$input" -f f64le -y "$work/out.f64"
  read -r lw lc < <(best "$stage" "$input" "$work/out.raw" "$stage_name" --workers 1)
  read -r fw fc < <(best ffmpeg -nostdin -v error -threads 1 -i "$input" -f f64le -y "$work/out.f64")
  awk -v l="$label" -v lw="$lw" -v lc="$lc" -v fw="$fw" -v fc="$fc" -v s="$seconds" 'BEGIN {
    printf "%-26s lumaro-stage %6.2f s wall %6.2f s cpu (%5.0fx rt)   ffmpeg %6.2f s wall %6.2f s cpu (%5.0fx rt)   ratio wall %.2f cpu %.2f\n",
      l, lw, lc, s / (lc > 0 ? lc : 0.01), fw, fc, s / (fc > 0 ? fc : 0.01), fw / (lw > 0 ? lw : 0.01),
      fc / (lc > 0 ? lc : 0.01) }'
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (figures are disturbed when it is well above 1)"
compare "WAV 96k/24 -> f64" "$work/pcm.wav" pcm-to-float
compare "DSF DSD64 -> f64" "$work/dsd64.dsf" dsd-to-float

# Shared by the side-by-side scripts: sourced, not run. Sets $build, $stage, $make_dsf and a
# scratch directory $work in memory, installs the peer tools, and offers `best` (best wall and CPU
# seconds of three runs), `check` (a command must succeed) and `pair` (times a lumaro-stage
# command against a peer command and prints the ratio; above 1 means lumaro-stage is faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
stage=$build/bin/lumaro-stage
make_dsf=$build/bin/lumaro-make-dsf
[[ -x $stage && -x $make_dsf ]] || { echo "$(basename "$0"): build $build first" >&2; exit 2; }
scripts/bootstrap --bench

work=$(mktemp -d /dev/shm/lumaro-compare.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=300

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

check() { "$@" >/dev/null 2>&1 || { echo "$(basename "$0"): failed: $*" >&2; exit 1; }; }

# pair LABEL PEER_NAME -- LUMARO_ARGS... -- PEER_COMMAND...
pair() {
  local label=$1 peer=$2
  shift 3
  local ours=()
  while [[ $1 != -- ]]; do ours+=("$1"); shift; done
  shift
  check "$stage" "${ours[@]}"
  check "$@"
  read -r lw lc < <(best "$stage" "${ours[@]}")
  read -r pw pc < <(best "$@")
  awk -v l="$label" -v p="$peer" -v lw="$lw" -v lc="$lc" -v pw="$pw" -v pc="$pc" -v s="$seconds" 'BEGIN {
    printf "%-30s lumaro-stage %6.2f s wall %6.2f s cpu (%5.0fx rt)  %-14s %6.2f s wall %6.2f s cpu (%5.0fx rt)  ratio wall %.2f cpu %.2f\n",
      l, lw, lc, s / (lc > 0 ? lc : 0.01), p, pw, pc, s / (pc > 0 ? pc : 0.01), pw / (lw > 0 ? lw : 0.01),
      pc / (lc > 0 ? lc : 0.01) }'
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (figures are disturbed when it is well above 1)"

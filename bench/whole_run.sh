#!/usr/bin/env bash
# The whole largest run against its write floor.
#
# Times the built program on the largest job (type 3, degree 65535, 65535
# maps, the answers piped in, the file written into the same folder each
# time) against diskmaps_write_floor, which writes the same number of bytes
# in 128-byte requests and does nothing else. The two alternate, RUNS times
# each; the script prints each one's median wall time and the median of the
# per-pair ratios. It then prints the peak resident memory of the program
# for 1 map and for 65535 maps.
#
# The ratio is of wall times, so run it on a quiet machine: other work on
# the processors slows the program's computing more than the floor's system
# calls.
#
# Usage: bench/whole_run.sh [build directory] [runs]
#   build directory  holds diskmaps and bench/diskmaps_write_floor
#                    (default: build, beside this script's folder)
#   runs             pairs of runs (default 15)
# Build first: cmake --build <build> --target diskmaps diskmaps_write_floor
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-$source_dir/build}" && pwd)
runs=${2:-15}
program=$build_dir/diskmaps
floor=$build_dir/bench/diskmaps_write_floor
for executable in "$program" "$floor"; do
  if [[ ! -x $executable ]]; then
    echo "missing $executable: build the targets diskmaps and" \
      "diskmaps_write_floor first" >&2
    exit 1
  fi
done

work_dir=$build_dir/whole_run
mkdir -p "$work_dir"
cd "$work_dir"

readonly kAnswersLargest='3\n65535\n65535\n0.1\n0.9\nlargest\n'
readonly kAnswersOneMap='3\n65535\n1\n0.1\n0.9\nsingle\n'

run_program() {  # $1: the answers
  printf "$1" | "$program" >/dev/null
}

# Microseconds of wall time taken by the command in "$@".
time_us() {
  local start=$EPOCHREALTIME
  "$@"
  local end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}

# One run first, to learn the file's size and to warm the caches.
run_program "$kAnswersLargest"
bytes=$(stat -c %s largest.txt)
"$floor" floor.txt "$bytes"
echo "largest job: $bytes bytes, $(((bytes + 127) / 128)) write requests"

program_times=()
floor_times=()
ratios=()
for ((i = 0; i < runs; ++i)); do
  p=$(time_us run_program "$kAnswersLargest")
  f=$(time_us "$floor" floor.txt "$bytes")
  program_times+=("$p")
  floor_times+=("$f")
  ratios+=("$(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.4f", p / f }')")
done

median() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2];
                               else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "diskmaps    median $(median "${program_times[@]}") us over $runs runs"
echo "write floor median $(median "${floor_times[@]}") us over $runs runs"
echo "median ratio diskmaps / write floor: $(median "${ratios[@]}")"

# Peak resident memory, from GNU time. The figure of a single run moves by up
# to ~120 KiB whatever the job: with address-space randomisation, and with
# the shared-library pages that the kernel maps around each page fault when
# they happen to be cached. So randomisation is turned off (setarch -R, when
# available), each job runs 9 times, and the smallest figure, the program's
# own need, is compared; the medians are shown beside it.
if [[ ! -x /usr/bin/time ]]; then
  if [[ $(id -u) -eq 0 ]]; then
    apt-get install -y time >/dev/null
  else
    sudo apt-get install -y time >/dev/null
  fi
fi
fixed_layout=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  fixed_layout=(setarch "$(uname -m)" -R)
fi
peaks_kib() {  # $1: the answers; prints the smallest and the median
  local peaks=()
  for ((run = 0; run < 9; ++run)); do
    peaks+=("$(printf "$1" |
      /usr/bin/time -v "${fixed_layout[@]}" "$program" 2>&1 >/dev/null |
      awk -F': *' '/Maximum resident set size/ { print $2 }')")
  done
  echo "$(printf '%s\n' "${peaks[@]}" | sort -n | head -1) $(median "${peaks[@]}")"
}
read -r one one_median < <(peaks_kib "$kAnswersOneMap")
read -r largest largest_median < <(peaks_kib "$kAnswersLargest")
echo "peak resident memory: 1 map $one KiB (median $one_median)," \
  "65535 maps $largest KiB (median $largest_median);" \
  "difference $((largest - one)) KiB"

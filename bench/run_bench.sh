#!/usr/bin/env bash
# The speed benchmark: fanjian's conversion against copying the same bytes and against the
# converters a Linux user already has, on the same machine, in one go.
#
#   bench/run_bench.sh [--mb N] [--rounds N]
#
#   --mb N       size of each tree and each big file in MB (2^20 bytes), default 50
#                (FANJIAN_BENCH_MB); the file without line terminators is 4 times as large
#                unless FANJIAN_BENCH_LONG_MB says otherwise
#   --rounds N   measured rounds, default 7 (FANJIAN_BENCH_ROUNDS); one more round before them
#                warms the caches and is not counted
#   FANJIAN_BENCH_RUNS=DIR   where the input and every output are made (default bench/out/runs)
#
# It installs what it needs (Debian 12), builds a Release build in build-bench/ (FANJIAN_BENCH_BUILD),
# builds the corpus (kept for the next time) and the input under bench/out/, then runs every
# subject once per round, in turn, so that the machine's noise falls on all of them alike, and
# prints medians, ratios and the targets.
# Everything it writes stays in bench/out/ and the build folder.
set -euo pipefail
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out=$here/out
build=${FANJIAN_BENCH_BUILD:-$root/build-bench}
jobs=${FANJIAN_BENCH_JOBS:-2}
size_mb=${FANJIAN_BENCH_MB:-50}
rounds=${FANJIAN_BENCH_ROUNDS:-7}
long_mb=${FANJIAN_BENCH_LONG_MB:-}

fail() { echo "run_bench: $*" >&2; exit 1; }

while [ $# -gt 0 ]; do
  case $1 in
    --mb) [ $# -ge 2 ] || fail "--mb needs a number"; size_mb=$2; shift 2 ;;
    --rounds) [ $# -ge 2 ] || fail "--rounds needs a number"; rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) fail "unknown argument $1 (see --help)" ;;
  esac
done
long_mb=${long_mb:-$((4 * size_mb))}
for number in "$size_mb" "$rounds" "$long_mb"; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || fail "not a positive whole number: $number"
done

# --- What the benchmark needs ----------------------------------------------------------------

"$root/scripts/install-deps"
needed=(gettext fortunes-zh manpages-zh zh-autoconvert time strace)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "== Building (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DFANJIAN_BUILD_SHELL=ON >/dev/null
cmake --build "$build" -j"$jobs" --target fanjian-convert fanjian_headless mervik_pcx fanjian_bench_input fanjian_window_bench \
  >"$build/bench-build.log" 2>&1 || { tail -n 30 "$build/bench-build.log" >&2; fail "the build failed"; }

# The headless runs are the command-line tool's, as users run it; fanjian_headless only times
# what no tool shows: the converter alone, in memory, and the dictionary's Open.
convert=$build/bin/fanjian-convert
headless=$build/bench/fanjian_headless
window=$build/bench/fanjian_window_bench
generate=$build/bench/fanjian_bench_input
program_dir=$build/bin
[ -f "$program_dir/mervik.pcx" ] || fail "the build made no $program_dir/mervik.pcx"

# The window runs offscreen; Qt's runtime and cache folders stay under bench/out.
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$out/runtime XDG_CACHE_HOME=$out/cache
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"

# --- Corpus and input ------------------------------------------------------------------------

corpus=$out/corpus
if [ ! -s "$corpus/traditional.big5.txt" ] || [ ! -s "$corpus/simplified.gb2312.txt" ]; then
  echo "== Building the corpus in $corpus"
  "$here/make_corpus.sh" "$corpus" >/dev/null
fi

# Each benchmark works in a folder of its own, made afresh and deleted at the end; while it
# measures it deletes no tree of output but moves it aside into its trash. The reason is ext4
# without a journal (this machine's disk): for a few minutes after an inode is deleted, the inode
# allocator of its block group steps over it, one lookup each, so that after thousands of
# deletions creating a file costs several times what it costs otherwise, to cp and to fanjian
# alike. Folders under bench/out/runs are placed as ext4 places top-level folders (chattr +T),
# in a block group picked from the folder's name, away from what earlier runs deleted.
# FANJIAN_BENCH_RUNS puts them elsewhere, on tmpfs (/dev/shm) for instance, where no disk's state
# weighs on the files each subject makes.
runs_folder=${FANJIAN_BENCH_RUNS:-$out/runs}
mkdir -p "$runs_folder"
chattr +T "$runs_folder" 2>/dev/null || true
rm -rf "${runs_folder:?}"/* # what an interrupted benchmark left
run_folder=$runs_folder/$(date +%Y%m%d-%H%M%S)-$$
input=$run_folder/input
work=$run_folder/work
trash=$run_folder/trash
results=$out/results
mkdir -p "$input" "$trash" "$results"
trap 'rm -rf "$run_folder"' EXIT

discarded=0
clean_outputs() {
  local tree
  [ -d "$work" ] && find "$work" -maxdepth 1 -type f -delete
  for tree in "$input"/tree-*/GB "$input"/tree-*/BIG5 "$work"; do
    [ -d "$tree" ] || continue
    discarded=$((discarded + 1))
    mv "$tree" "$trash/$discarded"
    # Emptied, its files give their pages back: otherwise the rounds to come write into memory
    # the machine has not used yet, which a virtual machine hands out slowly.
    find "$trash/$discarded" -type f -exec truncate -s 0 {} +
  done
  rm -rf "$input"/{file,line,long}-*/GB "$input"/{file,line,long}-*/BIG5
  mkdir -p "$work"
}

echo "== Building the input in $input ($size_mb MB each way, $long_mb MB without line terminators)"
mb=$((1024 * 1024))
line_bytes=$((100 * 1000 + 3)) # not a divisor of any read size: piece boundaries wander along the line
mkdir -p "$input"/{file-big5,file-gb2312,line-big5,long-big5}
"$generate" tree "$corpus/traditional.big5.txt" "$input/tree-big5" $((size_mb * mb)) big5
"$generate" tree "$corpus/simplified.gb2312.txt" "$input/tree-gb2312" $((size_mb * mb)) gb2312
"$generate" text "$corpus/traditional.big5.txt" "$input/file-big5/big5.txt" $((size_mb * mb))
"$generate" text "$corpus/simplified.gb2312.txt" "$input/file-gb2312/gb2312.txt" $((size_mb * mb))
"$generate" line "$corpus/traditional.big5.txt" "$input/line-big5/line.htm" "$line_bytes" big5
line_size=$(stat -c %s "$input/line-big5/line.htm")
"$generate" repeat "$input/line-big5/line.htm" $(((long_mb * mb + line_size - 1) / line_size)) >"$input/long-big5/long.htm"
[ "$(tr -cd '\r\n' <"$input/long-big5/long.htm" | wc -c)" -eq 0 ] || fail "the long line holds a line terminator"
# The UTF-8 twins: the same trees and files, each file in UTF-8 and its pages saying so.
utf8_twin() { # utf8_twin FROM TO CODEPAGE: every file of FROM, re-encoded, at the same place in TO
  local from=$1 to=$2 codepage=$3 file
  (cd "$from" && find . -type d) | while read -r folder; do mkdir -p "$to/$folder"; done
  (cd "$from" && find . -type f) | while read -r file; do
    iconv -f "$codepage" -t UTF-8 <"$from/$file" | sed 's/charset=\(big5\|gb2312\)/charset=utf-8/g' >"$to/$file" ||
      fail "cannot make the UTF-8 twin of $from/$file"
  done
}
utf8_twin "$input/tree-big5" "$input/tree-big5-utf8" CP950
utf8_twin "$input/tree-gb2312" "$input/tree-gb2312-utf8" GBK
utf8_twin "$input/file-big5" "$input/file-big5-utf8" CP950
utf8_twin "$input/file-gb2312" "$input/file-gb2312-utf8" GBK
sync
line_size=$(stat -c %s "$input/line-big5/line.htm")
long_copies=$(($(stat -c %s "$input/long-big5/long.htm") / line_size))

# --- Measuring -------------------------------------------------------------------------------

runs=$results/runs.tsv
log=$results/last.log
rss=$results/last.rss

# The loop of a peer that converts one file per process, over a tree, into a folder that has the
# tree's subfolders already.
peer_loop='cd "$1" && for f in * */*; do [ -f "$f" ] || continue; "$3" "${@:4}" <"$f" >"$2/$f" || exit 1; done'
tree_skeleton() {
  local tree=$1 target=$2 folder
  mkdir -p "$target"
  for folder in "$tree"/*/; do mkdir -p "$target/$(basename "$folder")"; done
}

# measure ROUND NAME STDIN STDOUT COMMAND...: one timed run, with its peak RSS; our own programs
# also report the run's time inside the process (and the window its longest gap).
measure() {
  local round=$1 name=$2 stdin=$3 stdout=$4
  shift 4
  local start end
  sync
  start=${EPOCHREALTIME/./}
  if ! /usr/bin/time -f %M -o "$rss" "$@" <"$stdin" >"$stdout" 2>"$log"; then
    cat "$log" >&2
    fail "$name failed: $*"
  fi
  end=${EPOCHREALTIME/./}
  local inner=- gap=-
  if [ "$stdout" = "$log.out" ]; then
    inner=$(awk '$1 == "run" || $1 == "convert" { print $2 }' "$log.out")
    gap=$(awk '$1 == "longest_gap" { print $2 }' "$log.out")
    [ -n "$inner" ] || fail "$name printed no run time"
    gap=${gap:--}
  fi
  printf '%s\t%s\t%d.%03d\t%s\t%s\t%s\n' "$round" "$name" $(((end - start) / 1000)) $(((end - start) % 1000)) \
    "$(tail -n 1 "$rss")" "$inner" "$gap" >>"$runs"
}

round_of_runs() {
  local r=$1 tree direction peer peer_args file from flag
  for direction in t2s s2t; do
    if [ $direction = t2s ]; then
      tree=$input/tree-big5 file=$input/file-big5/big5.txt peer=autogb peer_args=(-i big5 -o gb) flag=s
    else
      tree=$input/tree-gb2312 file=$input/file-gb2312/gb2312.txt peer=autob5 peer_args=(-i gb -o big5) flag=t
    fi
    clean_outputs; measure "$r" "tree-$direction-headless" /dev/null /dev/null "$convert" -$flag "$tree"
    clean_outputs; measure "$r" "tree-$direction-utf8-headless" /dev/null /dev/null "$convert" -$flag "$tree-utf8"
    clean_outputs; measure "$r" "tree-$direction-cp" /dev/null /dev/null cp -r "$tree" "$work/copy"
    clean_outputs; measure "$r" "tree-$direction-window" /dev/null "$log.out" "$window" $direction "$tree" "$program_dir"
    clean_outputs; tree_skeleton "$tree" "$work/peer"
    measure "$r" "tree-$direction-$peer" /dev/null /dev/null bash -c "$peer_loop" peer "$tree" "$work/peer" "$peer" "${peer_args[@]}"

    from=$(dirname "$file")
    clean_outputs; measure "$r" "file-$direction-headless" /dev/null /dev/null "$convert" -$flag "$from"
    clean_outputs; measure "$r" "file-$direction-utf8-headless" /dev/null /dev/null "$convert" -$flag "$from-utf8"
    clean_outputs; measure "$r" "file-$direction-filter" "$file" "$work/converted" "$convert" -$flag
    measure "$r" "file-$direction-converter" /dev/null "$log.out" "$headless" convert $direction "$file" "$program_dir" 3 silent
    measure "$r" "file-$direction-converter-by-character" /dev/null "$log.out" "$headless" convert $direction-by-character "$file" "$program_dir" 3 silent
    measure "$r" "file-$direction-converter-one-thread" /dev/null "$log.out" "$headless" convert $direction-one-thread "$file" "$program_dir" 3 silent
    measure "$r" "file-$direction-converter-utf8" /dev/null "$log.out" "$headless" convert $direction-utf8 "$from-utf8/$(basename "$file")" "$program_dir" 3 silent
    measure "$r" "file-$direction-converter-every" /dev/null "$log.out" "$headless" convert $direction "$file" "$program_dir" 3
    clean_outputs; measure "$r" "file-$direction-cp" /dev/null /dev/null cp "$file" "$work/copy"
    clean_outputs; measure "$r" "file-$direction-$peer" "$file" "$work/converted" "$peer" "${peer_args[@]}"
  done
  # Only a change of code page, no change of script: how fast glibc moves the same bytes. (GB2312
  # text has Simplified characters that CP950 lacks, so only this direction runs whole.)
  clean_outputs; measure "$r" file-t2s-iconv "$input/file-big5/big5.txt" "$work/converted" iconv -f CP950 -t GBK
  clean_outputs; measure "$r" "long-t2s-headless" /dev/null /dev/null "$convert" -s "$input/long-big5"
  clean_outputs; measure "$r" "long-t2s-cp" /dev/null /dev/null cp "$input/long-big5/long.htm" "$work/copy"
  clean_outputs
}

machine_cpu=$(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: *//')
machine_ram=$(awk '/^MemTotal/ { printf "%.1f GB", $2 / 1024 / 1024 }' /proc/meminfo)
machine="$(nproc) cores, ${machine_cpu:-unknown CPU}, $machine_ram RAM"

echo "== Measuring: $((rounds + 1)) rounds (the first not counted) on $machine"
: >"$runs"
: >"$log"
for ((r = 0; r <= rounds; r++)); do
  round_of_runs "$r"
  printf '   round %d of %d done\n' "$r" "$rounds"
done

# --- Checks ----------------------------------------------------------------------------------

echo "== Checking outputs"
# The line without terminator: the file is long_copies copies of one line L that ends in "</p>",
# so copies side by side convert as each does alone. Its output must be long_copies copies of
# L's conversion, from a run over L alone (one read, one piece), and one CR LF.
clean_outputs
"$convert" -s "$input/line-big5" >/dev/null || fail "the run over the single line failed"
"$convert" -s "$input/long-big5" >/dev/null || fail "the run over the long line failed"
single=$input/line-big5/GB/line.htm
[ "$(tail -c 2 "$single" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "the single line's output does not end in CR LF"
head -c -2 "$single" >"$work/line-converted"
if { "$generate" repeat "$work/line-converted" "$long_copies"; printf '\r\n'; } | cmp -s - "$input/long-big5/GB/long.htm"; then
  long_check=PASS
else
  long_check=MISS
fi

# The window writes what the headless run writes.
window_check=PASS
for direction in t2s s2t; do
  if [ $direction = t2s ]; then tree=$input/tree-big5 folder=GB flag=s; else tree=$input/tree-gb2312 folder=BIG5 flag=t; fi
  clean_outputs
  "$convert" -$flag "$tree" >/dev/null || fail "the headless run over $tree failed"
  mv "$tree/$folder" "$work/headless"
  "$window" $direction "$tree" "$program_dir" >/dev/null || fail "the window's run over $tree failed"
  diff -rq "$work/headless" "$tree/$folder" >/dev/null || window_check=MISS
done
clean_outputs

open_ms=$("$headless" open "$program_dir" 51)

# System calls per file of a headless run over each tree, and of cp -r over the same tree.
syscalls_per_file() { # syscalls_per_file FILES COMMAND...
  local files=$1
  shift
  strace -f -c -o "$work/strace" "$@" >/dev/null 2>&1 || fail "strace $* failed"
  awk -v files="$files" '$NF == "total" { printf "%.1f", $4 / files }' "$work/strace"
}
for direction in t2s s2t; do
  if [ $direction = t2s ]; then tree=$input/tree-big5 flag=s; else tree=$input/tree-gb2312 flag=t; fi
  clean_outputs
  files=$(find "$tree" -type f | wc -l)
  printf -v "syscalls_$direction" '%s' "$(syscalls_per_file "$files" "$convert" -$flag "$tree")"
  clean_outputs
  printf -v "syscalls_cp_$direction" '%s' "$(syscalls_per_file "$files" cp -r "$tree" "$work/copy")"
done
clean_outputs

# --- Report ----------------------------------------------------------------------------------

bytes_of() { find "$@" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }
tree_t2s_bytes=$(bytes_of "$input/tree-big5")
tree_s2t_bytes=$(bytes_of "$input/tree-gb2312")
file_t2s_bytes=$(bytes_of "$input/file-big5")
file_s2t_bytes=$(bytes_of "$input/file-gb2312")
long_bytes=$(bytes_of "$input/long-big5")
tree_files=$(find "$input/tree-big5" -type f | wc -l)
tree_t2s_utf8_bytes=$(bytes_of "$input/tree-big5-utf8")
tree_s2t_utf8_bytes=$(bytes_of "$input/tree-gb2312-utf8")
file_t2s_utf8_bytes=$(bytes_of "$input/file-big5-utf8")
file_s2t_utf8_bytes=$(bytes_of "$input/file-gb2312-utf8")

# column NAME COLUMN: the values of one subject over the counted rounds
column() { awk -F'\t' -v name="$1" -v c="$2" '$1 > 0 && $2 == name && $c != "-" { print $c }' "$runs"; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n 1; }
wall_ms() { column "$1" 3 | median; }
rss_mb() { column "$1" 4 | largest | awk '{ printf "%.1f", $1 / 1024 }'; }
inner_ms() { column "$1" 5 | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
speed() { awk -v bytes="$1" -v ms="$2" 'BEGIN { printf "%.0f", bytes / 1048576 / (ms / 1000) }'; }
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v <= limit ? "PASS" : "MISS") }'; }

summary=$results/summary.txt
{
  echo
  echo "fanjian speed benchmark, $(date -u +%Y-%m-%d), $machine"
  echo "median of $rounds alternating rounds; trees of $tree_files files each; MB = 2^20 bytes"
  echo
  printf '%-34s %9s %8s %9s\n' subject "time ms" "MB/s" "RSS MB"
  row() { # row LABEL NAME BYTES
    local t
    t=$(wall_ms "$2")
    printf '%-34s %9.0f %8s %9s\n' "$1" "$t" "$(speed "$3" "$t")" "$(rss_mb "$2")"
  }
  for direction in t2s s2t; do
    if [ $direction = t2s ]; then
      peer=autogb tb=$tree_t2s_bytes fb=$file_t2s_bytes from="Big5 -> GB2312"
      tu=$tree_t2s_utf8_bytes fu=$file_t2s_utf8_bytes
    else
      peer=autob5 tb=$tree_s2t_bytes fb=$file_s2t_bytes from="GB2312 -> Big5"
      tu=$tree_s2t_utf8_bytes fu=$file_s2t_utf8_bytes
    fi
    echo "-- $from, tree of $((tb / mb)) MB"
    row "  headless run (fanjian-convert)" "tree-$direction-headless" "$tb"
    row "  the same, its UTF-8 twin ($((tu / mb)) MB)" "tree-$direction-utf8-headless" "$tu"
    row "  window run (offscreen)" "tree-$direction-window" "$tb"
    row "  cp -r" "tree-$direction-cp" "$tb"
    row "  $peer, once per file" "tree-$direction-$peer" "$tb"
    echo "-- $from, one file of $((fb / mb)) MB"
    row "  headless run (fanjian-convert)" "file-$direction-headless" "$fb"
    row "  the same, its UTF-8 twin ($((fu / mb)) MB)" "file-$direction-utf8-headless" "$fu"
    row "  fanjian-convert as a filter" "file-$direction-filter" "$fb"
    t=$(inner_ms "file-$direction-converter")
    printf '%-34s %9.0f %8s %9s\n' "  the converter alone, in memory" "$t" "$(speed "$fb" "$t")" ""
    t=$(inner_ms "file-$direction-converter-by-character")
    printf '%-34s %9.0f %8s %9s\n' "  the same, by character" "$t" "$(speed "$fb" "$t")" ""
    t=$(inner_ms "file-$direction-converter-one-thread")
    printf '%-34s %9.0f %8s %9s\n' "  the same, on one thread" "$t" "$(speed "$fb" "$t")" ""
    t=$(inner_ms "file-$direction-converter-utf8")
    printf '%-34s %9.0f %8s %9s\n' "  the same, its UTF-8 twin" "$t" "$(speed "$fu" "$t")" ""
    t=$(inner_ms "file-$direction-converter-every")
    printf '%-34s %9.0f %8s %9s\n' "  the same, a view taking every call" "$t" "$(speed "$fb" "$t")" ""
    row "  cp" "file-$direction-cp" "$fb"
    row "  $peer" "file-$direction-$peer" "$fb"
    [ $direction = t2s ] && row "  iconv -f CP950 -t GBK" file-t2s-iconv "$fb"
  done
  echo "-- Big5 -> GB2312, one line of $((long_bytes / mb)) MB without terminator"
  row "  headless run" long-t2s-headless "$long_bytes"
  row "  cp" long-t2s-cp "$long_bytes"
} | tee "$summary"

r() { ratio "$(wall_ms "$1")" "$(wall_ms "$2")"; }
targets() {
  local t2s_tree s2t_tree t2s_file s2t_file t2s_window s2t_window gap long_rss t2s_converter s2t_converter
  t2s_tree=$(ratio "$(wall_ms tree-t2s-headless)" "$(wall_ms tree-t2s-cp)")
  s2t_tree=$(ratio "$(wall_ms tree-s2t-headless)" "$(wall_ms tree-s2t-cp)")
  t2s_file=$(ratio "$(wall_ms file-t2s-headless)" "$(wall_ms file-t2s-autogb)")
  s2t_file=$(ratio "$(wall_ms file-s2t-headless)" "$(wall_ms file-s2t-autob5)")
  # The window's run inside its process (without the toolkit's start), against the whole process of
  # the headless run, which holds its start and the dictionary's opening, a few ms.
  t2s_window=$(ratio "$(inner_ms tree-t2s-window)" "$(wall_ms tree-t2s-headless)")
  s2t_window=$(ratio "$(inner_ms tree-s2t-window)" "$(wall_ms tree-s2t-headless)")
  gap=$({ column tree-t2s-window 6; column tree-s2t-window 6; } | largest)
  long_rss=$(rss_mb long-t2s-headless)
  t2s_converter=$(speed "$file_t2s_bytes" "$(inner_ms file-t2s-converter)")
  s2t_converter=$(speed "$file_s2t_bytes" "$(inner_ms file-s2t-converter)")
  t2s_utf8_converter=$(speed "$file_t2s_utf8_bytes" "$(inner_ms file-t2s-converter-utf8)")
  s2t_utf8_converter=$(speed "$file_s2t_utf8_bytes" "$(inner_ms file-s2t-converter-utf8)")

  echo
  printf '%-52s %8s %8s  %s\n' "target" "measured" "limit" ""
  line() { printf '%-52s %8s %8s  %s\n' "$1" "$2" "$3" "$(verdict "$2" "$3")"; }
  line "tree, headless / cp -r, Big5 -> GB2312" "$t2s_tree" 2
  line "tree, headless / cp -r, GB2312 -> Big5" "$s2t_tree" 2
  line "$size_mb MB file, headless / autogb" "$t2s_file" 0.6
  line "$size_mb MB file, headless / autob5" "$s2t_file" 0.6
  at_least() { printf '%-52s %8s %8s  %s\n' "$1" "$2" ">= $3" "$(awk -v v="$2" -v l="$3" 'BEGIN { print (v >= l ? "PASS" : "MISS") }')"; }
  at_least "converter alone, Big5 -> GB2312 (MB/s)" "$t2s_converter" 1024
  at_least "converter alone, GB2312 -> Big5 (MB/s)" "$s2t_converter" 1024
  at_least "converter alone, UTF-8, Big5 -> GB2312 (MB/s)" "$t2s_utf8_converter" 1024
  at_least "converter alone, UTF-8, GB2312 -> Big5 (MB/s)" "$s2t_utf8_converter" 1024
  line "tree, UTF-8 twin / Big5 twin, headless" "$(r tree-t2s-utf8-headless tree-t2s-headless)" 1.5
  line "tree, UTF-8 twin / GB2312 twin, headless" "$(r tree-s2t-utf8-headless tree-s2t-headless)" 1.5
  line "$size_mb MB file, UTF-8 twin / Big5 twin, headless" "$(r file-t2s-utf8-headless file-t2s-headless)" 1.5
  line "$size_mb MB file, UTF-8 twin / GB2312 twin, headless" "$(r file-s2t-utf8-headless file-s2t-headless)" 1.5
  line "tree, window / headless run, Big5 -> GB2312" "$t2s_window" 1.3
  line "tree, window / headless run, GB2312 -> Big5" "$s2t_window" 1.3
  printf '%-52s %8s %8s  %s\n' "window, longest gap between event passes (ms)" "$gap" "< 50" \
    "$(awk -v g="$gap" 'BEGIN { print (g < 50 ? "PASS" : "MISS") }')"
  line "$((long_bytes / mb)) MB line without terminator, peak RSS (MB)" "$long_rss" 32
  printf '%-52s %8s %8s  %s\n' "$((long_bytes / mb)) MB line, output = $long_copies x converted line" "" "" "$long_check"
  printf '%-52s %8s %8s  %s\n' "window output = headless output (both trees)" "" "" "$window_check"
  line "dictionary Open, median of 51 (ms)" "$open_ms" 20
  echo
  echo "other ratios, Big5 -> GB2312 and GB2312 -> Big5:"
  echo "  tree, headless / the peer once per file     $(r tree-t2s-headless tree-t2s-autogb)  $(r tree-s2t-headless tree-s2t-autob5)"
  echo "  file, headless / cp                         $(r file-t2s-headless file-t2s-cp)  $(r file-s2t-headless file-s2t-cp)"
  echo "  converter alone, phrases / by character     $(ratio "$(inner_ms file-t2s-converter)" "$(inner_ms file-t2s-converter-by-character)")  $(ratio "$(inner_ms file-s2t-converter)" "$(inner_ms file-s2t-converter-by-character)")"
  echo "  file, headless / iconv -f CP950 -t GBK      $(r file-t2s-headless file-t2s-iconv)"
  echo "  tree, window process / headless process    $(r tree-t2s-window tree-t2s-headless)  $(r tree-s2t-window tree-s2t-headless)"
  echo "system calls per file, headless run over the tree: $syscalls_t2s and $syscalls_s2t" \
    "(cp -r: $syscalls_cp_t2s and $syscalls_cp_s2t)"
  echo "the window's run inside its process (ms): $(inner_ms tree-t2s-window) and $(inner_ms tree-s2t-window)"
  echo "every run: $runs (round, subject, wall ms, peak RSS kB, run ms inside the process, longest gap ms)"
}
targets | tee -a "$summary"

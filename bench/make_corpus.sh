#!/bin/bash
# Builds the Chinese running-text corpus of the benchmarks from text that Debian packages ship:
#   traditional.txt  Traditional, UTF-8: zh_TW message catalogues and zh_TW manual pages
#   simplified.txt   Simplified, UTF-8: zh_CN message catalogues, zh_CN manual pages, fortunes-zh
#   traditional.big5.txt, simplified.gb2312.txt  the same, encoded with iconv (characters the
#                    code page lacks are dropped)
#   traditional.t2s.txt, simplified.s2tw.txt     OpenCC's conversions, line for line (when the
#                    opencc tool is installed; the quality report needs them)
# Only lines holding a Han character are kept; files are taken in name order, so the same
# packages give the same corpus.
#
# Needs: apt-get install gettext fortunes-zh manpages-zh opencc libopencc-data
# Usage: bench/make_corpus.sh [output folder, default bench/out/corpus]
set -euo pipefail
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/out/corpus}
mkdir -p "$out"

for tool in msgunfmt iconv; do
  command -v "$tool" >/dev/null || { echo "make_corpus: $tool is missing (apt-get install gettext)" >&2; exit 1; }
done
[ -d /usr/share/games/fortunes ] && [ -f /usr/share/games/fortunes/tang300 ] ||
  { echo "make_corpus: fortunes-zh is missing (apt-get install fortunes-zh)" >&2; exit 1; }
[ -d /usr/share/man/zh_CN ] && [ -d /usr/share/man/zh_TW ] ||
  { echo "make_corpus: manpages-zh is missing (apt-get install manpages-zh)" >&2; exit 1; }

# The translated strings of a message catalogue, one line each.
catalogue_text() {
  msgunfmt --no-wrap "$1" 2>/dev/null | awk '
    /^msgstr/ { inside = 1; sub(/^msgstr(\[[0-9]+\])? /, ""); print_string($0); next }
    /^"/      { if (inside) print_string($0); next }
              { inside = 0 }
    function print_string(s) {
      s = substr(s, 2, length(s) - 2)
      gsub(/\\n/, "\n", s); gsub(/\\t/, " ", s); gsub(/\\"/, "\"", s); gsub(/\\\\/, "\\", s)
      print s
    }'
}

# The running text of a manual page: requests dropped, font and escape sequences removed.
manual_text() {
  zcat -f "$1" | grep -v "^[.']" | sed -e 's/\\f[BIRP]//g; s/\\f(..//g; s/\\[,/&:]//g; s/\\-/-/g; s/\\(em/—/g; s/\\e/\\/g'
}

# Fortunes: colour escapes and the % separators dropped.
fortune_text() {
  sed -e 's/\x1b\[[0-9;]*m//g' -e '/^%$/d' "$1"
}

collect() {
  local language=$1
  local file
  for file in $(ls /usr/share/locale/"$language"/LC_MESSAGES/*.mo | sort); do
    catalogue_text "$file"
  done
  for file in $(find /usr/share/man/"$language" -type f -name '*.gz' | sort); do
    manual_text "$file"
  done
}

{
  collect zh_TW
} | grep -P '\p{Han}' > "$out/traditional.txt"
{
  collect zh_CN
  for file in chinese song100 tang300; do
    fortune_text /usr/share/games/fortunes/$file
  done
} | grep -P '\p{Han}' > "$out/simplified.txt"

# iconv -c reports dropped characters with a non-zero status; an empty result is the failure.
iconv -c -f UTF-8 -t BIG5 < "$out/traditional.txt" > "$out/traditional.big5.txt" || true
iconv -c -f UTF-8 -t GB2312 < "$out/simplified.txt" > "$out/simplified.gb2312.txt" || true
for file in traditional.big5.txt simplified.gb2312.txt; do
  [ -s "$out/$file" ] || { echo "make_corpus: iconv produced no $file" >&2; exit 1; }
done

if command -v opencc >/dev/null; then
  opencc -c t2s.json -i "$out/traditional.txt" -o "$out/traditional.t2s.txt"
  opencc -c s2tw.json -i "$out/simplified.txt" -o "$out/simplified.s2tw.txt"
fi

wc -lc "$out"/*.txt

#!/bin/bash
# Builds the text sets of the round-trip quality report: Traditional Chinese written by people in
# Taiwan, taken from named Debian packages, each set from one translation team that writes its own
# zh_TW text (not converted from zh_CN: checked by holding each catalogue against OpenCC's s2twp of
# the zh_CN catalogue beside it; 8-32 % of the messages agree, as any two translations of the same
# string sometimes do, where a converted catalogue such as Debian Reference's zh-tw agrees on 71 %):
#
#   libreoffice-help  LibreOffice's help pages in zh-TW (libreoffice-help-zh-tw), running prose
#   gnome             the zh_TW catalogues of GNOME applications and GIMP (the GNOME zh_TW team)
#   kde               the zh_TW catalogues of KDE applications and frameworks (the KDE zh_TW team)
#
# For each set NAME, under the output folder:
#   NAME.txt            the Traditional text, UTF-8, one paragraph or message a line; only lines
#                       holding a Han character, each distinct line once, in package and file order
#   NAME.t2s.txt        OpenCC t2s of it, line for line: the Simplified text the report converts back
#   NAME.t2s.s2tw.txt   OpenCC s2tw of that, line for line: OpenCC's own way back, for comparison
#   packages.txt        the packages and versions the sets were built from
# The packages are fetched with apt-get download (run apt-get update first) into OUT/debs and only
# their zh_TW / zh-TW files are unpacked; the same package versions give the same text.
#
# Needs: apt-get install opencc libopencc-data python3
# Usage: bench/make_taiwan_text.sh [output folder, default bench/out/taiwan]
set -euo pipefail
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/out/taiwan}
mkdir -p "$out/debs" "$out/files"

for tool in apt-get dpkg-deb python3 opencc; do
  command -v "$tool" >/dev/null ||
    { echo "make_taiwan_text: $tool is missing (apt-get install opencc libopencc-data python3)" >&2; exit 1; }
done

declare -A sets
sets[libreoffice-help]="libreoffice-help-zh-tw"
sets[gnome]="evolution-common gimp-data gnumeric-common gnome-control-center-data
  evolution-data-server-common gnome-software-common nautilus-data epiphany-browser-data gedit-common
  rhythmbox-data gnome-shell-common gnome-terminal-data file-roller totem-common orca evince-common
  gnome-disk-utility brasero-common gthumb-data gnome-calendar gnome-maps baobab
  gnome-system-monitor seahorse simple-scan cheese-common gnome-builder"
sets[kde]="digikam-data kstars-data kio plasma-workspace-data ktorrent-data kate5-data okular konsole
  dolphin kdenlive-data marble-data plasma-desktop-data kdepim-addons kmail korganizer akregator
  kdeconnect ark gwenview kcalc filelight kmix systemsettings ktexteditor-data"

: > "$out/packages.txt"
for set in libreoffice-help gnome kde; do
  for package in ${sets[$set]}; do
    deb=$(ls "$out/debs/${package}"_*.deb 2>/dev/null | head -n 1 || true)
    if [ -z "$deb" ]; then
      (cd "$out/debs" && apt-get download -q "$package" >/dev/null 2>&1) ||
        { echo "make_taiwan_text: apt-get download $package failed (run apt-get update?)" >&2; exit 1; }
      deb=$(ls "$out/debs/${package}"_*.deb | head -n 1)
    fi
    echo "$set $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)" >> "$out/packages.txt"
    rm -rf "$out/files/$package"
    mkdir -p "$out/files/$package"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$out/files/$package" --wildcards '*zh_TW*' '*zh-TW*' 2>/dev/null || true
  done
done

# The text of each set: message catalogues' translations (gettext reads the .mo files) and help
# pages' paragraphs (block elements end a line, tags and scripts dropped, entities decoded).
python3 - "$out" "libreoffice-help:${sets[libreoffice-help]}" "gnome:${sets[gnome]}" "kde:${sets[kde]}" <<'EOF'
import gettext, html, os, re, sys
out = sys.argv[1]
han = re.compile(r'[\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff\U00020000-\U0003ffff]')

def catalogue_lines(path):
    with open(path, 'rb') as f:
        catalogue = gettext.GNUTranslations(f)._catalog
    for msgid, msgstr in catalogue.items():
        if msgid:  # the header is no text
            yield from msgstr.split('\n')

def page_lines(path):
    text = open(path, encoding='utf-8').read()
    text = re.sub(r'(?is)<(script|style)\b.*?</\1>', ' ', text)
    text = re.sub(r'(?i)</?(p|h\d|li|td|th|div|br|pre|dt|dd|title|tr)\b[^>]*>', '\n', text)
    text = html.unescape(re.sub(r'<[^>]*>', '', text))
    yield from text.split('\n')

for argument in sys.argv[2:]:
    name, packages = argument.split(':')
    seen, lines = set(), []
    for package in packages.split():
        root = os.path.join(out, 'files', package)
        paths = sorted(os.path.join(d, f) for d, _, files in os.walk(root) for f in files)
        for path in paths:
            if path.endswith('.mo') and '/zh_TW/' in path:
                source = catalogue_lines(path)
            elif path.endswith('.html') and '/zh-TW/' in path:
                source = page_lines(path)
            else:
                continue
            for line in source:
                line = re.sub(r'\s+', ' ', line).strip()
                if han.search(line) and line not in seen:
                    seen.add(line)
                    lines.append(line)
    with open(os.path.join(out, name + '.txt'), 'w', encoding='utf-8') as f:
        f.write(''.join(line + '\n' for line in lines))
    print(f'{name}: {len(lines)} lines, {sum(len(han.findall(l)) for l in lines)} Han characters')
EOF

for set in libreoffice-help gnome kde; do
  opencc -c t2s.json -i "$out/$set.txt" -o "$out/$set.t2s.txt"
  opencc -c s2tw.json -i "$out/$set.t2s.txt" -o "$out/$set.t2s.s2tw.txt"
done
rm -rf "$out/files"
wc -l "$out"/*.txt

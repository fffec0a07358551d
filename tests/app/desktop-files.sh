#!/usr/bin/env bash
# The files that make the program part of the desktop: the desktop entry and
# the metainfo validate cleanly, and the MIME package makes print files known
# by name and by their first bytes.
#   desktop-files.sh <source app folder>
set -euo pipefail
app=$1
for tool in desktop-file-validate appstreamcli update-mime-database gio; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

out=$(desktop-file-validate "$app/varnel.desktop" 2>&1) || { echo "$out"; exit 1; }
# Hints count as faults too: the entry is meant to pass without any remark.
[ -z "$out" ] || { echo "desktop-file-validate: $out"; exit 1; }
grep -q '^Exec=varnel %F$' "$app/varnel.desktop"
appstreamcli validate --no-net "$app/com.krellix.Varnel.metainfo.xml"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mime/packages"
cp "$app/varnel-mime.xml" "$work/mime/packages/"
update-mime-database "$work/mime" >/dev/null 2>&1
esc=$'\033'
printf '%sE%s&l0Ohello\f' "$esc" "$esc" > "$work/reset.dat"
printf '%s%%-12345X@PJL\r\n@PJL ENTER LANGUAGE=PCLXL\r\n) HP-PCL XL;2;0\n' "$esc" > "$work/pjl-xl.dat"
printf '%s%%-12345X@PJL\r\n@PJL ENTER LANGUAGE=PCL\r\n%sE' "$esc" "$esc" > "$work/pjl-pcl.dat"
printf ') HP-PCL XL;3;0\n\xc0\x00' > "$work/stream.dat"
printf '\x01\x02\x03binary' > "$work/named.pxl"
cp "$work/named.pxl" "$work/named.PX3"
cp "$work/named.pxl" "$work/named.pcl"
expect() {
  local got
  got=$(XDG_DATA_HOME="$work" XDG_DATA_DIRS=/usr/share gio info -a standard::content-type "$work/$1" \
        | sed -n 's/.*standard::content-type: //p')
  [ "$got" = "$2" ] || { echo "$1: $got, expected $2"; exit 1; }
}
expect reset.dat application/vnd.hp-pcl
expect pjl-pcl.dat application/vnd.hp-pcl
expect pjl-xl.dat application/vnd.hp-pclxl
expect stream.dat application/vnd.hp-pclxl
expect named.pxl application/vnd.hp-pclxl
expect named.pcl application/vnd.hp-pcl
expect named.PX3 application/vnd.hp-pclxl
echo "desktop files: all good"

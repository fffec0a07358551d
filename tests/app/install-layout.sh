#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks where things land: the
# programs on the PATH, the renderer's debugging program beside the library
# (and able to load it), the help page under share/doc where the window looks.
#   install-layout.sh <build folder>
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "$*"; exit 1; }
[ -x "$prefix/bin/varnel" ] || fail "no bin/varnel"
[ ! -e "$prefix/bin/tarvik" ] || fail "the debugging program is on the PATH"
[ ! -e "$prefix/bin/help.html" ] || fail "the help page is in bin/"
[ -f "$prefix/share/doc/varnel/help.html" ] || fail "no share/doc/varnel/help.html"
[ -f "$prefix/share/applications/varnel.desktop" ] || fail "no desktop entry"
[ -f "$prefix/share/mime/packages/varnel-mime.xml" ] || fail "no MIME package"
[ -f "$prefix/share/metainfo/com.krellix.Varnel.metainfo.xml" ] || fail "no metainfo"
debug=$(find "$prefix/lib" -path '*/varnel/tarvik' -type f)
[ -n "$debug" ] || fail "no lib/.../varnel/tarvik"
# Exit status 127 would mean the loader did not find libtarvik.so.
job=$prefix/job.pcl
printf '\033E\033&l0O\f' > "$job"
status=0
"$debug" -sOutputFile="$prefix/page_%03d.bmp" -r10 "$job" 2>/dev/null || status=$?
[ "$status" -ne 127 ] || fail "$debug cannot load the renderer library"
[ -f "$prefix/page_001.bmp" ] || fail "$debug rendered no page (status $status)"
echo "install layout: all good"

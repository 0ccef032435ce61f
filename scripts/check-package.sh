#!/usr/bin/env bash
# Makes the ZIP of one Windows build with cpack and checks what it holds: every file of the
# program directory build/PRESET/dist/, in the one folder Kavit (the folder README.txt tells the
# user to copy into C:\Program Files), and the files a user needs (the licence and the short
# start README.txt among them).
#
#   scripts/check-package.sh PRESET      (mingw-i686: Kavit-1.06-win32.zip, mingw-x64: -win64)
set -uo pipefail
cd "$(dirname "$0")/.."

preset=${1:?usage: $0 PRESET}
case $preset in
mingw-i686) platform=win32; needed=(Kavit.exe kavit-check.exe Kavit.ini help.htm README.txt LICENSE LPTWDMIO.SYS) ;;
mingw-x64) platform=win64; needed=(Kavit.exe kavit-check.exe Kavit.ini help.htm README.txt LICENSE LPTWDMIO.SYS LPTWDMIO.cer) ;;
*) echo "unknown preset $preset" >&2; exit 2 ;;
esac
version=$(sed -n 's/^project(Kavit VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=build/$preset/package/Kavit-$version-$platform.zip
name=Kavit # the folder inside the zip

rm -f "$zip"
cpack --preset "$preset" >/dev/null || { echo "cpack --preset $preset failed"; exit 1; }
[ -f "$zip" ] || { echo "$zip not made"; exit 1; }

bad=0
listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sort) # files only, not the folder entry
expected=$(cd "build/$preset/dist" && find . -type f | sed "s|^\./|$name/|" | sort)
if [ "$listed" != "$expected" ]; then
    echo "$zip differs from build/$preset/dist/ (- dist, + zip):"
    diff <(echo "$expected") <(echo "$listed") | grep '^[<>]' | sed 's/^</-/; s/^>/+/'
    bad=1
fi
for file in "${needed[@]}"; do
    grep -qx "$name/$file" <<<"$listed" || { echo "$zip lacks $file"; bad=1; }
done
# README.txt is read in Notepad on any Windows, old ones included: every line ends in CR LF. It
# names the folder the zip holds.
unpacked=$(mktemp -d)
readme=$unpacked/$name/README.txt
if (cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip" "$name/README.txt" 2>/dev/null) && [ -s "$readme" ]; then
    if grep -qv $'\r$' "$readme"; then
        echo "$zip: README.txt has lines without CR LF"
        bad=1
    fi
    if ! tr -d '\r' <"$readme" | tr '\n' ' ' | grep -q "copy the folder $name into"; then
        echo "$zip: README.txt does not tell to copy the folder $name"
        bad=1
    fi
fi
rm -rf "$unpacked"
# The certificate goes with the signed 64-bit driver only.
if [ "$platform" = win32 ] && grep -q '\.cer$' <<<"$listed"; then
    echo "$zip holds a certificate, but its driver is unsigned"
    bad=1
fi
[ $bad -eq 0 ] && echo "$zip: $(wc -l <<<"$listed") files, as in dist/"
exit $bad

#!/usr/bin/env bash
# Compares what each shipped program imports with the committed list beside this script, so that
# a routine newer than Windows XP SP3 cannot slip in unnoticed.
#
#   scripts/check-imports.sh PRESET [--update]
#
# PRESET is mingw-i686 or mingw-x64. Every .exe and .SYS in build/PRESET/dist/ needs its list,
# scripts/imports/PRESET/<file>.txt: one "DLL!Routine" per line, sorted, DLL names lower case.
# --update rewrites the lists from the build (then review the diff before committing it).
set -uo pipefail
cd "$(dirname "$0")/.."

preset=${1:?usage: $0 PRESET [--update]}
update=${2:-}
dist=build/$preset/dist
lists=scripts/imports/$preset
case $preset in
mingw-i686) objdump=i686-w64-mingw32-objdump ;;
mingw-x64) objdump=x86_64-w64-mingw32-objdump ;;
*) echo "unknown preset $preset" >&2; exit 2 ;;
esac

# "dll!routine" for every import by name, "dll!#ordinal" for one by ordinal.
list_imports() {
    "$objdump" -p "$1" | awk '
        /^\tDLL Name: / { dll = tolower($3); next }
        /^\t[ \t]*vma:/ { next }
        dll != "" && /^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+$/ { print dll "!" $3; next }
        dll != "" && /^\t[0-9a-f]+[ \t]+<none>[ \t]+[0-9a-f]+$/ { print dll "!#" $3; next }
        /^$/ { dll = "" }
    ' | sort -u
}

shopt -s nullglob
binaries=("$dist"/*.exe "$dist"/*.SYS)
[ ${#binaries[@]} -gt 0 ] || { echo "no programs in $dist: build first" >&2; exit 1; }
mkdir -p "$lists"
bad=0
for binary in "${binaries[@]}"; do
    name=$(basename "$binary")
    list=$lists/$name.txt
    if [ "$update" = --update ]; then
        list_imports "$binary" >"$list"
        echo "wrote $list ($(wc -l <"$list") imports)"
        continue
    fi
    if [ ! -f "$list" ]; then
        echo "$name: no committed import list ($list); make one with --update and review it"
        bad=1
    elif ! diff -u "$list" <(list_imports "$binary") >/tmp/imports.$$ 2>&1; then
        echo "$name imports differ from $list (- committed, + built):"
        tail -n +3 /tmp/imports.$$
        bad=1
    else
        echo "$name: $(wc -l <"$list") imports, as committed"
    fi
done
rm -f /tmp/imports.$$
exit $bad

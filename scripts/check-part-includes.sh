#!/usr/bin/env bash
# Each part of the program includes only the parts below it:
#   wire  <-  lptio  <-  common  <-  settings  <-  scanner  <-  app
# kavit-check (check/) uses no part of app/, the driver (driver/) nothing but wire/, and no files
# anywhere include each other in a circle.
# Prints every include that reaches upwards; exit status 1 when there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

order=(wire lptio common settings scanner app)
bad=0
for i in "${!order[@]}"; do
    part=${order[$i]}
    above=("${order[@]:$((i + 1))}")
    [ ${#above[@]} -eq 0 ] && continue
    pattern="#include \"($(IFS='|'; echo "${above[*]}"))/"
    if grep -nE "$pattern" "$part"/*.cpp "$part"/*.h "$part"/*.c 2>/dev/null; then
        echo "  ^ $part/ includes a part above it"
        bad=1
    fi
done
# kavit-check.exe may use every part except the tray program's shell.
if grep -nE '#include "app/' check/*.cpp check/*.h 2>/dev/null; then
    echo "  ^ check/ includes the tray program's shell"
    bad=1
fi
# The settings stand on no port: no common/ header that settings/ includes brings in lptio/.
for header in $(grep -ho '#include "common/[a-z_]*\.h"' settings/*.cpp settings/*.h | cut -d'"' -f2 | sort -u); do
    if grep -n '#include "lptio/' "$header"; then
        echo "  ^ $header, included by settings/, includes the port"
        bad=1
    fi
done
# The kernel driver stands on the protocol alone.
if grep -nE '#include "(lptio|common|settings|scanner|app|check)/' driver/*.c driver/*.h; then
    echo "  ^ driver/ includes a part of the program"
    bad=1
fi
# A circle: files that reach themselves through their includes (a.* includes b.h, b.* includes
# a.h, or longer). tsort names the files of each circle it meets.
circles=$(for file in $(git ls-files '*.c' '*.cpp' '*.h'); do
    stem=${file%.*}
    for header in $(sed -nE 's@^#include "([^"]+)\.h".*@\1@p' "$file"); do
        [ "$header" != "$stem" ] && echo "$stem $header"
    done
done | sort -u | tsort 2>&1 >/dev/null)
if [ -n "$circles" ]; then
    echo "$circles"
    echo "  ^ a circle of includes"
    bad=1
fi
exit $bad

#!/usr/bin/env bash
# Each part of the program includes only the parts below it:
#   lptio  <-  common  <-  settings  <-  scanner  <-  app
# and kavit-check (check/) uses no part of app/.
# Prints every include that reaches upwards; exit status 1 when there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

order=(lptio common settings scanner app)
bad=0
for i in "${!order[@]}"; do
    part=${order[$i]}
    above=("${order[@]:$((i + 1))}")
    [ ${#above[@]} -eq 0 ] && continue
    pattern="#include \"($(IFS='|'; echo "${above[*]}"))/"
    if grep -nE "$pattern" "$part"/*.cpp "$part"/*.h 2>/dev/null; then
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
exit $bad

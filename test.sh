#!/usr/bin/env bash
# Sets up, builds and runs every Kavit test: host unit tests (sanitizers on), both MinGW builds,
# a short fuzzing run, and the end-to-end cases under Wine. Ends with "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")"

bash scripts/setup-debian.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
step() { # step NAME COMMAND...: one counted check that is not a test runner of its own
    local name=$1
    shift
    echo "=== $name"
    if "$@"; then
        passed=$((passed + 1))
        echo "--- $name: ok"
    else
        failed=$((failed + 1))
        echo "--- $name: FAILED"
    fi
}

# Every C and C++ source as .clang-format wants it.
step "clang-format" bash -c "git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror"

# The parts depend downwards only: wire <- lptio <- common <- settings <- scanner <- app.
step "part dependencies" bash scripts/check-part-includes.sh

# Host unit tests: every test case counts.
echo "=== host unit tests"
if cmake --preset host >build-host.log 2>&1 && cmake --build --preset host -j2 >>build-host.log 2>&1; then
    ctest --preset host -j2 2>&1 | tee ctest.log
    total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' ctest.log)
    bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' ctest.log)
    if [ -n "$total" ]; then
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    else
        failed=$((failed + 1))
    fi
else
    cat build-host.log | tail -40
    echo "--- host build: FAILED"
    failed=$((failed + 1))
fi
rm -f build-host.log ctest.log

# Windows builds.
for preset in mingw-i686 mingw-x64; do
    step "build $preset" bash -c "cmake --preset $preset >/dev/null && cmake --build --preset $preset -j2"
    # Every import of the shipped programs as committed: nothing newer than Windows XP SP3.
    step "imports $preset" bash scripts/check-imports.sh "$preset"
done

# The 32-bit program stays small: build/mingw-i686/Kavit.map tells what takes the room.
step "Kavit.exe under 256 KiB" bash -c 'size=$(stat -c %s build/mingw-i686/dist/Kavit.exe) &&
    echo "Kavit.exe (i686): $size bytes" && [ "$size" -lt 262144 ]'

# The port driver as shipped: a checksum Windows accepts, no section both writable and executable
# (memory integrity), and the 64-bit image test-signed with the certificate beside it.
step "driver images" bash -c "python3 scripts/pe-checksum.py build/mingw-i686/dist/LPTWDMIO.SYS \
    build/mingw-x64/dist/LPTWDMIO.SYS && python3 scripts/check-sections.py \
    build/mingw-i686/dist/LPTWDMIO.SYS build/mingw-x64/dist/LPTWDMIO.SYS && osslsigncode verify -in build/mingw-x64/dist/LPTWDMIO.SYS \
    -CAfile build/mingw-x64/driver/signing/cert.pem >/dev/null && echo 'x64 driver: signature ok'"

# The downloads: one ZIP per Windows build, holding its whole program directory.
for preset in mingw-i686 mingw-x64; do
    step "package $preset" bash scripts/check-package.sh "$preset"
done

# Fuzzing, briefly.
if [ -x fuzz/run-fuzz.sh ] || [ -f fuzz/run-fuzz.sh ]; then
    step "fuzz settings (60 s)" bash fuzz/run-fuzz.sh 60
fi

# End to end under Wine: every case counts.
run_e2e() { # run_e2e TITLE [run-e2e.sh options]
    local title=$1
    shift
    echo "=== end-to-end under Wine: $title"
    bash e2e/run-e2e.sh "$@" >e2e.log 2>&1
    local rc=$?
    cat e2e.log
    # GoogleTest gives each case a line "[       OK ] E2e.name (N ms)" or "[  FAILED  ] E2e.name
    # (N ms)". A run without its summary (set-up, a hung case, a crash, output lost) is one failure.
    passed=$((passed + $(grep -c '^\[       OK \] ' e2e.log)))
    failed=$((failed + $(grep -cE '^\[  FAILED  \] [^ ]+ \([0-9]+ ms\)$' e2e.log)))
    if ! grep -q '^\[==========\] .* ran\.' e2e.log; then
        failed=$((failed + 1))
    fi
    rm -f e2e.log
}
if [ -f e2e/run-e2e.sh ]; then
    run_e2e "64-bit Kavit.exe"
    # The primary target: the 32-bit program (WoW64) against the same 64-bit simulated driver.
    mixed=build/e2e-i686
    rm -rf "$mixed" && mkdir -p "$mixed" &&
        cp -r build/mingw-i686/dist "$mixed/dist" && cp -r build/mingw-x64/e2e "$mixed/e2e" &&
        run_e2e "32-bit Kavit.exe" --build "$mixed"
fi

echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]

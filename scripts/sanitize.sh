#!/usr/bin/env bash
# The tests under the sanitizers, for CI: the engine, data, run, app and console
# tests with ThreadSanitizer, then every test (the window's offscreen) with
# AddressSanitizer and UndefinedBehaviorSanitizer. Any report fails, also
# one from a program a test started (the console tests run the real
# program): every report goes to a file, and a file is a failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

configure() {   # build dir, sanitizer flags, more cmake options
  local build=$1 flags=$2
  shift 2
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DZUD_WERROR=ON -DZUD_BUILD_TESTS=ON -DZUD_BUILD_BENCH=OFF \
    "${launcher[@]}" \
    -DCMAKE_CXX_FLAGS="-O1 -fno-omit-frame-pointer $flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" "$@" >/dev/null
}

check_reports() {   # stage name
  if compgen -G "$reports/*" >/dev/null; then
    echo "$1: sanitizer reports:" >&2
    cat "$reports"/* >&2
    exit 1
  fi
}

# Threads: the run, its events and the console, without the Qt window.
tsan="$top/build-tsan"
configure "$tsan" "-fsanitize=thread" -DZUD_WITH_QT=OFF
cmake --build "$tsan" -j"$jobs" --target engine_tests data_tests run_tests app_tests cli_tests zudsieve
# Left out: the package (not a test of the code), the emulated processors
# (qemu-user cannot run a sanitizer's runtime) and, for time, the kill -9
# campaigns, whose hundreds of starts take minutes under ThreadSanitizer
# (they run in the other two builds). The BOINC application too: the BOINC API
# library is not built for ThreadSanitizer, so its timer thread's accesses
# would go unseen or be misread; it runs in the other two builds. Nor the
# OpenCL device's own tests: the OpenCL runtime's threads are not built for
# ThreadSanitizer either (they run under AddressSanitizer).
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$reports/tsan" \
  ctest --test-dir "$tsan" -j"$jobs" -E 'install_and_package|same_factors_under_qemu|kill_9|boinc|opencl' -LE tool --output-on-failure
check_reports ThreadSanitizer

# Memory and undefined behaviour: the whole suite, the window offscreen.
asan="$top/build-asan"
configure "$asan" "-fsanitize=address,undefined -fno-sanitize-recover=all"
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS="abort_on_error=1 detect_leaks=1 log_path=$reports/asan" \
  LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp" \
  UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1 log_path=$reports/ubsan" \
  QT_QPA_PLATFORM=offscreen \
  ctest --test-dir "$asan" -j"$jobs" -E 'install_and_package|same_factors_under_qemu' -LE tool --output-on-failure
check_reports "AddressSanitizer/UndefinedBehaviorSanitizer"
echo "sanitizers: no reports"

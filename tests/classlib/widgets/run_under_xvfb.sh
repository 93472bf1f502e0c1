#!/bin/sh
# Runs a program on a virtual X server with Qt's xcb platform; exit 77 (skipped) without xvfb-run.
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
# The X keyboard library hands strndup buffers without a terminator; that is its own affair.
if [ -n "${ASAN_OPTIONS:-}" ]; then ASAN_OPTIONS="$ASAN_OPTIONS:intercept_strndup=0"; export ASAN_OPTIONS; fi
LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/xvfb_lsan.supp"
export LSAN_OPTIONS
exec xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$@"

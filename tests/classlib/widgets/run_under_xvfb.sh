#!/bin/sh
# Runs a program on a virtual X server with Qt's xcb platform; exit 77 (skipped) without xvfb-run.
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
exec xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$@"

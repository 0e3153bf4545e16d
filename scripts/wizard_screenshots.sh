#!/usr/bin/env bash
# Takes a screenshot of every page of the set-up wizard, of its hidden-field window and of its
# About window, on Qt's offscreen platform (no display needed), into docs/wizard/*.png.
# Usage: scripts/wizard_screenshots.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${BREVIX_JOBS:-2}
cmake -S . -B "$build" -DBREVIX_WIZARD=ON >/dev/null
cmake --build "$build" -j"$jobs" --target wizard_screenshots
rm -f docs/wizard/*.png
QT_QPA_PLATFORM=offscreen "$build/bin/wizard_screenshots" docs/wizard

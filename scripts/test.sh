#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs the whole suite under Wine.
set -u
source "$(dirname "$0")/testbed.sh"
install_packages || exit 1
build_all || exit 1
trap stop_all EXIT
start_display
make_prefix || exit 1
start_wineserver
cd "$BUILD" && ctest --output-on-failure --timeout 600 "$@"

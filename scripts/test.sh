#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs the whole suite under Wine.
set -u
source "$(dirname "$0")/testbed.sh"
prepare_testbed || exit 1
cd "$BUILD" && ctest --output-on-failure --timeout 600 "$@"

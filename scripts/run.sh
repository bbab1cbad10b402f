#!/usr/bin/env bash
# Installs what is missing, builds the client in release mode and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKSTR_BUILD_TESTS=OFF
cmake --build build/release --target kestrune-client
exec build/release/src/app/kestrune-client "$@"

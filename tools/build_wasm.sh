#!/usr/bin/env bash
# Rebuilds client/dist/velmor.js and client/dist/velmor.wasm from the repo's sources with
# Debian's emscripten (packages emscripten and node-acorn); client/src/velmor.js goes into the
# dist without its comments and indentation (tools/strip_comments.cjs):
#   tools/build_wasm.sh [build folder]      (default: build/wasm)
# The same sources give the same bytes in any folder; CI checks that the committed files are
# what this writes.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/wasm}
# emscripten's JavaScript optimizer, and tools/strip_comments.cjs, need acorn, which Debian installs outside Node's own path.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
emcmake cmake -S . -B "$BUILD" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j 2 --target velmor_wasm

mkdir -p client/dist
{
  echo "// Built by tools/build_wasm.sh from wasm/ and client/src/velmor.js; do not edit."
  cat "$BUILD/velmor_glue.js"
  echo
  node tools/strip_comments.cjs client/src/velmor.js
} >client/dist/velmor.js.tmp
mv client/dist/velmor.js.tmp client/dist/velmor.js
cat "$BUILD/velmor_glue.wasm" >client/dist/velmor.wasm
ls -l client/dist/velmor.js client/dist/velmor.wasm

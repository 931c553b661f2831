#!/usr/bin/env bash
# The main job: install what is missing, build in Release, and start the workstation on the demo
# recording (generated on first use). Pass a recording to open that instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
demo=${QUARV_DEMO:-build/demo/harbour.raw}
if [ $# -eq 0 ]; then
  if [ ! -f "$demo" ]; then
    mkdir -p "$(dirname "$demo")"
    echo "==> Generating the demo recording $demo"
    ./build/quarv-cli simulate -o "$demo" --scene harbour --seed 1
  fi
  set -- "$demo"
fi
echo "==> quarv-cli info $1"
./build/quarv-cli info "$1"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "==> No display: start it on one, e.g. xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi
echo "==> quarv $1"
exec ./build/quarv "$1"

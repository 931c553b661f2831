#!/usr/bin/env bash
# The main job: install what is missing, build in Release, and start the workstation on the demo
# recording (generated on first use). Pass a recording to open that instead. On a machine without
# a display it does what it can without one: processes the recording, writes its LAS file and a
# picture of the view (under xvfb-run) next to it, and says where they are.
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
  base=${1%.*}
  echo "==> No display: processing $1 headless"
  ./build/quarv-cli process "$1" --layer 0 --las "$base.las"
  echo "==> xvfb-run -a ./build/quarv $1 --snapshot $base.png --fit --window"
  xvfb-run -a ./build/quarv "$1" --snapshot "$base.png" --fit --window
  echo
  echo "LAS file: $base.las"
  echo "Picture:  $base.png"
  echo "On a desktop, open the workstation with: bash scripts/run.sh $1"
  exit 0
fi
echo "==> quarv $1"
exec ./build/quarv "$1"

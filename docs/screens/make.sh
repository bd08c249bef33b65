#!/usr/bin/env bash
# Draws the README's gallery of the Setup window from the demo scenarios, without a display:
# docs/screens/*.png, 628 points wide at scale 2. Builds the app first (preset dev, or $1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
preset=${1:-dev}
build="$root/build/$preset"
out="$root/docs/screens"

cmake --preset "$preset" >/dev/null
cmake --build "$build" --target gainmesh_app >/dev/null
app="$build/Gainmesh.app/Contents/MacOS/Gainmesh"

# The demo writes nothing of its own, but keep the app's per-user folders out of the real home.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export GAINMESH_HOME="$home" QT_QPA_PLATFORM=offscreen

shot() {  # shot NAME SCENARIO [--details]
  local name=$1 scenario=$2
  shift 2
  "$app" --render "$scenario" "$out/$name.png" --width 628 --scale 2 "$@"
  echo "docs/screens/$name.png  ($scenario)"
}

shot first setup-first
shot rig setup-rig --details
shot lost setup-lost
shot choose setup-choose
shot nothing setup-nothing
shot permissions setup-perms

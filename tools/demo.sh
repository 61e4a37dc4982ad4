#!/usr/bin/env bash
# The main job: builds everything, then lets the stand-in host load the real
# ZVK_Gamma.dll under Wine and correct a generated clip in both formats.
# Before/after pictures and a summary land in out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

echo "== building (native and win32)"
mkdir -p build
for preset in native win32; do
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j 2; } >"build/demo-$preset.log" 2>&1; then
    tail -n 40 "build/demo-$preset.log"
    echo "demo: the $preset build failed (log in build/demo-$preset.log)" >&2
    exit 1
  fi
done

out=out/demo
width=640 height=360 frames=25
rm -rf "$out"
mkdir -p "$out/host/Plugins"
cp build/win32/host/zvkhost.exe build/win32/plugin/ZVK_Gamma.dll "$out/host/"

echo "== generating a ${width}x${height} test clip of $frames frames in yuyv422 and bgr24"
for fmt in yuyv422 bgr24; do
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${width}x${height}:rate=25" -frames:v "$frames" \
    -f rawvideo -pix_fmt "$fmt" "$out/clip.$fmt"
done

# Host section 1 is used for the YUV clip, section 2 for the BGR clip.
printf '%s\r\n' '[DIALOG]' 'DlgWndPosX=-100' 'DlgWndPosY=-100' \
  '[1]' 'RGamma=220' 'GGamma=180' 'BGamma=140' 'Binding=0' 'Enable=1' \
  '[2]' 'RGamma=60' 'GGamma=100' 'BGamma=160' 'Binding=0' 'Enable=1' > "$out/host/Plugins/ZVK_Gamma.ini"

cat > "$out/demo.zvk" <<SCRIPT
descriptor
init
format $width $height 0 0
frames 1 ../clip.yuyv422 ../corrected.yuyv422
format $width $height 1 0
frames 2 ../clip.bgr24 ../corrected.bgr24
close
SCRIPT

echo "== running zvkhost.exe with ZVK_Gamma.dll under Wine"
(cd "$out/host" && ../../../build/win32/wine-run zvkhost.exe ZVK_Gamma.dll ../demo.zvk) | tr -d '\r' | tee "$out/host.log"

for fmt in yuyv422 bgr24; do
  for stage in clip corrected; do
    ffmpeg -v error -y -f rawvideo -pix_fmt "$fmt" -s "${width}x${height}" -i "$out/$stage.$fmt" \
      -vf "select=eq(n\,12)" -frames:v 1 "$out/$fmt-$stage.png"
  done
done

{
  echo "ZVK_Gamma demo, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "The stand-in host loaded build/win32/plugin/ZVK_Gamma.dll under Wine and fed it"
  echo "$frames frames of ${width}x${height} in packed YUV 4:2:2 (section 1: gamma R 2.20, G 1.80, B 1.40)"
  echo "and the same clip in 24-bit BGR (section 2: gamma R 0.60, G 1.00, B 1.60)."
  echo
  echo "Host log:"
  sed 's/^/  /' "$out/host.log"
  echo
  echo "Settings file after close (host/Plugins/ZVK_Gamma.ini):"
  tr -d '\r' < "$out/host/Plugins/ZVK_Gamma.ini" | sed 's/^/  /'
  echo
  echo "Pictures of frame 12, before and after:"
  for f in "$out"/*.png; do echo "  $f"; done
} > "$out/summary.txt"
echo
cat "$out/summary.txt"

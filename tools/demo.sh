#!/usr/bin/env bash
# The main job: builds everything, then lets the stand-in host load the real
# ZVK_Gamma.dll under Wine and correct a generated clip in both formats, and
# opens the settings window over the host's window and moves its sliders
# with real mouse input, correcting the clip again after each move.
# Before/after pictures, the dialog beside the frames it made, and a summary
# land in out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

# 32-bit Wine is a 32-bit Linux program: where the kernel runs none, the
# x86-64 build of the same sources shows the same under 64-bit Wine.
if [ "$(sh tools/arch32.sh)" = native ]; then
  win=win32
  shown="the 32-bit ZVK_Gamma.dll under 32-bit Wine"
else
  win=win64
  why="this machine runs no 32-bit program"
  [ -z "${ZVK_EMULATE_32BIT:-}" ] || why="ZVK_EMULATE_32BIT is set"
  shown="the x86-64 test build of ZVK_Gamma.dll under 64-bit Wine ($why; the shipped DLL is the 32-bit one)"
fi
echo "== demo of $shown"

echo "== building (native and $win)"
mkdir -p build
for preset in native $win; do
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
cp build/$win/host/zvkhost.exe build/$win/plugin/ZVK_Gamma.dll "$out/host/"

echo "== generating a ${width}x${height} test clip of $frames frames in yuyv422 and bgr24"
for fmt in yuyv422 bgr24; do
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=${width}x${height}:rate=25" -frames:v "$frames" \
    -f rawvideo -pix_fmt "$fmt" "$out/clip.$fmt"
done

# Host section 1 is used for the YUV clip, section 2 for the BGR clip.
printf '%s\r\n' '[DIALOG]' 'DlgWndPosX=-100' 'DlgWndPosY=-100' \
  '[1]' 'RGamma=220' 'GGamma=180' 'BGamma=140' 'Binding=0' 'Enable=1' \
  '[2]' 'RGamma=60' 'GGamma=100' 'BGamma=160' 'Binding=0' 'Enable=1' > "$out/host/Plugins/ZVK_Gamma.ini"

# Then the window: section 2 again (its link box is clear), red dragged
# toward 0.50, 1.00 and 3.16, the clip corrected after each. The slider has
# more positions than pixels, so a drag lands on the nearest one it reaches.
cat > "$out/demo.zvk" <<SCRIPT
descriptor
init
format $width $height 0 0
frames 1 ../clip.yuyv422 ../corrected.yuyv422
format $width $height 1 0
frames 2 ../clip.bgr24 ../corrected.bgr24
window 60 60 900 640
show
wait 500
drag 5005 130 8
drag 5001 70 8
wait 300
frames 2 ../clip.bgr24 ../dialog-1.bgr24
screenshot ../dialog-1.png dialog
state dialog.5058.text dialog.5059.text dialog.5060.text
drag 5001 100 8
wait 300
frames 2 ../clip.bgr24 ../dialog-2.bgr24
screenshot ../dialog-2.png dialog
state dialog.5058.text dialog.5059.text dialog.5060.text
drag 5001 150 8
drag 5004 120 8
wait 300
frames 2 ../clip.bgr24 ../dialog-3.bgr24
screenshot ../dialog-3.png dialog
state dialog.5058.text dialog.5059.text dialog.5060.text
click 5002
wait 300
close
SCRIPT

echo "== running zvkhost.exe with ZVK_Gamma.dll under Wine (virtual display)"
(cd "$out/host" && xvfb-run -a -s "-screen 0 1280x1024x24" ../../../build/$win/wine-run zvkhost.exe ZVK_Gamma.dll ../demo.zvk) |
  tr -d '\r' | tee "$out/host.log"

for fmt in yuyv422 bgr24; do
  for stage in clip corrected; do
    ffmpeg -v error -y -f rawvideo -pix_fmt "$fmt" -s "${width}x${height}" -i "$out/$stage.$fmt" \
      -vf "select=eq(n\,12)" -frames:v 1 "$out/$fmt-$stage.png"
  done
done

# Each dialog beside frame 12 as its settings corrected it.
for n in 1 2 3; do
  ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s "${width}x${height}" -i "$out/dialog-$n.bgr24" \
    -i "$out/dialog-$n.png" \
    -filter_complex "[0:v]select=eq(n\\,12)[f];[1:v]pad=iw+16:${height}:16:0:gray[d];[f][d]hstack" \
    -frames:v 1 "$out/dialog-$n-beside-frame.png"
done

{
  echo "ZVK_Gamma demo of $shown, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "The stand-in host loaded build/$win/plugin/ZVK_Gamma.dll under Wine and fed it"
  echo "$frames frames of ${width}x${height} in packed YUV 4:2:2 (section 1: gamma R 2.20, G 1.80, B 1.40)"
  echo "and the same clip in 24-bit BGR (section 2: gamma R 0.60, G 1.00, B 1.60)."
  echo
  echo "Host log:"
  sed 's/^/  /' "$out/host.log"
  echo
  echo "Settings file after close (host/Plugins/ZVK_Gamma.ini):"
  tr -d '\r' < "$out/host/Plugins/ZVK_Gamma.ini" | sed 's/^/  /'
  echo
  echo "Then the settings window opened over the host window; red was dragged toward"
  echo "0.50, 1.00 and 3.16 (and blue and green moved) with real mouse input, and the"
  echo "BGR clip corrected again after each move (the values each drag reached are the"
  echo "dialog.* lines of the host log): dialog-N-beside-frame.png shows each dialog"
  echo "beside frame 12 as it corrected it."
  echo
  echo "Pictures of frame 12, before and after:"
  for f in "$out"/*.png; do echo "  $f"; done
} > "$out/summary.txt"
echo
cat "$out/summary.txt"

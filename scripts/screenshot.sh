#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window with a few queued files, on a
# virtual screen (Xvfb), so it can be rerun on any machine with the build.
#   bash scripts/screenshot.sh [build folder]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "${1:-build}")
[ -x "$build/vantrel" ] || { echo "no $build/vantrel: run scripts/build.sh first" >&2; exit 1; }
for tool in xvfb-run xdotool import ffmpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

work=$(mktemp -d)
# The clips go to a folder with a plain name when it is free (the list shows
# their full paths), else to the work folder.
media=/tmp/我的视频
if mkdir "$media" 2>/dev/null; then
  trap 'rm -rf "$work" "$media"' EXIT
else
  media=$work/media
  trap 'rm -rf "$work"' EXIT
fi
# The program's own settings, cache and lock of this run alone; the build
# tree's settings are copied back so the picture leaves no trace there.
mkdir -p "$work/config" "$work/cache" "$work/runtime" "$media" "$work/keep"
chmod 700 "$work/runtime"
for f in setup.ini options.ini; do [ -e "$build/$f" ] && cp -p "$build/$f" "$work/keep/"; done

# A few short clips and a song with everyday Chinese names.
clip() {  # name seconds
  ffmpeg -v error -f lavfi -i "testsrc=size=320x240:rate=15:duration=$2" \
    -f lavfi -i "sine=frequency=440:duration=$2" -c:v libx264 -preset ultrafast \
    -pix_fmt yuv420p -c:a aac -shortest -y "$media/$1"
}
clip "旅行第一天.mp4" 3
clip "生日聚会.mkv" 2
clip "毕业典礼.mov" 2
ffmpeg -v error -f lavfi -i "sine=frequency=330:duration=4" -c:a libmp3lame -y "$media/会议录音.mp3"

XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" \
  LC_ALL=C.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -euo pipefail
    "$1/vantrel" "$3"/*.* &
    pid=$!
    win=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
    sleep 2  # the list and the skin settle
    import -window root "$2/screen.png"
    xdotool getwindowgeometry --shell "$win" > "$2/geometry"
    kill "$pid"; wait "$pid" || true
  ' _ "$build" "$work" "$media"

# shellcheck disable=SC1091
. "$work/geometry"
mkdir -p "$root/docs"
import_crop="${WIDTH}x${HEIGHT}+${X}+${Y}"
convert "$work/screen.png" -crop "$import_crop" +repage -strip "$root/docs/screenshot.png"
for f in setup.ini options.ini; do
  if [ -e "$work/keep/$f" ]; then cp -p "$work/keep/$f" "$build/$f"; else rm -f "$build/$f"; fi
done
echo "docs/screenshot.png: ${WIDTH}x${HEIGHT}"

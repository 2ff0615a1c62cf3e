#!/usr/bin/env bash
# Vantrel as an installed program.
#   package_test.sh metadata BUILD SOURCE with-cli|without-cli
#     the desktop entry and AppStream metadata validate, and `cmake --install`
#     lays out every file where a Debian system expects it;
#   package_test.sh deb BUILD SOURCE with-cli|without-cli   (root only; skipped otherwise)
#     builds the .deb, checks it with lintian, installs it with dpkg, lets a
#     fresh ordinary user convert a clip to 3GP with the installed program (the
#     window on a virtual display, started with the clip as "Open with" does,
#     and vantrel-cli when the package has it), checks the output with ffprobe,
#     that nothing under /usr changed and that the settings went to the user's
#     config folder, and removes the package and the user again.
# Exit 77 means skipped, with the reason on the last line.
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
source_dir=$(cd "$3" && pwd)
cli=${4:-without-cli}

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed (scripts/install-deps.sh installs it)"; }

scratch=$(mktemp -d /tmp/vantrel-package.XXXXXX)
chmod 755 "$scratch"
cleanups=()
cleanup() {
  local i
  for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do eval "${cleanups[i]}" || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# A short clip with a picture and a sound, made on the spot.
make_clip() {
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=3 \
    -f lavfi -i sine=frequency=440:duration=3 -c:v mpeg4 -c:a aac -shortest "$1"
}

# A playable 3GP of about the clip's length, with a picture and a sound.
check_3gp() {
  local file=$1 streams duration
  [ -s "$file" ] || fail "no output at $file"
  streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$file" | sort | tr '\n' ' ')
  [ "$streams" = "audio video " ] || fail "$file holds the streams '$streams'"
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
  awk -v d="$duration" 'BEGIN { exit !(d > 2.5 && d < 3.6) }' || fail "$file lasts $duration s"
  ffmpeg -v error -i "$file" -f null - || fail "$file does not decode"
  echo "ok: $file (3 s, audio and video)"
}

metadata() {
  need desktop-file-validate
  need appstreamcli
  desktop-file-validate "$source_dir/packaging/vantrel.desktop"
  local metainfo
  metainfo=$(ls "$build"/packaging/*.metainfo.xml)
  appstreamcli validate --no-net "$metainfo"

  local root=$scratch/root
  DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
  local expected=(
    usr/bin/vantrel
    usr/libexec/vantrel/conv usr/libexec/vantrel/coder usr/libexec/vantrel/coder2
    usr/share/vantrel/help.html usr/share/vantrel/sound.wav
    usr/share/applications/vantrel.desktop
    "usr/share/metainfo/$(basename "$metainfo")"
    usr/share/icons/hicolor/scalable/apps/vantrel.svg
    usr/share/icons/hicolor/48x48/apps/vantrel.png
    usr/share/icons/hicolor/128x128/apps/vantrel.png
    usr/share/icons/hicolor/256x256/apps/vantrel.png
    usr/share/man/man1/vantrel.1.gz
    usr/share/doc/vantrel/copyright usr/share/doc/vantrel/changelog.gz
  )
  if [ "$cli" = with-cli ]; then expected+=(usr/bin/vantrel-cli); fi
  local f
  for f in "${expected[@]}"; do [ -e "$root/$f" ] || fail "cmake --install did not make /$f"; done
  for f in usr/bin/vantrel usr/libexec/vantrel/conv usr/libexec/vantrel/coder usr/libexec/vantrel/coder2; do
    [ -x "$root/$f" ] || fail "/$f is not executable"
  done
  for size in 48 128 256; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png" | grep -q "$size x $size" ||
      fail "the ${size}px icon has another size"
  done
  gzip -t "$root/usr/share/man/man1/vantrel.1.gz"
  # Nothing the package ships outside the usual places.
  local stray
  stray=$(cd "$root" && find . -type f | grep -v -E '^\./usr/(bin|libexec/vantrel|share/(vantrel|applications|metainfo|icons|man|doc/vantrel))/' || true)
  [ -z "$stray" ] || fail "unexpected files: $stray"
  echo "ok: metadata valid, ${#expected[@]} files installed where expected"
}

# Runs a dpkg or apt command, waiting while somebody else holds dpkg's lock.
with_dpkg_lock() {
  local out rc
  for _ in $(seq 120); do
    rc=0
    out=$("$@" 2>&1) || rc=$?
    if [ $rc -ne 0 ] && grep -q 'lock' <<<"$out" && grep -qi 'locked\|could not get lock' <<<"$out"; then
      sleep 5
      continue
    fi
    printf '%s\n' "$out"
    return $rc
  done
  printf '%s\n' "$out"
  return 1
}

# Every file and folder under /usr with its size and time of change.
usr_listing() { find /usr -xdev -printf '%p %s %C@ %T@\n' | LC_ALL=C sort; }

deb() {
  [ "$(id -u)" -eq 0 ] || skip "installing a .deb needs root (CI runs this as root)"
  need cpack
  need dpkg
  need apt-get
  need runuser
  need useradd
  need Xvfb
  need xdotool
  need ffprobe
  need desktop-file-validate
  if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
    skip "a vantrel package is already installed on this machine; not replacing it"
  fi

  # The package.
  (cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
  local package
  package=$(ls "$scratch"/deb/vantrel_*.deb)
  dpkg-deb -f "$package" Package Section Depends Recommends
  dpkg-deb -f "$package" Depends | grep -q 'libavfilter' || fail "Depends lacks FFmpeg's libraries"
  dpkg-deb -f "$package" Depends | grep -q 'fonts-noto-cjk' || fail "Depends lacks a CJK font"
  dpkg-deb -f "$package" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the computed Qt libraries"
  if command -v lintian >/dev/null; then
    lintian --fail-on error "$package" || fail "lintian reports errors"
  else
    echo "note: lintian is not installed, the package was not linted"
  fi

  cleanups+=("with_dpkg_lock dpkg --purge vantrel >/dev/null")
  with_dpkg_lock dpkg -i "$package" ||
    with_dpkg_lock env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -qq
  dpkg-query -W -f='${Status}' vantrel | grep -q "install ok installed" || fail "the package did not install"
  desktop-file-validate /usr/share/applications/vantrel.desktop

  # An ordinary user of its own, with a home where nothing of ours is.
  local user=vtpkg$$ home=$scratch/home
  cleanups+=("userdel -f $user")
  useradd -M -d "$home" -s /bin/sh "$user"
  mkdir -p "$home"
  chown "$user:" "$home"
  chmod 700 "$home"
  as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
  as_user bash -c "$(declare -f make_clip); make_clip '$home/clip.mp4'"

  # The last choices: 3GP, and an empty output folder, so the default one is used.
  as_user mkdir -p "$home/.config/Vantrel"
  as_user bash -c "printf '\"7\"\\r\\n\"1\"\\r\\n\"0\"\\r\\n\"\"\\r\\n\"7\"\\r\\n' > '$home/.config/Vantrel/setup.ini'"
  touch -d '2001-01-01' "$home/.config/Vantrel/setup.ini"

  usr_listing >"$scratch/usr-before"

  # The window on a virtual display of the user's own.
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
  local display=
  for n in $(seq 199 -1 150); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
  done
  [ -n "$display" ] || fail "no free display number"
  setsid runuser -u "$user" -- Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  local xvfb=$!
  cleanups+=("kill -- -$xvfb 2>/dev/null; sleep 0.5")
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  x_user() { as_user DISPLAY="$display" "$@"; }

  setsid bash -c "$(declare -f as_user x_user); user=$user home=$home display=$display; x_user /usr/bin/vantrel '$home/clip.mp4'" >"$scratch/vantrel.log" 2>&1 &
  local app=$!
  cleanups+=("kill -KILL -- -$app 2>/dev/null")
  local window
  window=$(x_user timeout 20 xdotool search --sync --onlyvisible --name '^Vantrel$' | head -1) ||
    fail "the window did not appear: $(cat "$scratch/vantrel.log")"
  local X= Y= WIDTH= HEIGHT= SCREEN= geometry
  # A window just found may not have its place yet: ask until it has.
  for _ in $(seq 50); do
    geometry=$(x_user xdotool getwindowgeometry --shell "$window" 2>/dev/null |
               grep -E '^(X|Y|WIDTH|HEIGHT|SCREEN)=' || true)
    eval "$geometry"
    [ -n "$X" ] && [ -n "$Y" ] && [ "${WIDTH:-0}" -gt 100 ] && break
    sleep 0.1
  done
  [ -n "$X" ] && [ -n "$Y" ] || fail "no geometry for the window $window"
  sleep 0.5  # let the window take input before the click
  # The start button "立刻开始转换！" at (488, 364), 189 x 59, in the window.
  x_user xdotool mousemove $((X + 580)) $((Y + 393)) click 1
  local videos=$home/Videos/Vantrel output=
  for _ in $(seq 600); do
    # The folder appears with the batch's first file: until then find fails.
    output=$(find "$videos" -maxdepth 1 -name 'clip-*.3gp' 2>/dev/null | head -1 || true)
    [ -n "$output" ] && break
    sleep 0.2
  done
  [ -n "$output" ] || fail "no 3GP in $videos: $(cat "$scratch/vantrel.log")"
  sleep 3  # the end of the batch: the folder opens, the sound plays
  check_3gp "$output"
  # The exit button at the top right stores the choices and ends the program.
  x_user xdotool mousemove $((X + 679)) $((Y + 17)) click 1
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$app" 2>/dev/null || fail "the exit button did not end the program"

  local setup=$home/.config/Vantrel/setup.ini
  [ "$setup" -nt "$scratch/usr-before" ] || fail "setup.ini was not written in the user's config folder"
  grep -q -E "^\"$videos/?\"" "$setup" || fail "setup.ini does not hold the default output folder: $(cat "$setup")"
  tail -n1 "$setup" | grep -q '"7"' || fail "setup.ini does not hold the 3GP format"
  local work=$home/.cache/Vantrel/work
  [ -d "$work" ] || fail "no work folder in the user's cache"
  [ -z "$(ls -A "$work")" ] || fail "work files were left: $(ls -A "$work")"
  [ -z "$(find "$videos" -name '.*')" ] || fail "partial files were left in $videos"

  if [ "$cli" = with-cli ]; then
    as_user /usr/bin/vantrel-cli -f 3gp -o "$home/cli" "$home/clip.mp4"
    check_3gp "$(find "$home/cli" -name '*.3gp' | head -1)"
  else
    echo "note: the package has no vantrel-cli"
  fi

  usr_listing >"$scratch/usr-after"
  if ! diff -q "$scratch/usr-before" "$scratch/usr-after" >/dev/null; then
    diff "$scratch/usr-before" "$scratch/usr-after" | head -20
    fail "files under /usr changed while the user ran the program"
  fi
  echo "ok: installed, converted by user $user, /usr untouched, settings in $home/.config/Vantrel"
}

"$mode"

#!/usr/bin/env bash
# Takes docs/popup.png: the popup that rssnotify shows, as a real notification
# service (dunst) draws it on a virtual X display (Xvfb). The popup component
# is driven over its line protocol with the very requests rssnotify sends;
# while the modal Popup call waits, the root window is captured and the
# notification's corner cut out. The popup is then left to expire and the
# component's ClosedBy is printed.
#
# Needs root for apt-get only when a package is missing. Every wait is bounded
# and everything started here is stopped on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$top/docs/popup.png
display_program=$top/build/companions/popup/flarebox-display

# Xvfb and the notification service, the screenshot tool, a font with the
# glyphs, the icon theme that has dialog-information, and the session bus
# with dbus-send.
packages=(xvfb dunst imagemagick fonts-dejavu-core adwaita-icon-theme dbus-daemon dbus-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi

if [ ! -x "$display_program" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build > /dev/null
  cmake --build build --target flarebox-display -j2 > /dev/null
fi

work=$(mktemp -d /tmp/popup-screenshot.XXXXXX)
pids=()
cleanup() {
  local i
  # Stop in reverse order of starting: component, dunst, bus, X server.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2> /dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    timeout 5 tail --pid="${pids[i]}" -f /dev/null 2> /dev/null || kill -9 "${pids[i]}" 2> /dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1 i
  shift
  for ((i = 0; i < limit * 10; i++)); do
    "$@" > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "timed out waiting for: $*" >&2
  return 1
}

# X server on the first free display; it writes the display number to fd 3
# once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp -noreset \
  3> "$work/display" 2> "$work/xvfb.log" &
pids+=($!)
wait_for 10 test -s "$work/display"
export DISPLAY=:$(head -n 1 "$work/display")

# A private session bus, so that no notification service of the machine's own
# session answers and nothing is started by bus activation.
cat > "$work/bus.conf" << CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 \
  3> "$work/bus-address" 2> "$work/bus.log" &
pids+=($!)
wait_for 10 test -s "$work/bus-address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus-address")
export DBUS_SESSION_BUS_ADDRESS

# dunst, top right, wide enough for the body in a few lines: bold summary over
# the body, a frame, and no expiry rule of its own (the popup's 10 s apply).
mkdir -p "$work/dunst"
cat > "$work/dunst/dunstrc" << 'RC'
[global]
    monitor = 0
    follow = none
    width = 420
    height = 300
    origin = top-right
    offset = 16x16
    notification_limit = 5
    padding = 12
    horizontal_padding = 14
    text_icon_padding = 12
    frame_width = 2
    frame_color = "#3b6ea5"
    separator_color = frame
    corner_radius = 6
    font = DejaVu Sans 11
    line_height = 2
    markup = full
    format = "<b>%s</b>\n%b"
    alignment = left
    vertical_alignment = top
    word_wrap = yes
    ellipsize = end
    show_indicators = no
    ignore_newline = no
    show_age_threshold = -1
    idle_threshold = 0
    icon_position = left
    min_icon_size = 32
    max_icon_size = 48
    enable_recursive_icon_lookup = false
    icon_path = /usr/share/icons/Adwaita/48x48/legacy:/usr/share/icons/Adwaita/48x48/status
    mouse_left_click = do_action, close_current

[urgency_low]
    background = "#f4f6f9"
    foreground = "#1d2733"
    timeout = 0

[urgency_normal]
    background = "#f4f6f9"
    foreground = "#1d2733"
    timeout = 0

[urgency_critical]
    background = "#fff2f0"
    foreground = "#1d2733"
    frame_color = "#b3261e"
    timeout = 0
RC
dunst -config "$work/dunst/dunstrc" > "$work/dunst.log" 2>&1 &
pids+=($!)
wait_for 10 dbus-send --session --print-reply --dest=org.freedesktop.Notifications \
  /org/freedesktop/Notifications org.freedesktop.Notifications.GetServerInformation

# The popup component as a coprocess; timeout caps its life should anything
# below go wrong.
coproc popup { exec timeout 60 "$display_program" 2> "$work/display.log"; }
pids+=("$popup_PID")
exec {to_popup}>&"${popup[1]}" {from_popup}<&"${popup[0]}"

# Sends one request; reads its answer within $1 seconds into $answer.
request() {
  local limit=$1
  shift
  printf '%s\n' "$*" >&"$to_popup"
  if ! IFS= read -r -t "$limit" answer <&"$from_popup"; then
    echo "no answer to: $*" >&2
    exit 1
  fi
}
expect_ok() {
  request 5 "$@"
  [ "$answer" = OK ] || {
    echo "$*: $answer" >&2
    exit 1
  }
}

expect_ok PUT Icon I4 7
expect_ok PUT Header BSTR New RSS Feed
expect_ok PUT Body BSTR You have total 3 new RSS feeds from your service provider for your reference. Click for view all messages.
expect_ok PUT DisplayTimeSeconds I4 10
expect_ok PUT PopupHeight I4 1300
expect_ok PUT PopupWidth I4 6000
expect_ok PUT TransparencyLevel I2 100
expect_ok PUT ModalForm I4 1
printf 'CALL Popup\n' >&"$to_popup"

# The popup is up while the modal call waits; give dunst time to draw it.
sleep 1.5
# The top-right quarter of the screen, where dunst stacks its notifications,
# trimmed to the notification with a margin of desktop around it; the bare
# black of the X server's root becomes a dark slate.
# ImageMagick's own tools by full path, ahead of anything else on the PATH.
mkdir -p "$(dirname "$out")"
timeout 20 /usr/bin/import -window root -crop 512x300+512+0 +repage "$work/corner.png"
timeout 20 /usr/bin/convert "$work/corner.png" -trim +repage \
  -bordercolor black -border 20 -fill '#39424e' -opaque black "$out"
# An empty screen trims down to a pixel or two.
width=$(/usr/bin/identify -format '%w' "$out")
if [ "$width" -lt 100 ]; then
  echo "no notification on the screen (see the dunst output below)" >&2
  cat "$work/dunst.log" >&2
  exit 1
fi
echo "wrote $out (${width} pixels wide)"

# Display time 10 s; the component gives up one second after that.
if ! IFS= read -r -t 20 answer <&"$from_popup"; then
  echo "the popup call did not return" >&2
  exit 1
fi
echo "CALL Popup: $answer"
[ "$answer" = OK ] || exit 1
request 5 GET ClosedBy
echo "GET ClosedBy: $answer"
# End of input ends the component; the cleanup reaps it.
exec {to_popup}>&-

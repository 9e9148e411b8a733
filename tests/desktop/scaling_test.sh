#!/usr/bin/env bash
# The picture scaled to a large screen: the demo in fullscreen on a 1280 x 1024 virtual screen
# (a small window manager does what a desktop's does when a window asks for fullscreen) shows
# the 800 x 600 picture at 1.6 times, whole, with black bars above and below; its text is drawn
# for the screen's pixels, with edges as sharp as at 800 x 600. Then a handheld's 1280 x 800
# panel: 4/3 times, black bars beside it, as sharp. Exits 77 (skipped) only when the X server
# cannot start.
#   scaling_test.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
measure=("/usr/bin/python3" "$here/measure.py")
scratch=$(mktemp -d)
xvfb="" wm=""
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# start_x WxH: a virtual X server of that size with a small window manager on it, or exit 77.
start_x() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    xvfb="" wm=""
    for display in $(seq 140 160); do
        [ -e "/tmp/.X11-unix/X$display" ] && continue
        Xvfb ":$display" -screen 0 "$1x24" -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
        xvfb=$!
        sleep 1
        if kill -0 "$xvfb" 2>/dev/null; then break; fi
        xvfb=""
    done
    if [ -z "$xvfb" ]; then
        echo "skipped: the virtual X server cannot start"
        exit 77
    fi
    export DISPLAY=":$display" SDL_AUDIODRIVER=dummy
    if ! command -v openbox >/dev/null; then
        echo "FAIL: openbox is missing (scripts/deps.sh installs it)"
        exit 1
    fi
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1
}
start_x 1280x1024

passed=0 failed=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; passed=$((passed + 1)); else echo "FAIL: $what"; failed=$((failed + 1)); fi
}
at_most() { awk -v v="$1" -v max="$2" 'BEGIN { exit !(v <= max) }'; }
at_least() { awk -v v="$1" -v min="$2" 'BEGIN { exit !(v >= min) }'; }

# A click at frame 30 starts the game; by frame 180 the first line has been written. The game is
# played in a copy: its close writes a quit save beside the game.
printf '30 click\n' >"$scratch/input.txt"
cp -r "$build/demo/game" "$scratch/game"
shoot() { # shoot NAME OPTION: plays, and takes a picture of the screen at three seconds
    timeout -k 5 60 "$build/tolvane" "$2" --settings "$scratch/settings.ini" --frames 360 \
        --input "$scratch/input.txt" "$scratch/game" >"$scratch/$1.log" 2>&1 &
    local game=$!
    sleep 4
    xwininfo -root -tree | grep 'Tolvane' >"$scratch/$1.window"
    xwd -root -silent >"$scratch/$1.xwd"
    wait "$game"
}
shoot window --window
shoot full --fullscreen

# The window at 800 x 600: where is it?
read -r wx wy < <(head -n 1 "$scratch/window.window" | sed -E 's/.*[+]([0-9]+)[+]([0-9]+) *$/\1 \2/')
check "the window is 800 x 600 ($(cat "$scratch/window.window" | head -n 1 | tr -s ' '))" \
    grep -q ' 800x600+' "$scratch/window.window"
check "fullscreen covers the 1280 x 1024 screen" grep -q ' 1280x1024+0+0' "$scratch/full.window"

# Letterboxing: 1280 x 960 of picture, 32 black rows above and below.
top=$("${measure[@]}" black "$scratch/full.xwd" 0 0 1280 32)
bottom=$("${measure[@]}" black "$scratch/full.xwd" 0 992 1280 1024)
inside=$("${measure[@]}" black "$scratch/full.xwd" 0 40 1280 984)
check "black bars above and below ($top, $bottom)" at_least "$(awk -v a="$top" -v b="$bottom" 'BEGIN { print (a < b ? a : b) }')" 0.999
check "the picture between them ($inside black)" at_most "$inside" 0.05

# The first line of text: y 50..85 of the game, x 50..750; at 1.6 times and 32 rows down.
small=$("${measure[@]}" edges "$scratch/window.xwd" $((wx + 50)) $((wy + 50)) $((wx + 750)) $((wy + 85)))
large=$("${measure[@]}" edges "$scratch/full.xwd" 80 112 1200 168)
check "text is written at both sizes" at_least "$(awk -v a="$small" -v b="$large" 'BEGIN { print (a > 0 && b > 0) }')" 1
# Stretched text would keep the edge ratio (edges as much wider as the ink); text drawn for the
# screen's pixels has edges of the same width around ink 1.6 times as wide.
check "glyph edges as sharp at 1.6 times as at 1 (soft per ink: $large against $small)" \
    at_most "$large" "$(awk -v s="$small" 'BEGIN { print s * 0.85 }')"

# A handheld's 1280 x 800 panel, wider than the picture: 1067 x 800 of it at 4/3 times, about
# 106 black columns either side, its text as sharp.
start_x 1280x800
shoot handheld --fullscreen
check "fullscreen covers the 1280 x 800 screen" grep -q ' 1280x800+0+0' "$scratch/handheld.window"
left=$("${measure[@]}" black "$scratch/handheld.xwd" 0 0 104 800)
right=$("${measure[@]}" black "$scratch/handheld.xwd" 1176 0 1280 800)
inside=$("${measure[@]}" black "$scratch/handheld.xwd" 112 0 1168 800)
check "black bars left and right ($left, $right)" at_least "$(awk -v a="$left" -v b="$right" 'BEGIN { print (a < b ? a : b) }')" 0.999
check "the picture between them ($inside black)" at_most "$inside" 0.05
# The first line of text at 4/3 times, 107 columns in.
handheld=$("${measure[@]}" edges "$scratch/handheld.xwd" 173 67 1106 113)
check "text is written on the handheld" at_least "$(awk -v a="$handheld" 'BEGIN { print (a > 0) }')" 1
check "glyph edges as sharp at 4/3 times as at 1 (soft per ink: $handheld against $small)" \
    at_most "$handheld" "$(awk -v s="$small" 'BEGIN { print s * 0.85 }')"

echo "scaling: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

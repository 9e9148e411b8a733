#!/usr/bin/env bash
# The installed game as a player meets it: the Debian package's files unpacked into a scratch
# root, the game started by its menu entry's command under a virtual X server without a window
# manager, played with real X input events, watched through window pictures and heard through
# SDL's disk audio driver. Exits 77 (skipped) only when the X server cannot start.
#   desktop_test.sh BUILD_DIR   (the package_test.sh before it leaves the .deb there)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
# Debian's own Python, which has numpy, whatever else is first on the PATH.
measure=("/usr/bin/python3" "$here/measure.py")
deb=$(ls "$build"/tolvane_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    echo "FAIL: no package in $build (package_test.sh makes it)"
    exit 1
fi

scratch=$(mktemp -d)
xvfb=""
game=""
cleanup() {
    [ -n "$game" ] && kill "$game" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

root=$scratch/root
dpkg-deb -x "$deb" "$root"
demo=$root/usr/share/games/tolvane

passed=0
failed=0
check() { # check WHAT COMMAND...: counts and reports one check
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passed=$((passed + 1))
    else
        echo "FAIL: $what"
        failed=$((failed + 1))
    fi
}
at_least() { awk -v v="$1" -v min="$2" 'BEGIN { exit !(v >= min) }'; }
between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# With no game folder, from a folder that holds no game, the program plays its installed demo:
# the one beside it in the scratch root (a missing demo shows as messages about missing files).
# Clicking every other frame reaches the story's checkpoint, which goes to the player's data
# folder: the installed demo's folder is never written, not even by root, who could.
mkdir -p "$scratch/empty" "$scratch/home"
{
    echo "3 move 0 40"
    for ((n = 4; n < 2400; n += 2)); do echo "$n click"; done
} >"$scratch/clicks.txt"
no_folder_err=$(cd "$scratch/empty" && HOME=$scratch/home XDG_DATA_HOME=$scratch/data \
    timeout -k 5 120 "$root/usr/games/tolvane" --headless --frames 2400 \
    --input "$scratch/clicks.txt" 2>&1 >/dev/null)
check "started with no game folder, it plays the installed demo" test -z "$no_folder_err"
[ -z "$no_folder_err" ] || echo "$no_folder_err" | head -n 5
saves=$(find "$scratch/data/tolvane" -name Data.sav 2>/dev/null | wc -l)
check "its checkpoint is in the player's data folder ($saves file)" test "$saves" = 1
check "and not in the installed demo's folder" test ! -e "$demo/Data.sav"

# The menu entry's command, with its paths moved into the scratch root and its field codes gone.
entry=$root/usr/share/applications/org.tolvane.Tolvane.desktop
exec_line=$(sed -n 's/^Exec=//p' "$entry")
command=()
for word in $exec_line; do
    case $word in
    %?) ;;
    /*) command+=("$root$word") ;;
    *) command+=("$word") ;;
    esac
done
echo "menu entry: Exec=$exec_line"

exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do
    [ -s "$scratch/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$scratch/display" ]; then
    echo "SKIP: Xvfb cannot start:"
    sed 's/^/    /' "$scratch/xvfb.log" | tail -n 5
    exit 77
fi
export DISPLAY=:$(head -n 1 "$scratch/display")

sound=$scratch/sound.raw
# The disk driver writes a buffer every SDL_DISKAUDIODELAY ms: one 1024-frame buffer's length
# keeps the sound in step with the clock, so a click can be placed in it.
(cd "$scratch/home" && exec env -u SDL_VIDEODRIVER HOME="$scratch/home" \
    XDG_DATA_HOME="$scratch/data" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$sound" \
    SDL_DISKAUDIODELAY=23 "${command[@]}" >"$scratch/game.out" 2>"$scratch/game.err") &
game=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tolvane' 2>/dev/null | head -n 1)
if [ -z "$window" ]; then
    echo "FAIL: no game window appeared"
    cat "$scratch/game.err"
    echo "desktop: $passed passed, $((failed + 1)) failed"
    exit 1
fi
xdotool windowfocus --sync "$window"
xdotool mousemove --window "$window" 400 300

shot() { xwd -silent -id "$window" >"$scratch/$1.xwd"; }
press_key() { xdotool keydown "$1" sleep 0.1 keyup "$1"; }
press_button() { xdotool mousedown 1 sleep 0.1 mouseup 1; }
sound_seconds() { awk -v b="$(stat -c %s "$sound")" 'BEGIN { printf "%.3f", b / 176400 }'; }

# The title, with its music.
sleep 2.5
shot title
title_like=$("${measure[@]}" like "$scratch/title.xwd" "$demo/CG/title.bmp")
check "the title picture fills the window ($title_like of its pixels)" at_least "$title_like" 0.95

# Start: the click's place in the sound is the length written when it is made.
click_at=$(sound_seconds)
press_button
sleep 4
shot game
box=$("${measure[@]}" blend "$scratch/game.xwd" "$demo/CG/背景0.bmp" "$demo/CG/テキスト背景.bmp" 127)
check "the text box shows half-transparent over the first background ($box)" at_least "$box" 0.75
line1=$("${measure[@]}" bright "$scratch/game.xwd" 50 50 750 85)
line2=$("${measure[@]}" bright "$scratch/game.xwd" 50 85 750 120)
check "the first line of text is written ($line1 white pixels)" at_least "$line1" 300
check "the second line waits for a click ($line2 white pixels)" test "$line2" -lt 50

press_button
sleep 2.5
shot clicked
line2=$("${measure[@]}" bright "$scratch/clicked.xwd" 50 85 750 120)
check "a click at the wait writes the second line ($line2 white pixels)" at_least "$line2" 300

press_key F1
sleep 1.5
shot back
back_like=$("${measure[@]}" like "$scratch/back.xwd" "$demo/CG/title.bmp")
check "F1 goes back to the title ($back_like)" at_least "$back_like" 0.95

press_key Escape
status=timeout
for _ in $(seq 100); do
    if ! kill -0 "$game" 2>/dev/null; then
        wait "$game"
        status=$?
        break
    fi
    sleep 0.1
done
[ "$status" = timeout ] || game=""
check "Escape closes the game with exit code 0 (got $status)" test "$status" = 0

music=$("${measure[@]}" rms "$sound" 0 2)
check "the title music sounds within two seconds (RMS $music)" at_least "$music" 300
read -r onset match < <("${measure[@]}" find "$sound" "$demo/Sound/start52.wav")
check "the start sound begins at ${onset}s, after the click at ${click_at}s (match $match)" \
    between "$onset" "$(awk -v c="$click_at" 'BEGIN { print c - 0.05 }')" \
    "$(awk -v c="$click_at" 'BEGIN { print c + 1.0 }')"
check "the start sound is recognised by its waveform (match $match)" at_least "$match" 0.8

if ((failed)); then
    echo "--- game's standard error"
    grep -v 'disk i/o audio\|Writing to file' "$scratch/game.err" | head -n 20
    for name in title game clicked back; do
        [ -f "$scratch/$name.xwd" ] && cp "$scratch/$name.xwd" "$build/desktop-$name.xwd"
    done
    echo "(window pictures kept as $build/desktop-*.xwd)"
fi
echo "desktop: $passed passed, $failed failed"
((failed == 0))

#!/usr/bin/env python3
"""The packaged demo played in headless Chromium equals the desktop program, frame for frame.

Plays one replay twice: with the desktop program (headless, the software renderer) and in the
web page, which is told the replay and the frames to report. At each of those frames the page's
canvas must equal the desktop's screenshot pixel for pixel, and the game's state must be the
same JSON. The game's end writes its quit save; the page is then loaded again: the checkpoint
the browser kept must be the very bytes the game wrote before the reload, and the same bytes the
desktop program wrote; and the page started at the quit save (load=quit) must show, at its first
frame, the desktop's first frame of --load quit. The live region beside the canvas must hold the
page's text at a click wait and the choices at the choice.

Then the formats game (made by the native build beside the demo: JPEG, WebP and PNG pictures,
Ogg Vorbis music, an effect in slot 53) is packaged with the native tolvane-script and played
the same way: its frames must be the desktop's, pixel for pixel, its trace the same, and it
must show the same messages as the desktop program (none, once every format plays there).

usage: browser_test.py NATIVE_BUILD PAGE_DIR
"""
import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

NATIVE, PAGE = (os.path.abspath(p) for p in sys.argv[1:3])
GAME = os.path.join(NATIVE, "demo", "game")
FORMATS_GAME = os.path.join(NATIVE, "demo", "formats", "game")
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"

# Answers every click wait within two frames, with the pointer in the corner, off the choices,
# until the replay moves it onto the second choice and takes it.
FRAMES = 2600
REPLAY = ["3 move 0 40"] + [f"{n} click" for n in range(4, 2400, 2)]
REPLAY += ["2430 move 70 63", "2460 click"]
REPLAY += [f"{n} click" for n in range(2470, FRAMES, 2)]
# The title; the first page typing; a click wait; the choice with the pointer on a link; the
# page after the choice.
SHOTS = [2, 150, 305, 2440, 2475]
# The formats game: its title, the JPEG background, the WebP one, the soft-edged character over
# it, and both characters.
FORMATS_FRAMES = 260
FORMATS_REPLAY = ["3 move 0 40"] + [f"{n} click" for n in range(4, FORMATS_FRAMES, 2)]
FORMATS_SHOTS = [2, 60, 150, 200, 250]
REPLAYS = {"/replay.txt": REPLAY, "/formats-replay.txt": FORMATS_REPLAY}

reports = {}
page_errors = []
reports_lock = threading.Condition()


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, directory=PAGE, **kwargs):
        super().__init__(*args, directory=directory, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        replay = REPLAYS.get(urllib.parse.urlparse(self.path).path)
        if replay is not None:
            body = ("\n".join(replay) + "\n").encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        super().do_GET()

    def do_POST(self):
        url = urllib.parse.urlparse(self.path)
        query = urllib.parse.parse_qs(url.query)
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        key = (url.path, query["kind"][0], int(query["frame"][0]))
        with reports_lock:
            if key[1] == "log":
                text = body.decode(errors="replace")
                if text.strip():
                    print("page:", text, flush=True)
                if text.startswith("ERROR: "):
                    page_errors.append((url.path, text.strip()))
            else:
                reports[key] = body
            reports_lock.notify_all()
        self.send_response(204)
        self.end_headers()


def wait_for(key, seconds):
    deadline = time.time() + seconds
    with reports_lock:
        while key not in reports:
            left = deadline - time.time()
            if left <= 0:
                sys.exit(f"FAIL: the page never reported {key}")
            reports_lock.wait(left)
        return reports[key]


def bmp_rgba(path):
    """The pixels of a 24- or 32-bit BMP as top-down RGBA with full alpha."""
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = y if height < 0 else abs(height) - 1 - y
        row = data[offset + src * stride: offset + src * stride + width * step]
        out = bytearray(width * 4)
        out[0::4] = row[2::step]
        out[1::4] = row[1::step]
        out[2::4] = row[0::step]
        out[3::4] = b"\xff" * width
        rows.append(bytes(out))
    return width, abs(height), b"".join(rows)


def run_page(server_port, profile, query, until, seconds):
    url = f"http://127.0.0.1:{server_port}/index.html?{query}"
    browser = subprocess.Popen(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--autoplay-policy=no-user-gesture-required",
         "--window-size=800,600", f"--user-data-dir={profile}", url],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return wait_for(until, seconds)
    finally:
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()


def compare_frame(work, run, frame, name, n, failures, unplayed_music=False):
    """The page's canvas and state at the frame against the desktop's NAME.bmp and NAME.json.

    With unplayed_music, the sound that plays as the primary one is not compared: the title's
    effect stays it until it ends when no music replaces it, and the desktop's headless run,
    faster than real time, never reaches that end."""
    width, height, expected = bmp_rgba(os.path.join(work, f"{name}.bmp"))
    canvas = reports.get((run, "canvas", frame))
    if canvas is None:
        failures.append(f"frame {n}: no canvas reported")
        return
    if len(canvas) != len(expected):
        failures.append(f"frame {n}: canvas of {len(canvas)} bytes, {width}x{height} wanted")
        return
    wrong = sum(1 for i in range(0, len(expected), 4) if canvas[i:i + 3] != expected[i:i + 3])
    if wrong:
        first = next(i for i in range(0, len(expected), 4)
                     if canvas[i:i + 3] != expected[i:i + 3]) // 4
        failures.append(f"frame {n}: {wrong} pixels differ, the first at "
                        f"({first % width}, {first // width}): page "
                        f"{tuple(canvas[first * 4:first * 4 + 3])}, desktop "
                        f"{tuple(expected[first * 4:first * 4 + 3])}")
        with open(os.path.join(work, f"{name}.rgba"), "wb") as f:
            f.write(canvas)
    page_state = json.loads(reports.get((run, "state", frame), b"null") or b"null")
    native_state = json.load(open(os.path.join(work, f"{name}.json")))
    if unplayed_music:
        for state in (page_state, native_state):
            if isinstance(state, dict) and isinstance(state.get("sound"), dict):
                state["sound"].pop("primary", None)
    if page_state != native_state:
        failures.append(f"frame {n}: the state differs:\n  page    {page_state}\n"
                        f"  desktop {native_state}")


def compare_trace(work, run, name, what, failures):
    """The page's trace against the desktop's file NAME; returns the page's lines."""
    trace = reports.get((run, "trace", 0), b"").decode().splitlines()
    native_trace = open(os.path.join(work, name)).read().splitlines()
    if trace != native_trace:
        differ = next((i for i, (a, b) in enumerate(zip(trace, native_trace)) if a != b),
                      min(len(trace), len(native_trace)))
        failures.append(f"{what}the traces differ at line {differ + 1} ({len(trace)} lines, "
                        f"{len(native_trace)} on the desktop):\n  page    "
                        f"{trace[differ:differ + 1]}\n  desktop {native_trace[differ:differ + 1]}")
    return trace


def play_formats(work, failures):
    """The formats game, packaged by the native tool, played on the desktop and in the page."""
    what = "formats game: "
    game = os.path.join(work, "formats-game")
    shutil.copytree(FORMATS_GAME, game)
    page = os.path.join(work, "formats-page")
    subprocess.run([os.path.join(NATIVE, "tools", "tolvane-script"), "web", "--runtime", PAGE,
                    FORMATS_GAME, page], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(work, "formats-replay.txt"), "w") as f:
        f.write("\n".join(FORMATS_REPLAY) + "\n")
    command = [os.path.join(NATIVE, "tolvane"), "--headless", "--frames", str(FORMATS_FRAMES),
               "--input", os.path.join(work, "formats-replay.txt"),
               "--trace", os.path.join(work, "formats-trace.jsonl")]
    for n in FORMATS_SHOTS:
        command += ["--screenshot", f"{n}:{work}/formats-{n}.bmp",
                    "--state", f"{n}:{work}/formats-{n}.json"]
    native = subprocess.run(command + [game], check=True, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=dict(os.environ, SDL_AUDIODRIVER="dummy"))
    native_errors = {line.strip() for line in native.stderr.decode(errors="replace").splitlines()
                     if line.startswith("ERROR: ")}

    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(Handler, directory=page))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        started = time.time()
        shots = ",".join(map(str, FORMATS_SHOTS))
        run_page(server.server_address[1], os.path.join(work, "formats-profile"),
                 f"replay=formats-replay.txt&shots={shots}&frames={FORMATS_FRAMES}"
                 f"&report=/formats&autostart=1&trace=1", ("/formats", "end", 0), 300)
        print(f"the page played the formats game's {FORMATS_FRAMES} frames in "
              f"{time.time() - started:.1f} s")
    finally:
        server.shutdown()
    unplayed_music = any("MIDIファイルのロードに失敗" in text for text in native_errors)
    for n in FORMATS_SHOTS:
        compare_frame(work, "/formats", n, f"formats-{n}", f"{what}{n}", failures, unplayed_music)
    compare_trace(work, "/formats", "formats-trace.jsonl", what, failures)
    # A message is reported by the page's box and by the program's standard error alike.
    page_errors_here = {text for run, text in page_errors if run == "/formats"}
    if page_errors_here != native_errors:
        failures.append(f"{what}the page showed the messages {sorted(page_errors_here)}, the "
                        f"desktop {sorted(native_errors)}")
    elif native_errors:
        print(f"{what}both showed {sorted(native_errors)} (a format the program cannot play yet)")


def main():
    work = tempfile.mkdtemp(prefix="tolvane-web-")
    failures = []
    try:
        # The desktop program, on a copy of the game (it writes its checkpoint into the folder).
        game = os.path.join(work, "game")
        shutil.copytree(GAME, game)
        if os.path.exists(os.path.join(game, "Data.sav")):
            os.remove(os.path.join(game, "Data.sav"))
        with open(os.path.join(work, "replay.txt"), "w") as f:
            f.write("\n".join(REPLAY) + "\n")
        command = [os.path.join(NATIVE, "tolvane"), "--headless", "--frames", str(FRAMES),
                   "--input", os.path.join(work, "replay.txt"),
                   "--trace", os.path.join(work, "trace.jsonl")]
        for n in SHOTS:
            command += ["--screenshot", f"{n}:{work}/{n}.bmp", "--state", f"{n}:{work}/{n}.json"]
        subprocess.run(command + [game], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, SDL_AUDIODRIVER="dummy"))
        native_save = open(os.path.join(game, "Data.sav"), "rb").read()
        # The desktop's first frame at its own quit save, made at the end of the same play.
        subprocess.run([os.path.join(NATIVE, "tolvane"), "--headless", "--load", "quit",
                        "--frames", "1", "--screenshot", f"1:{work}/quit.bmp",
                        "--state", f"1:{work}/quit.json", game],
                       check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, SDL_AUDIODRIVER="dummy"))

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        port = server.server_address[1]
        profile = os.path.join(work, "profile")

        shots = ",".join(map(str, SHOTS))
        started = time.time()
        # The game's end loads the page again, which reports what the storage holds and starts
        # at the quit save the end wrote.
        reload = urllib.parse.quote("?report=/second&load=quit&shots=1&frames=1&autostart=1")
        run_page(port, profile,
                 f"replay=replay.txt&shots={shots}&frames={FRAMES}&report=/first"
                 f"&autostart=1&trace=1&then={reload}", ("/second", "end", 0), 300)
        kept = reports.get(("/second", "save", 0))
        print(f"the page played {FRAMES} frames, reloaded and loaded its quit save in "
              f"{time.time() - started:.1f} s")
        if reports.get(("/first", "save", 0)) != b"":
            failures.append("the browser's storage held a checkpoint before the first run")

        # Each frame: the page's run and frame, the desktop's files, and its name in a failure.
        frames = [("/first", n, str(n), str(n)) for n in SHOTS]
        frames.append(("/second", 1, "quit", "1 at the quit save"))
        for run, frame, name, n in frames:
            compare_frame(work, run, frame, name, n, failures)

        # The live region beside the canvas, for screen readers: at a click wait the page's text
        # as told, at the choice the text before it and each choice, numbered; together, what
        # the screen shows.
        for frame, at_choice in ((305, False), (2440, True)):
            live = json.loads(reports.get(("/first", "live", frame), b"null") or b"null")
            shown = json.load(open(os.path.join(work, f"{frame}.json")))["text"].replace("\n", "")
            if not live:
                failures.append(f"frame {frame}: the live region is empty (the screen: {shown!r})")
                continue
            choices = [line["text"] for line in live if line["choice"]]
            numbered = all(c.startswith(f"{i + 1}\u3000") for i, c in enumerate(choices))
            told = "".join(line["text"] for line in live if not line["choice"])
            told += "".join(c.split("\u3000", 1)[-1] for c in choices)
            if bool(choices) != at_choice or not numbered or told != shown:
                failures.append(f"frame {frame}: the live region holds {live}, the screen "
                                f"{shown!r}")

        # The same events at the same frames: every picture and sound loaded, every sound played.
        trace = compare_trace(work, "/first", "trace.jsonl", "", failures)
        loads = [json.loads(line) for line in trace if '"sound_load"' in line]
        for kind, music in (("music", 1), ("effects", 0)):
            mine = [e for e in loads if e["music"] == music]
            if not mine or not all(e["ok"] == 1 for e in mine):
                failures.append(f"the page did not load all its {kind}: {mine}")
        plays = sum(1 for line in trace if '"sound_play"' in line)
        print(f"the page loaded {len(loads)} sounds and played {plays}, as the desktop did")
        for run, text in page_errors:
            if run in ("/first", "/second"):
                failures.append(f"the page showed a message: {text}")

        saved = reports.get(("/first", "save", -1), b"")
        if len(saved) != 500 or saved != native_save:
            failures.append(f"the page's checkpoint ({len(saved)} bytes) is not the desktop's "
                            f"({len(native_save)} bytes)")
        if kept != saved:
            failures.append(f"after a reload the browser kept {len(kept)} bytes, not the "
                            f"{len(saved)} written before it")
        server.shutdown()

        play_formats(work, failures)
    finally:
        if failures:
            print(f"(files kept in {work})")
        else:
            shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print(f"PASS: {len(SHOTS)} frames equal the desktop's, the live region holds the page's "
          "text and the choices, the checkpoint kept over a reload, and the quit save loaded "
          f"after it shows the desktop's frame; the formats game's {len(FORMATS_SHOTS)} frames "
          "equal the desktop's")


main()

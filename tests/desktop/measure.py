#!/usr/bin/env python3
"""Measures what the desktop test captured: window pictures written by xwd and the sound written
by SDL's disk audio driver (signed 16-bit little-endian stereo at 44100 Hz).

  measure.py like SHOT.xwd PICTURE.bmp      share of sampled pixels equal to the picture's
  measure.py blend SHOT.xwd UNDER.bmp OVER.bmp ALPHA
                                            share of sampled pixels equal to OVER drawn with
                                            ALPHA (of 255) over UNDER
  measure.py bright SHOT.xwd X0 Y0 X1 Y1    count of near-white pixels in the rectangle
  measure.py pixel SHOT.xwd X Y             the pixel's red, green and blue
  measure.py edges SHOT.xwd X0 Y0 X1 Y1     soft edge pixels of white text, per pixel of ink
  measure.py black SHOT.xwd X0 Y0 X1 Y1     share of black pixels in the rectangle
  measure.py rms SOUND.raw FROM TO          loudness (RMS, of 32768) between two times in seconds
  measure.py find SOUND.raw EFFECT.wav      the time in seconds where the effect starts playing,
                                            and how well its waveform matches there (0..1)
"""
import array
import math
import struct
import sys
import wave

RATE = 44100


def read_xwd(path):
    with open(path, "rb") as f:
        data = f.read()
    header = struct.unpack(">25I", data[:100])
    header_size, version, _format, depth, width, height = header[:6]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    ncolors = header[19]
    # Some servers write 24 for the bits of a pixel that the lines hold in 32.
    if version != 7 or depth != 24 or bytes_per_line < width * 4 or bits_per_pixel not in (24, 32):
        sys.exit(f"{path}: expected a 24-bit picture in 32-bit pixels (xwd version 7)")
    offset = header_size + ncolors * 12
    little = byte_order == 0

    def pixel(x, y):
        at = offset + y * bytes_per_line + x * 4
        b0, b1, b2, b3 = data[at : at + 4]
        # 0x00RRGGBB in the server's byte order.
        return (b2, b1, b0) if little else (b1, b2, b3)

    return width, height, pixel


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 24:
        sys.exit(f"{path}: expected a 24-bit picture")
    row = (width * 3 + 3) & ~3
    bottom_up = height > 0
    height = abs(height)

    def pixel(x, y):
        r = (height - 1 - y) if bottom_up else y
        at = offset + r * row + x * 3
        b, g, rr = data[at : at + 3]
        return (rr, g, b)

    return width, height, pixel


def like(shot, picture):
    w, h, shot_px = read_xwd(shot)
    pw, ph, pic_px = read_bmp(picture)
    same = total = 0
    for y in range(5, min(h, ph), 20):
        for x in range(5, min(w, pw), 20):
            total += 1
            a, b = shot_px(x, y), pic_px(x, y)
            same += all(abs(p - q) <= 24 for p, q in zip(a, b))
    print(f"{same / max(total, 1):.3f}")


def blend(shot, under, over, alpha):
    w, h, shot_px = read_xwd(shot)
    _, _, under_px = read_bmp(under)
    _, _, over_px = read_bmp(over)
    a = alpha / 255
    same = total = 0
    for y in range(5, h, 20):
        for x in range(5, w, 20):
            total += 1
            want = [u * (1 - a) + o * a for u, o in zip(under_px(x, y), over_px(x, y))]
            same += all(abs(p - q) <= 24 for p, q in zip(shot_px(x, y), want))
    print(f"{same / max(total, 1):.3f}")


def bright(shot, x0, y0, x1, y1):
    _, _, px = read_xwd(shot)
    print(sum(1 for y in range(y0, y1) for x in range(x0, x1) if min(px(x, y)) >= 230))


def read_raw(path):
    samples = array.array("h")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    if sys.byteorder != "little":
        samples.byteswap()
    if len(samples) % 2:
        samples = samples[:-1]
    return samples


def rms(path, start, end):
    samples = read_raw(path)
    a, b = int(start * RATE) * 2, int(end * RATE) * 2
    chunk = samples[a:b]
    print(f"{math.sqrt(sum(s * s for s in chunk) / max(len(chunk), 1)):.1f}")


def find(path, effect):
    import numpy as np

    with wave.open(effect) as w:
        if w.getsampwidth() != 2:
            sys.exit(f"{effect}: expected 16-bit samples")
        rate, channels = w.getframerate(), w.getnchannels()
        frames = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(float)
    own = frames.reshape(-1, channels).mean(axis=1)
    # The effect at the output's rate, from its first sound on, 25 ms of it: the game's first
    # page starts its music (which cuts the start sound off) a few frames after the click.
    own = own[np.argmax(np.abs(own) > 64) :]
    times = np.arange(int(len(own) * RATE / rate)) * rate / RATE
    wanted = np.interp(times, np.arange(len(own)), own)[: RATE // 40]
    wanted = wanted - wanted.mean()
    n = len(wanted)

    with open(path, "rb") as f:
        heard = np.frombuffer(f.read(), "<i2")
    heard = heard[: len(heard) // 2 * 2].astype(float).reshape(-1, 2).mean(axis=1)
    if len(heard) < n:
        print("0.000 0.000")
        return
    # Normalised cross-correlation of the waveforms, through the FFT: the effect's own shape,
    # which music does not have, whatever its loudness.
    size = 1 << int(np.ceil(np.log2(len(heard) + n)))
    corr = np.fft.irfft(np.fft.rfft(heard, size) * np.conj(np.fft.rfft(wanted, size)), size)
    corr = corr[: len(heard) - n + 1]
    energy = np.concatenate(([0.0], np.cumsum(heard * heard)))
    local = np.sqrt(np.maximum(energy[n:] - energy[:-n], 0.0))
    score = np.where(local > 1e-3 * n, corr / (local * np.linalg.norm(wanted) + 1e-9), 0.0)
    best = int(np.argmax(score))
    print(f"{best / RATE:.3f} {score[best]:.3f}")


def edges(path, x0, y0, x1, y1):
    """How soft the text's edges are in a rectangle of a window picture: the pixels part way
    between the dark text box and the white ink, for each pixel of full ink. Glyphs drawn for the
    screen's pixels keep an edge a pixel or so wide at any size, so the larger the text the lower
    this; text stretched from a smaller picture has edges as wide as it was stretched."""
    _, _, px = read_xwd(path)
    ink = part = 0
    for y in range(y0, y1):
        for x in range(x0, x1):
            r, g, b = px(x, y)
            lum = (r * 299 + g * 587 + b * 114) // 1000
            if min(r, g, b) >= 235:
                ink += 1
            elif 110 <= lum < 235:
                part += 1
    print(f"{part / max(ink, 1):.3f}")


def black(path, x0, y0, x1, y1):
    """The share of pure black pixels in a rectangle of a window picture."""
    _, _, px = read_xwd(path)
    n = sum(1 for y in range(y0, y1) for x in range(x0, x1) if px(x, y) == (0, 0, 0))
    print(f"{n / max((x1 - x0) * (y1 - y0), 1):.3f}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    command, args = sys.argv[1], sys.argv[2:]
    if command == "like":
        like(*args)
    elif command == "blend":
        blend(args[0], args[1], args[2], int(args[3]))
    elif command == "bright":
        bright(args[0], *map(int, args[1:5]))
    elif command == "pixel":
        _, _, px = read_xwd(args[0])
        print(*px(int(args[1]), int(args[2])))
    elif command == "edges":
        edges(args[0], *map(int, args[1:5]))
    elif command == "black":
        black(args[0], *map(int, args[1:5]))
    elif command == "rms":
        rms(args[0], float(args[1]), float(args[2]))
    elif command == "find":
        find(args[0], args[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()

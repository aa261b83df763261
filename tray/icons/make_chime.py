#!/usr/bin/env python3
"""Writes the tray's notification sound: a soft two-note chime, 16-bit mono PCM WAV."""
import math
import struct
import sys
import wave

RATE = 44100
# Two notes a fifth apart (A5, E6), the second starting while the first rings out.
NOTES = ((880.0, 0.00, 0.30), (1318.5, 0.12, 0.34))
LENGTH = 0.48
VOLUME = 0.32


def sample(t):
    value = 0.0
    for freq, start, length in NOTES:
        local = t - start
        if 0.0 <= local < length:
            attack = min(1.0, local / 0.008)  # no click at the onset
            decay = math.exp(-local * 9.0)
            release = min(1.0, (length - local) / 0.03)  # nor at the end
            tone = math.sin(2 * math.pi * freq * local) + 0.25 * math.sin(4 * math.pi * freq * local)
            value += attack * decay * release * tone
    return value


def main(path):
    frames = bytearray()
    for i in range(int(RATE * LENGTH)):
        value = max(-1.0, min(1.0, VOLUME * sample(i / RATE)))
        frames += struct.pack("<h", int(value * 32767))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_chime.py OUTPUT.wav")
    main(sys.argv[1])

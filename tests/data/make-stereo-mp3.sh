#!/usr/bin/env bash
# Writes stereo-vbr.mp3: 1.5 s of 44.1 kHz joint-stereo MP3 at a variable
# bit rate, a different signal in each channel (a rising tone on the left,
# a chord with a little noise on the right), no Xing/LAME header frame.
# Needs python3 and lame; the result is committed, so only run this to
# make the file again.
set -euo pipefail
cd "$(dirname "$0")"
python3 - <<'PY' | lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -m j -V 2 -t - stereo-vbr.mp3
import math, random, struct, sys
random.seed(13)
rate, seconds = 44100, 1.5
out = bytearray()
for i in range(int(rate * seconds)):
    t = i / rate
    left = 0.5 * math.sin(2 * math.pi * (300 + 400 * t) * t)
    right = 0.25 * (math.sin(2 * math.pi * 523.25 * t) + math.sin(2 * math.pi * 659.25 * t)) \
        + 0.05 * (random.random() * 2 - 1) * (1 + math.sin(2 * math.pi * 3 * t))
    out += struct.pack('<hh', int(left * 32767), int(right * 32767))
sys.stdout.buffer.write(out)
PY

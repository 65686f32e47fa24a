#!/usr/bin/python3
"""The picture script on LyraneTuning's own output: each PNG reads back with
Pillow at the stated size, and a missing input gets one message and status 1.

usage: tuning_plot_test.py LYRANETUNING PLOT_SCRIPT COEFFICIENT_FILE
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import wave

from PIL import Image

EXPECTED_SIZE = (1280, 800)
RATE = 16000

# One section the library refuses (poles at radius 1.1) beside a plain one.
REFUSED_SECTION = """
fs = 16000;
gain = 0.5;
b0 = [ 0.5, 0.3 ];
b1 = [ 0.0, 0.2 ];
b2 = [ 0.0, 0.1 ];
a1 = [ -0.5, 0.0 ];
a2 = [ 0.0, 1.21 ];
"""


def write_bursts(path):
    """3 s of 300 Hz bursts, quiet then loud: speech enough for the detector."""
    frames = bytearray()
    for i in range(3 * RATE):
        t = i / RATE
        amplitude = (0.02 if t < 1.5 else 0.8) * (1.0 if (t % 0.25) < 0.15 else 0.0)
        frames += struct.pack("<h", int(32767 * amplitude * math.sin(2 * math.pi * 300 * t)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def run(command):
    result = subprocess.run(command, capture_output=True, text=True)
    return result.returncode, result.stdout, result.stderr


def check(condition, message):
    if not condition:
        print("FAILED: " + message)
        sys.exit(1)


def expect_picture(plot, kind, prefix):
    status, out, err = run([plot, kind, prefix])
    check(status == 0, f"{kind} picture: status {status}: {err}")
    path = prefix + f".{kind}.png"
    check(out.strip() == path, f"{kind} picture: printed {out!r}, expected {path}")
    with Image.open(path) as image:
        check(image.format == "PNG", f"{path} is {image.format}, not PNG")
        check(image.size == EXPECTED_SIZE, f"{path} is {image.size}, not {EXPECTED_SIZE}")


def main(tuning, plot, coefficients):
    # A cross build names the emulator that runs LyraneTuning.
    tuning = os.environ.get("LYRANE_TARGET_EMULATOR", "").split() + [tuning]
    with tempfile.TemporaryDirectory() as scratch:
        shipped = os.path.join(scratch, "shipped")
        status, _, err = run(tuning + ["response", "--output", shipped, coefficients])
        check(status == 0, f"response of {coefficients}: {err}")
        expect_picture(plot, "response", shipped)

        refused_file = os.path.join(scratch, "refused.cfg")
        with open(refused_file, "w") as f:
            f.write(REFUSED_SECTION)
        refused = os.path.join(scratch, "refused")
        status, _, err = run(tuning + ["response", "--output", refused, refused_file])
        check(status == 0, f"response of {refused_file}: {err}")
        expect_picture(plot, "response", refused)

        recording = os.path.join(scratch, "bursts.wav")
        write_bursts(recording)
        profile = os.path.join(scratch, "profile.cfg")
        with open(profile, "w") as f:
            f.write(f'equalizer_coefficients_file = "{coefficients}";\n'
                    "equalizer_enabled = true;\nagc_enabled = true;\n"
                    "agc_decrease_max_gain = true;\nagc_max_gain_db = 18.0;\n"
                    "volume_db = 0.0;\n")
        trace = os.path.join(scratch, "trace")
        status, _, err = run(tuning + ["trace", "--output", trace, recording, profile])
        check(status == 0, f"trace of {recording}: {err}")
        expect_picture(plot, "trace", trace)

        missing = os.path.join(scratch, "nothing")
        for kind in ("response", "trace"):
            status, out, err = run([plot, kind, missing])
            check(status == 1, f"{kind} of a missing prefix: status {status}")
            check(out == "" and err.count("\n") == 1 and missing in err,
                  f"{kind} of a missing prefix: {err!r}")
            check(not os.path.exists(missing + f".{kind}.png"), "a picture of nothing was drawn")
    print("tuning_plot_test: all pictures read back at 1280 x 800")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(*sys.argv[1:])

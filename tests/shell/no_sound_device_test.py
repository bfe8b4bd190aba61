#!/usr/bin/env python3
"""When no sound device opens, korvel says so in one line and nothing else
reaches the terminal (no lines of the audio libraries themselves)."""
import argparse
import os
import subprocess
import sys

# Ways of having no device: ALSA with a device that does not exist, and an
# audio driver SDL does not have.
CASES = [
    ("alsa, no such device", {"SDL_AUDIODRIVER": "alsa", "AUDIODEV": "korvel-no-such-device"}),
    ("no such driver", {"SDL_AUDIODRIVER": "korvel-no-such-driver"}),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korvel", required=True)
    ap.add_argument("--project", required=True)
    a = ap.parse_args()
    failures = 0
    for name, extra in CASES:
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(extra)
        # The real clock: only then does the player open the speakers.
        r = subprocess.run([os.path.abspath(a.korvel), "--headless", "--until", "300", a.project], env=env,
                           cwd=os.path.dirname(a.project), capture_output=True, text=True, timeout=60)
        # Without a session bus the player also says once that remote control is off.
        lines = [l for l in r.stderr.splitlines() if "remote control is off" not in l]
        if r.returncode != 0 or len(lines) != 1 or not lines[0].startswith("korvel: no sound output"):
            print(f"FAIL {name}: status {r.returncode}, standard error:\n{r.stderr}")
            failures += 1
        else:
            print(f"ok {name}: {lines[0]}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Stored fields of the common and visible records that show on the stage:
layers (a smaller layer is nearer the front), a transparent colour equal to
the fill (a hollow rectangle), an object taken off after its display time,
a delay before acting, and an object held until an Orlan insert shows it.
Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

GREEN, RED, BLUE, WHITE = 0x0000FF00, 0x000000FF, 0x00FF0000, 0x00FFFFFF
KEY = 0x00F0F8F8          # the default transparent colour
HELD = 4                  # shown only on request


def flat(name, rect, colour, **fields):
    return kv.Rectangle(name, rect=rect, fillColor=colour, shadowX=0, shadowY=0, **fields)


def documents():
    variables = [kv.Variable("log", kv.STRING)]
    items = [
        kv.VarGroup("G", variables, name="globals"),
        # Two overlapping rectangles: the later one has the greater layer and
        # so lies behind.
        flat("front", (2, 2, 20, 20), RED, layer=10),
        flat("back", (10, 10, 30, 30), GREEN, layer=50),
        # Filled with its own transparent colour: only the outline is drawn,
        # over a blue rectangle behind it.
        flat("behind", (34, 2, 62, 22), BLUE, layer=60),
        flat("hollow", (38, 6, 58, 18), KEY, layer=5, transparent=1, transparentColor=KEY),
        # Taken off the stage 100 ms after it was shown; the runner waits.
        flat("brief", (2, 34, 14, 46), RED, whenDone=0, displayTime=100),
        flat("held", (20, 34, 32, 46), BLUE, showMode=HELD),
        # Waits 150 ms before acting.
        kv.Orlan("late", "late.ebc", delayMs=150),
    ]
    project = kv.Document(items, tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0)],
                          stage=kv.Stage(64, 48, WHITE))
    return {"main.kvp": project}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

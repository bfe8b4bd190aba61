#!/usr/bin/env python3
"""Two rectangles stored with `threaded` set, so each plays in a thread of
its own as a thread copy; the second is also held. An Orlan insert on the
project thread hides the first, plays the held one and moves it: the
requests must reach the copies, which own what is on the stage.
Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

RED, BLUE, WHITE = 0x000000FF, 0x00FF0000, 0x00FFFFFF
HELD = 4


def documents():
    box = kv.Rectangle("box", rect=(2, 2, 20, 20), fillColor=RED, shadowX=0, shadowY=0,
                       threaded=1)
    held = kv.Rectangle("held", rect=(30, 2, 50, 20), fillColor=BLUE, shadowX=0, shadowY=0,
                        threaded=1, showMode=HELD)
    project = kv.Document(
        [kv.VarGroup("G", [kv.Variable("where", kv.STRING)], name="globals"),
         box, held, kv.Orlan("driver", "driver.ebc")],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0)], stage=kv.Stage(64, 48, WHITE))
    return {"main.kvp": project}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

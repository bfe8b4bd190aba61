#!/usr/bin/env python3
"""A one-scene project with a rectangle, a text and an Orlan insert that reads
their stored fields back and hides, shows and moves them while the frames
are rendered. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

RED, BLUE, GREY, BLACK, WHITE = 0x000000FF, 0x00FF0000, 0x00808080, 0x00000000, 0x00FFFFFF
YELLOW = 0x0000FFFF   # 0x00BBGGRR


def documents():
    variables = [kv.Variable("info", kv.STRING), kv.Variable("moved", kv.STRING),
                 kv.Variable("err", kv.INT4), kv.Variable("done", kv.INT2)]
    project = kv.Document(
        [kv.VarGroup("G", variables, name="globals"),
         kv.Flow(53, "stage.kvs", name="enter")],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0),
              kv.Node("stage.kvs", kv.KIND_SCENE, 1)],
        stage=kv.Stage(64, 48, WHITE, "independent stage"))
    box = kv.Rectangle("box", rect=(4, 4, 20, 20), layer=10, comment="red box",
                       fillColor=RED, fillBackColor=YELLOW, penColor=BLACK,
                       shadowX=2, shadowY=2, shadowColor=GREY)
    label = kv.Text("label", "Hi", rect=(26, 4, 62, 22), layer=20, penColor=BLUE,
                    shadowColor=GREY)
    mover = kv.Orlan("mover", "mover.ebc", rect=(0, 0, 0, 0), layer=1)
    scene = kv.Document([box, label, mover], scene=True)
    return {"main.kvp": project, "stage.kvs": scene}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

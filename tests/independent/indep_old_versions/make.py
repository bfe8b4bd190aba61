#!/usr/bin/env python3
"""A project written in older record versions throughout: a version-3
project with version-1 and version-2 tree nodes and older common records, a
version-1 scene holding a rectangle of visible-insert version 1, a text of
text version 1, a wait of version 1 (a wait style) and an Orlan insert of
common-record version 1, and a newest-version second scene. The Orlan
inserts read back what the reader made of it. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

BLUE, RED, WHITE = 0x00FF0000, 0x000000FF, 0x00FFFFFF
GOTO_SCENE = 53


def documents():
    variables = [kv.Variable("info", kv.STRING), kv.Variable("reached", kv.INT4),
                 kv.Variable("done", kv.INT2)]
    project = kv.Document(
        [kv.VarGroup("G", variables, name="globals", recordVersion=1),
         kv.Flow(GOTO_SCENE, "one.kvs", name="enter", recordVersion=2),
         kv.Bottom(recordVersion=3)],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0, version=2),
              # A version-1 node's path is completed with ".kvs".
              kv.Node("one", kv.KIND_SCENE, 1, version=1),
              kv.Node("two.kvs", kv.KIND_SCENE, 1, description="second", version=3)],
        stage=kv.Stage(64, 48, WHITE, "old"), version=3)
    box = kv.Rectangle("box", rect=(4, 4, 20, 20), layer=5, fillColor=BLUE,
                       shadowX=0, shadowY=0, recordVersion=4, visibleVersion=1)
    label = kv.Text("label", "Old", rect=(26, 4, 62, 22), penColor=RED,
                    textVersion=1, visibleVersion=2)
    pause = kv.Wait(30, name="pause", waitVersion=1, recordVersion=3)
    reader = kv.Orlan("reader", "one.ebc", recordVersion=1, visibleVersion=3)
    one = kv.Document([box, label, pause, reader], scene=True, version=1)
    two = kv.Document([kv.Orlan("closer", "two.ebc")], scene=True)
    return {"main.kvp": project, "one.kvs": one, "two.kvs": two}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

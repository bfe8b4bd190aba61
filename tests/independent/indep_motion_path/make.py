#!/usr/bin/env python3
"""A rectangle carrying a type-4 motion path of two straight segments, with
a handler for each node's event, and an Orlan insert that asks where the
object stands once the path has run: the sprite's place, not the stored
rectangle. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

DO_NOTHING = 62
RED, WHITE = 0x000000FF, 0x00FFFFFF


def documents():
    variables = [kv.Variable("where", kv.STRING), kv.Variable("size", kv.STRING)]
    nodes = [kv.PathNode(10, 10, 8, 8, stepDelay=10, event=9040),
             kv.PathNode(40, 10, 8, 8, stepDelay=10, event=9031),
             kv.PathNode(40, 40, 16, 8, stepDelay=10, event=9043)]
    box = kv.Rectangle("box", rect=(6, 6, 14, 14), fillColor=RED, shadowX=0, shadowY=0)
    box.path = kv.type4_path(nodes)
    for node in nodes:
        box.handler(node.event, DO_NOTHING)
    project = kv.Document(
        [kv.VarGroup("G", variables, name="globals"), box, kv.Orlan("asker", "asker.ebc")],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0)], stage=kv.Stage(64, 48, WHITE))
    return {"main.kvp": project}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

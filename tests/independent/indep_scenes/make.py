#!/usr/bin/env python3
"""A project of two scenes and a freestyle script. A script flow command of
the project enters the first scene; the first scene's Orlan insert reads the
project tree and goes to the second scene, whose insert calls the freestyle
script (whose default variable group is the second group) and halts the
project. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

GOTO_SCENE = 53


def documents():
    variables = [
        kv.Variable("visits", kv.STRING),
        kv.Variable("hops", kv.INT2, 0),
        kv.Variable("tree", kv.STRING),
    ]
    # A second group with a variable of the same name: the freestyle script
    # names it as its default group, so its lookups find this one.
    others = [kv.Variable("hops", kv.INT2, 7)]
    project = kv.Document(
        [kv.VarGroup("G", variables, name="globals"),
         kv.VarGroup("B", others, name="others"),
         kv.Flow(GOTO_SCENE, "one.kvs", name="start")],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0, description="the project"),
              kv.Node("one.kvs", kv.KIND_SCENE, 1, description="first scene"),
              kv.Node("two.kvs", kv.KIND_SCENE, 1, description="second scene"),
              kv.Node("free.kvs", kv.KIND_FREESTYLE, 1, description="called")])
    one = kv.Document([kv.Orlan("first", "one.ebc")], scene=True)
    two = kv.Document([kv.Orlan("second", "two.ebc")], scene=True)
    free = kv.Document([kv.Orlan("helper", "free.ebc")], defaultGroup="B")
    return {"main.kvp": project, "one.kvs": one, "two.kvs": two, "free.kvs": free}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

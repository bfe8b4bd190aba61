#!/usr/bin/env python3
"""The Orlan programs a project tree names: the project node's program is
the project's Orlan object, whose subroutine a counted timer's handler calls
each period (command 33); a scene node's program is that scene's module,
whose subroutine a script flow insert of the scene calls (command 32).
Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

GOTO_SCENE, CALL_SCRIPT_SUB, CALL_PROJECT_SUB = 53, 32, 33
PERIOD_EXPIRED = 9023
WHEN_SCENE_READY = 3


def documents():
    variables = [kv.Variable("ticks", kv.INT4), kv.Variable("said", kv.STRING)]
    timer = kv.Timer("tick", kv.Timer.COUNTED, 100, 3, showMode=WHEN_SCENE_READY)
    timer.handler(PERIOD_EXPIRED, CALL_PROJECT_SUB, "Tick")
    project = kv.Document(
        [kv.VarGroup("G", variables, name="globals"), timer,
         kv.Flow(GOTO_SCENE, "scene.kvs", name="enter")],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0, orlanFile="project.ebc"),
              kv.Node("scene.kvs", kv.KIND_SCENE, 1, orlanFile="module.ebc")])
    scene = kv.Document([kv.Flow(CALL_SCRIPT_SUB, "Hello", name="greet")], scene=True)
    return {"main.kvp": project, "scene.kvs": scene}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

#!/usr/bin/env python3
"""A project in the forms the player's reader must take but its own writer
never makes: every string of the project file in the wide form, a version-5
project with a version-2 collection record and control tables holding
single-byte and wide records, and a freestyle script without the extended
document header. The Orlan insert reads back the texts and the stage size,
which come after the tables and would be garbled by a misread record.
Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

CALL_FREESTYLE = 0


def documents():
    variables = [
        kv.Variable("greet", kv.STRING, "Grüße € Ω"),
        kv.Variable("long", kv.STRING, "".join(chr(ord("a") + i % 26) for i in range(300))),
        kv.Variable("count", kv.INT4, 41),
        kv.Variable("info", kv.STRING),
        kv.Variable("trail", kv.STRING),
    ]
    stage = kv.Stage(72, 40, 0x00FFFFFF, "Wide caption €")
    stage.collectionVersion = 2
    stage.collectionLead = 7
    stage.collectionValues = (1, 2, 3, 4)
    stage.collectionTexts = ("one", "two", "three", "four")
    stage.collectionList = ["x", "y"]
    stage.controlTables = (
        [kv.ControlRecord((10, 20, 1, 2, 3), "narrow"),
         kv.ControlRecord((30, 40, 4, 5, 6), "wide one", wide=True)],
        [kv.ControlRecord((1, 1, 1, 1, 1), "w", wide=True),
         kv.ControlRecord((2, 2, 2, 2, 2), "exactly twenty-one c"),
         kv.ControlRecord((3, 3, 3, 3, 3), "twenty-one wide chars", wide=True)])
    project = kv.Document(
        [kv.VarGroup("G", variables, name="globals"),
         kv.Flow(CALL_FREESTYLE, "plain.kvs", name="call"),
         kv.Orlan("check", "check.ebc", comment="wide comment")],
        tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0),
              kv.Node("plain.kvs", kv.KIND_FREESTYLE, 1, description="no header")],
        stage=stage, version=5)
    project.wideStrings = True
    plain = kv.Document([kv.Orlan("plain", "plain.ebc")])
    plain.formatTag = 0
    return {"main.kvp": project, "plain.kvs": plain}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

#!/usr/bin/env python3
"""A project large enough for the archive's long forms: 70,000 variables (a
count of 0xFFFF or more, entry numbers past 0x7FFF), strings of 300 and
70,000 characters, a class first met past entry 0x7FFF and then referred to
in the long form, and one handler object shared by two inserts, the second
time as a long object reference. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

COUNT = 70000
DO_NOTHING = 62


def documents():
    variables = [kv.Variable("v%d" % i, kv.INT2, i % 30000) for i in range(COUNT)]
    variables += [
        kv.Variable("s300", kv.STRING, "".join(chr(ord("A") + i % 26) for i in range(300))),
        kv.Variable("s70k", kv.STRING, "x" * 69999 + "z"),
        kv.Variable("out", kv.STRING),
    ]
    reader = kv.Orlan("reader", "large.ebc")
    # CFlow is first met here, past entry 0x7FFF; the second handler refers
    # to the class in the long form.
    reader.handler(9039, DO_NOTHING).handler(9000, DO_NOTHING)
    shared = kv.Flow(DO_NOTHING, eventCode=9013)
    reader.handlers.append(shared)
    pause = kv.Wait(5, name="pause")
    pause.handlers.append(shared)      # written again: a long object reference
    project = kv.Document([kv.VarGroup("G", variables, name="globals"), reader, pause],
                          tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0)])
    return {"main.kvp": project}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

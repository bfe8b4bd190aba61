#!/usr/bin/env python3
"""A project whose Orlan insert reads the initial value of a variable of
every type, writes new values of every type, and handles its own run-time
errors. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

VARIABLES = [
    kv.Variable("i2", kv.INT2, -300),
    kv.Variable("w", kv.WORD, 54321),
    kv.Variable("b", kv.BOOL, 0xFFFF),
    kv.Variable("i4", kv.INT4, -123456789),
    kv.Variable("dw", kv.DWORD, 3000000000),
    kv.Variable("d", kv.DOUBLE, 2.75),
    kv.Variable("s", kv.STRING, "Grüße"),
    kv.Variable("readback", kv.STRING),
    kv.Variable("errs", kv.STRING),
    kv.Variable("mismatch", kv.INT4, 77),
    kv.Variable("done", kv.INT4),
]


def documents():
    items = [
        kv.VarGroup("G", VARIABLES, name="globals"),
        kv.Orlan("driver", "vars.ebc", comment="reads and writes every type"),
    ]
    tree = [kv.Node("main.kvp", kv.KIND_PROJECT, 0)]
    return {"main.kvp": kv.Document(items, tree=tree)}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

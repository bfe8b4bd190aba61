#!/usr/bin/env python3
"""Calculations, a comparison whose outcome handler jumps to a label, and a
jump over an insert, around Orlan inserts that seed the loop and read the
result. Usage: make.py OUTDIR"""
import os
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kvwrite as kv  # noqa: E402

JUMP_TO_LABEL = 38


def documents():
    variables = [kv.Variable("n", kv.INT4), kv.Variable("total", kv.DOUBLE),
                 kv.Variable("msg", kv.STRING, "Score"), kv.Variable("seen", kv.STRING)]
    more = kv.Compare(kv.var("n"), kv.const(0), name="more")
    more.handler(kv.Compare.GREATER, JUMP_TO_LABEL, "top")
    items = [
        kv.VarGroup("G", variables, name="globals"),
        kv.Orlan("seed", "seed.ebc"),
        kv.Label("top"),
        kv.Calc("total", kv.Calc.ADD, kv.var("total"), kv.var("n"), name="sum"),
        kv.Calc("n", kv.Calc.SUBTRACT, kv.var("n"), kv.const(1), name="count"),
        more,
        kv.Calc("msg", kv.Calc.ADD, kv.var("msg"), kv.var("total"), name="append"),
        kv.Jump(kv.Jump.TO_LABEL, "end", name="over"),
        kv.Orlan("skipped", "seed.ebc"),
        kv.Label("end"),
        kv.Orlan("report", "report.ebc"),
    ]
    project = kv.Document(items, tree=[kv.Node("main.kvp", kv.KIND_PROJECT, 0)])
    return {"main.kvp": project}


if __name__ == "__main__":
    for name, doc in documents().items():
        doc.save(os.path.join(sys.argv[1], name))

#!/usr/bin/env python3
"""What a screen reader sees of a running program, as JSON.

usage: atspi_dump.py APPLICATION TIMEOUT CONDITION FILE [CONDITION FILE ...]

For each CONDITION in turn, waits (at most TIMEOUT seconds) until the accessible tree of the
application named APPLICATION on the session's accessibility bus meets it, then writes the tree
to FILE: every object as {"role", "name", "description", "states", "children"}. Conditions:
  badge    a page tab list with five page tabs, one of them selected, one with a badge
  alert    an alert that is showing
  recruit  a list that holds list items
Exits 1 when a condition is not met in time (the tree as it was is written all the same).
"""

import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

MAX_NODES = 4000


def states_of(node):
    try:
        return sorted(s.value_nick for s in node.get_state_set().get_states())
    except Exception:
        return []


def dump(node, budget):
    if budget[0] <= 0:
        return None
    budget[0] -= 1
    try:
        out = {
            "role": node.get_role_name(),
            "name": node.get_name() or "",
            "description": node.get_description() or "",
            "states": states_of(node),
            "children": [],
        }
        # The page's own tree is the web engine's business.
        if out["role"] in ("document web", "document frame"):
            return out
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child is not None:
                d = dump(child, budget)
                if d is not None:
                    out["children"].append(d)
        return out
    except Exception as error:  # an object that went away while we looked
        return {"role": "gone", "name": str(error), "description": "", "states": [], "children": []}


def application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def walk(tree):
    yield tree
    for child in tree["children"]:
        yield from walk(child)


def met(condition, tree):
    nodes = list(walk(tree))
    if condition == "badge":
        for n in nodes:
            if n["role"] == "page tab list":
                tabs = [c for c in n["children"] if c["role"] == "page tab"]
                if (len(tabs) == 5 and any("selected" in t["states"] for t in tabs)
                        and any(t["description"] for t in tabs)):
                    return True
        return False
    if condition == "alert":
        return any(n["role"] == "alert" and "showing" in n["states"] for n in nodes)
    if condition == "recruit":
        return any(n["role"] == "list" and any(c["role"] == "list item" for c in n["children"]) for n in nodes)
    raise SystemExit("unknown condition: " + condition)


def main():
    if len(sys.argv) < 5 or len(sys.argv) % 2 == 0:
        raise SystemExit(__doc__)
    name, timeout = sys.argv[1], float(sys.argv[2])
    pairs = list(zip(sys.argv[3::2], sys.argv[4::2]))
    status = 0
    for condition, path in pairs:
        deadline = time.monotonic() + timeout
        tree = {"role": "none", "name": "", "description": "", "states": [], "children": []}
        ok = False
        while time.monotonic() < deadline:
            app = application(name)
            if app is not None:
                tree = dump(app, [MAX_NODES])
                if met(condition, tree):
                    ok = True
                    break
            time.sleep(0.25)
        with open(path, "w") as out:
            json.dump(tree, out)
        if not ok:
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())

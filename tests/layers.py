#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fails, naming each include, when a file includes a layer above its own
(docs/architecture.md) or window files include each other in a loop."""
import graphlib
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
WINDOWS = 5
LAYERS = [('platform/', 0), ('store/', 1), ('process/', 2), ('gate/', 2), ('design/frmAbout', WINDOWS),
          ('guard/frm', WINDOWS), ('guard/', 3), ('design/', 4), ('widgets/', 4), ('lists/', WINDOWS),
          ('tray/', WINDOWS), ('app/', 6)]


def layer(path):
    return next((level for prefix, level in LAYERS if path.startswith(prefix)), None)


def window(path):
    # A window and the files of its parts: guard/frmMain_alert.cpp is frmMain's.
    return re.sub(r'_\w+$', '', os.path.splitext(path)[0])


faults = []
edges = {}
for top in sorted({prefix.split('/')[0] for prefix, _ in LAYERS}):
    for folder, _, names in os.walk(os.path.join(root, top)):
        for name in sorted(names):
            if not name.endswith(('.cpp', '.h')):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            with open(os.path.join(root, path), encoding='utf-8') as source:
                included = re.findall(r'^#include "([^"]+)"', source.read(), re.M)
            for header in included:
                if layer(header) is None:
                    continue
                if layer(header) > layer(path):
                    faults.append(f'{path} includes {header}, a layer above its own')
                if layer(path) == WINDOWS and layer(header) == WINDOWS and window(header) != window(path):
                    edges.setdefault(window(path), set()).add(window(header))


try:
    graphlib.TopologicalSorter(edges).prepare()
except graphlib.CycleError as error:
    faults.append('windows include each other in a loop: ' + ' -> '.join(reversed(error.args[1])))
for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)

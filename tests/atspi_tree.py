#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the accessibility tree of the application whose process id is the
# argument, one node a line: role|name|actions|description.
import sys
import time

import pyatspi


def find(pid):
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.1)
    sys.exit("no application with id %d on the accessibility bus" % pid)


def walk(node):
    try:
        action = node.queryAction()
        actions = [action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        actions = []
    print("%s|%s|%s|%s" % (node.getRoleName(), node.name, ",".join(actions), node.description))
    for child in node:
        if child is not None:
            walk(child)


walk(find(int(sys.argv[1])))

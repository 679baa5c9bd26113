#!/usr/bin/env python3
"""The hops of the timed chat lines, from the two programs' hop traces
(QIMBO_NET_TRACE) and the drivers' output (its "sent" lines, and the
watcher's "seen" lines where it holds them):
    chat_hops.py TRACE-A TRACE-B DRIVER-OUTPUT PREFIX
prints the median and the worst of each hop over the lines found in all of them."""
import re
import statistics
import sys


def load(path):
    marks = []
    for raw in open(path, 'rb'):
        m = re.match(r'([\d.]+) (\S+) ?(.*)', raw.decode('gbk', 'replace').rstrip('\n'))
        if m:
            marks.append((float(m.group(1)), m.group(2), m.group(3)))
    return marks


def first(marks, hop, key, after=0.0):
    return next((t for t, h, x in marks if h == hop and key in x and t >= after), None)


a, b = load(sys.argv[1]), load(sys.argv[2])
sent, seen = {}, {}
for line in open(sys.argv[3], encoding='utf-8', errors='replace'):
    w = line.split()
    if len(w) == 3 and w[0] in ('sent', 'seen'):
        (sent if w[0] == 'sent' else seen)[int(w[1])] = float(w[2])
prefix = sys.argv[4]
names = ["A: the click (SendInput) to 发送's handler", "A: the handler to B's datagram sent", "the network to B's receive",
         "B: the receive to the line handled", "B: handled to the chat window's message", "B: the line put in and drawn",
         "the watcher sees it (B's window answers)"]
hops = [[] for _ in names]
for i, t0 in sorted(sent.items()):
    key = '%s%d;' % (prefix, 100 + i)
    clicked = first(a, 'clicked', key)
    # A sends to B first, to its own record last.
    out = first(a, 'sent', key, clicked or 0)
    received = first(b, 'received', key)
    handled = first(b, 'handled', key)
    arrived = first(b, 'arrived', '', handled or 0)
    shown = first(b, 'shown', key)
    t = [t0, clicked, out, received, handled, arrived, shown, seen.get(i)]
    if t[-1] is None:  # a driver output without the watcher's lines
        t.pop()
    if None not in t:
        for k in range(len(t) - 1):
            hops[k].append(t[k + 1] - t[k])
# The last hop in its steps: the drawing held, the pieces put in, the view
# scrolled, and the drawing let go (the text above moved, the new strip drawn).
steps = ["held", "put-in", "scrolled"]
step_names = ["    the line taken, its drawing held", "    the pieces put in", "    scrolled", "    drawn again"]
parts = [[] for _ in step_names]
for i in sorted(sent):
    key = '%s%d;' % (prefix, 100 + i)
    handled = first(b, 'handled', key)
    arrived = first(b, 'arrived', '', handled or 0)
    shown = first(b, 'shown', key)
    t = [arrived]
    for s in steps:
        t.append(first(b, s, '', t[-1] or 0))
    t.append(shown)
    if None not in t and t[-2] <= t[-1]:
        for k in range(len(step_names)):
            parts[k].append(t[k + 1] - t[k])
for name, v in list(zip(names, hops)) + list(zip(step_names, parts)):
    if v:
        print("  %-44s median %6.2f ms, worst %6.2f ms (%d lines)" % (name, statistics.median(v), max(v), len(v)))

#!/usr/bin/python3
"""Folds `perf script` output into stacks and draws them as a flame graph (SVG).

    perf script -i perf.data | bench/flamegraph.py TITLE > graph.svg

Each sample's call chain (innermost frame first, as perf script prints it) becomes one line
"outer;...;inner"; frames with the same path are merged and drawn as boxes whose width is their
share of the samples, the callers below their callees. Hovering a box shows its name and share.
"""
import html
import re
import sys
from collections import defaultdict

WIDTH, ROW, FONT = 1200, 16, 11


def folded_stacks(lines):
    counts = defaultdict(int)
    frames = []
    for line in lines:
        line = line.rstrip("\n")
        if not line.strip():
            if frames:
                counts[";".join(reversed(frames))] += 1
            frames = []
            continue
        if not line[0].isspace():
            continue  # the sample's header line (command, thread, time, event)
        match = re.match(r"\s+[0-9a-f]+\s+(.*?)(?:\+0x[0-9a-f]+)?\s+\((.*)\)$", line)
        if match:
            name = match.group(1)
            if name == "[unknown]":
                name = "[" + match.group(2).rsplit("/", 1)[-1] + "]"
            frames.append(re.sub(r"\(.*\)$", "", name) if "(" in name and name.endswith(")") else name)
    if frames:
        counts[";".join(reversed(frames))] += 1
    return counts


def tree(counts):
    root = {"name": "all", "count": 0, "children": {}}
    for stack, n in counts.items():
        node = root
        node["count"] += n
        for frame in stack.split(";"):
            node = node["children"].setdefault(frame, {"name": frame, "count": 0, "children": {}})
            node["count"] += n
    return root


def colour(name):
    h = sum(ord(c) for c in name)
    return f"rgb({205 + h % 50},{80 + h % 120},{40 + h % 40})"


def draw(node, x, depth, total, boxes, height):
    width = WIDTH * node["count"] / total
    if width < 0.3:
        return
    y = height - (depth + 1) * ROW
    label = html.escape(node["name"])
    share = 100.0 * node["count"] / total
    text = label if width > 7 * len(node["name"]) else label[: max(int(width / 7) - 2, 0)] + (".." if width > 20 else "")
    boxes.append(f'<g><title>{label} ({node["count"]} samples, {share:.2f}%)</title>'
                 f'<rect x="{x:.1f}" y="{y}" width="{width:.1f}" height="{ROW - 1}" fill="{colour(node["name"])}"/>'
                 f'<text x="{x + 2:.1f}" y="{y + ROW - 4}">{text}</text></g>')
    for child in sorted(node["children"].values(), key=lambda c: c["name"]):
        draw(child, x, depth + 1, total, boxes, height)
        x += WIDTH * child["count"] / total


def depth_of(node):
    return 1 + max((depth_of(c) for c in node["children"].values()), default=0)


def main():
    title = sys.argv[1] if len(sys.argv) > 1 else "flame graph"
    root = tree(folded_stacks(sys.stdin))
    if root["count"] == 0:
        sys.exit("no samples")
    height = (depth_of(root) + 2) * ROW
    boxes = []
    draw(root, 0.0, 0, root["count"], boxes, height)
    print(f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
          f'font-family="monospace" font-size="{FONT}">')
    print(f'<text x="4" y="{ROW - 4}">{html.escape(title)} ({root["count"]} samples)</text>')
    print("\n".join(boxes))
    print("</svg>")


if __name__ == "__main__":
    main()

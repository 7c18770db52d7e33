#!/usr/bin/env bash
# Prints the include arrows between the subsystems of src/: how many
# #include lines run from each subsystem to each other one, the cycles
# among subsystems, the arrows that run up against the layer order below,
# and the core files (outside any gui/ folder) that include a gui/ header.
#
# Usage: scripts/include-graph.sh [source folder, default src]
# Exits 0 always: it measures, it does not judge.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 - "${1:-src}" <<'PY'
import os, re, sys

root = sys.argv[1]
# From the bottom up: a subsystem may include from those before it.
# Unknown folders are put just below app.
layers = ["foundation", "hostlink", "payment", "card", "login_core", "merchant", "journal",
          "receipt", "transaction", "login", "app"]
rank = {name: i for i, name in enumerate(layers)}

def subsystem(path):
    return path.split("/", 1)[0]

def rank_of(sub):
    # The login message sits beside the card inquiry; the login window and
    # its session open the main window, so login's gui sits above it.
    return rank.get(sub, len(layers) - 1.5)

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
edges = {}          # (from, to) -> count
upward = []         # (file, header)
core_to_gui = []    # (file, header)
for dirpath, _, files in os.walk(root):
    for name in sorted(files):
        if not name.endswith((".cpp", ".h")):
            continue
        path = os.path.join(dirpath, name)
        rel = os.path.relpath(path, root).replace(os.sep, "/")
        src_sub = subsystem(rel)
        src_gui = "/gui/" in "/" + rel
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = include.match(line)
                if not m or "/" not in m.group(1):
                    continue
                header = m.group(1)
                dst_sub = subsystem(header)
                if not os.path.exists(os.path.join(root, header)):
                    continue
                dst_gui = "/gui/" in "/" + header
                if not src_gui and dst_gui:
                    core_to_gui.append((rel, header))
                if dst_sub == src_sub:
                    continue
                edges[(src_sub, dst_sub)] = edges.get((src_sub, dst_sub), 0) + 1
                src_rank = rank_of(src_sub if src_gui or src_sub != "login" else "login_core")
                dst_rank = rank_of(dst_sub if dst_gui or dst_sub != "login" else "login_core")
                if dst_rank > src_rank:
                    upward.append((rel, header))

subs = sorted({s for e in edges for s in e})
print("include arrows between subsystems (from -> to: #include lines)")
for (a, b), n in sorted(edges.items()):
    print(f"  {a:12} -> {b:12} {n:3}")

# Cycles: strongly connected groups of more than one subsystem (Tarjan).
graph = {s: sorted({b for (a, b) in edges if a == s}) for s in subs}
index, low, stack, on, groups = {}, {}, [], set(), []
def visit(v):
    index[v] = low[v] = len(index)
    stack.append(v); on.add(v)
    for w in graph[v]:
        if w not in index:
            visit(w); low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        group = []
        while True:
            w = stack.pop(); on.discard(w); group.append(w)
            if w == v:
                break
        if len(group) > 1:
            groups.append(sorted(group))
for s in subs:
    if s not in index:
        visit(s)
pairs = sorted({tuple(sorted((a, b))) for (a, b) in edges if (b, a) in edges})

print()
print(f"subsystems: {len(subs)}, arrows: {len(edges)}, #include lines across: {sum(edges.values())}")
print(f"cycles (subsystem groups that include each other): {len(groups)}"
      + "".join(f"\n  {' <-> '.join(g)}" for g in groups))
print(f"pairs that include each other directly: {len(pairs)}"
      + "".join(f"\n  {a} <-> {b}" for a, b in pairs))
print(f"upward includes (against {' < '.join(l for l in layers if l != 'login_core')}): {len(upward)}"
      + "".join(f"\n  {f} -> {h}" for f, h in upward))
print(f"core -> gui includes: {len(core_to_gui)}"
      + "".join(f"\n  {f} -> {h}" for f, h in core_to_gui))
PY

#!/usr/bin/env python3
"""Turns a glibc mtrace log into a kavlib heap trace (on stdout).

    mtrace2ops.py LOG NAME [MAX_OPS] > NAME.trace

The log has one line per heap call ("+ ADDR SIZE" for malloc, calloc and the
aligned calls, "- ADDR" for free, "< OLD" then "> NEW SIZE" for realloc).
The trace numbers the allocations 0, 1, 2, ... in their order and has one
operation a line:

    a SIZE    allocate SIZE bytes: the next piece
    f K       free piece K

A realloc is a free of the old piece and an allocation of the new one (in
that order, so a pool may hand the same memory back).  Frees of memory
allocated before the log began, and of null, are dropped.  After MAX_OPS
operations (default: all) the log is cut; every piece still live at the end
is freed at the end, oldest first.  Lines starting with '#' are comments.
"""
import sys


def main():
    log, name = sys.argv[1], sys.argv[2]
    max_ops = int(sys.argv[3]) if len(sys.argv) > 3 else None
    live = {}          # address -> piece number
    ops = []
    pieces = 0
    dropped = 0
    for line in open(log, errors="replace"):
        if max_ops is not None and len(ops) >= max_ops:
            break
        tok = line.split()
        # "@ CALLER OP ..." or "OP ..."
        if tok and tok[0] == "@":
            tok = tok[2:]
        if len(tok) < 2 or tok[0] not in "+-<>":
            continue
        op, addr = tok[0], int(tok[1], 16)
        if op in "-<":
            if addr == 0:
                continue
            k = live.pop(addr, None)
            if k is None:
                dropped += 1
                continue
            ops.append("f %d" % k)
        else:
            if addr == 0:
                continue   # a failed call: nothing was handed out
            size = int(tok[2], 16)
            if addr in live:
                # The log missed the free of the piece that lived here
                # (freed by a path mtrace does not see): free it now.
                ops.append("f %d" % live.pop(addr))
            live[addr] = pieces
            pieces += 1
            ops.append("a %d" % size)
    tail = sorted(live.values())
    out = sys.stdout
    out.write("# kavlib heap trace: %s\n" % name)
    out.write("# %d operations, %d pieces, %d freed at the end, %d frees of earlier memory dropped\n"
              % (len(ops) + len(tail), pieces, len(tail), dropped))
    out.write("\n".join(ops))
    if ops:
        out.write("\n")
    for k in tail:
        out.write("f %d\n" % k)


if __name__ == "__main__":
    main()

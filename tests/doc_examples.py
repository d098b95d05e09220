#!/usr/bin/env python3
"""Compiles the C++ examples of the documentation as they are written.

Every ```cpp block of the guide, and every ```cpp block of the README that is
a whole source file (one that begins with #include), is compiled alone with
warnings as errors; only the front end runs.  A block indented inside a list
item loses its indentation.

    doc_examples.py WORK_DIR GUIDE README -- COMPILER FLAGS...
"""
import os
import subprocess
import sys


def cpp_blocks(path):
    blocks, block, indent = [], None, 0
    for line in open(path, encoding="utf-8"):
        stripped = line.strip()
        if block is None and stripped == "```cpp":
            block, indent = [], line.index("```")
        elif block is not None and stripped == "```":
            blocks.append("".join(block))
            block = None
        elif block is not None:
            block.append(line[indent:] if line[:indent].strip() == "" else line)
    return blocks


def main():
    split = sys.argv.index("--")
    work, guide, readme = sys.argv[1:split]
    command = sys.argv[split + 1:]
    os.makedirs(work, exist_ok=True)
    examples = [("guide", i, b) for i, b in enumerate(cpp_blocks(guide), 1)]
    examples += [("README", i, b) for i, b in enumerate(cpp_blocks(readme), 1) if b.startswith("#include")]
    failed = []
    for doc, i, block in examples:
        source = os.path.join(work, "%s_%d.cpp" % (doc, i))
        with open(source, "w", encoding="utf-8") as f:
            f.write(block)
        run = subprocess.run(command + ["-Wall", "-Wextra", "-Wpedantic", "-Werror", "-fsyntax-only", source],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            print("example %d of %s does not compile:\n%s\n%s" % (i, doc, block, run.stdout))
            failed.append("%s #%d" % (doc, i))
    if failed:
        print("examples that do not compile: " + ", ".join(failed))
        return 1
    print("%d examples compile" % len(examples))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Identifier tokens of C/C++ sources, in file order: comments, string and
character literals and numbers are skipped; one identifier per line."""
import re, sys
tok = re.compile(r'''//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*'|\.?[0-9](?:[eEpP][+-]|[0-9A-Za-z_.'])*|[A-Za-z_][A-Za-z0-9_]*''', re.S)
out = sys.stdout
for path in sys.argv[1:]:
    text = open(path, encoding='latin-1').read()
    for m in tok.finditer(text):
        t = m.group(0)
        if t[0].isalpha() or t[0] == '_':
            out.write(t + '\n')

#!/usr/bin/env python3
"""Runs the table generator and checks that its output is the committed file."""
import subprocess
import sys

src = sys.argv[1]
fresh = subprocess.run([sys.executable, f"{src}/gen_u16_ctype.py"], check=True,
                       capture_output=True).stdout
with open(f"{src}/u16_ctype_data.cpp", "rb") as f:
    committed = f.read()
if fresh != committed:
    sys.exit("u16_ctype_data.cpp differs from what gen_u16_ctype.py makes: regenerate it")
print("1 passed, 0 failed")

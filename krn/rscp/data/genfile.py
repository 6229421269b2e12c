"""Command line of the generators beside this file: write the generated
source file, or check that the committed one is what they generate.

    gen_*.py [--output FILE]   (default: the generator's file beside it)
    gen_*.py --check FILE      (exit 1 when FILE differs from what is generated)
"""

import argparse
import os


def main(generate, script, default_name, what):
    """Runs a generator: generate() returns the whole text of the file."""
    ap = argparse.ArgumentParser(description='Writes ' + default_name + '.')
    ap.add_argument('--output', default=os.path.join(os.path.dirname(os.path.abspath(script)), default_name))
    ap.add_argument('--check', metavar='FILE')
    args = ap.parse_args()
    text = generate()
    if args.check:
        with open(args.check, encoding='ascii', newline='') as f:
            old = f.read()
        if old == text:
            print('1 passed, 0 failed: %s is up to date' % args.check)
            return 0
        lines_old, lines_new = old.split('\n'), text.split('\n')
        first = next((i for i, (a, b) in enumerate(zip(lines_old, lines_new)) if a != b),
                     min(len(lines_old), len(lines_new)))
        print('0 passed, 1 failed: %s differs from the generated %s from line %d on' % (args.check, what, first + 1))
        return 1
    with open(args.output, 'w', encoding='ascii', newline='\n') as f:
        f.write(text)
    return 0

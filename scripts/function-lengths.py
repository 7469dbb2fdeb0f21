#!/usr/bin/env python3
"""Lists functions longer than a limit (default 60 lines, body included), longest first.

Usage: function-lengths.py [--limit N] [DIR ...]   (default: every source folder but tests/)

A brace-matching reading of C++: a block that opens after a parenthesised head which is not a
control statement, a namespace, a class or an initializer is a function; lambdas count in the
function that holds them.
"""
import argparse
import os
import re

CONTROL = re.compile(r'^\s*(if|for|while|switch|catch|else|do|try)\b')
NOT_FUNCTION = re.compile(r'\b(namespace|class|struct|enum|union)\b|=\s*$|=\s*\[|^\s*\[|\breturn\b')


def strip(text):
    """The text with comments, strings and characters blanked, line breaks kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = ')' + m.group(1) + '"'
            j = text.find(end, i) + len(end)
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif text[i] in '"\'':
            j = i + 1
            while text[j] != text[i]:
                j += 2 if text[j] == '\\' else 1
            out.append(' ' * (j + 1 - i))
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return ''.join(out)


def functions(path):
    text = strip(open(path, encoding='latin-1').read())
    stack, head_start = [], 0
    for i, c in enumerate(text):
        if c == '{':
            head = text[head_start:i]
            is_function = (')' in head and not CONTROL.search(head.strip().split('\n')[-1])
                           and not NOT_FUNCTION.search(head)
                           and not any(kind == 'function' for kind, _, _ in stack))
            name = re.findall(r'([~\w:]+)\s*\(', head)
            stack.append(('function' if is_function else 'block', i, name[0] if name else '?'))
            head_start = i + 1
        elif c == '}':
            if stack:
                kind, start, name = stack.pop()
                if kind == 'function':
                    first = text.count('\n', 0, start) + 1
                    last = text.count('\n', 0, i) + 1
                    yield name, first, last - first + 1
            head_start = i + 1
        elif c == ';':
            head_start = i + 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--limit', type=int, default=60)
    parser.add_argument('dirs', nargs='*', default=['base', 'protocol', 'disk', 'files', 'link',
                                                    'send', 'receive', 'run', 'platform', 'ui',
                                                    'cli', 'sim', 'fuzz', 'bench'])
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = []
    for folder in args.dirs:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith(('.cpp', '.h', '.c')):
                    path = os.path.join(base, name)
                    for function, line, length in functions(path):
                        found.append((length, os.path.relpath(path, root), line, function))
    found.sort(reverse=True)
    for length, path, line, function in found:
        if length > args.limit:
            print(f'{length:5d}  {path}:{line}  {function}')
    print(f'{sum(1 for f in found if f[0] > args.limit)} of {len(found)} functions over '
          f'{args.limit} lines')


if __name__ == '__main__':
    main()

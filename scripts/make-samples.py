#!/usr/bin/env python3
"""Writes the made-up sample files: a program file and a data file with its field file."""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'samples')
seed = 20061130


def rnd():
    global seed
    seed = (seed * 1103515245 + 12345) & 0x7fffffff
    return seed >> 8


def write(name, lines):
    with open(os.path.join(HERE, name), 'w', newline='') as f:
        for line in lines:
            f.write(line + '\r\n')


program = []
for i in range(400):
    body = ''.join('0123456789ABCDEF'[rnd() % 16] for _ in range(118))
    line = ':%05d%04X' % (i, (i * 128) & 0xFFFF) + body
    assert len(line) == 128
    program.append(line)
write('DEMO.PD3', program)

items = ['APPLES GALA 1KG', 'BANANAS 6 PACK', 'BREAD WHOLEMEAL', 'MILK SEMI 2L',
         'EGGS FREE RANGE 12', 'BUTTER SALTED 250G', 'CHEDDAR MATURE 400G',
         'COFFEE BEANS 1KG', 'TEA BAGS 80', 'RICE BASMATI 1KG']
stock = ['50%011d' % (rnd() % 10**11) + items[i % len(items)].ljust(20) + '%6d' % (rnd() % 500)
         for i in range(60)]
write('STOCK.TXT', stock)
write('STOCK.FLD', [
    '* Created by Ferrolith Ver ENG-32 2.72',
    '* Field definitions of a data file received from a BHT handheld',
    'file    STOCK.TXT',
    'date    11-30-2026 14:05:00',
    'size    %d' % (len(stock) * (39 + 2)),
    'records %d' % len(stock),
    'fields  13 20 6',
])

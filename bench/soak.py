#!/usr/bin/env python3
"""Soak: many transfers over a noisy line between quenlo-cli and bht-sim, each over its own
pseudo-terminal, unpaced: send and receive, by the block protocol and by YMODEM.

Every target already holds an earlier file, and in a quarter of the runs a symbolic link to a file
outside stands at the target's name instead. Every run must end by the rule: the name holds the
whole new file (with +APP after the earlier content) and the run says so, or the run fails and
the name holds exactly what it held; the file outside never changes and nothing else is left. A
send that failed may still have left the whole file with the handheld (its last answer lost).
None may outlast its time-out. Prints a table: runs, successes, each result code, corrupted
files, leftovers, hangs, the longest run. Exits non-zero on a corrupted file, a leftover or a hang.

Usage: soak.py BUILD_DIR [--runs N] [--parallel N] [--seed S]
"""
import argparse
import collections
import concurrent.futures
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# The line's faults, per byte and each way: one byte in a hundred is damaged, lost or late. Damage
# is rarer than the rest: the block check (an exclusive-or) cannot see two flips of the same bit
# in one block, so at 0.2 % a run in twenty would carry such a pair through unnoticed.
FAULTS = ['--corrupt-rate', '0.0002', '--drop-rate', '0.0008', '--delay-rate', '0.009',
          '--delay-ms', '50']
# The loader gives up after 30 s of silence; a run also has its retries. Longer is a hang.
RUN_LIMIT = 240
EARLIER = b'EARLIER CONTENT\r\n'
KINDS = [('send', 'block'), ('receive', 'block'), ('send', 'ymodem'), ('receive', 'ymodem')]


def program_file(path, records, rng):
    with open(path, 'wb') as out:
        for _ in range(records):
            out.write(bytes(rng.randrange(32, 127) for _ in range(128)) + b'\r\n')


def binary_file(path, size, rng):
    with open(path, 'wb') as out:
        out.write(bytes(rng.randrange(256) for _ in range(size)))


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def held(path):
    """What a name holds: ('link', where it points), ('file', its bytes), or None."""
    if os.path.islink(path):
        return ('link', os.readlink(path))
    if os.path.isfile(path):
        return ('file', read(path))
    return None


def one_run(build, work, number, direction, protocol, seed):
    rng = random.Random(seed * 100003 + number)
    home = os.path.join(work, '%s-%s-%03d' % (direction, protocol, number))
    sim_dir, loader_dir = os.path.join(home, 'sim'), os.path.join(home, 'loader')
    os.makedirs(sim_dir)
    os.makedirs(loader_dir)
    name = 'SOAK%03d.PD4' % number if protocol == 'ymodem' else 'SOAK%03d.PD3' % number
    source = os.path.join(home, name)
    if protocol == 'ymodem':
        binary_file(source, rng.randrange(1, 12000), rng)
    else:
        program_file(source, rng.randrange(1, 25), rng)
    append = direction == 'receive' and protocol == 'block' and number % 4 == 0
    planted_link = number % 4 == 1
    # The earlier state of the target, on whichever side receives: a file, or a link to one.
    target_dir = loader_dir if direction == 'receive' else sim_dir
    target = os.path.join(target_dir, name)
    outside = os.path.join(home, 'outside-' + name)
    with open(outside, 'wb') as f:
        f.write(EARLIER)
    if planted_link:
        os.symlink(outside, target)
    else:
        with open(target, 'wb') as f:
            f.write(EARLIER)
    link = os.path.join(home, 'COM1')
    sim_cmd = [os.path.join(build, 'sim', 'bht-sim'), '--pty', link, '--dir', sim_dir,
               '--timeout', '60', '--seed', str(seed * 1000 + number)] + FAULTS
    cli_cmd = [os.path.join(build, 'cli', 'quenlo-cli'), '--no']
    if direction == 'send':
        cli_cmd += [source, '+P0', '+B115200', '+T30']
    else:
        sim_cmd += ['--send', source]
        cli_cmd += [loader_dir + os.sep, '+P0', '+B115200', '+T30']
        cli_cmd += ['+YMOD'] if protocol == 'ymodem' else []
        cli_cmd += ['+APP'] if append else []
    if protocol == 'ymodem':
        sim_cmd.append('--ymodem')

    with open(os.path.join(home, 'sim.log'), 'w') as sim_log:
        sim = subprocess.Popen(sim_cmd, stdout=sim_log, stderr=subprocess.STDOUT)
    start = time.monotonic()
    try:
        while not os.path.exists(link):
            if sim.poll() is not None or time.monotonic() - start > 10:
                raise RuntimeError('bht-sim did not start in ' + home)
            time.sleep(0.02)
        start = time.monotonic()
        env = dict(os.environ, QUENLO_COM1=link)
        with open(os.path.join(home, 'cli.out'), 'w') as out:
            cli = subprocess.Popen(cli_cmd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT)
            try:
                code = cli.wait(RUN_LIMIT)
            except subprocess.TimeoutExpired:
                cli.kill()
                cli.wait()
                code = None
        seconds = time.monotonic() - start
        try:
            sim.wait(10)
        except subprocess.TimeoutExpired:
            pass
    finally:
        if sim.poll() is None:
            sim.send_signal(signal.SIGTERM)
            sim.wait()

    data = read(source)
    earlier = ('link', outside) if planted_link else ('file', EARLIER)
    whole = ('file', (EARLIER if append else b'') + data)
    now = held(target)
    others = sorted(set(os.listdir(target_dir)) - {name})
    allowed = [whole] if code == 0 else [earlier]
    if code not in (0, None) and direction == 'send':
        allowed.append(('file', data))  # whole with the handheld, its last answer lost
    verdict = 'ok' if code == 0 else 'failed'
    if code is None:
        verdict = 'hang'
    elif now not in allowed or others or read(outside) != EARLIER:
        verdict = 'corrupted' if code == 0 else 'leftover'
    else:
        shutil.rmtree(home)  # keep only what went wrong, for a look
    return direction, protocol, code, verdict, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('build')
    parser.add_argument('--runs', type=int, default=100, help='runs of each kind (100)')
    parser.add_argument('--parallel', type=int, default=4, help='runs at once (4)')
    parser.add_argument('--seed', type=int, default=1)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix='quenlo-soak-')
    jobs = [(args.build, work, n, d, p, args.seed) for d, p in KINDS for n in range(args.runs)]
    table = collections.OrderedDict((kind, collections.Counter()) for kind in KINDS)
    longest = collections.defaultdict(float)
    with concurrent.futures.ThreadPoolExecutor(args.parallel) as pool:
        for done, (d, p, code, verdict, seconds) in enumerate(
                pool.map(lambda job: one_run(*job), jobs), 1):
            table[(d, p)]['runs'] += 1
            table[(d, p)][verdict] += 1
            table[(d, p)]['code %s' % ('hang' if code is None else code)] += 1
            longest[(d, p)] = max(longest[(d, p)], seconds)
            print('\r%d/%d runs' % (done, len(jobs)), end='', file=sys.stderr, flush=True)
    print(file=sys.stderr)
    print('%-16s %5s %5s %-28s %9s %9s %5s %8s' % ('kind', 'runs', 'ok', 'failures by code',
                                                   'corrupted', 'leftovers', 'hangs', 'longest'))
    bad = 0
    for (d, p), c in table.items():
        codes = ' '.join('%s:%d' % (k[5:], v) for k, v in sorted(c.items())
                         if k.startswith('code ') and k != 'code 0') or '-'
        print('%-16s %5d %5d %-28s %9d %9d %5d %7.1fs' % (
            d + ' ' + p, c['runs'], c['ok'], codes, c['corrupted'], c['leftover'], c['hang'],
            longest[(d, p)]))
        bad += c['corrupted'] + c['leftover'] + c['hang']
    if bad:
        print('what went wrong is kept in', work)
    else:
        shutil.rmtree(work)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())

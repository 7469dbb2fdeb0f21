#!/usr/bin/env python3
"""Transfer benchmarks: quenlo-cli sends a program file to bht-sim over a pseudo-terminal.

  unpaced  the largest program file (32767 records) as fast as the two programs go
  paced    bht-sim at 115200 Bd, set against what stop-and-wait can do on such a line
  idle     a handheld that never answers: the 30-second time-out, and what the wait costs

Usage: transfer_bench.py BUILD_DIR [unpaced|paced|idle ...] [--paced-records N] [--keep]

BUILD_DIR is a release build with cli/quenlo-cli and sim/bht-sim. The files are made in a
temporary directory that goes away at the end. Exits non-zero when a transfer goes wrong (exit
status, the handheld's copy); a missed target is reported, not fatal, since timings on a shared
machine vary.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BAUD = 115200
BITS_PER_BYTE = 10
RECORD_LENGTH = 128  # a program file (PD3) record
NAME = 'BENCH.PD3'
MAX_RECORDS = 32767

# Bytes on the line, with block check and block numbers (the loader's defaults).
CONTROL = 1  # ENQ, ACK, EOT
HEADING_BLOCK = 1 + 12 + 5 + 1 + 1  # SOH, name, record count, ETX, BCC
DATA_BLOCK = 1 + 5 + RECORD_LENGTH + 1 + 1  # STX, block number, record, ETX, BCC

EXIT_TIMEOUT = 52

UNPACED_RECORDS_PER_SECOND = 5000
PACED_RATIO = 1.03
IDLE_CPU_PERCENT = 2.0


def wire_bound_seconds(records):
    """Stop-and-wait at its best: every byte of every block and answer back to back."""
    total = (CONTROL + CONTROL                      # ENQ, ACK
             + HEADING_BLOCK + CONTROL              # heading, ACK
             + records * (DATA_BLOCK + CONTROL)     # each record, ACK
             + CONTROL + CONTROL)                   # EOT, ACK
    return total * BITS_PER_BYTE / BAUD


def make_program_file(path, records):
    # Lines shaped like the sample program file: number, address, hex digits; CR LF.
    digits = '0123456789ABCDEF'
    with open(path, 'w', newline='') as out:
        for i in range(records):
            head = ':%05d%04X' % (i, (i * 128) & 0xFFFF)
            body = ''.join(digits[(i * 7 + k * 13) % 16] for k in range(RECORD_LENGTH - len(head)))
            out.write(head + body + '\r\n')


class Run:
    """One transfer: bht-sim on a fresh pseudo-terminal, then quenlo-cli against it."""

    def __init__(self, build, work, label):
        self.sim = os.path.join(build, 'sim', 'bht-sim')
        self.cli = os.path.join(build, 'cli', 'quenlo-cli')
        self.dir = os.path.join(work, label)
        self.link = os.path.join(self.dir, 'COM1')
        self.received = os.path.join(self.dir, 'received')
        os.makedirs(self.received)

    def go(self, source, sim_options, cli_options):
        sim_log = open(os.path.join(self.dir, 'sim.log'), 'w')
        sim = subprocess.Popen([self.sim, '--pty', self.link, '--dir', self.received] + sim_options,
                               stdout=sim_log, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 10
            while not os.path.exists(self.link):
                if sim.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError('bht-sim did not start:\n' + self.log('sim.log'))
                time.sleep(0.02)

            env = dict(os.environ, QUENLO_COM1=self.link)
            with open(os.path.join(self.dir, 'cli.out'), 'w') as out, \
                    open(os.path.join(self.dir, 'cli.err'), 'w') as err:
                start = time.monotonic()
                cli = subprocess.Popen([self.cli, '--no', source, '+P0'] + cli_options, env=env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
                # wait4 gives the child's own CPU time, with nothing else of ours mixed in.
                _, status, usage = os.wait4(cli.pid, 0)
                self.wall = time.monotonic() - start
            cli.returncode = os.waitstatus_to_exitcode(status)
            self.exit = cli.returncode
            self.cpu = usage.ru_utime + usage.ru_stime
            self.user, self.sys = usage.ru_utime, usage.ru_stime

            # bht-sim ends by itself after the loader's last exchange; a bounded wait, not a hang.
            ended = wait_with_usage(sim.pid, 10)
            if ended:
                sim.returncode = os.waitstatus_to_exitcode(ended[0])
                self.sim_cpu = ended[1].ru_utime + ended[1].ru_stime
            else:
                self.sim_cpu = float('nan')
        finally:
            if sim.returncode is None:
                sim.send_signal(signal.SIGTERM)
                sim.wait()
            sim_log.close()
        self.sim_summary = self.log('sim.log').strip().splitlines()[-1:] or ['(nothing)']
        self.cli_result = ' / '.join(self.log('cli.out').strip().splitlines())
        return self

    def log(self, name):
        with open(os.path.join(self.dir, name), errors='replace') as f:
            return f.read()

    def same_copy(self, source):
        copy = os.path.join(self.received, NAME)
        if not os.path.exists(copy):
            return False
        return subprocess.run(['cmp', '-s', source, copy]).returncode == 0

    def describe(self):
        return (f'    quenlo-cli exit {self.exit}: {self.cli_result}\n'
                f'    {self.sim_summary[0]}')


def wait_with_usage(pid, seconds):
    """The child's wait status and resource use once it has ended; None if it is still running."""
    deadline = time.monotonic() + seconds
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done == pid:
            return status, usage
        if time.monotonic() > deadline:
            return None
        time.sleep(0.05)


def verdict(ok):
    return 'met' if ok else 'MISSED'


def row(label, value, rest=''):
    print(f'    {label:<26}{value:>12}  {rest}'.rstrip())


def cpu_rows(run):
    row('quenlo-cli CPU (user+sys)', f'{run.cpu:.3f} s', f'(user {run.user:.3f}, sys {run.sys:.3f})')
    row('bht-sim CPU (user+sys)', f'{run.sim_cpu:.3f} s')


def bench_unpaced(build, work):
    source = os.path.join(work, 'unpaced', NAME)
    os.makedirs(os.path.dirname(source))
    make_program_file(source, MAX_RECORDS)
    run = Run(build, work, 'unpaced-run').go(source, [], ['+B115200'])
    rate = MAX_RECORDS / run.wall
    same = run.same_copy(source)
    print(f'== (1) unpaced: {MAX_RECORDS} records of {RECORD_LENGTH} characters, '
          f'bht-sim without --baud, quenlo-cli +B115200')
    print(run.describe())
    row('wall time (start to exit)', f'{run.wall:.3f} s')
    row('records per second', f'{rate:.0f}',
        f'target >= {UNPACED_RECORDS_PER_SECOND}: {verdict(rate >= UNPACED_RECORDS_PER_SECOND)}')
    cpu_rows(run)
    row('copy equals input (cmp)', 'yes' if same else 'NO')
    return run.exit == 0 and same


def bench_paced(build, work, records):
    source = os.path.join(work, 'paced', NAME)
    os.makedirs(os.path.dirname(source))
    make_program_file(source, records)
    bound = wire_bound_seconds(records)
    run = Run(build, work, 'paced-run').go(source, ['--baud', str(BAUD)], ['+B115200'])
    ratio = run.wall / bound
    beyond = (run.wall - bound) / records * 1e6
    same = run.same_copy(source)
    print(f'== (2) paced: {records} records, bht-sim --baud {BAUD} (both ways), '
          f'quenlo-cli +B115200, block check and numbers on')
    print(run.describe())
    row('wall time (start to exit)', f'{run.wall:.3f} s')
    row('wire bound', f'{bound:.3f} s',
        f'({HEADING_BLOCK}-byte heading, {DATA_BLOCK}-byte blocks, 1-byte answers, '
        f'{BITS_PER_BYTE} bits a byte)')
    row('ratio measured/bound', f'{ratio:.4f}',
        f'target <= {PACED_RATIO}: {verdict(ratio <= PACED_RATIO)}')
    row('beyond the bound', f'{beyond:.0f} us', 'a record, start-up not subtracted')
    cpu_rows(run)
    row('copy equals input (cmp)', 'yes' if same else 'NO')
    return run.exit == 0 and same


def bench_idle(build, work):
    source = os.path.join(work, 'idle', NAME)
    os.makedirs(os.path.dirname(source))
    make_program_file(source, 10)
    run = Run(build, work, 'idle-run').go(source, ['--silent'], ['+B115200', '+T30'])
    percent = run.cpu / run.wall * 100
    print('== (3) idle: bht-sim --silent, quenlo-cli +B115200 +T30 (the default 30-second '
          f'time-out), exit {EXIT_TIMEOUT} expected')
    print(run.describe())
    row('wall time (start to exit)', f'{run.wall:.3f} s')
    row('quenlo-cli CPU (user+sys)', f'{run.cpu:.4f} s', f'(user {run.user:.4f}, sys {run.sys:.4f})')
    row('CPU of one core', f'{percent:.3f} %',
        f'target < {IDLE_CPU_PERCENT}: {verdict(percent < IDLE_CPU_PERCENT)}')
    return run.exit == EXIT_TIMEOUT


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('build')
    parser.add_argument('which', nargs='*', metavar='unpaced|paced|idle',
                        help='which to run; all three when none is named')
    parser.add_argument('--paced-records', type=int, default=3000)
    parser.add_argument('--keep', action='store_true',
                        help='leave the files, logs and the handheld\'s copies behind')
    args = parser.parse_args()

    for program in ('cli/quenlo-cli', 'sim/bht-sim'):
        if not os.access(os.path.join(args.build, program), os.X_OK):
            sys.exit(f'transfer_bench: {args.build}/{program} is missing; build it first')

    which = args.which or ['unpaced', 'paced', 'idle']
    # argparse cannot check choices on an optional list itself.
    for name in which:
        if name not in ('unpaced', 'paced', 'idle'):
            parser.error(f'no benchmark called {name!r}')
    work = os.path.abspath(tempfile.mkdtemp(prefix='quenlo-transfer-bench.'))
    ok = True
    try:
        for name in which:
            if name == 'unpaced':
                ok = bench_unpaced(args.build, work) and ok
            elif name == 'paced':
                ok = bench_paced(args.build, work, args.paced_records) and ok
            else:
                ok = bench_idle(args.build, work) and ok
            sys.stdout.flush()
    finally:
        if args.keep:
            print(f'transfer_bench: files kept in {work}')
        else:
            shutil.rmtree(work, ignore_errors=True)
    if not ok:
        sys.exit('transfer_bench: a transfer went wrong (see above)')


if __name__ == '__main__':
    main()

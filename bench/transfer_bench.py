#!/usr/bin/env python3
"""Transfer benchmarks: quenlo-cli sends a program file to bht-sim over a pseudo-terminal.

  unpaced   the largest program file (32767 records) as fast as the two programs go
  paced     bht-sim at 115200 Bd, set against what stop-and-wait can do on such a line
  idle      a handheld that never answers: the 30-second time-out, and what the wait costs
  upload    the other way: bht-sim --send uploads to quenlo-cli DIR/, unpaced and paced
  ymodem    1 MiB by YMODEM both ways against bht-sim --ymodem, beside lrzsz's sb -k -> rb -y
            on a socket pair; then paced at 115200 Bd against the line bound

Usage: transfer_bench.py BUILD_DIR [unpaced|paced|idle|upload|ymodem ...] [--paced-records N]
                         [--ymodem-paced-kib N] [--keep]

BUILD_DIR is a release build with cli/quenlo-cli and sim/bht-sim. The files are made in a
temporary directory that goes away at the end. Exits non-zero when a transfer goes wrong (exit
status, the handheld's copy); a missed target is reported, not fatal, since timings on a shared
machine vary.
"""
import argparse
import os
import shutil
import pty
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty

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

YMODEM_SIZE = 1 << 20
YMODEM_LONG_FRAME = 1 + 2 + 1024 + 2  # STX, number and complement, data, CRC-16
YMODEM_SHORT_FRAME = 1 + 2 + 128 + 2  # SOH: block 0 and the empty block 0 that ends a batch

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


def ymodem_bound_seconds(size):
    """YMODEM with 1024-byte blocks at its best: C, block 0, ACK, C, the blocks with their ACKs,
    EOT, NAK, EOT, ACK, C, the empty block 0, ACK."""
    # The tail goes in 128-byte blocks where they take less line time than one long block.
    long_blocks, tail = divmod(size, 1024)
    tail_bytes = min(YMODEM_LONG_FRAME + CONTROL, -(-tail // 128) * (YMODEM_SHORT_FRAME + CONTROL))
    total = (CONTROL + YMODEM_SHORT_FRAME + 2 * CONTROL
             + long_blocks * (YMODEM_LONG_FRAME + CONTROL) + tail_bytes
             + 5 * CONTROL + YMODEM_SHORT_FRAME + CONTROL)
    return total * BITS_PER_BYTE / BAUD


def make_binary_file(path, size):
    # Bytes of every value, the same each run.
    with open(path, 'wb') as out:
        out.write(bytes((i * 7 + (i >> 8) * 13 + (i >> 16)) & 0xFF for i in range(size)))


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
        self.loader_dir = os.path.join(self.dir, 'loader')  # where quenlo-cli puts an upload
        os.makedirs(self.received)
        os.makedirs(self.loader_dir)

    def go(self, source, sim_options, cli_options):
        """source: the file quenlo-cli sends, or None: it receives into loader_dir."""
        token = source if source is not None else self.loader_dir + os.sep
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
                cli = subprocess.Popen([self.cli, '--no', token, '+P0'] + cli_options, env=env,
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

    def same_copy(self, source, where=None):
        copy = os.path.join(where or self.received, os.path.basename(source))
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


def upload_run(build, work, label, source, sim_options, cli_options=()):
    return Run(build, work, label).go(None, ['--send', source] + sim_options,
                                      ['+B115200'] + list(cli_options))


def bench_upload(build, work, paced_records):
    """The handheld uploads. Its first ENQ goes out before the loader has the port open and the
    loader's flush at open throws it away; the next comes a call wait (3.5 s) later. A one-record
    upload, run the same way, measures that start (call wait, start-up, heading and close); it is
    subtracted, so the figures count from the heading on."""
    ok = True
    print('== (4) upload: bht-sim --pty LINK --send FILE, quenlo-cli DIR/ +P0 +B115200')
    for paced, records in ((False, MAX_RECORDS), (True, paced_records)):
        sim_options = ['--baud', str(BAUD)] if paced else []
        what = f'paced, bht-sim --baud {BAUD}' if paced else 'unpaced'
        label = 'paced' if paced else 'unpaced'
        one = os.path.join(work, f'upload-{label}-one', NAME)
        full = os.path.join(work, f'upload-{label}', NAME)
        for path, count in ((one, 1), (full, records)):
            os.makedirs(os.path.dirname(path))
            make_program_file(path, count)
        start_run = upload_run(build, work, f'upload-{label}-one-run', one, sim_options)
        run = upload_run(build, work, f'upload-{label}-run', full, sim_options)
        same = run.same_copy(full, run.loader_dir) and start_run.same_copy(one, start_run.loader_dir)
        ok = ok and run.exit == 0 and start_run.exit == 0 and same
        net = run.wall - start_run.wall
        print(f'  -- {what}: {records} records of {RECORD_LENGTH} characters')
        print(run.describe())
        row('wall time (start to exit)', f'{run.wall:.3f} s')
        row('one-record upload', f'{start_run.wall:.3f} s', '(the call wait and start-up)')
        if paced:
            # The one-record run's own wire time stays in the part counted from the heading.
            bound = wire_bound_seconds(records)
            from_heading = run.wall - (start_run.wall - wire_bound_seconds(1))
            row('from the heading', f'{from_heading:.3f} s',
                'wall less the one-record run beyond its own wire bound')
            row('wire bound', f'{bound:.3f} s',
                f'({DATA_BLOCK}-byte blocks one way, 1-byte ACK back, {BITS_PER_BYTE} bits a byte)')
            row('ratio measured/bound', f'{from_heading / bound:.4f}',
                f'target <= {PACED_RATIO}: {verdict(from_heading / bound <= PACED_RATIO)}')
        else:
            rate = (records - 1) / net
            row('records per second', f'{rate:.0f}',
                f'(records less one) / (wall less the one-record run); '
                f'wall less 3.5 s: {records / (run.wall - 3.5):.0f}')
            row('', '', f'compare the unpaced send, (1): target >= {UNPACED_RECORDS_PER_SECOND}: '
                f'{verdict(rate >= UNPACED_RECORDS_PER_SECOND)}')
        cpu_rows(run)
        row('copy equals input (cmp)', 'yes' if same else 'NO')
    return ok


def lrzsz_run(work, label, source, via_pty=False):
    """sb -k FILE -> rb -y, each with stdin and stdout on its end of one socket pair, or sb on a
    pseudo-terminal's master and rb on its raw slave."""
    folder = os.path.join(work, label)
    os.makedirs(folder)
    if via_pty:
        ours, theirs = pty.openpty()
        tty.setraw(theirs)
    else:
        ours, theirs = (end.detach() for end in socket.socketpair())
    with open(os.path.join(folder, 'sb.log'), 'w') as sb_log, \
            open(os.path.join(folder, 'rb.log'), 'w') as rb_log:
        start = time.monotonic()
        sb = subprocess.Popen(['sb', '-k', source], stdin=ours, stdout=ours, stderr=sb_log)
        rb = subprocess.Popen(['rb', '-y'], stdin=theirs, stdout=theirs, stderr=rb_log,
                              cwd=folder)
        os.close(ours)
        os.close(theirs)
        codes = (sb.wait(timeout=600), rb.wait(timeout=600))
        wall = time.monotonic() - start
    copy = os.path.join(folder, os.path.basename(source))
    same = os.path.exists(copy) and subprocess.run(['cmp', '-s', source, copy]).returncode == 0
    return wall, codes, same


def bench_ymodem(build, work, paced_kib, repeats=3):
    """1 MiB by YMODEM, unpaced: the loader to bht-sim --ymodem, bht-sim --ymodem --send to the
    loader, and sb -k to rb -y. Every way waits before its data moves (bht-sim's first C goes
    out before the loader has the port open and its flush throws it away, the next comes 3 s
    later; rb waits 1 s before its C, 1 s after EOT and 1 s before the batch's end); a 1-byte
    transfer run the same way measures that, and the net time leaves it out."""
    have_lrzsz = shutil.which('sb') and shutil.which('rb')
    folder = os.path.join(work, 'ymodem')
    os.makedirs(folder)
    big, small = os.path.join(folder, 'BENCH.PD4'), os.path.join(folder, 'small', 'BENCH.PD4')
    os.makedirs(os.path.dirname(small))
    make_binary_file(big, YMODEM_SIZE)
    make_binary_file(small, 1)
    mib = YMODEM_SIZE / (1 << 20)
    ok = True
    print(f'== (5) YMODEM: {mib:g} MiB, unpaced, 1024-byte blocks')

    def send(label, source, sim_options):
        run = Run(build, work, label).go(source, ['--ymodem'] + sim_options, ['+YMOD', '+B115200'])
        return run, run.same_copy(source)

    def receive(label, source, sim_options):
        run = upload_run(build, work, label, source, ['--ymodem'] + sim_options, ['+YMOD'])
        return run, run.same_copy(source, run.loader_dir)

    # Best of `repeats`: a run of a few tenths of a second shows the machine's other load.
    results = []
    for name, way in (('quenlo-cli FILE +YMOD -> bht-sim --ymodem', send),
                      ('bht-sim --ymodem --send -> quenlo-cli DIR/ +YMOD', receive)):
        tag = 'send' if way is send else 'receive'
        runs = [way(f'ymodem-{tag}-{i}', big, []) for i in range(repeats)]
        ones = [way(f'ymodem-{tag}-one-{i}', small, []) for i in range(repeats)]
        ok = ok and all(r.exit == 0 and same for r, same in runs + ones)
        run = min((r for r, _ in runs), key=lambda r: r.wall)
        one = min(r.wall for r, _ in ones)
        results.append((name, run.wall, one, all(same for _, same in runs), run))
    for via_pty, times, what in ((False, repeats, 'socket pair'), (True, 1, 'pseudo-terminal')):
        if not have_lrzsz:
            break
        tag = 'pty' if via_pty else 'socket'
        runs = [lrzsz_run(work, f'lrzsz-{tag}-{i}', big, via_pty) for i in range(times)]
        ones = [lrzsz_run(work, f'lrzsz-{tag}-one-{i}', small, via_pty) for i in range(times)]
        ok = ok and all(codes == (0, 0) and same for _, codes, same in runs + ones)
        results.append((f'sb -k FILE -> rb -y ({what})', min(r[0] for r in runs),
                        min(r[0] for r in ones), all(r[2] for r in runs), None))
    print(f'    best of {repeats} (the pseudo-terminal lrzsz run once); net = elapsed less the '
          f'1-byte run')
    print(f'    {"":<50}{"elapsed":>10}{"1 byte":>10}{"net":>10}{"MiB/s":>8}  copy')
    for name, wall, one_wall, same, _ in results:
        net = wall - one_wall
        speed = f'{mib / net:>8.1f}' if net > 0.02 else f'{"(noise)":>8}'
        print(f'    {name:<50}{wall:>9.3f}s{one_wall:>9.3f}s{net:>9.3f}s{speed}  '
              f'{"same" if same else "DIFFERS"}')
    if not have_lrzsz:
        print('    sb -k -> rb -y: lrzsz is not installed')
    for name, _, _, _, run in results:
        if run is not None:
            print(f'    CPU (user+sys), {name}: quenlo-cli {run.cpu:.3f} s, '
                  f'bht-sim {run.sim_cpu:.3f} s')

    size = paced_kib * 1024
    paced_file = os.path.join(folder, 'paced', 'BENCH.PD4')
    os.makedirs(os.path.dirname(paced_file))
    make_binary_file(paced_file, size)
    bound = ymodem_bound_seconds(size)
    one_bound = ymodem_bound_seconds(1)
    print(f'== (6) YMODEM paced: {paced_kib} KiB, bht-sim --ymodem --baud {BAUD}; line bound '
          f'{bound:.3f} s ({YMODEM_LONG_FRAME}-byte blocks, 1-byte ACK, block 0, EOT and the '
          f"batch's end, {BITS_PER_BYTE} bits a byte)")
    for name, way in (('send', send), ('receive', receive)):
        run, same = way(f'ymodem-paced-{name}', paced_file, ['--baud', str(BAUD)])
        one, _ = way(f'ymodem-paced-{name}-one', small, ['--baud', str(BAUD)])
        ok = ok and run.exit == 0 and same
        # The 1-byte run beyond its own line time is the wait before the data.
        net = run.wall - (one.wall - one_bound)
        row(f'{name}: elapsed', f'{run.wall:.3f} s', f'(1 byte: {one.wall:.3f} s)')
        row(f'{name}: less the start wait', f'{net:.3f} s',
            f'ratio to the bound {net / bound:.4f}, copy {"same" if same else "DIFFERS"}')
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('build')
    parser.add_argument('which', nargs='*', metavar='unpaced|paced|idle|upload|ymodem',
                        help='which to run; all when none is named')
    parser.add_argument('--paced-records', type=int, default=3000)
    parser.add_argument('--ymodem-paced-kib', type=int, default=256,
                        help='size of the paced YMODEM file (each way takes about 0.09 s a KiB)')
    parser.add_argument('--keep', action='store_true',
                        help='leave the files, logs and the handheld\'s copies behind')
    args = parser.parse_args()

    for program in ('cli/quenlo-cli', 'sim/bht-sim'):
        if not os.access(os.path.join(args.build, program), os.X_OK):
            sys.exit(f'transfer_bench: {args.build}/{program} is missing; build it first')

    every = ['unpaced', 'paced', 'idle', 'upload', 'ymodem']
    which = args.which or every
    # argparse cannot check choices on an optional list itself.
    for name in which:
        if name not in every:
            parser.error(f'no benchmark called {name!r}')
    work = os.path.abspath(tempfile.mkdtemp(prefix='quenlo-transfer-bench.'))
    ok = True
    try:
        for name in which:
            if name == 'unpaced':
                ok = bench_unpaced(args.build, work) and ok
            elif name == 'paced':
                ok = bench_paced(args.build, work, args.paced_records) and ok
            elif name == 'upload':
                ok = bench_upload(args.build, work, args.paced_records) and ok
            elif name == 'ymodem':
                ok = bench_ymodem(args.build, work, args.ymodem_paced_kib) and ok
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

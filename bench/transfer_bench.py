#!/usr/bin/env python3
"""Transfer benchmarks: quenlo-cli against bht-sim over a pseudo-terminal, set against the limits.

  raw       the limit: a plain pseudo-terminal stop-and-wait round trip (bench/pty_round_trip.c,
            136 bytes one way, 1 byte back), measured in the same run; and the same exchange
            paced at 115200 Bd as bht-sim paces it, beside the block protocol's paced ratios
  unpaced   the largest program file (32767 records) as fast as the two programs go
  paced     bht-sim at 115200 Bd, set against what stop-and-wait can do on such a line
  idle      a handheld that never answers: the 30-second time-out, and what the wait costs
  upload    the other way: bht-sim --send uploads to quenlo-cli DIR/, unpaced and paced
  ymodem    1 MiB by YMODEM both ways against bht-sim --ymodem, beside lrzsz's sb -k -> rb -y
            on a socket pair; then paced at 115200 Bd against the line bound
  busy      the paced transfers again (block protocol and YMODEM, both ways) while a CPU burner
            at normal priority keeps every core busy

Usage: transfer_bench.py BUILD_DIR [raw|unpaced|paced|idle|upload|ymodem|busy ...]
                         [--paced-records N] [--ymodem-paced-kib N] [--keep]

BUILD_DIR is a release build with cli/quenlo-cli, sim/bht-sim and bench/pty_round_trip. The
files are made in a temporary directory that goes away at the end. Ends with one table of every
figure beside its target and the machine's load average at the start. Exits non-zero when a
transfer goes wrong (exit status, the handheld's copy); a missed target is reported, not fatal,
since timings on a shared machine vary.
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
PACED_RATIO = {'quiet': 1.01, 'busy': 1.02}  # paced time / line bound
LOADER_CPU_PERCENT = 2.0  # during a paced transfer, every direction
SIM_CPU_PERCENT = 5.0
UNPACED_TO_RAW = 0.8  # unpaced rate / raw round trip rate
IDLE_CPU_PERCENT = 0.1
UNPACED_REPEATS = 3  # bench/pty_round_trip also keeps the best of three runs
RAW_PACED_ROUNDS = 300  # each way, best of three runs: about 22 s

# Every figure for the closing table: (figure, condition) -> value.
figures = {}


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


def keep_cpu(name, condition, run, start_run=None):
    """The loader's and bht-sim's CPU as a share of the wall time; less a start run's CPU and wall
    when one measures a wait before the transfer proper."""
    cpu, sim_cpu, wall = run.cpu, run.sim_cpu, run.wall
    if start_run is not None:
        cpu, sim_cpu = cpu - start_run.cpu, sim_cpu - start_run.sim_cpu
        wall = wall - start_run.wall
    figures[('loader CPU, ' + name, condition)] = cpu / wall * 100
    figures[('bht-sim CPU, ' + name, condition)] = sim_cpu / wall * 100
    row('quenlo-cli CPU / wall', f'{cpu / wall * 100:.2f} %',
        f'target <= {LOADER_CPU_PERCENT:g} %: {verdict(cpu / wall * 100 <= LOADER_CPU_PERCENT)}'
        + ('' if start_run is None else ' (less the start run)'))
    row('bht-sim CPU / wall', f'{sim_cpu / wall * 100:.2f} %',
        f'target <= {SIM_CPU_PERCENT:g} %: {verdict(sim_cpu / wall * 100 <= SIM_CPU_PERCENT)}')


def keep_paced_ratio(name, condition, ratio):
    figures[('paced time / line bound, ' + name, condition)] = ratio
    target = PACED_RATIO[condition]
    row('ratio measured/bound', f'{ratio:.4f}', f'target <= {target} {condition}: '
        f'{verdict(ratio <= target)}')


def bench_raw(build):
    """The raw round trip, best of three runs each way (the program says how)."""
    out = subprocess.run([os.path.join(build, 'bench', 'pty_round_trip')], check=True,
                         capture_output=True, text=True).stdout
    rates = dict((way, float(rate)) for way, rate in (line.split() for line in out.splitlines()))
    figures['raw send'], figures['raw receive'] = rates['send'], rates['receive']
    print('== (0) raw: a pseudo-terminal stop-and-wait round trip, 136 bytes one way, 1 byte back '
          '(bench/pty_round_trip)')
    row('slave to master', f'{rates["send"]:.0f}', 'round trips per second (as the loader sends)')
    row('master to slave', f'{rates["receive"]:.0f}',
        'round trips per second (as the loader receives)')
    return True


def bench_raw_paced(build, condition):
    """The paced exchange with no protocol, only the line's pacing: what the machine adds."""
    out = subprocess.run([os.path.join(build, 'bench', 'pty_round_trip'), str(RAW_PACED_ROUNDS),
                          str(BAUD)], check=True, capture_output=True, text=True).stdout
    ratios = dict((way, float(ratio)) for way, ratio in (line.split() for line in out.splitlines()))
    print(f'== raw paced, {condition}: the same exchange, the handheld\'s side keeping to a {BAUD} '
          f'Bd line (16-byte bursts, as bht-sim), {RAW_PACED_ROUNDS} blocks each way, best of 3')
    for way, name in (('send', 'block send'), ('receive', 'block receive')):
        figures[('raw paced time / line bound, ' + name, condition)] = ratios[way]
        row(f'time / line bound, {way}', f'{ratios[way]:.4f}',
            "this machine's own share beside the line's time")
    return True


def to_raw(rate, way):
    figures['unpaced ' + way] = rate
    raw = figures.get('raw ' + way)
    if raw is None:
        return
    figures[(f'unpaced {way} / raw round trip', 'quiet')] = rate / raw
    row('to the raw round trip', f'{rate / raw:.3f}',
        f'target >= {UNPACED_TO_RAW}: {verdict(rate / raw >= UNPACED_TO_RAW)}')


def bench_unpaced(build, work):
    source = os.path.join(work, 'unpaced', NAME)
    os.makedirs(os.path.dirname(source))
    make_program_file(source, MAX_RECORDS)
    # Best of as many runs as the raw round trip takes, so the ratio sets like against like.
    runs = [Run(build, work, f'unpaced-run-{i}').go(source, [], ['+B115200'])
            for i in range(UNPACED_REPEATS)]
    run = min(runs, key=lambda r: r.wall)
    rate = MAX_RECORDS / run.wall
    same = all(r.same_copy(source) and r.exit == 0 for r in runs)
    print(f'== (1) unpaced: {MAX_RECORDS} records of {RECORD_LENGTH} characters, '
          f'bht-sim without --baud, quenlo-cli +B115200, best of {UNPACED_REPEATS}')
    print(run.describe())
    row('wall time (start to exit)', f'{run.wall:.3f} s')
    row('records per second', f'{rate:.0f}',
        f'target >= {UNPACED_RECORDS_PER_SECOND}: {verdict(rate >= UNPACED_RECORDS_PER_SECOND)}')
    to_raw(rate, 'send')
    cpu_rows(run)
    row('copies equal input (cmp)', 'yes' if same else 'NO')
    return same


def bench_paced(build, work, records, condition):
    source = os.path.join(work, f'paced-{condition}', NAME)
    os.makedirs(os.path.dirname(source))
    make_program_file(source, records)
    bound = wire_bound_seconds(records)
    run = Run(build, work, f'paced-{condition}-run').go(source, ['--baud', str(BAUD)],
                                                        ['+B115200'])
    ratio = run.wall / bound
    beyond = (run.wall - bound) / records * 1e6
    same = run.same_copy(source)
    print(f'== (2) paced, {condition}: {records} records, bht-sim --baud {BAUD} (both ways), '
          f'quenlo-cli +B115200, block check and numbers on')
    print(run.describe())
    row('wall time (start to exit)', f'{run.wall:.3f} s')
    row('wire bound', f'{bound:.3f} s',
        f'({HEADING_BLOCK}-byte heading, {DATA_BLOCK}-byte blocks, 1-byte answers, '
        f'{BITS_PER_BYTE} bits a byte)')
    keep_paced_ratio('block send', condition, ratio)
    row('beyond the bound', f'{beyond:.0f} us', 'a record, start-up not subtracted')
    cpu_rows(run)
    keep_cpu('block send', condition, run)
    row('copy equals input (cmp)', 'yes' if same else 'NO')
    return run.exit == 0 and same


def bench_idle(build, work):
    source = os.path.join(work, 'idle', NAME)
    os.makedirs(os.path.dirname(source))
    make_program_file(source, 10)
    run = Run(build, work, 'idle-run').go(source, ['--silent'], ['+B115200', '+T30'])
    percent = run.cpu / run.wall * 100
    figures[('CPU while a silent handheld is waited for', 'quiet')] = percent
    print('== (3) idle: bht-sim --silent, quenlo-cli +B115200 +T30 (the default 30-second '
          f'time-out), exit {EXIT_TIMEOUT} expected')
    print(run.describe())
    row('wall time (start to exit)', f'{run.wall:.3f} s')
    row('quenlo-cli CPU (user+sys)', f'{run.cpu:.4f} s', f'(user {run.user:.4f}, sys {run.sys:.4f})')
    row('CPU of one core', f'{percent:.3f} %',
        f'target <= {IDLE_CPU_PERCENT}: {verdict(percent <= IDLE_CPU_PERCENT)}')
    return run.exit == EXIT_TIMEOUT


def upload_run(build, work, label, source, sim_options, cli_options=()):
    return Run(build, work, label).go(None, ['--send', source] + sim_options,
                                      ['+B115200'] + list(cli_options))


def bench_upload(build, work, records, paced, condition='quiet'):
    """The handheld uploads. Its first ENQ goes out before the loader has the port open and the
    loader's flush at open throws it away; the next comes a call wait (3.5 s) later. A one-record
    upload, run the same way, measures that start (call wait, start-up, heading and close); it is
    subtracted, so the figures count from the heading on."""
    sim_options = ['--baud', str(BAUD)] if paced else []
    what = f'paced, bht-sim --baud {BAUD}, {condition}' if paced else 'unpaced'
    label = f'paced-{condition}' if paced else 'unpaced'
    one = os.path.join(work, f'upload-{label}-one', NAME)
    full = os.path.join(work, f'upload-{label}', NAME)
    for path, count in ((one, 1), (full, records)):
        os.makedirs(os.path.dirname(path))
        make_program_file(path, count)
    # Unpaced, best of as many runs as the raw round trip takes, the start run too.
    repeats = 1 if paced else UNPACED_REPEATS
    start_runs = [upload_run(build, work, f'upload-{label}-one-run-{i}', one, sim_options)
                  for i in range(repeats)]
    runs = [upload_run(build, work, f'upload-{label}-run-{i}', full, sim_options)
            for i in range(repeats)]
    same = (all(r.exit == 0 and r.same_copy(full, r.loader_dir) for r in runs)
            and all(r.exit == 0 and r.same_copy(one, r.loader_dir) for r in start_runs))
    start_run = min(start_runs, key=lambda r: r.wall)
    run = min(runs, key=lambda r: r.wall)
    net = run.wall - start_run.wall
    print(f'== (4) upload, {what}: bht-sim --pty LINK --send FILE, quenlo-cli DIR/ +P0 +B115200, '
          f'{records} records of {RECORD_LENGTH} characters'
          + ('' if paced else f', best of {repeats}'))
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
        keep_paced_ratio('block receive', condition, from_heading / bound)
    else:
        rate = (records - 1) / net
        row('records per second', f'{rate:.0f}',
            f'(records less one) / (wall less the one-record run); '
            f'wall less 3.5 s: {records / (run.wall - 3.5):.0f}')
        row('', '', f'compare the unpaced send, (1): target >= {UNPACED_RECORDS_PER_SECOND}: '
            f'{verdict(rate >= UNPACED_RECORDS_PER_SECOND)}')
        to_raw(rate, 'receive')
    cpu_rows(run)
    if paced:
        keep_cpu('block receive', condition, run, start_run)
    row('copies equal input (cmp)', 'yes' if same else 'NO')
    return same


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


def ymodem_send(build, work, label, source, sim_options):
    run = Run(build, work, label).go(source, ['--ymodem'] + sim_options, ['+YMOD', '+B115200'])
    return run, run.same_copy(source)


def ymodem_receive(build, work, label, source, sim_options):
    run = upload_run(build, work, label, source, ['--ymodem'] + sim_options, ['+YMOD'])
    return run, run.same_copy(source, run.loader_dir)


def ymodem_files(work, size=None):
    """The 1 MiB file, or one of `size` bytes, and a 1-byte file, made once."""
    folder = os.path.join(work, 'ymodem', 'paced' if size else 'unpaced')
    big, small = os.path.join(folder, 'BENCH.PD4'), os.path.join(folder, 'small', 'BENCH.PD4')
    if not os.path.exists(big):
        os.makedirs(os.path.dirname(small))
        make_binary_file(big, size or YMODEM_SIZE)
        make_binary_file(small, 1)
    return big, small


def bench_ymodem(build, work, repeats=3):
    """1 MiB by YMODEM, unpaced: the loader to bht-sim --ymodem, bht-sim --ymodem --send to the
    loader, and sb -k to rb -y. Every way waits before its data moves (bht-sim's first C goes
    out before the loader has the port open and its flush throws it away, the next comes 3 s
    later; rb waits 1 s before its C, 1 s after EOT and 1 s before the batch's end); a 1-byte
    transfer run the same way measures that, and the net time leaves it out."""
    have_lrzsz = shutil.which('sb') and shutil.which('rb')
    big, small = ymodem_files(work)
    mib = YMODEM_SIZE / (1 << 20)
    ok = True
    print(f'== (5) YMODEM: {mib:g} MiB, unpaced, 1024-byte blocks')

    # Best of `repeats`: a run of a few tenths of a second shows the machine's other load.
    results = []
    for name, way in (('quenlo-cli FILE +YMOD -> bht-sim --ymodem', ymodem_send),
                      ('bht-sim --ymodem --send -> quenlo-cli DIR/ +YMOD', ymodem_receive)):
        tag = 'send' if way is ymodem_send else 'receive'
        runs = [way(build, work, f'ymodem-{tag}-{i}', big, []) for i in range(repeats)]
        ones = [way(build, work, f'ymodem-{tag}-one-{i}', small, []) for i in range(repeats)]
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
    return ok


def bench_ymodem_paced(build, work, paced_kib, condition):
    size = paced_kib * 1024
    paced_file, small = ymodem_files(work, size)
    bound = ymodem_bound_seconds(size)
    one_bound = ymodem_bound_seconds(1)
    print(f'== (6) YMODEM paced, {condition}: {paced_kib} KiB, bht-sim --ymodem --baud {BAUD}; '
          f'line bound {bound:.3f} s ({YMODEM_LONG_FRAME}-byte blocks, 1-byte ACK, block 0, EOT '
          f"and the batch's end, {BITS_PER_BYTE} bits a byte)")
    ok = True
    for name, way in (('send', ymodem_send), ('receive', ymodem_receive)):
        label = f'ymodem-paced-{condition}-{name}'
        run, same = way(build, work, label, paced_file, ['--baud', str(BAUD)])
        one, _ = way(build, work, label + '-one', small, ['--baud', str(BAUD)])
        ok = ok and run.exit == 0 and one.exit == 0 and same
        # The 1-byte run beyond its own line time is the wait before the data.
        net = run.wall - (one.wall - one_bound)
        print(f'  -- {name}: quenlo-cli exit {run.exit}, copy {"same" if same else "DIFFERS"}')
        row('elapsed', f'{run.wall:.3f} s', f'(1 byte: {one.wall:.3f} s)')
        row('less the start wait', f'{net:.3f} s')
        keep_paced_ratio('YMODEM ' + name, condition, net / bound)
        keep_cpu('YMODEM ' + name, condition, run, one)
    return ok


def paced_set(build, work, args, condition):
    ok = bench_raw_paced(build, condition)
    ok = bench_paced(build, work, args.paced_records, condition) and ok
    sys.stdout.flush()
    ok = bench_upload(build, work, args.paced_records, True, condition) and ok
    sys.stdout.flush()
    return bench_ymodem_paced(build, work, args.ymodem_paced_kib, condition) and ok


def bench_busy(build, work, args):
    """The paced set while a CPU burner at normal priority keeps every core busy."""
    burners = [subprocess.Popen([sys.executable, '-c', 'while True: pass'])
               for _ in range(os.cpu_count() or 1)]
    try:
        print(f'== busy: {len(burners)} CPU burners (python3 -c "while True: pass") at normal '
              'priority, one a core')
        ok = paced_set(build, work, args, 'busy')
        # At the end: the 1-minute average takes a minute to show what the burners add.
        figures['busy load'] = os.getloadavg()
        return ok
    finally:
        for burner in burners:
            burner.kill()
            burner.wait()


def print_table(load):
    """Every figure of this run beside its target."""
    def cell(key, condition, fmt):
        value = figures.get((key, condition))
        return f'{"-":>10}' if value is None else f'{fmt.format(value):>10}'

    ways = ('block send', 'block receive', 'YMODEM send', 'YMODEM receive')
    lines = [(f'paced time / line bound, {w}', '{:.4f}',
              f'<= {PACED_RATIO["quiet"]} quiet, <= {PACED_RATIO["busy"]} busy') for w in ways]
    lines += [(f'raw paced time / line bound, {w}', '{:.4f}', 'the limit, for the two above')
              for w in ways[:2]]
    lines += [(f'loader CPU, {w}', '{:.2f} %', f'<= {LOADER_CPU_PERCENT:g} %') for w in ways]
    lines += [(f'bht-sim CPU, {w}', '{:.2f} %', f'<= {SIM_CPU_PERCENT:g} %') for w in ways]
    lines += [(f'unpaced {w} / raw round trip', '{:.3f}', f'>= {UNPACED_TO_RAW}')
              for w in ('send', 'receive')]
    lines.append(('CPU while a silent handheld is waited for', '{:.3f} %',
                  f'<= {IDLE_CPU_PERCENT} %'))
    print('== Summary: paced at 115200 Bd; CPU is user+sys / wall of one core; loader CPU and '
          'the paced ratios count from the transfer proper where a start wait comes first')
    print(f'    load average at the start: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} '
          f'(1, 5, 15 min), {os.cpu_count()} cores'
          + (f'; at the end of the busy runs: {figures["busy load"][0]:.2f}'
             if 'busy load' in figures else ''))
    for what, way in (('raw round trip', 'raw'), ('unpaced records', 'unpaced')):
        if f'{way} send' in figures and f'{way} receive' in figures:
            print(f'    {what}: {figures[way + " send"]:.0f}/s as the loader sends, '
                  f'{figures[way + " receive"]:.0f}/s as it receives')
    print(f'    {"figure":<44}{"quiet":>10}{"busy":>10}  target')
    for key, fmt, target in lines:
        print(f'    {key:<44}{cell(key, "quiet", fmt)}{cell(key, "busy", fmt)}  {target}')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('build')
    parser.add_argument('which', nargs='*', metavar='raw|unpaced|paced|idle|upload|ymodem|busy',
                        help='which to run; all when none is named')
    parser.add_argument('--paced-records', type=int, default=3000)
    parser.add_argument('--ymodem-paced-kib', type=int, default=256,
                        help='size of the paced YMODEM file (each way takes about 0.09 s a KiB)')
    parser.add_argument('--keep', action='store_true',
                        help='leave the files, logs and the handheld\'s copies behind')
    args = parser.parse_args()

    for program in ('cli/quenlo-cli', 'sim/bht-sim', 'bench/pty_round_trip'):
        if not os.access(os.path.join(args.build, program), os.X_OK):
            sys.exit(f'transfer_bench: {args.build}/{program} is missing; build it first')

    # The raw round trip first, so the unpaced rates have their limit from the same run.
    every = ['raw', 'unpaced', 'paced', 'idle', 'upload', 'ymodem', 'busy']
    which = args.which or every
    # argparse cannot check choices on an optional list itself.
    for name in which:
        if name not in every:
            parser.error(f'no benchmark called {name!r}')
    load = os.getloadavg()
    work = os.path.abspath(tempfile.mkdtemp(prefix='quenlo-transfer-bench.'))
    ok = True
    try:
        for name in which:
            if name == 'raw':
                ok = bench_raw(args.build) and ok
                ok = bench_raw_paced(args.build, 'quiet') and ok
            elif name == 'unpaced':
                ok = bench_unpaced(args.build, work) and ok
            elif name == 'paced':
                ok = bench_paced(args.build, work, args.paced_records, 'quiet') and ok
            elif name == 'upload':
                ok = bench_upload(args.build, work, MAX_RECORDS, False) and ok
                ok = bench_upload(args.build, work, args.paced_records, True) and ok
            elif name == 'ymodem':
                ok = bench_ymodem(args.build, work) and ok
                ok = bench_ymodem_paced(args.build, work, args.ymodem_paced_kib, 'quiet') and ok
            elif name == 'busy':
                ok = bench_busy(args.build, work, args) and ok
            else:
                ok = bench_idle(args.build, work) and ok
            sys.stdout.flush()
        print_table(load)
    finally:
        if args.keep:
            print(f'transfer_bench: files kept in {work}')
        else:
            shutil.rmtree(work, ignore_errors=True)
    if not ok:
        sys.exit('transfer_bench: a transfer went wrong (see above)')


if __name__ == '__main__':
    main()

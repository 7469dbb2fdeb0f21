#!/usr/bin/env python3
"""quenlo-cli.exe under Wine against bht-sim on Linux pseudo-terminals, one row a case.

Each row starts bht-sim on a pseudo-terminal, links the prefix's dosdevices/comN to it (so that
COMn in Windows is that pseudo-terminal), runs quenlo-cli.exe under wine and judges the exit
status, the two result lines, the reason on stderr, bht-sim's summary and every copy, byte for
byte, on the Linux side. Prints a table (row, expected, got, pass/fail, seconds) and ends
"windows-e2e: N passed, N failed"; exits non-zero on any failure.

usage: windows-e2e.py --exe QUENLO_CLI_EXE --sim BHT_SIM --prefix WINEPREFIX --work DIR
                      --interrupt CONSOLE_INTERRUPT_EXE [--samples DIR] [--rows N,...]
"""
import argparse
import os
import shlex
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

PROGRAM_SENT = "Program Sent OK\nErr(0) Transfer Complete\n"
FILE_SENT = "File Sent OK\nErr(0) Transfer Complete\n"
PROGRAM_RECEIVED = "Program Received OK\nErr(0) Transfer Complete\n"
FILE_RECEIVED = "File Received OK\nErr(0) Transfer Complete\n"
# Every transfer here ends in seconds; the silent handheld in about 30 (+T30).
CLI_LIMIT = 90
SIM_START_LIMIT = 10


def win_path(path):
    """The Windows name of a Linux path: Wine's Z: drive is /."""
    return "Z:" + str(path).replace("/", "\\")


class Rig:
    def __init__(self, args):
        self.exe = Path(args.exe).resolve()
        self.interrupter = Path(args.interrupt).resolve()
        self.sim_program = Path(args.sim).resolve()
        self.samples = Path(args.samples).resolve()
        self.work = Path(args.work).resolve()
        self.prefix = Path(args.prefix).resolve()
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64",
                        LC_ALL="C.UTF-8")
        self.env.pop("DISPLAY", None)
        self.sims = []
        self.runs = 0

    def fresh(self, name):
        """An empty folder for one row."""
        folder = self.work / name
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        return folder

    def sim(self, folder, com, options):
        """bht-sim on a pseudo-terminal that Windows sees as COM<com>; writes to folder/received."""
        (folder / "received").mkdir(exist_ok=True)
        link = folder / f"COM{com}"
        dos = self.prefix / "dosdevices" / f"com{com}"
        if dos.is_symlink() or dos.exists():
            dos.unlink()
        dos.symlink_to(link)
        out = open(folder / "sim.out", "wb")
        err = open(folder / "sim.err", "wb")
        process = subprocess.Popen([str(self.sim_program), "--pty", str(link), "--dir",
                                    str(folder / "received")] + options,
                                   stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        self.sims.append(process)
        until = time.monotonic() + SIM_START_LIMIT
        while not link.exists():
            if process.poll() is not None or time.monotonic() > until:
                raise RuntimeError("bht-sim did not start: " + (folder / "sim.err").read_text())
            time.sleep(0.02)
        return process

    def cli(self, args, wait=True):
        """quenlo-cli.exe under wine: (status, stdout, stderr) with Wine's CR LF made LF.

        The output goes through files, not pipes: Wine's own services, started by the first
        program, would hold a pipe open long after the program ended."""
        self.runs += 1
        out_path = self.work / f"cli-{self.runs}.out"
        err_path = self.work / f"cli-{self.runs}.err"
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen(["wine", str(self.exe)] + args, env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        def result():
            status = process.wait(timeout=CLI_LIMIT)
            return (status, out_path.read_bytes().decode("utf-8", "replace").replace("\r", ""),
                    err_path.read_bytes().decode("utf-8", "replace").replace("\r", ""))
        return result() if wait else (result, err_path)

    def cli_on_console(self, delays, args):
        """quenlo-cli.exe on a console (a terminal made by script), with Ctrl-C pressed after
        each delay in milliseconds: (status, stdout, seconds)."""
        self.runs += 1
        out_path = self.work / f"cli-{self.runs}.out"
        status_path = self.work / f"cli-{self.runs}.status"
        command = " ".join(shlex.quote(str(a)) for a in
                           ["wine", self.interrupter, delays, self.exe] + args)
        command += f" >{shlex.quote(str(out_path))} 2>/dev/null; echo $? >{status_path}"
        started = time.monotonic()
        subprocess.run(["script", "-qec", command, "/dev/null"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=CLI_LIMIT)
        seconds = time.monotonic() - started
        return (int(status_path.read_text()),
                out_path.read_bytes().decode("utf-8", "replace").replace("\r", ""), seconds)

    @staticmethod
    def sim_end(process, folder, limit=10):
        """bht-sim's exit status and its last line (the summary)."""
        try:
            status = process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            process.send_signal(signal.SIGTERM)
            status = process.wait(timeout=5)
        lines = (folder / "sim.out").read_text(errors="replace").strip().splitlines()
        return status, lines[-1] if lines else ""

    def stop(self):
        for process in self.sims:
            if process.poll() is None:
                process.kill()
                process.wait()


def same(a, b):
    return Path(a).is_file() and Path(b).is_file() and Path(a).read_bytes() == Path(b).read_bytes()


def last_line(text):
    lines = text.strip().splitlines()
    return lines[-1] if lines else ""


def pattern(size):
    """Every byte value, over and over."""
    return bytes(i * 13 % 256 for i in range(size))


def outcome(status, out, extra=""):
    return f"exit {status}; {out.strip().splitlines()[-1] if out.strip() else '(no result)'}" + (
        f"; {extra}" if extra else "")


# Each row: (name, function(rig) -> (expected, got)). A row passes when got equals expected.

def send_row(sample, cli_options, result, records, sim_options=(), com=5):
    def row(rig):
        folder = rig.fresh(f"send-{sample}")
        source = folder / sample
        shutil.copy(rig.samples / sample, source)
        sim = rig.sim(folder, com, list(sim_options))
        status, out, err = rig.cli([win_path(source), f"+P{com - 1}", "+B115200"] + cli_options)
        sim_status, summary = rig.sim_end(sim, folder)
        copy = "copy equal" if same(source, folder / "received" / sample) else "copy differs"
        expected = outcome(0, result, f"records={records}/{records}; copy equal")
        got = outcome(status, out, summary[summary.find("records="):].split()[0] + "; " + copy)
        return expected, got + ("" if status == 0 else " | " + last_line(err))
    return row


def pd3_send(rig):
    return send_row("DEMO.PD3", ["+T30", "+PB", "+SN"], PROGRAM_SENT, 400)(rig)


def data_send(rig):
    return send_row("STOCK.TXT", ["+F13,20,6"], FILE_SENT, 60)(rig)


def receive_row(folder_name, upload, token_of, result, sim_options=(), extra_check=None):
    """The handheld uploads `upload` (a path) into the folder the token names."""
    def row(rig):
        folder = rig.fresh(folder_name)
        target = folder / "in"
        target.mkdir()
        sim = rig.sim(folder, 5, ["--send", str(upload(rig, folder))] + list(sim_options))
        status, out, err = rig.cli([token_of(target), "+P4", "+B115200"] +
                                   (["+YMOD"] if "--ymodem" in sim_options else []))
        sim_status, summary = rig.sim_end(sim, folder)
        name = upload(rig, folder).name
        checks = ["copy equal" if same(upload(rig, folder), target / name) else "copy differs"]
        if extra_check:
            checks.append(extra_check(rig, target))
        expected = outcome(0, result, "; ".join(["copy equal"] + (
            [extra_check(None, None)] if extra_check else [])))
        return expected, outcome(status, out, "; ".join(checks)) + (
            "" if status == 0 else " | " + last_line(err))
    return row


def sample_copy(name, as_name=None):
    def upload(rig, folder):
        path = folder / (as_name or name)
        if not path.exists():
            shutil.copy(rig.samples / name, path)
        return path
    return upload


def field_file_check(rig, target):
    """The field file beside the received data file: the sample's, but for the date line."""
    if rig is None:
        return "field file equal"
    def lines(path):
        return [l for l in path.read_bytes().split(b"\r\n") if not l.startswith(b"date")] \
            if path.is_file() else None
    return "field file equal" if lines(target / "STOCK.FLD") == lines(rig.samples / "STOCK.FLD") \
        else "field file differs"


def pd3_receive(rig):
    return receive_row("receive-pd3", sample_copy("DEMO.PD3", "UP.PD3"),
                       lambda t: win_path(t) + "\\", PROGRAM_RECEIVED)(rig)


def data_receive(rig):
    return receive_row("receive-data", sample_copy("STOCK.TXT"), lambda t: win_path(t) + "\\",
                       FILE_RECEIVED, ["--fields", "13,20,6"], field_file_check)(rig)


def ymodem_send(rig):
    folder = rig.fresh("ymodem-send")
    source = folder / "APP.PD4"
    source.write_bytes(pattern(70000))
    sim = rig.sim(folder, 5, ["--ymodem"])
    status, out, err = rig.cli([win_path(source), "+P4", "+B115200", "+YMOD"])
    sim_status, _ = rig.sim_end(sim, folder)
    copy = "copy equal" if same(source, folder / "received" / "APP.PD4") else "copy differs"
    return outcome(0, "Err(0) Transfer Complete", "70000 bytes; copy equal"), outcome(
        status, out, f"{source.stat().st_size} bytes; {copy}") + (
        "" if status == 0 else " | " + last_line(err))


def ymodem_receive(rig):
    def upload(rig_, folder):
        path = folder / "UP.PD4"
        if not path.exists():
            path.write_bytes(pattern(70000))
        return path
    expected, got = receive_row("ymodem-receive", upload, lambda t: win_path(t) + "\\",
                                "Err(0) Transfer Complete", ["--ymodem"])(rig)
    return expected, got


def refused_block(rig):
    folder = rig.fresh("nak")
    source = folder / "DEMO.PD3"
    shutil.copy(rig.samples / "DEMO.PD3", source)
    sim = rig.sim(folder, 5, ["--nak-block", "3", "--nak-times", "10"])
    status, out, err = rig.cli([win_path(source), "+P4", "+B115200", "+T30"])
    rig.sim_end(sim, folder)
    kept = "nothing kept" if not (folder / "received" / "DEMO.PD3").exists() else "a copy kept"
    return outcome(54, "Err(54) Communications error.", "nothing kept"), outcome(status, out, kept)


def silent_and_busy(rig):
    """A silent handheld times out (+T30), and a second loader on its port meanwhile gets 101."""
    folder = rig.fresh("silent")
    source = folder / "DEMO.PD3"
    shutil.copy(rig.samples / "DEMO.PD3", source)
    sim = rig.sim(folder, 5, ["--silent"])
    first, first_err = rig.cli([win_path(source), "+P4", "+B19200", "+T30"], wait=False)
    # The first loader holds COM5 once its window says so (the status after the opening).
    until = time.monotonic() + 20
    while b"Establish Link" not in first_err.read_bytes() and time.monotonic() < until:
        time.sleep(0.05)
    status2, out2, err2 = rig.cli([win_path(source), "+P4", "+B19200", "+T30"])
    status, out, err = first()
    sim.send_signal(signal.SIGTERM)
    rig.sim_end(sim, folder)
    busy = "busy" if "busy: another program holds it" in last_line(err2) else last_line(err2)
    return (outcome(52, "Err(52) Communications error.") + " | second: exit 101; busy",
            outcome(status, out) + f" | second: exit {status2}; {busy}")


def missing_port(rig):
    dos = rig.prefix / "dosdevices" / "com9"
    if dos.is_symlink():
        dos.unlink()
    status, out, err = rig.cli([win_path(rig.samples / "DEMO.PD3"), "+P8"])
    reason = last_line(err)
    want = "quenlo-cli: COM9 is COM9: no such device"
    return (outcome(101, "Err(101) Communications Port COM9 not available.",
                    want + "; ports here: ..."),
            outcome(status, out, reason[:len(want)] + ("; ports here: ..."
                                                       if "; ports here: " in reason else "")))


def backslash_paths(rig):
    """A drive letter, "\\" between folders and the case of the option line, both ways."""
    folder = rig.fresh("drive-paths")
    (folder / "SubDir").mkdir()
    source = folder / "SubDir" / "prog.pd3"
    shutil.copy(rig.samples / "DEMO.PD3", source)
    sim = rig.sim(folder, 6, [])
    # Upper-cased by the option line: Z:\...\SUBDIR\PROG.PD3 must find "SubDir/prog.pd3".
    status, out, err = rig.cli([win_path(source).upper(), "+P5", "+B115200"])
    rig.sim_end(sim, folder)
    sent = same(source, folder / "received" / "PROG.PD3")
    shutil.copy(rig.samples / "DEMO.PD3", folder / "UP.PD3")
    sim = rig.sim(folder, 6, ["--send", str(folder / "UP.PD3")])
    status2, out2, err2 = rig.cli([win_path(folder / "SubDir") + "\\", "+P5", "+B115200"])
    rig.sim_end(sim, folder)
    back = same(folder / "UP.PD3", folder / "SubDir" / "UP.PD3")
    return ("sent: exit 0, copy equal | received: exit 0, copy equal",
            f"sent: exit {status}, copy {'equal' if sent else 'differs'} | received: exit "
            f"{status2}, copy {'equal' if back else 'differs'}")


def beyond_ascii(rig):
    """Names beyond ASCII: a folder takes any letters ("Données"), the name that travels keeps the
    handheld's rules: "£" is one of its characters, "É" is not (2, before the port opens)."""
    folder = rig.fresh("beyond-ascii")
    donnees = folder / "Données"
    donnees.mkdir()
    refused = donnees / "ÉTÉ.PD3"
    shutil.copy(rig.samples / "DEMO.PD3", refused)
    status0, out0, err0 = rig.cli([win_path(refused), "+P4", "+B115200"])
    source = donnees / "£1.PD3"
    shutil.copy(rig.samples / "DEMO.PD3", source)
    sim = rig.sim(folder, 5, [])
    status, out, err = rig.cli([win_path(source), "+P4", "+B115200"])
    rig.sim_end(sim, folder)
    sent = same(source, folder / "received" / "£1.PD3")
    shutil.copy(rig.samples / "DEMO.PD3", folder / "£UP.PD3")
    sim = rig.sim(folder, 5, ["--send", str(folder / "£UP.PD3")])
    status2, out2, err2 = rig.cli([win_path(donnees) + "\\", "+P4", "+B115200"])
    rig.sim_end(sim, folder)
    back = same(folder / "£UP.PD3", donnees / "£UP.PD3")
    return ("ÉTÉ.PD3: exit 2 | sent Données\\£1.PD3: exit 0, copy equal | received £UP.PD3 into "
            "Données: exit 0, copy equal",
            f"ÉTÉ.PD3: exit {status0} | sent Données\\£1.PD3: exit {status}, copy "
            f"{'equal' if sent else 'differs'} | received £UP.PD3 into Données: exit {status2}, "
            f"copy {'equal' if back else 'differs'}" +
            ("" if status == 0 and status2 == 0 else " | " + last_line(err + err2)))


def vanishing(rig):
    """The handheld's end closes after four blocks: the device went away (1002), said at once."""
    folder = rig.fresh("vanishing")
    source = folder / "GONE.PD3"
    shutil.copy(rig.samples / "DEMO.PD3", source)
    sim = rig.sim(folder, 5, ["--cut-after", "600"])
    status, out, err = rig.cli([win_path(source), "+P4", "+B115200", "+T30"])
    rig.sim_end(sim, folder)
    return ("exit 255; Error1002 OCCURED; quenlo-cli: the device went away (unplugged, or its "
            "other end closed)", outcome(status, out, last_line(err)))


def interrupt(rig):
    """Ctrl-C while the handheld is silent: Cancel, well inside the 30 s time-out (90)."""
    folder = rig.fresh("interrupt")
    source = folder / "DEMO.PD3"
    shutil.copy(rig.samples / "DEMO.PD3", source)
    sim = rig.sim(folder, 5, ["--silent"])
    status, out, seconds = rig.cli_on_console("3000", [win_path(source), "+P4", "+B19200", "+T30"])
    sim.send_signal(signal.SIGTERM)
    rig.sim_end(sim, folder)
    return ("exit 90; Err(90) Aborted by Cancel.; before the time-out",
            outcome(status, out, "before the time-out" if seconds < 20 else
                    f"after {seconds:.0f} s"))


def list_ports(rig):
    """The registry's ports, each with the option that opens it. Wine registers only the ports
    it made itself; COM7 is registered here as a port driver would (until Wine restarts)."""
    subprocess.run(["wine", "reg", "add", r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM", "/v",
                    r"\Device\QuenloTest7", "/d", "COM7", "/f"], env=rig.env,
                   capture_output=True, timeout=CLI_LIMIT)
    status, out, err = rig.cli(["--list-ports"])
    rows = [" ".join(l.split()[:2]) for l in out.splitlines()[1:] if l.startswith("COM7 ")]
    return "exit 0; COM7 COM7(+P6)", f"exit {status}; " + (rows[0] if rows else "no COM7")


ROWS = [
    ("PD3 send", pd3_send),
    ("data file send (+F)", data_send),
    ("PD3 reception", pd3_receive),
    ("data file + field file received", data_receive),
    ("YMODEM send", ymodem_send),
    ("YMODEM reception", ymodem_receive),
    ("block refused 10 times", refused_block),
    ("silent handheld; 2nd loader", silent_and_busy),
    ("COM port that does not exist", missing_port),
    ("drive letter, \\ paths", backslash_paths),
    ("names beyond ASCII", beyond_ascii),
    ("handheld vanishing", vanishing),
    ("Ctrl-C cancels", interrupt),
    ("--list-ports", list_ports),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--interrupt", required=True, help="console-interrupt.exe")
    parser.add_argument("--samples", default=Path(__file__).resolve().parent.parent / "samples")
    parser.add_argument("--rows", default="", help="comma-separated row numbers to run")
    args = parser.parse_args()
    rig = Rig(args)
    # One wineserver for the whole table: each program then starts in a fraction of a second.
    subprocess.run(["wineserver", "-p"], env=rig.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    rig.work.mkdir(parents=True, exist_ok=True)
    chosen = {int(n) for n in args.rows.split(",") if n}
    passed = failed = 0
    print(f"{'#':>2}  {'row':<32} {'result':<6} {'seconds':>7}")
    try:
        for number, (name, run) in enumerate(ROWS, 1):
            if chosen and number not in chosen:
                continue
            started = time.monotonic()
            try:
                expected, got = run(rig)
            except Exception as error:  # a row that cannot run has failed
                expected, got = "(the row runs)", f"{type(error).__name__}: {error}"
            finally:
                rig.stop()
            seconds = time.monotonic() - started
            ok = expected == got
            passed += ok
            failed += not ok
            print(f"{number:>2}  {name:<32} {'pass' if ok else 'FAIL':<6} {seconds:7.1f}")
            print(f"    expected: {expected}")
            print(f"    got:      {got}", flush=True)
    finally:
        rig.stop()
        subprocess.run(["wineserver", "-k"], env=rig.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    print(f"windows-e2e: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

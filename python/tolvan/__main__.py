"""python -m tolvan: the command-line tool (the commands and options of `tolvan`)."""

import argparse
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zlib
import struct

from . import FUNCTIONS, Simulator, TolvanError, load

OK, FAILED, USAGE, NO_SIMULATOR, FILE_ERROR = 0, 1, 2, 3, 4

EPILOG = """exit codes:
  0  success
  1  the operation failed (a setting was refused, nothing was played)
  2  bad command line
  3  no simulator could be connected (the reason is printed)
  4  a file could not be read or written"""


def _connection_options(parser, timeout=5000):
    parser.add_argument("-p", "--port", type=int, default=-1,
                        help="port n of /dev/ttyACM<n>; -1 scans every port (default)")
    parser.add_argument("-t", "--timeout", type=int, default=timeout,
                        help=f"how long to look for the simulator, ms (default {timeout})")
    parser.add_argument("--vdev", nargs="?", const="current", metavar="PRESET",
                        help="start a virtual simulator (tolvan-vdev) for this run: current "
                             "(default), old, ppg2012, ppg2112, resp")
    parser.add_argument("--vdev-csv", metavar="FILE",
                        help="with --vdev: the virtual simulator writes its output to FILE")


def _setting_options(parser):
    parser.add_argument("function", help="output function number, name (" +
                        ", ".join(list(FUNCTIONS)[:8]) + ", aami3a, cal20000, pattern1, ...) "
                        "or recording file")
    parser.add_argument("-a", "--amplitude", type=float, help="mV peak-to-peak")
    parser.add_argument("-f", "--frequency", type=float, help="Hz")
    parser.add_argument("--bpm", type=float, help="heart rate, beats per minute")
    parser.add_argument("--dc", type=int, help="DC offset, mV")
    parser.add_argument("--width", type=float, help="pulse width, ms")
    parser.add_argument("-l", "--lead", type=int, action="append", default=[],
                        help="switch output lead N on (repeatable); for ane20000 the lead")
    parser.add_argument("--channel", type=int, default=0, help="channel of a recording file")
    parser.add_argument("--no-loop", action="store_true",
                        help="standard waveforms and recordings stop after playing once")


def _find_vdev(library_path):
    candidates = [os.environ.get("TOLVAN_VDEV")]
    here = os.path.dirname(os.path.realpath(library_path))
    candidates += [os.path.join(here, "tools", "virtual-device", "tolvan-vdev"),
                   os.path.join(here, "..", "bin", "tolvan-vdev"), shutil.which("tolvan-vdev")]
    for candidate in candidates:
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise FileNotFoundError("tolvan-vdev not found (set TOLVAN_VDEV)")


@contextlib.contextmanager
def _virtual_simulator(args, library):
    """Starts tolvan-vdev on port 0 of a private directory when --vdev was given."""
    if not getattr(args, "vdev", None):
        yield
        return
    work = tempfile.mkdtemp(prefix="tolvan-vdev-")
    os.environ["TOLVAN_DEVICE_PATTERN"] = os.path.join(work, "ttyACM%d")
    os.environ["TOLVAN_LOCK_DIR"] = work
    command = [_find_vdev(library.path), "--port", "0", "--preset", args.vdev]
    if args.vdev_csv:
        command += ["--csv", args.vdev_csv]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if os.path.lexists(os.path.join(work, "ttyACM0")):
                break
            time.sleep(0.05)
        args.port = 0
        yield
    finally:
        process.send_signal(signal.SIGINT)
        process.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


def _settings(sim, args):
    kwargs = dict(amplitude=args.amplitude, frequency=args.frequency, dc=args.dc,
                  width=args.width, bpm=args.bpm, leads=args.lead, channel=args.channel,
                  loop=not args.no_loop)
    return kwargs


def cmd_play(args, library):
    with _virtual_simulator(args, library):
        sim = Simulator(port=None if args.offline else args.port, timeout_ms=args.timeout,
                        library=library)
        try:
            sim.connect()
        except TolvanError as error:
            print(f"tolvan: no simulator: {error.text}", file=sys.stderr)
            return NO_SIMULATOR
        with contextlib.closing(sim):
            if not args.offline:
                print(f"connected: {sim.serial_number}, firmware {sim.firmware_version}")
            seen = {"n": 0, "min": 0.0, "max": 0.0}

            def on_sample(t, mv):
                if seen["n"] == 0 or mv < seen["min"]:
                    seen["min"] = mv
                if seen["n"] == 0 or mv > seen["max"]:
                    seen["max"] = mv
                seen["n"] += 1

            sim.on_sample(on_sample, divider=args.divider)
            try:
                sim.play(args.function, **_settings(sim, args))
            except (TolvanError, ValueError) as error:
                print(f"tolvan: {error}", file=sys.stderr)
                return FAILED
            start = time.monotonic()
            try:
                while args.seconds == 0 or time.monotonic() - start < args.seconds:
                    time.sleep(0.1)
                    if not sim.playing:
                        break
                    if sys.stderr.isatty():
                        print(f"\rplaying {args.function}: {time.monotonic() - start:.0f} s, "
                              f"{seen['n']} samples", end="", file=sys.stderr)
            except KeyboardInterrupt:
                pass
            sim.stop()
            sim.on_sample(None)
            if sys.stderr.isatty():
                print("\r\033[K", end="", file=sys.stderr)
            print(f"played {args.function} for {time.monotonic() - start:.1f} s: {seen['n']} "
                  f"callback samples, {seen['min']:.3f} .. {seen['max']:.3f} mV")
            return OK if seen["n"] else FAILED


def cmd_info(args, library):
    with _virtual_simulator(args, library):
        try:
            sim = Simulator(port=args.port, timeout_ms=args.timeout, library=library).connect()
        except TolvanError as error:
            print(f"tolvan: no simulator: {error.text}", file=sys.stderr)
            return NO_SIMULATOR
        with contextlib.closing(sim):
            print(f"serial number       {sim.serial_number}")
            print(f"firmware            {sim.firmware_version}")
            print(f"hardware            {sim.hardware_version}")
            print(f"PPG module          "
                  f"{library.TOLVGetPPGSerialNumber() if sim.ppg_connected else 'none'}")
            print(f"respiration module  "
                  f"{'yes' if library.TOLVRespirationModuleIsConnected() else 'none'}")
            print(f"libtolvan           {sim.sdk_version}")
    return OK


def cmd_list(args, library):
    with _virtual_simulator(args, library):
        pattern = os.environ.get("TOLVAN_DEVICE_PATTERN", "/dev/ttyACM%d")
        ports = [args.port] if args.port >= 0 else range(128)
        found = nodes = 0
        for n in ports:
            node = pattern.replace("%d", str(n))
            if not os.path.exists(node):
                continue
            nodes += 1
            if library.TOLVConnect(n, args.timeout):
                found += 1
                print(f"{node:24} {library.TOLVGetSerialNumber()}  firmware "
                      f"{library.TOLVGetFWVersion()}")
                library.TOLVFree()
            else:
                print(f"{node:24} {library.TOLVGetLastErrorText()}")
        if nodes == 0:
            print(f"no serial node matches {pattern} (is the simulator plugged in?)")
    return OK if found else NO_SIMULATOR


def cmd_render(args, library):
    with Simulator(port=None, library=library) as sim:
        try:
            for value, name in ((args.amplitude, "amplitude"), (args.frequency, "frequency"),
                                (args.dc, "dc_offset")):
                if value is not None:
                    setattr(sim, name, value)
            if args.bpm is not None:
                sim.frequency = args.bpm / 60.0
            samples = sim.render(args.function, args.seconds, args.rate)
        except (TolvanError, ValueError) as error:
            print(f"tolvan: {error}", file=sys.stderr)
            return FAILED
    try:
        if args.output.lower().endswith(".edf"):
            _write_edf(args.output, samples, args.rate, str(args.function))
        else:
            with open(args.output, "w") as f:
                f.write("time_s,mV\n")
                for i, v in enumerate(samples):
                    f.write(f"{i / args.rate:.6f},{v:.6f}\n")
    except OSError as error:
        print(f"tolvan: {error}", file=sys.stderr)
        return FILE_ERROR
    print(f"rendered {args.function}: {args.seconds:.1f} s at {args.rate} samples/s to "
          f"{args.output}")
    return OK


def _write_edf(path, samples, rate, label):
    """One signal in mV, 16-bit, one-second records (the last padded with its last value), as
    `tolvan render` writes it."""
    import numpy as np
    records = -(-len(samples) // rate)
    padded = np.full(records * rate, samples[-1])
    padded[:len(samples)] = samples
    low, high = float(samples.min()), float(samples.max())
    if high - low < 1e-3:
        low, high = low - 0.5, high + 0.5
    low_text, high_text = f"{low:.6f}"[:8], f"{high:.6f}"[:8]
    low, high = float(low_text), float(high_text)
    now = time.localtime()

    def field(text, width):
        return str(text)[:width].ljust(width)

    header = (field("0", 8) + field("X X X X", 80) +
              field("Startdate " + time.strftime("%d-%b-%Y", now).upper() + " X X tolvan", 80) +
              time.strftime("%d.%m.%y%H.%M.%S", now) + field(512, 8) + field("", 44) +
              field(records, 8) + field(1, 8) + field(1, 4) + field(label, 16) + field("", 80) +
              field("mV", 8) + field(low_text, 8) + field(high_text, 8) + field(-32768, 8) +
              field(32767, 8) + field("", 80) + field(rate, 8) + field("", 32))
    codes = np.clip(np.round((padded - low) / (high - low) * 65535.0 - 32768.0), -32768, 32767)
    with open(path, "wb") as f:
        f.write(header.encode("ascii"))
        f.write(codes.astype("<i2").tobytes())


def _read_edf(path):
    """Signal 0 of an EDF file in mV, and its rate."""
    import numpy as np
    with open(path, "rb") as f:
        data = f.read()
    signals = int(data[252:256])
    records, duration = int(data[236:244]), float(data[244:252])
    base = 256

    def field(offset, width, s=0):
        start = base + offset * signals + width * s
        return data[start:start + width].decode("ascii").strip()

    per_record = [int(field(216, 8, s)) for s in range(signals)]
    pmin, pmax = float(field(104, 8)), float(field(112, 8))
    dmin, dmax = float(field(120, 8)), float(field(128, 8))
    unit = {"uV": 0.001, "V": 1000.0}.get(field(96, 8), 1.0)
    codes = np.frombuffer(data, dtype="<i2", offset=256 * (signals + 1))
    codes = codes[:records * sum(per_record)].reshape(records, sum(per_record))[:, :per_record[0]]
    values = ((codes.ravel() - dmin) * (pmax - pmin) / (dmax - dmin) + pmin) * unit
    return list(values), per_record[0] / duration


def _read_csv(path, rate):
    import csv
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    if rows and "mV" in rows[0]:
        values = [float(r["mV"]) for r in rows]
        if len(rows) > 1:
            rate = 1.0 / (float(rows[1]["time_s"]) - float(rows[0]["time_s"]))
        return values, rate
    if rows and "ac_mV" in rows[0]:
        return [float(r["ac_mV"]) for r in rows], rate
    raise ValueError(f"{path}: no column mV (render) or ac_mV (tolvan-vdev --csv)")


def _columns(values, width):
    n = len(values)
    out = []
    for x in range(width):
        chunk = values[x * n // width:max(x * n // width + 1, (x + 1) * n // width)] or [0.0]
        out.append((min(chunk), max(chunk)))
    return out


def cmd_plot(args, library):
    try:
        if args.file.lower().endswith(".edf"):
            values, rate = _read_edf(args.file)
        else:
            values, rate = _read_csv(args.file, args.rate)
    except (OSError, ValueError) as error:
        print(f"tolvan: {error}", file=sys.stderr)
        return FILE_ERROR
    width, height, margin = args.width, args.height, 40
    columns = _columns(values, width - 2 * margin)
    low, high = min(values, default=-0.5), max(values, default=0.5)
    if high - low < 1e-6:
        low, high = low - 0.5, high + 0.5

    def row(v):
        return margin + round((high - v) / (high - low) * (height - 2 * margin))

    try:
        if args.output.lower().endswith(".png"):
            pixels = [bytearray(b"\xff" * (width * 3)) for _ in range(height)]
            for x, (lo, hi) in enumerate(columns):
                for y in range(row(hi), row(lo) + 1):
                    pixels[y][(margin + x) * 3:(margin + x) * 3 + 3] = b"\x1f\x5f\xbf"
            raw = b"".join(b"\x00" + bytes(line) for line in pixels)

            def chunk(kind, data):
                return (struct.pack(">I", len(data)) + kind + data +
                        struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))

            with open(args.output, "wb") as f:
                f.write(b"\x89PNG\r\n\x1a\n" +
                        chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                        chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
        else:
            points = " ".join(f"{margin + x},{row(hi)} {margin + x},{row(lo)}"
                              for x, (lo, hi) in enumerate(columns))
            with open(args.output, "w") as f:
                f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" '
                        f'height="{height}">\n<rect width="100%" height="100%" fill="white"/>\n'
                        f'<polyline fill="none" stroke="#1f5fbf" points="{points}"/>\n</svg>\n')
    except OSError as error:
        print(f"tolvan: {error}", file=sys.stderr)
        return FILE_ERROR
    print(f"plotted {len(values)} samples of {args.file} to {args.output}")
    return OK


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python -m tolvan", epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="The command-line tool of libtolvan, the host SDK of the TOLVAN patient "
                    "simulator (the commands of `tolvan`).")
    parser.add_argument("--version", action="store_true", help="the library's version")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    p = commands.add_parser("list", help="the serial ports and what answers on each")
    _connection_options(p, timeout=3000)
    p.set_defaults(run=cmd_list)
    p = commands.add_parser("info", help="serial number, firmware, hardware, modules")
    _connection_options(p)
    p.set_defaults(run=cmd_info)
    p = commands.add_parser("play", help="play an output function, standard waveform or recording")
    _setting_options(p)
    _connection_options(p)
    p.add_argument("-s", "--seconds", type=float, default=10.0,
                   help="how long to play (default 10; 0 = until Ctrl-C)")
    p.add_argument("--offline", action="store_true", help="no device: play on the library's timer")
    p.add_argument("--divider", type=int, default=1, help="output-signal callback divider")
    p.set_defaults(run=cmd_play)
    p = commands.add_parser("render", help="compute an output function offline into CSV or EDF")
    _setting_options(p)
    p.add_argument("-s", "--seconds", type=float, default=10.0, help="length (default 10)")
    p.add_argument("--rate", type=int, default=1000, help="samples/s (default 1000)")
    p.add_argument("-o", "--output", required=True,
                   help="the file: .edf writes EDF, anything else CSV (time_s,mV)")
    p.set_defaults(run=cmd_render)
    p = commands.add_parser("plot", help="draw a CSV or EDF file as an SVG or PNG image")
    p.add_argument("file", help="CSV of render, or of tolvan-vdev --csv, or an EDF file")
    p.add_argument("-o", "--output", required=True, help=".png writes PNG, else SVG")
    p.add_argument("-W", "--width", type=int, default=1200)
    p.add_argument("-H", "--height", type=int, default=400)
    p.add_argument("--rate", type=float, default=20000, help="rate of a tolvan-vdev CSV")
    p.set_defaults(run=cmd_plot)
    try:
        args = parser.parse_args(argv)
    except SystemExit as exit_:
        return USAGE if exit_.code else OK
    try:
        library = load()
    except OSError as error:
        print(f"tolvan: {error}", file=sys.stderr)
        return FAILED
    if args.version:
        print(f"libtolvan {library.sdk_version()} ({library.path})")
        return OK
    if not args.command:
        parser.print_help()
        return USAGE
    return args.run(args, library)


if __name__ == "__main__":
    sys.exit(main())

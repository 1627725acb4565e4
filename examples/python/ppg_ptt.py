#!/usr/bin/env python3
"""Synthetic ECG with PPG pulses that follow each R wave by a pulse-transit time.

    ppg_ptt.py [--port N] [--ptt MS] [--bpm BPM] [--seconds S]

Plays the synthetic ECG with a plethysmographic pulse on each of the three PPG channels at the
same rate, the peak of every pulse --ptt ms after the R wave, and the ground truth on. Then it
pairs each PPG peak of the ground truth with its R wave and prints the delays:

    PTT requested 200 ms, measured 199.2 ms (min 199.2, max 199.3) over 12 pulses

Without --port the library plays on its timer, without a device. On a simulator the pulses reach
the optical outputs only with a PPG module attached (0x2112 or 0x2012); without one they are
still computed and recorded in the ground truth. The pulse-transit time applies to the synthetic
ECG (outputs 7 and 14) with the ECG output on.
Exit status: 0 every pulse within 1 ms of the request, 1 otherwise or a call failed, 2 usage,
3 no simulator.
"""
import argparse
import sys
import time

import tolvan

# The R crest is placed on the whole millisecond below it, so a pulse may come up to 1 ms early.
TOLERANCE_MS = 1.0

# (DC level = the pulse top, AC = its height) of the three channels, in the module's units.
LEVELS = [(1500.0, 30.0), (1200.0, 20.0), (900.0, 8.0)]


def require(call, code, accepted):
    """Raises TolvanError with the code a call returned unless the call was accepted."""
    if not accepted:
        raise tolvan.TolvanError(call, code)


def measure(events):
    """(channel, R time, peak time, delay in ms) of each PPG peak that has an R wave before it
    (or up to the tolerance after it: with a transit time of 0 the peak may come just first)."""
    waves = sorted(e.Time for e in events
                   if e.Kind == tolvan.TOLV_TRUTH_R_WAVE and e.Channel == 0)
    out = []
    for e in events:
        if e.Kind != tolvan.TOLV_TRUTH_PPG_PEAK:
            continue
        before = [r for r in waves if r <= e.Time + TOLERANCE_MS / 1000.0]
        if before:
            out.append((e.Channel, before[-1], e.Time, 1000.0 * (e.Time - before[-1])))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=None,
                        help="n of /dev/ttyACM<n>, -1 scans; none: without a device")
    parser.add_argument("--ptt", type=int, default=200, help="pulse-transit time, 0 .. 500 ms")
    parser.add_argument("--bpm", type=int, default=60, help="beats per minute, 40 .. 110")
    parser.add_argument("--seconds", type=float, default=4.0, help="how long to play")
    args = parser.parse_args()
    if not 0 <= args.ptt <= 500 or not 40 <= args.bpm <= 110 or not 1 <= args.seconds <= 60:
        parser.error("--ptt 0 .. 500, --bpm 40 .. 110, --seconds 1 .. 60")
    rate = args.bpm / 60.0

    try:
        sim = tolvan.Simulator(port=args.port, timeout_ms=10000).connect()
    except tolvan.TolvanError as error:
        print(f"no simulator: {error.text}", file=sys.stderr)
        return 3
    with sim:
        lib = sim.lib
        if args.port is not None:
            module = lib.TOLVGetPPGSerialNumber() if sim.ppg_connected else "none"
            print(f"simulator {sim.serial_number}, PPG module: {module}")
        try:
            for channel, (dc, ac) in enumerate(LEVELS):
                # A plethysmographic pulse (type 3) at the ECG's rate; returns its table length.
                entries = lib.TOLVSetPPGStandardWaveform(channel, 3, 1, 0, rate, dc, ac)
                require(f"TOLVSetPPGStandardWaveform({channel}, ...)", entries, entries > 0)
                rc = lib.TOLVEnablePPGOutput(channel, True)
                require(f"TOLVEnablePPGOutput({channel}, True)", rc, rc == 0)
            lib.TOLVSetPTTp(args.ptt)
            rc = lib.TOLVEnableGroundTruth(1)
            require("TOLVEnableGroundTruth(1)", rc, rc == 0)
            sim.play("ecg", amplitude=1.0, frequency=rate)
        except tolvan.TolvanError as error:
            print(error, file=sys.stderr)
            return 1
        time.sleep(args.seconds)
        sim.stop()

        events = (tolvan.TOLV_TRUTH_EVENT * 4096)()
        count = lib.TOLVReadGroundTruth(events, len(events))
        lib.TOLVEnableGroundTruth(0)
    pulses = measure(events[:max(count, 0)])
    for channel, r, peak, delay in pulses:
        print(f"channel {channel}: R wave {r:.4f} s, PPG peak {peak:.4f} s, delay {delay:.1f} ms")
    if not pulses:
        print("no PPG pulse followed an R wave")
        return 1
    delays = [p[3] for p in pulses]
    print(f"PTT requested {args.ptt} ms, measured {sum(delays) / len(delays):.1f} ms "
          f"(min {min(delays):.1f}, max {max(delays):.1f}) over {len(delays)} pulses")
    within = all(abs(d - args.ptt) <= TOLERANCE_MS for d in delays)
    return 0 if within else 1


if __name__ == "__main__":
    sys.exit(main())

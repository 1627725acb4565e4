#!/usr/bin/env python3
"""The common tasks from Python, with tolvan.Simulator.

    common_tasks.py TASK [FILE] [--port N]
      standard  play the AAMI EC13 waveform aami3a
      edf FILE  play channel 0 of an EDF recording once
      pacing    synthetic ECG with pacing pulses synchronised to the beat
      record    record the output stage's AC and DC values while a square wave plays
    Without --port the library plays on its timer, without a device.
Exit status: 0 done, 1 failed, 2 usage, 3 no simulator or no reference data.
"""
import argparse
import sys
import time

import tolvan


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("task", choices=["standard", "edf", "pacing", "record"])
    parser.add_argument("file", nargs="?", help="the EDF file of the edf task")
    parser.add_argument("--port", type=int, default=None,
                        help="n of /dev/ttyACM<n>, -1 scans; none: without a device")
    args = parser.parse_args()
    if args.task == "edf" and not args.file:
        parser.error("edf needs FILE")

    try:
        sim = tolvan.Simulator(port=args.port, timeout_ms=10000).connect()
    except tolvan.TolvanError as error:
        print(f"no simulator: {error.text}", file=sys.stderr)
        return 3
    with sim:
        peak = [0.0, 0]

        def on_sample(t, mv):
            peak[0] = max(peak[0], mv)
            peak[1] += 1

        sim.on_sample(on_sample, divider=40)
        if args.task == "standard":
            try:
                sim.play("aami3a")
            except tolvan.TolvanError as error:
                print(f"aami3a: {error.text}")
                return 3 if error.code == tolvan.TOLV_TABLE_MISSING else 1
            time.sleep(2)
            sim.stop()
            print(f"aami3a: {peak[1]} callback samples, peak {peak[0]:.3f} mV")
        elif args.task == "edf":
            count = sim.load_recording(args.file)
            samples, rate = sim.recording()
            print(f"{args.file}: {count} samples at {rate} Hz, {samples.min():.3f} .. "
                  f"{samples.max():.3f} mV")
            sim.play(13, loop=False)
            while sim.playing:
                time.sleep(0.05)
            print("played to the end")
        elif args.task == "pacing":
            sim.frequency = 1.0
            sim.set_pacing(2.0, rate=120, width=1.0)
            pulses = []
            sim.lib.TOLVRegisterPacingOutputSignalCallback(lambda t, mv: pulses.append(t))
            sim.play("ecg")
            time.sleep(2)
            sim.stop()
            sim.lib.TOLVRegisterPacingOutputSignalCallback(None)
            print(f"{len(pulses) // 4} pacing pulses in 2 s")
        else:
            ac, dc = sim.record_output(20000)
            sim.play("square", amplitude=2.0, frequency=10.0)
            time.sleep(2)
            sim.stop()
            sim.stop_recording()
            print(f"recorded {len(ac)} samples: AC {ac.min():.3f} .. {ac.max():.3f} mV, "
                  f"DC {dc[0]:.3f} mV")
    return 0 if peak[1] or args.task == "edf" else 1


if __name__ == "__main__":
    sys.exit(main())

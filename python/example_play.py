#!/usr/bin/env python3
"""Connects to the simulator on a port (or plays without a device) and plays a sine.

    python3 python/example_play.py [port] [seconds]
"""
import sys
import time

import tolvan

lib = tolvan.load()
print("libtolvan", lib.sdk_version())
port = int(sys.argv[1]) if len(sys.argv) > 1 else None
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 2.0
if port is not None and lib.TOLVConnect(port, 15000):
    print("connected:", lib.serial_number(), "firmware", lib.firmware_version())
else:
    print("no simulator: playing without a device")
    lib.init(lambda connected: None)

samples = []
lib.register_output_signal(lambda t, mv: samples.append(mv), divider=40)
lib.TOLVSetAmplitude(2.0)
lib.TOLVSetFrequency(2.0)
lib.TOLVSetOutputFunction(tolvan.OUTPUT_SINE)
time.sleep(seconds)
lib.TOLVSetOutputFunction(tolvan.OUTPUT_OFF)
lib.register_output_signal(None)
print(f"{len(samples)} callback samples, {min(samples):+.3f} .. {max(samples):+.3f} mV")
lib.TOLVFree()
sys.exit(0 if samples else 1)

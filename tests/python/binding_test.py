#!/usr/bin/env python3
"""The Python package end to end: a virtual simulator in a child process, a connect, a sine
played through the C-named functions, and the decoded output of the device checked."""
import csv
import math
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import tolvan


class BindingTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tolvan-py-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)  # after tearDown
        os.environ["TOLVAN_DEVICE_PATTERN"] = os.path.join(self.work, "ttyACM%d")
        os.environ["TOLVAN_LOCK_DIR"] = self.work
        self.csv = os.path.join(self.work, "out.csv")
        self.vdev = subprocess.Popen(
            [os.environ["TOLVAN_VDEV"], "--port", "2", "--preset", "current", "--fast-ack",
             "--csv", self.csv], stdout=subprocess.DEVNULL)
        node = os.path.join(self.work, "ttyACM2")
        for _ in range(100):
            if os.path.exists(node):
                break
            time.sleep(0.05)
        self.lib = tolvan.load(os.environ["TOLVAN_LIBRARY"])

    def tearDown(self):
        self.lib.TOLVFree()
        self.vdev.send_signal(signal.SIGINT)
        self.vdev.wait(timeout=10)

    def test_connect_and_play_a_sine(self):
        self.assertEqual(self.lib.sdk_version(), tolvan.__version__)
        self.assertTrue(self.lib.TOLVConnect(2, 10000))
        self.assertEqual(self.lib.TOLVGetSerialNumber(), "QPS0130-260815")
        info = tolvan.MODEL_INFORMATION()
        self.assertTrue(self.lib.TOLVGetDeviceInformation(info))
        self.assertEqual(info.SerialSequence, 815)
        self.assertEqual(self.lib.TOLVSetAmplitude(50.0), -2)
        self.assertEqual(self.lib.TOLVSetAmplitude(2.0), 0)
        self.assertEqual(self.lib.TOLVSetFrequency(5.0), 0)
        seen = []
        self.lib.TOLVRegisterOutputSignalCallback(lambda t, mv: seen.append((t, mv)), 40)
        self.assertEqual(self.lib.TOLVSetOutputFunction(tolvan.OUTPUT_SINE), 0)
        time.sleep(0.5)
        self.assertEqual(self.lib.TOLVSetOutputFunction(tolvan.OUTPUT_OFF), 0)
        self.lib.TOLVRegisterOutputSignalCallback(None, 1)
        self.assertGreater(len(seen), 10)
        for t, mv in seen:
            p = t - math.trunc(t / 0.2) * 0.2
            self.assertAlmostEqual(mv, math.sin(2 * math.pi * 5.0 * p), places=6)
        self.lib.TOLVFree()
        self.vdev.send_signal(signal.SIGINT)
        self.vdev.wait(timeout=10)
        with open(self.csv) as f:
            rows = list(csv.DictReader(f))
        self.assertGreater(len(rows), 1000)
        peak = max(abs(float(r["ac_mV"])) for r in rows)
        self.assertAlmostEqual(peak, 1.0, delta=0.002)


if __name__ == "__main__":
    unittest.main()

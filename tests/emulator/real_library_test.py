#!/usr/bin/env python3
"""The program over the real mobile-device library, against the emulated iPhone.

Needs CORVANE_CLI (the command-line program) and CORVANE_DEMO_TOOL (writes the demo devices);
CORVANE_GUI (the desktop program) for the desktop test.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from phone_fixture import EmulatedPhone, run, tree_digest, wait_for  # noqa: E402

CLI = os.environ.get("CORVANE_CLI", "")
GUI = os.environ.get("CORVANE_GUI", "")
DEMO_TOOL = os.environ.get("CORVANE_DEMO_TOOL", "")


class PhoneTest(unittest.TestCase):
    """A fresh copy of the demo iPhone for each test."""

    def setUp(self):
        if not CLI or not DEMO_TOOL:
            self.skipTest("CORVANE_CLI and CORVANE_DEMO_TOOL are not set")
        self.work = tempfile.mkdtemp(prefix="corvane-real-")
        self.addCleanup(shutil.rmtree, self.work, True)
        subprocess.run([DEMO_TOOL, os.path.join(self.work, "demo")], check=True,
                       capture_output=True)
        self.folder = os.path.join(self.work, "demo", "iphone")
        self.before = tree_digest(self.folder)

    def phone(self, *options):
        phone = EmulatedPhone(self.folder, *options)
        self.addCleanup(phone.close)
        return phone

    def out(self, name):
        return os.path.join(self.work, name)

    def assertFolderUntouched(self, phone):
        self.assertEqual(tree_digest(self.folder), self.before)
        stats = phone.stats()
        self.assertEqual(stats["write_requests"], 0, stats)


class SameAsSimulated(PhoneTest):
    """Every command gives over the real library what it gives on the simulated device."""

    COMMANDS = [
        ["devices"],
        ["music", "list"],
        ["music", "list", "--json"],
        ["photos", "list"],
        ["music", "export", "--to", "{out}/Music", "--m3u"],
        ["music", "export", "--to", "{out}/Books", "--kind", "book", "--scheme", "0"],
        ["photos", "export", "--to", "{out}/Pictures", "--camera-roll"],
        ["photos", "export", "--to", "{out}/Flat", "--flat"],
        ["photos", "previews", "--to", "{out}/Previews"],
    ]

    def run_all(self, env, out, device_args):
        outputs = []
        for command in self.COMMANDS:
            args = [a.replace("{out}", out) for a in command] + device_args
            result = run(CLI, args, env)
            outputs.append((command, result.returncode,
                            result.stdout.replace(out, "OUT"), result.stderr.replace(out, "OUT")))
        return outputs

    maxDiff = None

    def test_commands_match_the_simulated_device(self):
        simulated_env = dict(os.environ)
        simulated_env.pop("USBMUXD_SOCKET_ADDRESS", None)
        expected = self.run_all(simulated_env, self.out("simulated"), ["--device", self.folder])
        self.assertIn("Demo iPhone", expected[0][2])
        for sessions in ([], ["--plain-sessions"]):
            with self.subTest(sessions=sessions or "tls"):
                phone = self.phone(*sessions)
                out = self.out("real" + "".join(sessions))
                got = self.run_all(phone.env(), out, [])
                for want, have in zip(expected, got):
                    self.assertEqual(have, want)
                self.assertEqual(tree_digest(out), tree_digest(self.out("simulated")))
                stats = phone.stats()
                self.assertEqual(stats["tls_sessions"] > 0, not sessions, stats)
                self.assertGreater(stats["read_bytes"], 0)
                self.assertFolderUntouched(phone)
                phone.close()

    def test_desktop_program_shows_the_music_of_the_phone(self):
        if not GUI:
            self.skipTest("CORVANE_GUI is not set")
        phone = self.phone()
        shots = self.out("shots")
        config = self.out("config")
        os.makedirs(config)
        # The walk opens the music view, transfers the library and shows the log.
        result = run(GUI, ["--screenshot-tour", "music", shots],
                     phone.env(QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config), timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.getsize(os.path.join(shots, "music-view.png")) > 0)
        self.assertGreater(phone.stats()["read_bytes"], 0)
        self.assertFolderUntouched(phone)


if __name__ == "__main__":
    unittest.main()

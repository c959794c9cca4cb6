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

    def test_camera_previews_read_the_exif_data_and_not_the_whole_file(self):
        # A camera file with an EXIF thumbnail, made large by bytes after its end of picture.
        folder = self.out("camera")
        roll = os.path.join(folder, "DCIM", "100APPLE")
        os.makedirs(roll)
        padding = 8 << 20
        with open(os.path.join(self.folder, "DCIM", "100APPLE", "IMG_0101.JPG"), "rb") as f:
            jpeg = f.read()
        with open(os.path.join(roll, "IMG_0001.JPG"), "wb") as f:
            f.write(jpeg + bytes(padding))
        simulated_env = dict(os.environ)
        simulated_env.pop("USBMUXD_SOCKET_ADDRESS", None)
        previews = []
        for name, env, device_args in (("simulated", simulated_env, ["--device", folder]),
                                       ("real", None, [])):
            if env is None:
                phone = EmulatedPhone(folder)
                self.addCleanup(phone.close)
                env = phone.env()
            out = self.out("previews-" + name)
            result = run(CLI, ["photos", "previews", "--to", out] + device_args, env)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(out, "camera_roll", "IMG_0001.JPG.png"), "rb") as f:
                previews.append(f.read())
        self.assertEqual(previews[0], previews[1])
        stats = phone.stats()
        # The first read of the file is 68 KiB; the whole file would be over 8 MiB.
        self.assertLess(stats["read_bytes"], 1 << 20, stats)
        self.assertEqual(stats["write_requests"], 0, stats)

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


def part_files(folder):
    return [name for _root, _dirs, files in os.walk(folder) for name in files
            if ".part" in name]


class Trust(PhoneTest):
    """A phone that does not trust this computer yet: told in words, served once trusted."""

    def test_each_state_is_told_in_plain_words(self):
        cases = [("unpaired", "asks whether to trust this computer"),
                 ("locked", "is locked with a passcode"),
                 ("denied", "Don't Trust was tapped")]
        for pairing, words in cases:
            with self.subTest(pairing=pairing):
                phone = self.phone("--pairing", pairing)
                # A wait long enough for a loaded machine: it ends once the phone is seen.
                devices = run(CLI, ["devices", "--wait", "5"], phone.env())
                self.assertEqual(devices.returncode, 1)
                self.assertIn("does not trust this computer yet", devices.stdout)
                self.assertIn(words, devices.stdout)
                self.assertIn("Unlock the iPhone and tap Trust on its screen", devices.stdout)
                # The library makes the computer's keys before each request: give it time.
                listing = run(CLI, ["music", "list", "--wait", "4"], phone.env())
                self.assertEqual(listing.returncode, 1)
                self.assertIn(words, listing.stderr)
                # Asked again while waiting, never once per second of a wait of its own.
                self.assertGreaterEqual(phone.stats()["pair_requests"], 2)
                phone.close()

    def test_served_as_soon_as_the_user_taps_trust(self):
        phone = self.phone("--pairing", "unpaired")
        program = subprocess.Popen([CLI, "devices", "--wait", "30"], env=phone.env(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(program.kill)
        self.assertTrue(wait_for(lambda: phone.stats()["pair_requests"] >= 2))
        trusted_at = time.monotonic()
        phone.control("trust")
        out, _err = program.communicate(timeout=30)
        self.assertEqual(program.returncode, 0, out)
        self.assertLess(time.monotonic() - trusted_at, 5)
        self.assertIn("Device: Demo iPhone", out)
        self.assertIn("Unlock the iPhone and tap Trust on its screen", out)
        self.assertIn("trusts this computer now", out)
        # The pairing was kept: the next run starts its session at once.
        again = run(CLI, ["devices", "--wait", "5"], phone.env())
        self.assertEqual(again.returncode, 0)
        self.assertNotIn("Trust", again.stdout)
        self.assertGreaterEqual(phone.stats()["tls_sessions"], 2)


class Drops(PhoneTest):
    """The file-service connection breaks during an export."""

    FIRST_TRACK = "KLMN.mp3"  # Morning Ferry, the first of the five items

    def export(self, phone, out):
        return run(CLI, ["music", "export", "--to", out], phone.env())

    def simulated_export(self):
        env = dict(os.environ)
        env.pop("USBMUXD_SOCKET_ADDRESS", None)
        out = self.out("simulated")
        run(CLI, ["music", "export", "--to", out, "--device", self.folder], env)
        return tree_digest(out)

    def test_a_dropped_connection_is_opened_again_before_the_next_file(self):
        phone = self.phone()
        phone.control("drop-afc %s 10000" % self.FIRST_TRACK)
        out = self.out("real")
        result = self.export(phone, out)
        self.assertEqual(phone.stats()["afc_drops"], 1)
        self.assertIn("1/5  Morning Ferry", result.stdout)
        self.assertIn("Copy tracks: 4 of 5", result.stdout)
        self.assertEqual(result.stdout.count("opened again"), 1, result.stdout)
        self.assertIn("AFC error", result.stdout)
        expected = self.simulated_export()
        got = tree_digest(out)
        self.assertNotIn("Morning Ferry.mp3", got)
        self.assertEqual(got, {k: v for k, v in expected.items() if "Morning Ferry" not in k})
        self.assertEqual(part_files(out), [])
        self.assertFolderUntouched(phone)

    def test_when_opening_again_fails_the_rest_fails_with_the_reason_logged_once(self):
        phone = self.phone()
        phone.control("drop-afc %s 10000 refuse" % self.FIRST_TRACK)
        out = self.out("real")
        result = self.export(phone, out)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("Copy tracks: 0 of 5", result.stdout)
        self.assertEqual(result.stdout.count("could not be opened again"), 1, result.stdout)
        self.assertRegex(result.stdout, r"AFC error \d+ \((MUX_ERROR|NOT_ENOUGH_DATA)")
        self.assertEqual(part_files(out), [])

    def test_a_phone_pulled_mid_export_fails_the_rest_as_a_mobile_device(self):
        for sessions in ([], ["--plain-sessions"]):
            with self.subTest(sessions=sessions or "tls"):
                phone = self.phone(*sessions)
                phone.control("drop-afc %s 10000 detach" % self.FIRST_TRACK)
                out = self.out("pulled" + "".join(sessions))
                result = self.export(phone, out)
                # Over TLS the session stop writes to the dead connection: no SIGPIPE.
                self.assertNotIn(result.returncode, (-13, 141), result.stderr)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn("Copy tracks: 0 of 5", result.stdout)
                self.assertEqual(result.stdout.count("[!]"), 1, result.stdout)
                self.assertIn("[!]: Lost Demo iPhone", result.stdout)
                # Disk-mode codes would mean the tracks were looked for on a mounted iPod.
                for text in ("disk mode", "No such file"):
                    self.assertNotIn(text, result.stdout)
                self.assertEqual(part_files(out), [])
                phone.close()


class Waiting(PhoneTest):
    def test_wait_ends_on_time_whatever_the_phone_does(self):
        phone = self.phone("--slow", "8")
        started = time.monotonic()
        result = run(CLI, ["devices", "--wait", "2"], phone.env())
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 1)
        self.assertLess(elapsed, 3.0)


if __name__ == "__main__":
    unittest.main()

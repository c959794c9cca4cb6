"""Starting the emulated iPhone for a test and running the command-line program against it."""

import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "emulated_iphone.py")


def file_digest(path):
    # A book archive stamps its entries with the time they were packed here: its entries'
    # names and bytes are what came from the device.
    digest = hashlib.sha256()
    if path.endswith(".epub"):
        with zipfile.ZipFile(path) as archive:
            for info in archive.infolist():
                digest.update(info.filename.encode() + b"\0" + archive.read(info) + b"\0")
    else:
        with open(path, "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()


def tree_digest(folder):
    """Every file below folder with the SHA-256 of its bytes (and every folder)."""
    result = {}
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in dirs:
            result[os.path.relpath(os.path.join(root, name), folder) + "/"] = "dir"
        for name in sorted(files):
            path = os.path.join(root, name)
            result[os.path.relpath(path, folder)] = file_digest(path)
    return result


class EmulatedPhone:
    """The emulator as a child process serving folder; options are its command-line flags."""

    def __init__(self, folder, *options):
        self.work = tempfile.mkdtemp(prefix="corvane-phone-")
        self.socket = os.path.join(self.work, "mux.sock")
        self.log = open(os.path.join(self.work, "emulator.log"), "w+")
        self.process = subprocess.Popen(
            [sys.executable, EMULATOR, "--socket", self.socket, "--folder", folder,
             "--state", os.path.join(self.work, "state"), *options],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        if self.process.stdout.readline().strip() != "ready":
            self.close()
            raise RuntimeError("the emulator did not start: " + self.errors())

    def env(self, **extra):
        env = dict(os.environ)
        env["USBMUXD_SOCKET_ADDRESS"] = "UNIX:" + self.socket
        env.pop("CORVANE_DEVICE", None)
        env.update(extra)
        return env

    def control(self, command):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(self.socket + ".ctl")
            s.sendall(command.encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()

    def stats(self):
        import json
        return json.loads(self.control("stats"))

    def errors(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        self.log.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def run(program, args, env, timeout=60, **kwargs):
    return subprocess.run([program, *args], env=env, capture_output=True, text=True,
                          timeout=timeout, **kwargs)


def wait_for(condition, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()

#!/usr/bin/env python3
"""An iPhone without hardware for tests of the real mobile-device library.

Serves a folder as the phone's media file system behind a unix socket that speaks what the
device multiplexer daemon speaks (point the library at it with
USBMUXD_SOCKET_ADDRESS=UNIX:<socket>): the multiplexer's plist messages, the phone's lockdown
service (pairing, sessions upgraded to TLS as phones do, service starts) and a read-only file
service that refuses every write with a permission error and counts it.

A second socket, <socket>.ctl, takes one command per line and answers one line:
  stats                 counters as one JSON object
  detach | attach       unplug or plug the phone
  trust | deny | unlock the user's answer on the phone's screen
  drop-afc SUFFIX N [detach|refuse]
                        close the file-service connection after the answer that takes the
                        bytes sent of files whose path ends with SUFFIX ("-" for any file)
                        past N; with detach the
                        phone is unplugged at that moment, with refuse it stays plugged in
                        but starts no service any more
  fail-service N        the next N service starts fail
  quit
"""

import argparse
import json
import os
import plistlib
import socket
import ssl
import stat
import struct
import subprocess
import sys
import threading
import time
import uuid

LOCKDOWN_PORT = 62078
AFC_PORT = 50123
DEVICE_ID = 7

USBMUX_HEADER = struct.Struct("<IIII")  # length, version, message, tag
USBMUX_PLIST = 8
RESULT_OK, RESULT_BADDEV, RESULT_CONNREFUSED = 0, 2, 3

AFC_HEADER = struct.Struct("<8sQQQQ")  # magic, entire length, this length, packet, operation
AFC_MAGIC = b"CFA6LPAA"
AFC_STATUS, AFC_DATA, AFC_FILE_OPEN_RES, AFC_FILE_TELL_RES = 0x01, 0x02, 0x0E, 0x13
AFC_OK, AFC_NOT_FOUND, AFC_IS_DIR, AFC_PERM_DENIED = 0, 8, 9, 10
AFC_INVALID_ARG, AFC_NOT_SUPPORTED = 7, 15
AFC_READ_MODE = 1
# Operations that would change the phone: all refused.
AFC_WRITES = {0x05, 0x06, 0x07, 0x08, 0x09, 0x0C, 0x10, 0x15, 0x18, 0x1C, 0x1E, 0x20, 0x22,
              0x28}


def recv_exact(sock, count):
    data = bytearray()
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError("peer closed")
        data += chunk
    return bytes(data)


def openssl(*args, stdin=None):
    return subprocess.run(["openssl", *args], input=stdin, check=True,
                          capture_output=True).stdout


class Keys:
    """The phone's key, and a pair record of an already trusted computer, made with openssl."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.device_key = self._key("device")
        self.device_public = openssl("rsa", "-in", self.device_key, "-RSAPublicKey_out")

    def _key(self, name):
        path = os.path.join(self.folder, name + ".key")
        if not os.path.exists(path):
            openssl("genrsa", "-traditional", "-out", path, "2048")
        return path

    def _sign(self, csr_key, subject, ca_cert, ca_key, out):
        csr = openssl("req", "-new", "-key", csr_key, "-subj", subject)
        openssl("x509", "-req", "-CA", ca_cert, "-CAkey", ca_key, "-set_serial", "1",
                "-days", "3650", "-sha256", "-out", out, stdin=csr)

    def trusted_pair_record(self, buid):
        root_key, host_key = self._key("root"), self._key("host")
        root_cert = os.path.join(self.folder, "root.crt")
        openssl("req", "-x509", "-new", "-key", root_key, "-subj", "/CN=Root", "-days", "3650",
                "-sha256", "-out", root_cert)
        host_cert = os.path.join(self.folder, "host.crt")
        device_cert = os.path.join(self.folder, "device.crt")
        self._sign(host_key, "/CN=Host", root_cert, root_key, host_cert)
        self._sign(self.device_key, "/CN=Device", root_cert, root_key, device_cert)

        def read(path):
            with open(path, "rb") as f:
                return f.read()

        return {
            "DeviceCertificate": read(device_cert),
            "HostCertificate": read(host_cert),
            "HostPrivateKey": read(host_key),
            "RootCertificate": read(root_cert),
            "RootPrivateKey": read(root_key),
            "HostID": str(uuid.uuid4()).upper(),
            "SystemBUID": buid,
            "EscrowBag": os.urandom(32),
            "WiFiMACAddress": "02:00:00:00:00:07",
        }


class Phone:
    def __init__(self, args):
        self.args = args
        self.folder = os.path.realpath(args.folder)
        self.udid = args.udid
        self.name = args.name or self._name_file() or os.path.basename(self.folder)
        self.keys = Keys(args.state)
        self.buid = "5E1D" + uuid.uuid4().hex[4:].upper()
        self.lock = threading.RLock()
        self.attached = not args.unplugged
        self.listeners = []
        self.device_sockets = set()
        self.service_tickets = 0
        self.start_service_failures = args.start_service_failures
        self.drop_after = args.drop_afc_after
        self.drop_suffix = ""
        self.drop_detaches = args.drop_detaches
        self.drop_refuses = False
        self.afc_bytes = 0  # file bytes sent of the files the drop watches
        self.stats = {"write_requests": 0, "write_mode_opens": 0, "afc_connections": 0,
                      "sessions": 0, "tls_sessions": 0, "pair_requests": 0,
                      "service_starts": 0, "afc_drops": 0, "read_bytes": 0}
        # Computers the phone trusts: HostID -> the device certificate made for it.
        self.trusted_hosts = {}
        self.pair_records = {}
        self.pairing = args.pairing  # paired, unpaired, dialog, locked, denied
        self.pending_left = args.trust_after
        if self.pairing == "paired":
            record = self.keys.trusted_pair_record(self.buid)
            self.trusted_hosts[record["HostID"]] = record["DeviceCertificate"]
            self.pair_records[self.udid] = plistlib.dumps(record)

    def _name_file(self):
        try:
            with open(os.path.join(self.folder, ".device-name"), encoding="utf-8") as f:
                return f.readline().strip()
        except OSError:
            return ""

    def count(self, key, amount=1):
        with self.lock:
            self.stats[key] += amount

    # --- the multiplexer -------------------------------------------------------------------

    def properties(self):
        return {"ConnectionSpeed": 480000000, "ConnectionType": "USB", "DeviceID": DEVICE_ID,
                "LocationID": 0x14100000, "ProductID": 0x12A8, "SerialNumber": self.udid,
                "USBSerialNumber": self.udid}

    def attach(self):
        with self.lock:
            if self.attached:
                return
            self.attached = True
            message = {"MessageType": "Attached", "DeviceID": DEVICE_ID,
                       "Properties": self.properties()}
            for listener in list(self.listeners):
                self._notify(listener, message)

    def detach(self):
        with self.lock:
            if not self.attached:
                return
            self.attached = False
            self.service_tickets = 0
            for listener in list(self.listeners):
                self._notify(listener, {"MessageType": "Detached", "DeviceID": DEVICE_ID})
            # Unplugging cuts every connection to the phone at once.
            for sock in list(self.device_sockets):
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def _notify(self, listener, message):
        try:
            send_usbmux(listener, 0, message)
        except OSError:
            self.listeners.remove(listener)

    def serve_mux(self, sock):
        try:
            while True:
                length, _version, _message, tag = USBMUX_HEADER.unpack(
                    recv_exact(sock, USBMUX_HEADER.size))
                request = plistlib.loads(recv_exact(sock, length - USBMUX_HEADER.size))
                kind = request.get("MessageType")
                if kind == "Listen":
                    with self.lock:
                        send_usbmux(sock, tag, {"MessageType": "Result", "Number": RESULT_OK})
                        if self.attached:
                            send_usbmux(sock, 0, {"MessageType": "Attached",
                                                  "DeviceID": DEVICE_ID,
                                                  "Properties": self.properties()})
                        self.listeners.append(sock)
                    return  # the socket now only carries notifications
                if kind == "ListDevices":
                    with self.lock:
                        devices = [{"DeviceID": DEVICE_ID, "MessageType": "Attached",
                                    "Properties": self.properties()}] if self.attached else []
                    send_usbmux(sock, tag, {"DeviceList": devices})
                elif kind == "Connect":
                    port = socket.ntohs(request.get("PortNumber", 0) & 0xFFFF)
                    self._connect(sock, tag, request.get("DeviceID"), port)
                    return
                elif kind == "ReadBUID":
                    send_usbmux(sock, tag, {"BUID": self.buid})
                elif kind == "ReadPairRecord":
                    with self.lock:
                        data = self.pair_records.get(request.get("PairRecordID"))
                    if data is None:
                        send_usbmux(sock, tag, {"MessageType": "Result", "Number": 2})
                    else:
                        send_usbmux(sock, tag, {"PairRecordData": data})
                elif kind == "SavePairRecord":
                    with self.lock:
                        self.pair_records[request.get("PairRecordID")] = \
                            request.get("PairRecordData")
                    send_usbmux(sock, tag, {"MessageType": "Result", "Number": RESULT_OK})
                elif kind == "DeletePairRecord":
                    with self.lock:
                        self.pair_records.pop(request.get("PairRecordID"), None)
                    send_usbmux(sock, tag, {"MessageType": "Result", "Number": RESULT_OK})
                else:
                    send_usbmux(sock, tag, {"MessageType": "Result", "Number": 1})
        except (ConnectionError, OSError, plistlib.InvalidFileException, struct.error):
            sock.close()

    def _connect(self, sock, tag, device_id, port):
        with self.lock:
            usable = self.attached and device_id == DEVICE_ID
            if usable and port == AFC_PORT:
                usable = self.service_tickets > 0
                self.service_tickets -= 1 if usable else 0
            elif port != LOCKDOWN_PORT:
                usable = False
            if usable:
                self.device_sockets.add(sock)
        if not usable:
            bad = self.attached and device_id == DEVICE_ID
            send_usbmux(sock, tag, {"MessageType": "Result",
                                    "Number": RESULT_CONNREFUSED if bad else RESULT_BADDEV})
            sock.close()
            return
        send_usbmux(sock, tag, {"MessageType": "Result", "Number": RESULT_OK})
        try:
            if port == LOCKDOWN_PORT:
                Lockdown(self, sock).serve()
            else:
                self.count("afc_connections")
                Afc(self, sock).serve()
        except (ConnectionError, OSError, ssl.SSLError, struct.error,
                plistlib.InvalidFileException):
            pass
        finally:
            with self.lock:
                self.device_sockets.discard(sock)
            sock.close()

    # --- the user at the phone ---------------------------------------------------------------

    def answer_pair(self, record):
        """The phone's answer to a pairing request: None when it trusts the computer."""
        with self.lock:
            self.stats["pair_requests"] += 1
            if self.pairing == "locked":
                return "PasswordProtected"
            if self.pairing == "denied":
                return "UserDeniedPairing"
            if self.pairing in ("unpaired", "dialog"):
                # The first request puts the dialog up; the user answers later.
                self.pairing = "dialog"
                if self.pending_left is None or self.pending_left > 0:
                    if self.pending_left is not None:
                        self.pending_left -= 1
                    return "PairingDialogResponsePending"
                self.pairing = "paired"
            host_id = record.get("HostID")
            device_cert = record.get("DeviceCertificate")
            if not host_id or not device_cert:
                return "InvalidPairRecord"
            self.trusted_hosts[host_id] = device_cert
            return None

    def control(self, line):
        words = line.split()
        command = words[0] if words else ""
        if command == "stats":
            with self.lock:
                return json.dumps(self.stats)
        if command == "detach":
            self.detach()
        elif command == "attach":
            self.attach()
        elif command in ("trust", "deny", "unlock"):
            with self.lock:
                if command == "trust":
                    self.pending_left = 0
                    if self.pairing == "denied":
                        self.pairing = "dialog"
                elif command == "deny":
                    self.pairing = "denied"
                elif self.pairing == "locked":
                    self.pairing = "unpaired"
        elif command == "drop-afc" and len(words) >= 3:
            with self.lock:
                self.drop_suffix = "" if words[1] == "-" else words[1]
                self.afc_bytes = 0
                self.drop_after = int(words[2])
                self.drop_detaches = len(words) > 3 and words[3] == "detach"
                self.drop_refuses = len(words) > 3 and words[3] == "refuse"
        elif command == "fail-service" and len(words) >= 2:
            with self.lock:
                self.start_service_failures = int(words[1])
        elif command == "quit":
            os._exit(0)
        else:
            return "error unknown command"
        return "ok"


def send_usbmux(sock, tag, message):
    payload = plistlib.dumps(message)
    sock.sendall(USBMUX_HEADER.pack(USBMUX_HEADER.size + len(payload), 1, USBMUX_PLIST, tag)
                 + payload)


class Lockdown:
    """The phone's lockdown service on one connection: 4-byte big-endian length, XML plist."""

    def __init__(self, phone, sock):
        self.phone = phone
        self.sock = sock
        self.stream = sock  # the TLS wrapper while a session runs
        self.session = None

    def serve(self):
        while True:
            length = struct.unpack(">I", recv_exact(self.stream, 4))[0]
            request = plistlib.loads(recv_exact(self.stream, length))
            if self.phone.args.slow:
                time.sleep(self.phone.args.slow)
            name = request.get("Request", "")
            answer = {"Request": name}
            after = None
            handler = getattr(self, "on_" + name, None)
            if handler is None:
                answer["Error"] = "InvalidRequest"
            else:
                after = handler(request, answer)
            payload = plistlib.dumps(answer)
            self.stream.sendall(struct.pack(">I", len(payload)) + payload)
            if after:
                after()

    def on_QueryType(self, _request, answer):
        answer["Type"] = "com.apple.mobile.lockdown"

    def values(self):
        p = self.phone
        return {"DeviceName": p.name, "ProductVersion": p.args.product_version,
                "ProductType": "iPhone10,4", "DeviceClass": "iPhone", "BuildVersion": "16G77",
                "UniqueDeviceID": p.udid, "SerialNumber": "F2LEMU0001",
                "WiFiAddress": "02:00:00:00:00:07", "DevicePublicKey": p.keys.device_public}

    def on_GetValue(self, request, answer):
        values = self.values()
        key = request.get("Key")
        if request.get("Domain"):
            answer["Error"] = "MissingValue"
        elif key is None:
            answer["Value"] = values
        elif key in values:
            answer["Key"] = key
            answer["Value"] = values[key]
        else:
            answer["Error"] = "MissingValue"

    def _host_trusted(self, host_id):
        with self.phone.lock:
            return host_id in self.phone.trusted_hosts

    def on_ValidatePair(self, request, answer):
        if not self._host_trusted(request.get("PairRecord", {}).get("HostID")):
            answer["Error"] = "InvalidHostID"

    def on_Pair(self, request, answer):
        error = self.phone.answer_pair(request.get("PairRecord", {}))
        if error:
            answer["Error"] = error
        else:
            answer["EscrowBag"] = os.urandom(32)

    def on_StartSession(self, request, answer):
        host_id = request.get("HostID")
        if not self._host_trusted(host_id):
            answer["Error"] = "InvalidHostID"
            return None
        self.session = str(uuid.uuid4()).upper()
        self.phone.count("sessions")
        answer["SessionID"] = self.session
        answer["EnableSessionSSL"] = not self.phone.args.plain_sessions
        if self.phone.args.plain_sessions:
            return None
        with self.phone.lock:
            cert = self.phone.trusted_hosts[host_id]

        def start_tls():
            cert_path = os.path.join(self.phone.args.state, "session-%s.crt" % uuid.uuid4().hex)
            with open(cert_path, "wb") as f:
                f.write(cert)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            # The computer's certificates are signed with SHA-1, as the library makes them.
            context.set_ciphers("ALL:@SECLEVEL=0")
            context.load_cert_chain(cert_path, self.phone.keys.device_key)
            os.unlink(cert_path)
            self.stream = context.wrap_socket(self.sock, server_side=True)
            self.phone.count("tls_sessions")

        return start_tls

    def on_StopSession(self, _request, answer):
        self.session = None
        if self.stream is self.sock:
            return None

        def stop_tls():
            self.stream = self.stream.unwrap()

        return stop_tls

    def on_StartService(self, request, answer):
        phone = self.phone
        phone.count("service_starts")
        if self.session is None:
            answer["Error"] = "SessionInactive"
            return
        if request.get("Service") != "com.apple.afc":
            answer["Error"] = "InvalidService"
            return
        with phone.lock:
            if phone.start_service_failures > 0:
                phone.start_service_failures -= 1
                answer["Error"] = "ServiceLimit"
                return
            phone.service_tickets += 1
        answer["Service"] = "com.apple.afc"
        answer["Port"] = AFC_PORT
        answer["EnableServiceSSL"] = False

    def on_Goodbye(self, _request, _answer):
        def close():
            raise ConnectionError("goodbye")

        return close


class Afc:
    """The media file service: the folder, read only."""

    def __init__(self, phone, sock):
        self.phone = phone
        self.sock = sock
        self.files = {}
        self.paths = {}
        self.next_handle = 1

    def path(self, raw):
        text = raw.split(b"\0", 1)[0].decode("utf-8", "surrogateescape")
        parts = [p for p in text.split("/") if p not in ("", ".")]
        if ".." in parts:
            return None
        return os.path.join(self.phone.folder, *parts)

    def serve(self):
        try:
            while True:
                magic, entire, this, packet, operation = AFC_HEADER.unpack(
                    recv_exact(self.sock, AFC_HEADER.size))
                if magic != AFC_MAGIC or this < AFC_HEADER.size or entire < this:
                    return
                header_data = recv_exact(self.sock, this - AFC_HEADER.size)
                payload = recv_exact(self.sock, entire - this)
                self.answer(packet, operation, header_data, payload)
        finally:
            for f in self.files.values():
                os.close(f)

    def send(self, packet, operation, data=b"", payload=b"", path=None):
        head = AFC_HEADER.pack(AFC_MAGIC, AFC_HEADER.size + len(data) + len(payload),
                               AFC_HEADER.size + len(data), packet, operation)
        self.sock.sendall(head + data)
        if payload and path is not None:
            self.send_file_bytes(payload, path)
        elif payload:
            self.sock.sendall(payload)

    def send_file_bytes(self, payload, path):
        phone = self.phone
        with phone.lock:
            watched = path.endswith(phone.drop_suffix)
            limit = phone.drop_after if watched else None
            if watched:
                phone.afc_bytes += len(payload)
            drop = limit is not None and phone.afc_bytes > limit
            if drop:
                phone.drop_after = None
                phone.stats["afc_drops"] += 1
                if phone.drop_refuses:
                    phone.start_service_failures = 1 << 30
            detach = drop and phone.drop_detaches
        if drop:
            # The answer that crosses the limit leaves whole, then the connection dies: the
            # library (1.3.0) reads past its buffer and reports success on an answer cut
            # short, which no program can mend.
            self.sock.sendall(payload)
            if detach:
                phone.detach()
            self.sock.shutdown(socket.SHUT_RDWR)
            raise ConnectionError("dropped")
        self.sock.sendall(payload)

    def status(self, packet, code):
        self.send(packet, AFC_STATUS, struct.pack("<Q", code))

    def answer(self, packet, operation, data, payload):
        if operation in AFC_WRITES:
            self.phone.count("write_requests")
            self.status(packet, AFC_PERM_DENIED)
            return
        handler = {0x03: self.read_dir, 0x0A: self.file_info, 0x0B: self.device_info,
                   0x0D: self.file_open, 0x0F: self.file_read, 0x11: self.file_seek,
                   0x12: self.file_tell, 0x14: self.file_close}.get(operation)
        if handler is None:
            self.status(packet, AFC_NOT_SUPPORTED)
        else:
            handler(packet, data)

    def read_dir(self, packet, data):
        path = self.path(data)
        try:
            names = [".", ".."] + sorted(os.listdir(path)) if path else None
        except NotADirectoryError:
            names = None
        except OSError:
            names = None
        if names is None:
            self.status(packet, AFC_NOT_FOUND)
            return
        self.send(packet, AFC_DATA,
                  payload=b"".join(n.encode("utf-8", "surrogateescape") + b"\0" for n in names))

    def file_info(self, packet, data):
        path = self.path(data)
        try:
            info = os.lstat(path) if path else None
        except OSError:
            info = None
        if info is None:
            self.status(packet, AFC_NOT_FOUND)
            return
        kind = ("S_IFDIR" if stat.S_ISDIR(info.st_mode) else
                "S_IFREG" if stat.S_ISREG(info.st_mode) else
                "S_IFLNK" if stat.S_ISLNK(info.st_mode) else "S_IFIFO")
        pairs = [("st_size", info.st_size), ("st_blocks", info.st_blocks),
                 ("st_nlink", info.st_nlink), ("st_ifmt", kind),
                 ("st_mtime", info.st_mtime_ns), ("st_birthtime", info.st_mtime_ns)]
        if kind == "S_IFLNK":
            pairs.append(("LinkTarget", os.readlink(path)))
        self.send(packet, AFC_DATA, payload=b"".join(
            k.encode() + b"\0" + str(v).encode("utf-8", "surrogateescape") + b"\0"
            for k, v in pairs))

    def device_info(self, packet, _data):
        fs = os.statvfs(self.phone.folder)
        pairs = [("Model", "iPhone10,4"), ("FSTotalBytes", fs.f_blocks * fs.f_frsize),
                 ("FSFreeBytes", fs.f_bavail * fs.f_frsize), ("FSBlockSize", 4096)]
        self.send(packet, AFC_DATA,
                  payload=b"".join(k.encode() + b"\0" + str(v).encode() + b"\0"
                                   for k, v in pairs))

    def file_open(self, packet, data):
        if len(data) < 9:
            self.status(packet, AFC_INVALID_ARG)
            return
        mode = struct.unpack_from("<Q", data)[0]
        if mode != AFC_READ_MODE:
            self.phone.count("write_mode_opens")
            self.phone.count("write_requests")
            self.status(packet, AFC_PERM_DENIED)
            return
        path = self.path(data[8:])
        if path and os.path.isdir(path):
            self.status(packet, AFC_IS_DIR)
            return
        try:
            fd = os.open(path, os.O_RDONLY) if path else None
        except OSError:
            fd = None
        if fd is None:
            self.status(packet, AFC_NOT_FOUND)
            return
        handle = self.next_handle
        self.next_handle += 1
        self.files[handle] = fd
        self.paths[handle] = path
        self.send(packet, AFC_FILE_OPEN_RES, struct.pack("<Q", handle))

    def file_read(self, packet, data):
        handle, size = struct.unpack_from("<QQ", data)
        fd = self.files.get(handle)
        if fd is None:
            self.status(packet, AFC_INVALID_ARG)
            return
        chunk = os.read(fd, min(size, 8 << 20))
        self.phone.count("read_bytes", len(chunk))
        self.send(packet, AFC_DATA, payload=chunk, path=self.paths[handle])

    def file_seek(self, packet, data):
        handle, whence, offset = struct.unpack_from("<QQq", data)
        fd = self.files.get(handle)
        try:
            os.lseek(fd, offset, whence)
        except (OSError, TypeError):
            self.status(packet, AFC_INVALID_ARG)
            return
        self.status(packet, AFC_OK)

    def file_tell(self, packet, data):
        fd = self.files.get(struct.unpack_from("<Q", data)[0])
        if fd is None:
            self.status(packet, AFC_INVALID_ARG)
            return
        self.send(packet, AFC_FILE_TELL_RES, struct.pack("<Q", os.lseek(fd, 0, os.SEEK_CUR)))

    def file_close(self, packet, data):
        fd = self.files.pop(struct.unpack_from("<Q", data)[0], None)
        if fd is None:
            self.status(packet, AFC_INVALID_ARG)
            return
        os.close(fd)
        self.status(packet, AFC_OK)


def listen_unix(path):
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(64)
    return server


def accept_forever(server, handle):
    while True:
        sock, _ = server.accept()
        threading.Thread(target=handle, args=(sock,), daemon=True).start()


def serve_control(phone, sock):
    with sock, sock.makefile("rw", encoding="utf-8") as stream:
        for line in stream:
            stream.write(phone.control(line) + "\n")
            stream.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--socket", required=True, help="unix socket the library connects to")
    parser.add_argument("--folder", required=True, help="the phone's media file system")
    parser.add_argument("--state", required=True, help="folder for keys and certificates")
    parser.add_argument("--udid", default="00008030-000E4D1C3A82802E")
    parser.add_argument("--name", help="device name (default: .device-name, else the folder)")
    parser.add_argument("--product-version", default="12.4")
    parser.add_argument("--pairing", default="paired",
                        choices=["paired", "unpaired", "dialog", "locked", "denied"],
                        help="paired: this computer is trusted; unpaired: the trust dialog "
                             "comes up at the first pairing request; dialog: it is up; "
                             "locked: a passcode must be entered first")
    parser.add_argument("--trust-after", type=int, default=None,
                        help="the user taps Trust after this many pending answers "
                             "(default: only on the control command)")
    parser.add_argument("--plain-sessions", action="store_true",
                        help="sessions stay plain text (default: TLS, as phones do)")
    parser.add_argument("--start-service-failures", type=int, default=0)
    parser.add_argument("--drop-afc-after", type=int, default=None,
                        help="close the file-service connection once this many bytes of "
                             "files went out")
    parser.add_argument("--drop-detaches", action="store_true",
                        help="the drop is an unplug: the phone detaches too")
    parser.add_argument("--slow", type=float, default=0.0,
                        help="seconds before each lockdown answer")
    parser.add_argument("--unplugged", action="store_true", help="start detached")
    args = parser.parse_args()

    phone = Phone(args)
    mux = listen_unix(args.socket)
    control = listen_unix(args.socket + ".ctl")
    threading.Thread(target=accept_forever, args=(control, lambda s: serve_control(phone, s)),
                     daemon=True).start()
    print("ready", flush=True)
    try:
        accept_forever(mux, phone.serve_mux)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs an installed RelvaneTiv without a window for a short relay and checks what a user would:
the bytes come back unchanged through the slot, SIGTERM ends the run with status 0, and the
settings file still says the slot is on.

Usage: relay-smoke.py PROGRAM [ARGUMENT...]   (--headless, unless the build has no window)
The settings file is a temporary one, named with --config. Everything runs on 127.0.0.1 and
is bounded in time.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

DEADLINE = 15.0


def echo_server():
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(4)

    def serve():
        conn, _ = server.accept()
        with conn:
            while data := conn.recv(65536):
                conn.sendall(data)

    threading.Thread(target=serve, daemon=True).start()
    return server


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def relay_once(port, payload):
    end = time.monotonic() + DEADLINE
    while True:
        try:
            client = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
            break
        except OSError:
            if time.monotonic() > end:
                raise
            time.sleep(0.1)
    with client:
        client.sendall(payload)
        client.shutdown(socket.SHUT_WR)
        received = bytearray()
        while chunk := client.recv(65536):
            received += chunk
    return bytes(received)


def main():
    program = os.path.abspath(sys.argv[1])
    scratch = tempfile.mkdtemp()
    ini = os.path.join(scratch, "RelvaneTiv.ini")
    runtime = os.path.join(scratch, "run")
    os.mkdir(runtime, 0o700)
    destination = echo_server()
    port = free_port()
    with open(ini, "w") as f:
        f.write("[TCP-PORT0]\nACT=1\nPORT=%d\nFORWARDHOST=127.0.0.1\nFORWARDPORT=%d\n"
                % (port, destination.getsockname()[1]))
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["XDG_RUNTIME_DIR"] = runtime
    child = subprocess.Popen([program] + sys.argv[2:] + ["--config", ini], env=env,
                             stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        payload = os.urandom(256 * 1024)
        received = relay_once(port, payload)
        if received != payload:
            sys.exit("relay-smoke: %d bytes sent, %d came back, or changed"
                     % (len(payload), len(received)))
        child.send_signal(signal.SIGTERM)
        _, err = child.communicate(timeout=DEADLINE)
        sys.stderr.write(err.decode(errors="replace"))
        if child.returncode != 0:
            sys.exit("relay-smoke: exit status %d after SIGTERM" % child.returncode)
        with open(ini) as f:
            if "ACT=1" not in f.read():
                sys.exit("relay-smoke: the slot was not saved switched on")
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    print("relay-smoke: %d bytes relayed both ways through port %d, closed in order"
          % (len(payload), port))


if __name__ == "__main__":
    main()

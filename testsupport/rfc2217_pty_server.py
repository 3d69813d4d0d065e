#!/usr/bin/python3
"""An RFC 2217 server for the interoperation tests: what pyserial's example
rfc2217_server.py does, with the same PortManager and the same redirection,
on 127.0.0.1 and a pseudo-terminal.

The example itself cannot serve here: it listens on every interface, and on
the first client it raises RTS, which a pseudo-terminal refuses (ENOTTY), so
it dies. This one keeps the modem lines in memory instead.

Usage: rfc2217_pty_server.py DEVICE PORT    (serves until terminated)
"""
import socket
import sys
import threading
import time

import serial
import serial.rfc2217


class PtySerial(serial.Serial):
    """A serial port on a pseudo-terminal, whose modem lines are only kept."""

    def _update_rts_state(self):
        pass

    def _update_dtr_state(self):
        pass

    def _update_break_state(self):
        pass

    @property
    def cts(self):
        return self._rts_state

    @property
    def dsr(self):
        return self._dtr_state

    @property
    def ri(self):
        return False

    @property
    def cd(self):
        return self._dtr_state


class Connection:
    """What the PortManager writes to: the socket, one writer at a time."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.sock.sendall(data)


def serve(ser, conn):
    link = Connection(conn)
    manager = serial.rfc2217.PortManager(ser, link)
    alive = [True]

    def device_to_client():
        while alive[0]:
            data = ser.read(ser.in_waiting or 1)
            if data:
                try:
                    link.write(b"".join(manager.escape(data)))
                except OSError:
                    break

    def modem_lines():
        while alive[0]:
            time.sleep(1)
            manager.check_modem_lines()

    threads = [threading.Thread(target=device_to_client, daemon=True),
               threading.Thread(target=modem_lines, daemon=True)]
    for t in threads:
        t.start()
    try:
        while True:
            data = conn.recv(4096)
            if not data:
                break
            ser.write(b"".join(manager.filter(data)))
    except OSError:
        pass
    alive[0] = False
    for t in threads:
        t.join()
    conn.close()


def main():
    ser = PtySerial(sys.argv[1], timeout=0.2)
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", int(sys.argv[2])))
    srv.listen(1)
    while True:
        conn, _ = srv.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        serve(ser, conn)


if __name__ == "__main__":
    main()

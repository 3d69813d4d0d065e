#!/usr/bin/python3
"""A board at the far end of a serial line, for trying qelterm by hand and
for its screenshots: it writes what boards print today (a boot loader, a
kernel, systemd's coloured status, a shell with UTF-8 and 256-colour
output) to the device given.

usage: board.py DEVICE [boot|hex]
  boot  the boot log and a shell session (the default)
  hex   a modem-like exchange whose bytes look best as a hex dump
"""
import os
import re
import sys
import time
import unicodedata

ESC = "\x1b"


def sgr(*codes):
    return ESC + "[" + ";".join(str(c) for c in codes) + "m"


def cells(text):
    """Terminal cells the text takes: East Asian wide characters two."""
    plain = re.sub(ESC + r"\[[0-9;]*m", "", text)
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in plain)


def box(title, rows, inner=24):
    top = "\u250c\u2500 " + title + " " + "\u2500" * (inner - len(title) - 3) + "\u2510\r\n"
    body = "".join("\u2502 " + r + " " * (inner - 1 - cells(r)) + "\u2502\r\n" for r in rows)
    return top + body + "\u2514" + "\u2500" * inner + "\u2518\r\n"


def boot_lines():
    ok = "[  " + sgr(32) + "OK" + sgr(0) + "  ]"
    yield "\r\nU-Boot 2024.01 (Jan 08 2024 - 10:12:44 +0000)\r\n\r\n"
    yield "DRAM:  1 GiB\r\nHit any key to stop autoboot:  0\r\n"
    yield "[    0.000000] Booting Linux on physical CPU 0x0\r\n"
    yield "[    1.204511] " + sgr(1) + "usb 1-1: new high-speed USB device" + sgr(0) + "\r\n"
    for unit in ("Journal Service", "Network Time Synchronization", "OpenSSH Daemon"):
        yield ok + " Started " + sgr(1) + unit + sgr(0) + ".\r\n"
    yield "[" + sgr(31, 1) + "FAILED" + sgr(0) + "] Failed to start " + sgr(1) + "Bluetooth service" + sgr(0) + ".\r\n"
    yield "\r\nDebian GNU/Linux 12 board ttyS0\r\n\r\nroot@board:~# "
    yield "sensors --pretty\r\n"
    yield box("Sensors", ["CPU   47.5 \u00b0C " + sgr(32) + "\u2714" + sgr(0),
                          "Fan   1200 min\u207b\u00b9 " + sgr(33) + "\u26a0" + sgr(0),
                          "Name  \u6e29\u5ea6\u30bb\u30f3\u30b5\u30fc"])
    yield "root@board:~# colors\r\n"
    # The 6 x 6 x 6 colour cube, two red levels a row, then the grey ramp
    # and a true-colour one.
    for red in range(0, 6, 2):
        yield "".join(sgr(48, 5, 16 + 36 * r + n) + " " for r in (red, red + 1) for n in range(36)) + sgr(0) + "\r\n"
    yield "".join(sgr(48, 5, n) + "   " for n in range(232, 256)) + sgr(0) + "\r\n"
    yield "".join(sgr(48, 2, 255 - i * 3, i * 3, 128) + " " for i in range(72)) + sgr(0) + "\r\n"
    yield (sgr(1) + "bold" + sgr(0) + " " + sgr(3) + "italic" + sgr(0) + " " + sgr(4) + "underline" + sgr(0)
           + " " + sgr(9) + "strike" + sgr(0) + " " + sgr(38, 5, 208) + "orange" + sgr(0) + " "
           + sgr(38, 2, 90, 160, 255) + "true colour" + sgr(0) + "\r\n")
    yield "root@board:~# "


def hex_lines():
    yield "AT+GMR\r\r\n"
    yield "AT version:2.2.0.0(s-b097cdf)\r\n"
    yield "OK\r\n"
    yield bytes([0x7E, 0xFF, 0x03, 0xC0, 0x21, 0x01, 0x00, 0x7E]).decode("latin-1")
    yield "+IPD,4:\x00\x01\xfe\xff\r\n"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    what = sys.argv[2] if len(sys.argv) > 2 else "boot"
    fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
    lines = boot_lines() if what == "boot" else hex_lines()
    for line in lines:
        os.write(fd, line.encode("utf-8" if what == "boot" else "latin-1"))
        time.sleep(0.05)
    os.close(fd)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""echo_line.py - the QelComm6 flat interface from Python through ctypes.

Opens COMn, sends one line, waits up to five seconds for the answer line
(the receive event arrives through PumpCommEvents), shows both in the comm
object's terminal and prints the terminal's contents.

    python3 echo_line.py 7 hello          # COM7, see the README for COM names

The library is $QELCOMM6_LIBRARY, else the one pkg-config names, else
libqelcomm6.so.6 from the loader's search path. Exit status as echo_line.c.
"""
import ctypes
import os
import subprocess
import sys


def library_path():
    if os.environ.get("QELCOMM6_LIBRARY"):
        return os.environ["QELCOMM6_LIBRARY"]
    try:
        libdir = subprocess.run(["pkg-config", "--variable=libdir", "qelcomm6"],
                                capture_output=True, text=True, timeout=10).stdout.strip()
        if libdir and os.path.exists(os.path.join(libdir, "libqelcomm6.so.6")):
            return os.path.join(libdir, "libqelcomm6.so.6")
    except OSError:
        pass
    return "libqelcomm6.so.6"


lib = ctypes.CDLL(library_path())
Handle = ctypes.c_void_p  # pointer-sized, 0 is "no object"
EVENT_HANDLER = ctypes.CFUNCTYPE(None, Handle, ctypes.c_int, ctypes.c_int)
QC_EVENT_RECEIVE = 2

for name, restype, argtypes in [
    ("CreateCommObject", Handle, [Handle]),
    ("DestroyCommObject", ctypes.c_int32, [Handle]),
    ("SetCommPort", None, [Handle, ctypes.c_int32]),
    ("SetSettings", ctypes.c_int32, [Handle, ctypes.c_char_p]),
    ("SetHandshaking", None, [Handle, ctypes.c_int32]),
    ("SetRThreshold", None, [Handle, ctypes.c_int32]),
    ("SetEventHandler", None, [Handle, EVENT_HANDLER]),
    ("SetEmulation", None, [Handle, ctypes.c_int32]),
    ("SetColumns", ctypes.c_int32, [Handle, ctypes.c_int32]),
    ("SetRows", ctypes.c_int32, [Handle, ctypes.c_int32]),
    ("SetPortOpen", ctypes.c_int32, [Handle, ctypes.c_int32]),
    ("Output", ctypes.c_int32, [Handle, ctypes.c_char_p, ctypes.c_int32]),
    ("GetInBufferCount", ctypes.c_int32, [Handle]),
    ("GetInput", ctypes.c_int32, [Handle, ctypes.c_char_p, ctypes.c_int32]),
    ("PumpCommEvents", ctypes.c_int32, [ctypes.c_int32]),
    ("TerminalPrintString", None, [Handle, ctypes.c_char_p]),
    ("GetContents", ctypes.c_int32, [Handle, ctypes.c_char_p, ctypes.c_int32]),
]:
    function = getattr(lib, name)
    function.restype = restype
    function.argtypes = argtypes


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    line = (sys.argv[2] if len(sys.argv) > 2 else "hello").encode("latin-1")
    answer = bytearray()
    done = []

    def on_event(obj, control_id, code):
        if code != QC_EVENT_RECEIVE:
            return
        count = lib.GetInBufferCount(obj)
        if count <= 0:
            return
        buffer = ctypes.create_string_buffer(count)
        got = lib.GetInput(obj, buffer, count)
        for byte in buffer.raw[:got]:
            if byte in (13, 10):
                if answer:
                    done.append(True)
            else:
                answer.append(byte)

    handler = EVENT_HANDLER(on_event)  # kept alive while the object lives
    obj = lib.CreateCommObject(None)
    if not obj:
        print("no comm object", file=sys.stderr)
        return 2
    lib.SetCommPort(obj, port)
    lib.SetSettings(obj, b"9600,n,8,1")
    lib.SetHandshaking(obj, 0)
    lib.SetRThreshold(obj, 1)
    lib.SetEventHandler(obj, handler)
    lib.SetEmulation(obj, 4)  # VT100: a plain object shows nothing without an emulation
    lib.SetColumns(obj, 80)
    lib.SetRows(obj, 25)
    if not lib.SetPortOpen(obj, 1):
        print("COM%d does not open" % port, file=sys.stderr)
        lib.DestroyCommObject(obj)
        return 2

    lib.Output(obj, line + b"\r", len(line) + 1)
    waited = 0
    while not done and waited < 5000:
        lib.PumpCommEvents(50)
        waited += 50

    for text in (b"sent: ", line, b"\r\nanswer: ", bytes(answer), b"\r\n"):
        lib.TerminalPrintString(obj, text)
    contents = ctypes.create_string_buffer(8192)
    length = lib.GetContents(obj, contents, len(contents))
    print("terminal (%d bytes):" % length)
    print(contents.value.decode("latin-1"))

    lib.SetPortOpen(obj, 0)
    lib.DestroyCommObject(obj)
    return 0 if done else 1


if __name__ == "__main__":
    sys.exit(main())

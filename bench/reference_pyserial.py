#!/usr/bin/python3
"""The job of `ptmove -com 1 -dir r -t SECONDS`, done in Python with pyserial.

The benchmark's reference for a scripted solution. The port is the device
named by PTMOVE_COM1.
    reference_pyserial.py SECONDS
"""
import os
import sys
import time

import serial

MOVE_RIGHT = bytes([0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42])
STOP = bytes([0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01])


def main():
    seconds = float(sys.argv[1])
    with serial.Serial(os.environ["PTMOVE_COM1"], 2400, bytesize=8, parity="N",
                       stopbits=1, timeout=1) as port:
        port.write(MOVE_RIGHT)
        time.sleep(seconds)
        port.write(STOP)
        port.flush()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Prints a TCP port on 127.0.0.1 that is free right now (one per argument count, default 1)."""
import socket
import sys

count = int(sys.argv[1]) if len(sys.argv) > 1 else 1
sockets = []
for _ in range(count):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    sockets.append(s)
print(" ".join(str(s.getsockname()[1]) for s in sockets))

#!/usr/bin/env python3
"""Raw UDP round trips between two namespaces, the yardstick of the program's
own times.  udp_rtt.py echo ADDR PORT COUNT   answers COUNT datagrams, then ends
            udp_rtt.py ping ADDR PORT COUNT   prints the median round trip in ms"""
import socket
import statistics
import sys
import time

mode, addr, port, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
if mode == "echo":
    s.bind((addr, port))
    s.settimeout(20)
    for _ in range(count):
        data, peer = s.recvfrom(2048)
        s.sendto(data, peer)
else:
    s.settimeout(5)
    times = []
    for i in range(count):
        t = time.perf_counter()
        s.sendto(b"%d" % i, (addr, port))
        s.recvfrom(2048)
        times.append((time.perf_counter() - t) * 1000)
    print("%.3f" % statistics.median(times))

#!/usr/bin/env python3
"""Receives an RTP stream for a while and says how it arrived.

rtp_listen.py ADDRESS PORT SECONDS [--events FILE]
ADDRESS may be a multicast group (joined on 127.0.0.1). Prints packets, lost
(gaps in the sequence), sequence and timestamp breaks, the share of arrival
intervals within 20 +/- 2 ms, percentiles, and the longest gap with when it was.
With --events, FILE gets one line per gap over 40 ms: "second gap_ms".
"""
import socket, struct, sys, time

addr, port, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
events = sys.argv[5] if len(sys.argv) > 5 and sys.argv[4] == "--events" else None
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
s.bind((addr, port))
if int(addr.split(".")[0]) in range(224, 240):
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 struct.pack("4s4s", socket.inet_aton(addr), socket.inet_aton("127.0.0.1")))
s.settimeout(0.5)
start = time.monotonic()
arrivals, seqs, stamps = [], [], []
while time.monotonic() - start < seconds:
    try:
        data = s.recv(2048)
    except socket.timeout:
        continue
    now = time.monotonic()
    if len(data) < 12:
        continue
    seq, ts = struct.unpack("!HI", data[2:8])
    arrivals.append(now)
    seqs.append(seq)
    stamps.append(ts)
n = len(arrivals)
if n < 2:
    print("packets %d: no stream" % n)
    sys.exit(1)
lost = breaks = tsbreaks = 0
for i in range(1, n):
    d = (seqs[i] - seqs[i - 1]) & 0xFFFF
    if d != 1:
        breaks += 1
        if d < 0x8000:
            lost += d - 1
    step = (stamps[i] - stamps[i - 1]) & 0xFFFFFFFF
    if step != 160 * d:
        tsbreaks += 1
gaps = sorted((arrivals[i] - arrivals[i - 1]) * 1000 for i in range(1, n))
within = sum(1 for g in gaps if 18 <= g <= 22) / len(gaps)
pct = lambda p: gaps[min(len(gaps) - 1, int(p * len(gaps)))]
worst = max(range(1, n), key=lambda i: arrivals[i] - arrivals[i - 1])
print("packets %d  lost %d  sequence breaks %d  timestamp breaks %d" % (n, lost, breaks, tsbreaks))
print("interval within 20+/-2 ms: %.3f%%  p0.1 %.1f  p50 %.1f  p99.9 %.1f  max %.1f ms at %.1f s"
      % (100 * within, pct(0.001), pct(0.5), pct(0.999), gaps[-1], arrivals[worst] - start))
if events:
    with open(events, "w") as f:
        for i in range(1, n):
            g = (arrivals[i] - arrivals[i - 1]) * 1000
            if g > 40:
                f.write("%.1f %.1f\n" % (arrivals[i] - start, g))

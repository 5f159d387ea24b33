#!/usr/bin/env python3
"""qbftp ls against curl's LIST of the same folder, interleaved runs, median
ratio. For servers already running (e.g. the ones scripts/ftp-servers.sh
starts):

    bench/ls_vs_curl.py QBFTP URL [--runs N]

URL is ftp://[user@]host:port/folder; the password comes from
QBFTP_PASSWORD. Prints the medians and the ratio (target <= 1.0)."""
import os
import statistics
import subprocess
import sys
import time

qbftp, url = sys.argv[1], sys.argv[2].rstrip("/")
runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 11
password = os.environ.get("QBFTP_PASSWORD", "")
rest = url[len("ftp://"):]
user = rest.split("@", 1)[0] if "@" in rest else "anonymous"
plain = "ftp://" + rest.split("@", 1)[-1] + "/"
qb_cmd = [qbftp, "ls", url]
curl_cmd = ["curl", "-sS", "--ftp-pasv", "-u", f"{user}:{password}", plain]


def timed(cmd):
    start = time.monotonic()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


qb, ref = [], []
timed(qb_cmd), timed(curl_cmd)  # warm-up
for i in range(runs):
    for who in (("qb", "ref") if i % 2 == 0 else ("ref", "qb")):
        (qb if who == "qb" else ref).append(timed(qb_cmd if who == "qb" else curl_cmd))
mq, mr = statistics.median(qb), statistics.median(ref)
print(f"{url}: qbftp {mq:.3f} s, curl {mr:.3f} s, ratio {mq / mr:.2f} ({runs} runs each)")

#!/usr/bin/env python3
"""Seeds the local INN with the articles the NNTP overview benchmark reads.

Creates the group quillory.bench.over (as root, through ctlinnd) and streams
articles into innd with MODE STREAM / TAKETHIS until the group holds COUNT
(default 100000). Answers are read on a second thread so the stream never
waits for them. Safe to run again: only the missing articles are sent.
Usage: scripts/inn-bench-seed.py [COUNT]
"""
import email.utils
import socket
import subprocess
import sys
import threading
import time

GROUP = "quillory.bench.over"
HOST, PORT = "127.0.0.1", 119


def group_count(sock_file, sock):
    sock.sendall(b"MODE READER\r\n")
    sock_file.readline()
    sock.sendall(("GROUP %s\r\n" % GROUP).encode())
    reply = sock_file.readline().decode("latin-1").split()
    return int(reply[1]) if reply and reply[0] == "211" else 0


def main():
    want = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
    subprocess.run(["/usr/lib/news/bin/ctlinnd", "-s", "newgroup", GROUP, "y"], check=False)

    reader = socket.create_connection((HOST, PORT))
    rf = reader.makefile("rb")
    rf.readline()
    have = group_count(rf, reader)
    reader.close()
    missing = want - have
    if missing <= 0:
        print("inn-bench-seed: %s already holds %d articles" % (GROUP, have))
        return
    print("inn-bench-seed: sending %d articles to %s" % (missing, GROUP))

    sock = socket.create_connection((HOST, PORT))
    f = sock.makefile("rb")
    f.readline()
    sock.sendall(b"MODE STREAM\r\n")
    if not f.readline().startswith(b"203"):
        sys.exit("inn-bench-seed: innd does not stream")

    results = {"ok": 0, "other": 0}

    def read_answers():
        for _ in range(missing):
            line = f.readline()
            if not line:
                break
            results["ok" if line.startswith(b"239") else "other"] += 1

    t = threading.Thread(target=read_answers)
    t.start()
    tag = "%x" % int(time.time())
    date = email.utils.formatdate(usegmt=True)
    batch = []
    for i in range(missing):
        mid = "<bench.%s.%d@quillory.test>" % (tag, i)
        batch.append(
            "TAKETHIS %s\r\nPath: bench\r\nFrom: Bench <bench@quillory.test>\r\nNewsgroups: %s\r\n"
            "Subject: benchmark article %d\r\nDate: %s\r\nMessage-ID: %s\r\n\r\n"
            "body of article %d\r\n.\r\n" % (mid, GROUP, i, date, mid, i))
        if len(batch) == 500:
            sock.sendall("".join(batch).encode())
            batch = []
    if batch:
        sock.sendall("".join(batch).encode())
    t.join()
    sock.sendall(b"QUIT\r\n")
    sock.close()
    print("inn-bench-seed: %d accepted, %d refused" % (results["ok"], results["other"]))


if __name__ == "__main__":
    main()

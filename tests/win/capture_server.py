#!/usr/bin/env python3
"""Two small web sites on 127.0.0.1 for the capture test.

    capture_server.py CONTROL_DIR

The first answers at once. The second is a slow site: while CONTROL_DIR/hold
exists it answers nothing (at most 60 s, so that nothing hangs), and it
answers after 5 s at the least. Each site serves /favicon.ico as an icon and
any other path as an HTML page. The ports go to CONTROL_DIR/ports ("quick
slow"); every request and every answer is written to CONTROL_DIR/requests.log.
"""
import http.server
import os
import struct
import sys
import threading
import time

control = sys.argv[1]
log_lock = threading.Lock()


def log(line):
    with log_lock, open(os.path.join(control, "requests.log"), "a") as f:
        f.write(line + "\n")


def icon():
    """A 16 x 16 two-colour icon file."""
    header = struct.pack("<HHH", 0, 1, 1)
    size = 40 + 8 + 64 + 64
    entry = struct.pack("<BBBBHHII", 16, 16, 2, 0, 1, 1, size, 22)
    bmp = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 1, 0, 128, 0, 0, 2, 0)
    palette = struct.pack("<II", 0, 0x00FFFFFF)
    rows = b"".join(struct.pack("<I", 0xFFFFFFFF if r % 2 else 0) for r in range(16))
    mask = b"\0" * 64
    return header + entry + bmp + palette + rows + mask


class Handler(http.server.BaseHTTPRequestHandler):
    slow = False

    def do_GET(self):
        site = "slow" if self.slow else "quick"
        log("%s asked %s" % (site, self.path))
        if self.slow:
            started = time.time()
            while os.path.exists(os.path.join(control, "hold")) and time.time() - started < 60:
                time.sleep(0.05)
            time.sleep(max(0.0, 5 - (time.time() - started)))
        if self.path.endswith("/favicon.ico"):
            body, kind = icon(), "image/x-icon"
        else:
            body = ("<html><head><title>%s</title></head><body>page %s</body></html>" % (self.path, self.path)).encode()
            kind = "text/html"
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        log("%s answered %s" % (site, self.path))

    def log_message(self, *args):
        pass


class SlowHandler(Handler):
    slow = True


servers = [http.server.ThreadingHTTPServer(("127.0.0.1", 0), h) for h in (Handler, SlowHandler)]
for s in servers:
    threading.Thread(target=s.serve_forever, daemon=True).start()
with open(os.path.join(control, "ports.tmp"), "w") as f:
    f.write("%d %d\n" % (servers[0].server_address[1], servers[1].server_address[1]))
os.rename(os.path.join(control, "ports.tmp"), os.path.join(control, "ports"))
while True:
    time.sleep(3600)

#!/usr/bin/env python3
"""A catalogue server for tests: serves a directory over HTTP on 127.0.0.1.

Every request's path, as the client sent it (still percent-encoded), is
appended to the log file, one line each, before the answer goes out, so
that a test can check what the server was asked for.

Faults on request, each for one exact request path:
  --status PATH=CODE   answer CODE (such as 404) with a short body
  --short PATH         announce the whole file but send only its first half,
                       then close the connection
  --slow PATH          read the request and answer nothing for an hour

Once it accepts connections the server prints "listening PORT" on its
standard output (useful with --port 0); it ends on SIGTERM or SIGINT.
Standard library only.
"""

import argparse
import functools
import http.server
import signal
import sys
import time


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="directory to serve")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", required=True, help="request log file")
    parser.add_argument("--status", action="append", default=[],
                        metavar="PATH=CODE")
    parser.add_argument("--short", action="append", default=[],
                        metavar="PATH")
    parser.add_argument("--slow", action="append", default=[],
                        metavar="PATH")
    return parser.parse_args()


class Handler(http.server.SimpleHTTPRequestHandler):
    # Set per server in main().
    log_path = None
    statuses = {}
    short_paths = set()
    slow_paths = set()

    def do_GET(self):
        with open(self.log_path, "a", encoding="latin-1") as log:
            log.write(self.path + "\n")
        if self.path in self.statuses:
            self.send_error(self.statuses[self.path])
            return
        if self.path in self.short_paths:
            self.send_short()
            return
        if self.path in self.slow_paths:
            # A daemon thread: the server's end does not wait for it.
            time.sleep(3600)
            return
        super().do_GET()

    def send_short(self):
        file_path = self.translate_path(self.path)
        with open(file_path, "rb") as source:
            body = source.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: len(body) // 2])
        self.wfile.flush()
        self.close_connection = True

    def log_message(self, format, *args):
        pass


def main():
    arguments = parse_arguments()
    Handler.log_path = arguments.log
    for item in arguments.status:
        path, _, code = item.rpartition("=")
        Handler.statuses[path] = int(code)
    Handler.short_paths = set(arguments.short)
    Handler.slow_paths = set(arguments.slow)
    handler = functools.partial(Handler, directory=arguments.root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", arguments.port),
                                             handler)
    server.daemon_threads = True

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    print("listening", server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

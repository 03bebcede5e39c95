#!/usr/bin/python3
"""A local mail sink for the demo: an aiosmtpd server on loopback that writes
every message it accepts to OUT_DIR/NNN.eml (the bytes after DATA, CR LF line
ends as received) and prints one line per message.

usage: mail_sink.py PORT OUT_DIR
"""
import asyncio
import os
import signal
import sys

from aiosmtpd.controller import Controller


class SinkHandler:
    def __init__(self, out_dir):
        self.out_dir = out_dir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.out_dir, "%03d.eml" % self.count)
        tmp = path + ".part"
        with open(tmp, "wb") as f:
            f.write(envelope.original_content or envelope.content)
        os.rename(tmp, path)
        print("mail-sink: %s from %s to %s" % (path, envelope.mail_from, ", ".join(envelope.rcpt_tos)),
              flush=True)
        return "250 Message accepted for delivery"


def main():
    port = int(sys.argv[1])
    out_dir = sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    controller = Controller(SinkHandler(out_dir), hostname="127.0.0.1", port=port,
                            server_hostname="demo-sink")
    controller.start()
    print("mail-sink: listening on 127.0.0.1:%d" % port, flush=True)
    signal.sigwait({signal.SIGTERM, signal.SIGINT})
    controller.stop()


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
    main()

#!/usr/bin/python3
"""A real SMTP server for the tests, on loopback: every message it accepts is written to a file.

    smtp_recorder.py serve DIR PORT   accept mail on 127.0.0.1:PORT; each message becomes DIR/NNNNNN.eml
                                      (the envelope recipients in an X-Envelope-To line, then the data)
    smtp_recorder.py read DIR         print the messages as JSON, parsed back with Python's email module:
                                      to, subject and body decoded, the content type and charset
"""
import json
import os
import signal
import sys
import threading


def serve(directory, port):
    from aiosmtpd.controller import Controller

    lock = threading.Lock()

    class Recorder:
        async def handle_DATA(self, server, session, envelope):
            with lock:
                count = len([n for n in os.listdir(directory) if n.endswith(".eml")])
                name = os.path.join(directory, "%06d.eml" % (count + 1))
                with open(name + ".part", "wb") as f:
                    f.write(b"X-Envelope-To: " + ",".join(envelope.rcpt_tos).encode() + b"\r\n")
                    f.write(envelope.original_content or envelope.content)
                os.rename(name + ".part", name)
            return "250 OK"

    controller = Controller(Recorder(), hostname="127.0.0.1", port=port)
    controller.start()
    print("smtp listening on %d" % port, flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    controller.stop()


def read(directory):
    from email import policy
    from email.parser import BytesParser

    messages = []
    for name in sorted(n for n in os.listdir(directory) if n.endswith(".eml")):
        with open(os.path.join(directory, name), "rb") as f:
            message = BytesParser(policy=policy.default).parse(f)
        messages.append({
            "envelopeTo": str(message["X-Envelope-To"]),
            "to": str(message["To"]),
            "from": str(message["From"]),
            "subject": str(message["Subject"]),
            "messageId": str(message["Message-ID"]),
            "contentType": message.get_content_type(),
            "charset": message.get_content_charset(),
            "body": message.get_content(),
            "defects": len(message.defects),
        })
    json.dump(messages, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    if sys.argv[1] == "serve":
        serve(sys.argv[2], int(sys.argv[3]))
    else:
        read(sys.argv[2])

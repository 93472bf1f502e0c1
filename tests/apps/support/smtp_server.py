#!/usr/bin/python3
"""A real SMTP server for the mail tests, on Debian's python3-aiosmtpd.

Usage: smtp_server.py OUTDIR [DEADLINE_SECONDS]
Binds 127.0.0.1 on a free port and prints the port. For message N it writes OUTDIR/N.txt, one record
a line, fields separated by tabs, texts in hex:
  helo <name>   mail_from <address>   rcpt <address>   data <the DATA bytes, dots unstuffed>
  header <name> <decoded value>       address <field> <display name> <address>
  date <the Date field's moment, in seconds since 1970>
  part <content type> <file name> <decoded payload>   uu <begin name> <uudecoded bytes>
  defects <count of what Python's email reader found wrong>
then renames it into place, before the message is answered. Ends when stdin closes or at the deadline.
"""
import asyncio
import binascii
import email
import email.header
import email.policy
import email.utils
import os
import sys

from aiosmtpd.smtp import SMTP


def h(value):
    if isinstance(value, str):
        value = value.encode("latin-1", "replace")
    return binascii.hexlify(value or b"").decode()


def uudecode(text):
    lines = text.replace(b"\r\n", b"\n").split(b"\n")
    out, name, inside = b"", b"", False
    for line in lines:
        if not inside:
            if line.startswith(b"begin "):
                name = line.split(b" ", 2)[2] if line.count(b" ") >= 2 else b""
                inside = True
            continue
        if line == b"end":
            return name, out
        if line:
            out += binascii.a2b_uu(line)
    return None


class Handler:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        data = envelope.original_content
        records = [("helo", h(session.host_name or "")), ("mail_from", h(envelope.mail_from))]
        records += [("rcpt", h(r)) for r in envelope.rcpt_tos]
        records.append(("data", h(data)))
        defects = 0
        try:
            msg = email.message_from_bytes(data, policy=email.policy.default)
            defects += len(msg.defects)
            raw = email.message_from_bytes(data, policy=email.policy.compat32)
            for value in raw.get_all("Date", []):
                # The moment as Python reads it (RFC 5322 date-time), in UTC seconds.
                records.append(("date", h(str(int(email.utils.parsedate_to_datetime(value).timestamp())))))
            for name in ("Message-ID", "From", "To", "cc", "Subject", "Bcc", "X-Injected"):
                for i, value in enumerate(raw.get_all(name, [])):
                    decoded = str(email.header.make_header(email.header.decode_header(value)))
                    records.append(("header", h(name), h(decoded)))
                    if name in ("From", "To", "cc"):
                        # Names are decoded one by one: a decoded name may hold what would break
                        # the address parser (a CR LF that was sent encoded).
                        for display, address in email.utils.getaddresses([value]):
                            display = str(email.header.make_header(email.header.decode_header(display)))
                            records.append(("address", h(name), h(display), h(address)))
                    try:
                        defects += len(getattr(msg.get_all(name)[i], "defects", ()))
                    except ValueError:
                        pass  # the modern parser refuses a decoded CR LF in a name: not a defect of ours
            for part in msg.walk():
                if part.is_multipart():
                    continue
                defects += len(part.defects)
                payload = part.get_payload(decode=True) or b""
                records.append(("part", h(part.get_content_type()), h(part.get_filename() or ""), h(payload)))
                if b"\nbegin 666 " in b"\n" + payload:
                    decoded = uudecode(payload)
                    if decoded is not None:
                        records.append(("uu", h(decoded[0]), h(decoded[1])))
        except Exception as e:  # the test sees a broken message as a record, not as a dead server
            records.append(("error", h(repr(e))))
        records.append(("defects", str(defects)))
        path = os.path.join(self.outdir, "%d.txt" % self.count)
        with open(path + ".tmp", "w") as f:
            for r in records:
                f.write("\t".join(r) + "\n")
        os.rename(path + ".tmp", path)
        return "250 OK queued as %d" % self.count


async def main():
    outdir = sys.argv[1]
    deadline = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    loop = asyncio.get_running_loop()
    handler = Handler(outdir)
    server = await loop.create_server(lambda: SMTP(handler, hostname="kavrin-test"), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    stdin_closed = loop.create_future()

    def on_stdin():
        if not sys.stdin.buffer.read1(4096) and not stdin_closed.done():
            stdin_closed.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    try:
        await asyncio.wait_for(stdin_closed, deadline)
    except asyncio.TimeoutError:
        pass
    server.close()


asyncio.run(main())

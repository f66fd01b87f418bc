"""A real local SMTP server for the error-report tests (aiosmtpd).

usage: smtp_server.py PORT OUTFILE USER PASSWORD

Requires login (without TLS), appends every accepted message to OUTFILE
("MAIL FROM", "RCPT TO" and the data, then a line "=== END ==="), prints
READY once it listens, and runs until stdin closes.
"""
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


def main():
    port, outfile, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (getattr(auth_data, "login", b"") == user.encode()
              and getattr(auth_data, "password", b"") == password.encode())
        return AuthResult(success=ok, handled=False)

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            with open(outfile, "ab") as f:
                f.write(b"MAIL FROM: " + envelope.mail_from.encode() + b"\n")
                for r in envelope.rcpt_tos:
                    f.write(b"RCPT TO: " + r.encode() + b"\n")
                f.write(envelope.original_content or envelope.content)
                f.write(b"\n=== END ===\n")
            return "250 Message accepted"

    controller = Controller(Handler(), hostname="127.0.0.1", port=port,
                            authenticator=authenticator, auth_required=True,
                            auth_require_tls=False)
    controller.start()
    print("READY", flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()

"""SMTP test servers on 127.0.0.1 for the mail tests.

  smtp_server.py real <folder>            aiosmtpd with AUTH LOGIN/PLAIN for "alice"/"secret"
                                          (no TLS asked); message N is kept as N.from, N.rcpt
                                          (one address a line), N.auth (the login or empty) and
                                          N.eml (the content as received, dots unstuffed).
  smtp_server.py scripted <transcript> <replies>
                                          one connection; replies is a JSON list: the greeting,
                                          then one reply per command line (after "354" the
                                          content up to "\\r\\n.\\r\\n" counts as one command).
                                          Every byte received goes to the transcript file.
                                          Special replies: "@close" hangs up, "@stall" stays
                                          silent, "@noread" stops reading, "@bytes:<text>"
                                          sends the text one byte at a time.

Prints "port=<port>" once it listens, then serves until its standard input closes.
"""

import asyncio
import json
import os
import socket
import sys
import threading
import time


def serve_real(folder):
    import warnings
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    warnings.simplefilter("ignore", DeprecationWarning)

    counter = {"n": 0}

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == b"alice"
              and auth_data.password == b"secret")
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            counter["n"] += 1
            base = os.path.join(folder, str(counter["n"]))
            with open(base + ".eml", "wb") as out:
                out.write(envelope.original_content or envelope.content)
            with open(base + ".from", "w") as out:
                out.write(envelope.mail_from or "")
            with open(base + ".rcpt", "w") as out:
                out.write("\n".join(envelope.rcpt_tos))
            with open(base + ".auth", "w") as out:
                login = getattr(session.auth_data, "login", b"") if session.authenticated else b""
                out.write(login.decode())
            return "250 OK"

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    async def main():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(
            lambda: SMTP(Handler(), hostname="localhost", authenticator=authenticator,
                         auth_require_tls=False, data_size_limit=64 * 1024 * 1024),
            sock=listener)
        print("port=%d" % listener.getsockname()[1], flush=True)
        await loop.run_in_executor(None, sys.stdin.read)
        server.close()

    asyncio.run(main())


def serve_scripted(transcript, replies):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print("port=%d" % listener.getsockname()[1], flush=True)
    log = open(transcript, "wb", buffering=0)

    def send(conn, reply):
        if reply.startswith("@bytes:"):
            for b in reply[len("@bytes:"):].encode():
                conn.sendall(bytes([b]))
                time.sleep(0.005)
        else:
            conn.sendall(reply.encode())

    def session():
        conn, _ = listener.accept()
        pending = b""
        in_data = False
        try:
            for index, reply in enumerate(replies):
                if reply == "@noread":
                    threading.Event().wait()
                if index > 0:
                    end = b"\r\n.\r\n" if in_data else b"\r\n"
                    while end not in pending:
                        chunk = conn.recv(65536)
                        if not chunk:
                            return
                        log.write(chunk)
                        pending += chunk
                    command, pending = pending.split(end, 1)
                    in_data = command.upper() == b"DATA" and reply.startswith("354")
                if reply == "@close":
                    return
                if reply == "@stall":
                    threading.Event().wait()
                send(conn, reply)
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                log.write(chunk)
        finally:
            conn.close()

    threading.Thread(target=session, daemon=True).start()
    sys.stdin.read()
    log.close()
    os._exit(0)


if __name__ == "__main__":
    if sys.argv[1] == "real":
        serve_real(sys.argv[2])
    else:
        serve_scripted(sys.argv[2], json.loads(sys.argv[3]))

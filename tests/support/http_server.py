"""HTTP and HTTPS test server on 127.0.0.1 for the download tests.

Prints "http=<port> https=<port>" on one line once both listen, then serves until its standard
input closes. The HTTPS side uses a throwaway self-signed certificate for "localhost" made by
openssl in a private temporary folder.

Routes (the same on both ports):
  /style.css            text/css
  /image.jpg, /image.gif binary bodies with their image types
  /unknown              a content type that no table knows
  /no-type              no Content-Type header
  /redirect             302 to /style.css
  .../cookies           text/plain echo of the Cookie header (empty when none)
  /echo                 text/plain: method, User-Agent, Pragma, Content-Type and body of the request
  /short                announces 100 bytes, sends 40, closes
  /slow-head            sends nothing for 30 s
  /slow-body            announces 100 bytes, sends 10, then nothing for 30 s
  /drip                 announces 100 bytes and sends one every half second
  /hits?path=/x         how many requests /x has had (query strings aside)
  /report.htm           a small text/html report
  /doc.pdf              application/pdf
  /plain-charset        text/plain; charset=utf-8
  /empty                text/html with Content-Length: 0
  /no-length            text/html without Content-Length, ended by closing
  /empty-no-length      no Content-Length and no body
  /sample.htm           samples/sales-summary.htm as text/html
  /printdoc             keeps the POST body; /last-printdoc gives it back
  /define?path=/x&status=N&type=T&cut=1
                        POST: from now on /x answers with the request's body, status N (200),
                        content type T and, with cut=1, twice the body's length announced and
                        the connection closed after the body
  anything else         404
"""

import http.server
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import urllib.parse

CSS = b"body { color: #336699; }\n"
JPEG = bytes(range(256)) + b"\r\n\x00\xff\xd8"
REPORT_CSS = b".c1 {font-family:Arial;\r\n font-size:10pt}\r\n.c2 {color:#FF0000}\r\n"
GIF = b"GIF89a\x01\x00\x01\x00\x00\x00\x00;\r\n\x00"

stopping = threading.Event()
hits = {}
hits_lock = threading.Lock()
last_printdoc = [b""]
defined = {}
REPORT = (b"<html><head><title>r</title></head><body>\r\n"
          b"<table><tr><td>Page one</td></tr></table>\r\n</body></html>\r\n")


class Handler(http.server.BaseHTTPRequestHandler):
    tls_context = None

    def setup(self):
        if self.tls_context is not None:
            self.request = self.tls_context.wrap_socket(self.request, server_side=True)
        super().setup()

    def log_message(self, format, *args):
        pass

    def send_body(self, body, content_type=None, status=200, length=None):
        self.send_response(status)
        if content_type is not None:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def route(self):
        url = urllib.parse.urlsplit(self.path)
        with hits_lock:
            hits[url.path] = hits.get(url.path, 0) + 1
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if url.path == "/define":
            query = urllib.parse.parse_qs(url.query)
            defined[query["path"][0]] = (int(query.get("status", ["200"])[0]),
                                         query.get("type", ["application/octet-stream"])[0],
                                         body, query.get("cut", ["0"])[0] == "1")
            self.send_body(b"ok", "text/plain")
        elif url.path in defined:
            status, content_type, defined_body, cut = defined[url.path]
            self.send_body(defined_body, content_type, status=status,
                           length=2 * len(defined_body) if cut else None)
            if cut:
                self.close_connection = True
        elif url.path == "/style.css":
            self.send_body(CSS, "text/css")
        elif url.path == "/image.jpg":
            self.send_body(JPEG, "image/jpeg")
        elif url.path == "/image.gif":
            self.send_body(GIF, "image/gif")
        elif url.path == "/reports/rpt.css":
            self.send_body(REPORT_CSS, "text/css")
        elif url.path in ("/reports/img/logo.gif", "/img/top.gif"):
            self.send_body(GIF, "image/gif")
        elif url.path == "/unknown":
            self.send_body(b"unknown", "application/x-paginor-unknown")
        elif url.path == "/no-type":
            self.send_body(b"no type")
        elif url.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/style.css")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif url.path.endswith("/cookies"):
            self.send_body(self.headers.get("Cookie", "").encode(), "text/plain")
        elif url.path == "/echo":
            lines = [
                "Method: " + self.command,
                "User-Agent: " + self.headers.get("User-Agent", ""),
                "Pragma: " + self.headers.get("Pragma", ""),
                "Content-Type: " + self.headers.get("Content-Type", ""),
                "Body: " + body.decode("latin-1"),
            ]
            self.send_body("\n".join(lines).encode("latin-1"), "text/plain")
        elif url.path == "/short":
            self.send_body(b"x" * 40, "text/css", length=100)
            self.close_connection = True
        elif url.path == "/slow-head":
            stopping.wait(30)
        elif url.path == "/slow-body":
            self.send_body(b"x" * 10, "text/css", length=100)
            stopping.wait(30)
        elif url.path == "/drip":
            self.send_body(b"", "text/css", length=100)
            try:
                for _ in range(100):
                    if stopping.wait(0.5):
                        break
                    self.wfile.write(b"x")
                    self.wfile.flush()
            except (BrokenPipeError, ConnectionResetError):
                self.close_connection = True
        elif url.path == "/report.htm":
            self.send_body(REPORT, "text/html")
        elif url.path == "/sample.htm":
            sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                  "samples", "sales-summary.htm")
            with open(sample, "rb") as f:
                self.send_body(f.read(), "text/html")
        elif url.path == "/doc.pdf":
            self.send_body(b"%PDF-1.4\n%fake\n", "application/pdf")
        elif url.path == "/plain-charset":
            self.send_body(b"plain text\n", "text/plain; charset=utf-8")
        elif url.path == "/empty":
            self.send_body(b"", "text/html")
        elif url.path in ("/no-length", "/empty-no-length"):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            if url.path == "/no-length":
                self.wfile.write(REPORT)
            self.wfile.flush()
            self.close_connection = True
        elif url.path == "/printdoc":
            last_printdoc[0] = body
            self.send_body(b"ok\r\nqueued\r\n", "text/plain")
        elif url.path == "/last-printdoc":
            self.send_body(last_printdoc[0], "text/plain")
        elif url.path == "/hits":
            wanted = urllib.parse.parse_qs(url.query).get("path", [""])[0]
            with hits_lock:
                count = hits.get(wanted, 0)
            self.send_body(str(count).encode(), "text/plain")
        else:
            self.send_body(b"missing", "text/plain", status=404)

    def do_GET(self):
        self.route()

    def do_POST(self):
        self.route()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that refuse the certificate or hang up early are part of the tests.
        pass


def make_certificate(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def main():
    folder = tempfile.mkdtemp(prefix="paginor-http-")
    try:
        cert, key = make_certificate(folder)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)

        class TlsHandler(Handler):
            tls_context = context

        plain = Server(("127.0.0.1", 0), Handler)
        secure = Server(("127.0.0.1", 0), TlsHandler)
        for server in (plain, secure):
            threading.Thread(target=server.serve_forever, args=(0.05,), daemon=True).start()
        print("http=%d https=%d" % (plain.server_address[1], secure.server_address[1]), flush=True)
        sys.stdin.read()
        stopping.set()
        for server in (plain, secure):
            server.shutdown()
            server.server_close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()

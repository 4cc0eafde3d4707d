"""A private CUPS server on 127.0.0.1 for the printing tests.

Everything lives in one temporary folder: cupsd.conf, cups-files.conf, the spool, cache, state
and logs. Two queues, "PaginorTest" (the default) and "PaginorTest2", offer A4, Letter, Legal and
A3 and pass a PDF through unchanged to a test backend that copies each job's file to
OUT/<job id>.pdf and its title to OUT/<job id>.title.

Plain text passes through to the backend as well, as if the queue had a filter for it; other
types (office documents) are refused.

A queue whose device is "paginortest:/slow" is a slow printer: while the file ROOT/slow-gate
exists (ROOT being the folder above OUT) each of its jobs waits in the backend before printing.
Tests add such queues with lpadmin and the PPD at ROOT/paginor-test.ppd.

Prints "port=<port> out=<folder>" on one line once both queues accept jobs, or "error: <why>"
and ends with status 1. Stops cupsd with SIGTERM and removes the folder when its standard input
closes.
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

QUEUES = ("PaginorTest", "PaginorTest2")
BACKEND = "paginortest"
# name, PPD text, points wide, points long
SIZES = (
    ("A4", "A4", 595, 842),
    ("Letter", "US Letter", 612, 792),
    ("Legal", "US Legal", 612, 1008),
    ("A3", "A3", 842, 1191),
)
INSET = 12


def ppd_text():
    lines = [
        '*PPD-Adobe: "4.3"',
        '*FormatVersion: "4.3"',
        '*FileVersion: "1.0"',
        "*LanguageVersion: English",
        "*LanguageEncoding: ISOLatin1",
        '*PCFileName: "PAGINORT.PPD"',
        '*Manufacturer: "Paginor"',
        '*Product: "(Paginor Test)"',
        '*ModelName: "Paginor Test Printer"',
        '*ShortNickName: "Paginor Test"',
        '*NickName: "Paginor Test Printer"',
        '*PSVersion: "(3010.000) 0"',
        '*LanguageLevel: "3"',
        "*ColorDevice: False",
        "*DefaultColorSpace: Gray",
        "*FileSystem: False",
        '*Throughput: "1"',
        "*LandscapeOrientation: Plus90",
        "*TTRasterizer: Type42",
        '*cupsFilter2: "application/pdf application/vnd.cups-pdf 0 -"',
        '*cupsFilter2: "text/plain application/vnd.cups-pdf 0 -"',
    ]
    for keyword in ("PageSize", "PageRegion"):
        lines += [
            "*OpenUI *%s: PickOne" % keyword,
            "*OrderDependency: 10 AnySetup *%s" % keyword,
            "*Default%s: A4" % keyword,
        ]
        for name, text, width, length in SIZES:
            lines.append('*%s %s/%s: "<</PageSize[%d %d]>>setpagedevice"'
                         % (keyword, name, text, width, length))
        lines.append("*CloseUI: *%s" % keyword)
    lines.append("*DefaultImageableArea: A4")
    for name, text, width, length in SIZES:
        lines.append('*ImageableArea %s/%s: "%d %d %d %d"'
                     % (name, text, INSET, INSET, width - INSET, length - INSET))
    lines.append("*DefaultPaperDimension: A4")
    for name, text, width, length in SIZES:
        lines.append('*PaperDimension %s/%s: "%d %d"' % (name, text, width, length))
    return "\n".join(lines) + "\n"


BACKEND_SCRIPT = """#!/bin/sh
# Copies each job's file and title into the output folder.
if [ $# -eq 0 ]; then
    echo 'direct %(name)s "Unknown" "Paginor test backend"'
    exit 0
fi
out='%(out)s'
if [ "$DEVICE_URI" = "%(name)s:/slow" ]; then
    while [ -e "$out/../slow-gate" ]; do
        sleep 0.05
    done
fi
if [ -n "$6" ]; then
    cp "$6" "$out/$1.part" || exit 1
else
    cat > "$out/$1.part" || exit 1
fi
printf '%%s' "$3" > "$out/$1.title" || exit 1
mv "$out/$1.part" "$out/$1.pdf"
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def fail(root, text):
    log = os.path.join(root, "log", "error_log")
    if os.path.exists(log):
        with open(log, errors="replace") as f:
            tail = [l.strip() for l in f.readlines() if l.startswith("E ")][-3:]
        if tail:
            text += " [" + " | ".join(tail) + "]"
    print("error: " + text, flush=True)
    shutil.rmtree(root, ignore_errors=True)
    sys.exit(1)


def run(arguments):
    done = subprocess.run(arguments, capture_output=True, text=True)
    return done.returncode == 0, (done.stdout + done.stderr).strip()


def main():
    root = tempfile.mkdtemp(prefix="paginor-cups-")
    os.chmod(root, 0o755)
    port = free_port()
    server = "127.0.0.1:%d" % port
    for sub in ("etc/ppd", "etc/ssl", "spool/tmp", "cache", "state", "log", "out",
                "lib/backend"):
        os.makedirs(os.path.join(root, sub))
    os.chmod(os.path.join(root, "spool"), 0o710)
    for sub in os.listdir("/usr/lib/cups"):
        if sub != "backend":
            os.symlink(os.path.join("/usr/lib/cups", sub), os.path.join(root, "lib", sub))
    out = os.path.join(root, "out")
    os.chmod(out, 0o777)
    with open(os.path.join(root, "etc", "cupsd.conf"), "w") as f:
        f.write("""Listen %(server)s
ServerName 127.0.0.1
LogLevel warn
Printcap %(root)s/state/printcap
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
WebInterface No
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
    Allow localhost
  </Limit>
</Policy>
""" % {"server": server, "root": root})
    user = "lp" if os.getuid() == 0 else os.environ.get("USER", "nobody")
    with open(os.path.join(root, "etc", "cups-files.conf"), "w") as f:
        f.write("""ServerRoot %(root)s/etc
RequestRoot %(root)s/spool
TempDir %(root)s/spool/tmp
CacheDir %(root)s/cache
StateDir %(root)s/state
ServerBin %(root)s/lib
ServerKeychain %(root)s/etc/ssl
AccessLog %(root)s/log/access_log
ErrorLog %(root)s/log/error_log
PageLog %(root)s/log/page_log
SystemGroup root
User %(user)s
Group lp
""" % {"root": root, "user": user})
    backend = os.path.join(root, "lib", "backend", BACKEND)
    with open(backend, "w") as f:
        f.write(BACKEND_SCRIPT % {"name": BACKEND, "out": out})
    os.chmod(backend, 0o700)
    ppd = os.path.join(root, "paginor-test.ppd")
    with open(ppd, "w") as f:
        f.write(ppd_text())

    cupsd = subprocess.Popen(
        ["/usr/sbin/cupsd", "-f", "-c", os.path.join(root, "etc", "cupsd.conf"),
         "-s", os.path.join(root, "etc", "cups-files.conf")],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop():
        if cupsd.poll() is None:
            cupsd.send_signal(signal.SIGTERM)
            try:
                cupsd.wait(10)
            except subprocess.TimeoutExpired:
                cupsd.kill()
                cupsd.wait()

    # However long a busy machine takes: CTest's time-out ends a test whose server never answers.
    started = time.monotonic()
    note = started + 30
    while True:
        if cupsd.poll() is not None:
            fail(root, "cupsd ended with status %d" % cupsd.returncode)
        ok, text = run(["lpstat", "-h", server, "-r"])
        if "is running" in text and "not running" not in text:
            break
        if time.monotonic() >= note:
            print("still waiting for cupsd on %s after %d s: %s"
                  % (server, time.monotonic() - started, text.strip()), file=sys.stderr, flush=True)
            note += 30
        time.sleep(0.02)

    for queue in QUEUES:
        ok, text = run(["lpadmin", "-h", server, "-p", queue, "-E", "-v", BACKEND + ":/",
                        "-P", ppd, "-o", "media-default=iso_a4_210x297mm"])
        if not ok:
            stop()
            fail(root, "lpadmin %s: %s" % (queue, text))
    ok, text = run(["lpadmin", "-h", server, "-d", QUEUES[0]])
    if not ok:
        stop()
        fail(root, "lpadmin -d: " + text)

    print("port=%d out=%s" % (port, out), flush=True)
    sys.stdin.read()
    stop()
    shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()

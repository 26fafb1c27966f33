#!/usr/bin/env python3
"""Runs lightbench.exe under wine against pseudo-terminals and checks what a user would see.

Called by scripts/test-windows.sh with WINEPREFIX (a fresh prefix) and DISPLAY (Xvfb) set:
    wine_window_check.py PACKAGE_DIR WORK_DIR [SCREENSHOT]
COM1 to COM3 are mapped (HKLM\\Software\\Wine\\Ports) to symlinks in WORK_DIR that point at
pseudo-terminals played by this script, and COM16 to nothing; wine gives the serial devices of
this machine (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) the next free numbers, and the numbers
after those have no device at all. Ports, log and report are read from their files, the window
from screenshots.
"""
import glob
import os
import pty
import select
import signal
import subprocess
import sys
import termios
import time
import tty

MAPPED = (1, 2, 3)
failures = []


def check(name, ok, detail=""):
    print(f"{'PASS' if ok else 'FAIL'}: {name}{': ' + detail if detail else ''}", flush=True)
    if not ok:
        failures.append(name)
    return ok


def poll(condition, seconds):
    """condition() until it is true or seconds have passed; its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.2)


class Peer:
    """The controller's end of one COM port: a pseudo-terminal behind a symlink wine opens."""

    def __init__(self, link):
        self.link = link
        self.master = self.slave = None
        self.received = b""
        self.plug()

    def plug(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.point_at(os.ttyname(self.slave))

    def unplug(self):
        self.point_at(self.link + ".absent")
        os.close(self.master)
        os.close(self.slave)
        self.master = self.slave = None

    def point_at(self, target):
        temporary = self.link + ".new"
        if os.path.lexists(temporary):
            os.unlink(temporary)
        os.symlink(target, temporary)
        os.replace(temporary, self.link)

    def read(self):
        while self.master is not None and select.select([self.master], [], [], 0)[0]:
            try:
                self.received += os.read(self.master, 4096)
            except OSError:
                break
        return self.received

    def termios(self):
        return termios.tcgetattr(self.slave)


def run(command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def window_id():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Lightbench "],
                           capture_output=True, text=True)
    ids = found.stdout.split()
    return ids[-1] if ids else None


def screenshot(window, path=None):
    """The window's pixels: (width, height, bytes of RGB)."""
    ppm = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], capture_output=True,
                         check=True).stdout
    if path:
        run(["convert", "ppm:-", path], input=ppm)
    # P6 header: magic, width, height, maximum, each ended by white space.
    fields, offset = [], 0
    while len(fields) < 4:
        while ppm[offset:offset + 1].isspace():
            offset += 1
        end = offset
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[offset:end])
        offset = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, ppm[offset + 1:]


def colour_of(pixel):
    """The status colour a pixel of anti-aliased label text on the light gray form is part of."""
    r, g, b = pixel
    for name, value, others in (("green", g, (r, b)), ("red", r, (g, b)), ("blue", b, (r, g))):
        if value >= 200 and value - max(others) >= 80:
            return name
    if max(pixel) - min(pixel) <= 6 and 170 <= r <= 215:
        return "gray"  # 0xC0C0C0 blended with the form's 0xEFEFEF
    return None


def port1_corner(shot):
    """Where the green text of the open port 1 begins: the status column's left edge and the
    first label's top; None while port 1 is not green."""
    width, height, pixels = shot
    greens = [(x, y) for y in range(height) for x in range(width // 2, width)
              if colour_of(tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3])) == "green"]
    if not greens:
        return None
    return min(x for x, _ in greens), min(y for _, y in greens)


def status_colours(shot):
    """The status labels' colours from top to bottom: the column starts where the green of the
    open port 1 is, each label a band of rows with coloured text in it."""
    width, height, pixels = shot

    def at(x, y):
        i = (y * width + x) * 3
        return colour_of(tuple(pixels[i:i + 3]))

    corner = port1_corner(shot)
    if not corner:
        return []
    left, top = corner
    bands, last_row = [], -10
    for y in range(max(0, top - 2), height):
        colours = {at(x, y) for x in range(max(0, left - 2), min(width, left + 60))} - {None}
        if not colours:
            continue
        if y - last_row > 2:
            bands.append(set())
        bands[-1] |= colours
        last_row = y
    order = ("green", "red", "blue", "gray")
    return [next(c for c in order if c in band) for band in bands]


def port_log(log_dir, port):
    paths = glob.glob(os.path.join(log_dir, f"*_port{port:02d}.log"))
    return "".join(open(p, encoding="utf-8", errors="replace").read() for p in paths)


def click(window, x, y):
    run(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"])


def main():
    package, work = sys.argv[1], sys.argv[2]
    shot_path = sys.argv[3] if len(sys.argv) > 3 else None
    log_dir, report = os.path.join(work, "logs"), os.path.join(work, "report.csv")

    peers = {n: Peer(os.path.join(work, f"com{n}")) for n in MAPPED}
    # COM16 is mapped to nothing: wine then has a port by that name with no device behind it.
    for name, target in [(f"COM{n}", peers[n].link) for n in MAPPED] + [("COM16", "")]:
        run(["wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", name, "/t", "REG_SZ",
             "/d", target, "/f"], stderr=subprocess.DEVNULL)
    # Wine reads its ports when the server starts.
    run(["wineserver", "-k"])
    run(["wineserver", "-w"])
    devices = sum(len(glob.glob(f"/dev/{kind}[0-9]*")) for kind in ("ttyS", "ttyUSB", "ttyACM"))
    unmapped = list(range(len(MAPPED) + devices + 1, 17))

    # A report or log path that Windows would open as a device is refused before any port
    # opens: nothing reaches the controller on COM3.
    for option, path in (("--report", "com3.csv"), ("--log", r"\\.\COM3")):
        refused = subprocess.run(["wine", "lightbench.exe", option, path], cwd=package,
                                 capture_output=True, text=True, timeout=120)
        check(f"{option} {path} is refused with status 2", refused.returncode == 2 and
              "names the Windows device" in refused.stderr, refused.stderr.strip()[-200:])
    check("nothing reached COM3", peers[3].read() == b"", repr(peers[3].received))

    program = subprocess.Popen(["wine", "lightbench.exe", "--log", log_dir, "--report", report],
                               cwd=package, stdout=open(os.path.join(work, "stdout.txt"), "wb"),
                               stderr=open(os.path.join(work, "stderr.txt"), "wb"))
    window = poll(window_id, 90)
    if not check("the window appears (every DLL is in the package)", window is not None):
        program.kill()
        print(open(os.path.join(work, "stderr.txt"), errors="replace").read()[-3000:])
        return 1
    run(["xdotool", "windowmove", window, "0", "0"])

    # Mapped ports green, ports with no device gray.
    def expected_colours():
        colours = status_colours(screenshot(window))
        if len(colours) != 16:
            return None
        mapped_green = all(colours[n - 1] == "green" for n in MAPPED)
        return colours if mapped_green and all(colours[n - 1] == "gray" for n in unmapped) else None

    colours = poll(expected_colours, 60)
    if not colours:
        colours = status_colours(screenshot(window))
    check("COM1-COM3 green", len(colours) == 16 and all(colours[n - 1] == "green" for n in MAPPED),
          " ".join(colours))
    check("ports with no device gray", bool(unmapped) and len(colours) == 16 and
          all(colours[n - 1] == "gray" for n in unmapped),
          f"ports {unmapped[0]}-16" if unmapped else f"wine gave all of 4-16 to {devices} devices")
    if shot_path:
        screenshot(window, shot_path)
    # Controls are found from port 1's label, whose text begins at (738, 106) in the window as
    # Linux draws it, in case wine places the client area or the text a little apart.
    corner = port1_corner(screenshot(window)) or (738, 106)
    dx, dy = corner[0] - 738, corner[1] - 106

    # The settings box reaches the line: 115200 at first, then what is typed (a pty keeps 8 data
    # bits and no parity whatever it is told, so speed and stop bits are what can be seen).
    attributes = peers[1].termios()
    check("115200,n,8,1 reaches the pty", attributes[5] == termios.B115200 and
          not attributes[2] & termios.CSTOPB, f"speed {attributes[5]}")
    click(window, 848 + dx, 81 + dy)  # the settings box, 11880, 1080 twips
    run(["xdotool", "key", "ctrl+a"])  # to the focus, as real keys go
    run(["xdotool", "type", "9600,n,8,2"])
    changed = poll(lambda: peers[1].termios()[5] == termios.B9600 and
                   peers[1].termios()[2] & termios.CSTOPB, 20)
    check("9600,n,8,2 typed in the settings box reaches the pty", bool(changed))

    # A preset reaches every mapped pty byte-exact.
    for peer in peers.values():
        peer.read()
        peer.received = b""
    click(window, 52 + dx, 36 + dy)  # 全部亮, 240, 360 twips
    poll(lambda: all(len(p.read()) >= 8 for p in peers.values()), 20)
    time.sleep(0.5)  # anything sent after the preset would show here
    for n, peer in peers.items():
        check(f"全部亮 reaches COM{n} byte-exact", peer.read() == b":::ZAVA.", repr(peer.received))

    # A reply reaches the log.
    os.write(peers[1].master, b"OK 1\r\n")
    check("a reply reaches the session log",
          poll(lambda: " RX OK 1\\r\\n" in port_log(log_dir, 1), 20))

    # Unplugged, the port is lost; plugged in again, it returns.
    def opens():
        return sum(port_log(log_dir, 3).count(word) for word in (" -- opened ", " -- returned "))

    opened = opens()
    peers[3].unplug()
    lost = poll(lambda: [line for line in port_log(log_dir, 3).splitlines() if " -- lost " in line],
                30)
    check("an unplugged port is lost", bool(lost), lost[0] if lost else "no loss in the log")
    shown = poll(lambda: (status_colours(screenshot(window)) + [""] * 16)[2] == "gray", 20)
    check("an unplugged port is gray (no such port)", bool(shown),
          " ".join(status_colours(screenshot(window))))
    peers[3].plug()
    check("a port plugged in again returns", poll(lambda: opens() > opened, 30))
    check("a port plugged in again is green", bool(poll(
        lambda: (status_colours(screenshot(window)) + [""] * 16)[2] == "green", 20)))

    # Ctrl+C in the console ends the run as the exit button does: the report is written. (Wine
    # reports status 0 for a program that Ctrl+C killed, too: the report tells them apart.)
    os.kill(program.pid, signal.SIGINT)
    try:
        status = program.wait(60)
    except subprocess.TimeoutExpired:
        program.kill()
        status = None
    check("Ctrl+C ends the run", status == 0, f"status {status}")
    rows = open(report, encoding="utf-8").read().splitlines() if os.path.exists(report) else []
    check("the report is written at the end, COM1 open", len(rows) == 17 and
          rows[1].split(",")[2:3] == ["open"], f"{len(rows)} lines, {rows[1:2]}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The real-driver tier: ptmove on the kernel's own serial drivers.

A QEMU guest (Debian's kernel, busybox) runs a static ptmove against the
8250 UART (ttyS1, COM2) and an emulated FTDI USB adapter (ftdi_sio,
ttyUSB0, COM3). The host reads what left each port, unplugs and plugs the
adapter through QMP, and reads QEMU's trace of what the drivers programmed.

  vm_tier.py run --ptmove BIN --cache DIR --out DIR   boots the guest once
                                                      and runs every scenario
  vm_tier.py check --out DIR SCENARIO                 judges one scenario

Both exit 77 (skipped) with the reason when the tools or the kernel cannot
be had. QEMU's UART does not pace bytes at the line's rate, so nothing here
measures drain timing.
"""

import argparse
import base64
import glob
import gzip
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]
HERE = os.path.dirname(os.path.abspath(__file__))

# name: what the host does to the adapter, in seconds after "@@begin".
SCENARIOS = {
    "move_9600": [],
    "two_programs_root": [],
    "two_programs_user": [],
    "kill_mid_wait": [],
    "speed_115200": [],
    "speed_14400": [],
    "speed_31250_uart": [],
    "speed_31250_usb": [],
    "unplug_and_back": [(1.0, "unplug"), (1.5, "plug")],
    "unplug_for_good": [(0.5, "unplug")],
    "unplug_back_then_kill": [(1.0, "unplug"), (1.5, "plug")],
    # As the 1 s movement's stop frames go out: the kernel may take them
    # and drop them.
    "unplug_at_the_stop": [(1.013, "unplug"), (1.6, "plug")],
}

MOVING = "\nBrandeggio in movimento  \n\n"


def skip(out, reason):
    """Skips the tier, except in continuous integration, which must run it."""
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "skipped"), "w") as f:
        f.write(reason + "\n")
    if os.environ.get("CI"):
        print("the tier cannot run: " + reason)
        return 1
    print("skipped: " + reason)
    return SKIP


# ---------------------------------------------------------------- kernel


def kernel(cache):
    """vmlinuz and the modules' folder of Debian's current kernel package,
    fetched into `cache` once and unpacked there, never installed."""
    root = os.path.join(cache, "root")
    found = glob.glob(os.path.join(root, "boot", "vmlinuz-*"))
    if not found:
        os.makedirs(cache, exist_ok=True)
        depends = subprocess.run(["apt-cache", "depends", "linux-image-amd64"],
                                 capture_output=True, text=True).stdout
        if "Depends:" not in depends and os.geteuid() == 0:
            subprocess.run(["apt-get", "update", "-q"], capture_output=True)  # no lists yet
            depends = subprocess.run(["apt-cache", "depends", "linux-image-amd64"],
                                     capture_output=True, text=True).stdout
        match = re.search(r"Depends: (linux-image-\S+)", depends)
        if not match:
            raise RuntimeError("apt-cache names no package behind linux-image-amd64 "
                               "(apt-get update first)")
        # _apt must be able to write where it downloads.
        os.chmod(cache, 0o777)
        fetched = subprocess.run(["apt-get", "download", "-q", match.group(1)], cwd=cache,
                                 capture_output=True, text=True)
        debs = glob.glob(os.path.join(cache, match.group(1) + "_*.deb"))
        if fetched.returncode != 0 or not debs:
            raise RuntimeError("apt-get download %s failed: %s" %
                               (match.group(1), fetched.stderr.strip()[-300:]))
        subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
        found = glob.glob(os.path.join(root, "boot", "vmlinuz-*"))
    version = os.path.basename(found[0])[len("vmlinuz-"):]
    return found[0], os.path.join(root, "lib", "modules", version)


def module_path(modules, name):
    for pattern in (name, name.replace("-", "_")):
        hits = glob.glob(os.path.join(modules, "kernel", "**", pattern + ".ko*"), recursive=True)
        if hits:
            return hits[0]
    raise RuntimeError("the kernel package has no module " + name)


def initramfs(work, ptmove, busybox, modules):
    """A gzip'd cpio archive: busybox, ptmove, the USB serial modules, init."""
    tree = os.path.join(work, "tree")
    for folder in ("bin", "dev", "proc", "sys", "tmp", "etc", "lib/modules"):
        os.makedirs(os.path.join(tree, folder), exist_ok=True)
    shutil.copy(busybox, os.path.join(tree, "bin", "busybox"))
    shutil.copy(ptmove, os.path.join(tree, "bin", "ptmove"))
    for name in MODULES:
        source = module_path(modules, name)
        target = os.path.join(tree, "lib", "modules", name + ".ko")
        if source.endswith(".xz"):
            with open(target, "wb") as f:
                subprocess.run(["xz", "-dc", source], stdout=f, check=True)
        else:
            shutil.copy(source, target)
    shutil.copy(os.path.join(HERE, "guest_init.sh"), os.path.join(tree, "init"))
    os.chmod(os.path.join(tree, "init"), 0o755)
    names = subprocess.run(["find", "."], cwd=tree, capture_output=True, check=True).stdout
    archive = subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=tree, input=names,
                             capture_output=True, check=True).stdout
    path = os.path.join(work, "initrd.gz")
    with gzip.open(path, "wb", compresslevel=1) as f:
        f.write(archive)
    return path


# ------------------------------------------------------------------ guest


class Wire(threading.Thread):
    """Reads one port's socket chardev, timing each chunk."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.chunks = []  # (seconds since the epoch, bytes)
        self.lock = threading.Lock()
        self.sock = connect(path)
        self.start()

    def run(self):
        while True:
            try:
                data = self.sock.recv(4096)
            except OSError:
                return
            if not data:
                return
            with self.lock:
                self.chunks.append((time.time(), data))

    def since(self, start, end):
        with self.lock:
            return [(t, d) for t, d in self.chunks if start <= t <= end]


def connect(path, seconds=20):
    end = time.time() + seconds
    while True:
        try:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.connect(path)
            return sock
        except OSError:
            sock.close()
            if time.time() > end:
                raise
            time.sleep(0.05)


class Monitor:
    """QMP: plugs and unplugs the emulated adapter."""

    def __init__(self, path):
        self.sock = connect(path)
        self.file = self.sock.makefile("rw")
        self.file.readline()  # the greeting
        self.command("qmp_capabilities")

    def command(self, name, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            reply = json.loads(self.file.readline())
            if "return" in reply or "error" in reply:
                return reply

    def unplug(self):
        return self.command("device_del", id="adapter")

    def plug(self):
        return self.command("device_add", driver="usb-serial", id="adapter", chardev="usb",
                            **{"always-plugged": True})


class Guest:
    def __init__(self, work, vmlinuz, initrd, trace):
        self.work = work
        self.lines = []
        self.cond = threading.Condition()
        sockets = {name: os.path.join(work, name + ".sock") for name in ("line", "usb", "qmp")}
        events = os.path.join(work, "events")
        with open(events, "w") as f:
            f.write("serial_write\nserial_update_parameters\nusb_serial_*\n")
        command = [
            "qemu-system-x86_64", "-M", "pc", "-m", "256", "-nographic", "-nodefaults", "-no-reboot",
            "-kernel", vmlinuz, "-initrd", initrd,
            "-append", "console=ttyS0 quiet loglevel=1 panic=-1",
            "-chardev", "stdio,id=console,signal=off", "-serial", "chardev:console",
            "-chardev", "socket,id=line,path=%s,server=on,wait=off" % sockets["line"],
            "-serial", "chardev:line",
            "-chardev", "socket,id=usb,path=%s,server=on,wait=off" % sockets["usb"],
            "-device", "qemu-xhci",
            "-device", "usb-serial,chardev=usb,id=adapter,always-plugged=on",
            "-qmp", "unix:%s,server=on,wait=off" % sockets["qmp"], "-monitor", "none",
            "-trace", "events=" + events, "-D", trace,
        ]
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        threading.Thread(target=self.read_console, daemon=True).start()
        self.line = Wire(sockets["line"])
        self.usb = Wire(sockets["usb"])
        self.monitor = Monitor(sockets["qmp"])

    def read_console(self):
        for raw in self.process.stdout:
            text = raw.decode("latin-1").rstrip("\r\n")
            with self.cond:
                self.lines.append((time.time(), text))
                self.cond.notify_all()

    def wait_for(self, prefix, seconds):
        end = time.time() + seconds
        with self.cond:
            while True:
                for at, text in self.lines:
                    if prefix in text:  # the firmware's escapes may come first
                        return at, text
                left = end - time.time()
                if left <= 0 or self.process.poll() is not None:
                    raise RuntimeError("the guest did not say %r in %d s; its console:\n%s" %
                                       (prefix, seconds,
                                        "\n".join(t for _, t in self.lines[-30:])))
                self.cond.wait(left)

    def say(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def scenario(self, name, actions):
        self.say("run " + name)
        begin, _ = self.wait_for("@@begin " + name, 30)
        for at, action in actions:
            time.sleep(max(0.0, begin + at - time.time()))
            getattr(self.monitor, action)()
        end, _ = self.wait_for("@@end " + name, 60)
        done, _ = self.wait_for("@@done " + name, 30)
        if actions and actions[-1][1] == "unplug":
            self.monitor.plug()  # for the scenarios after this one
        result = {"begin": begin, "end": end, "runs": {}}
        with self.cond:
            mine = [t for at, t in self.lines if begin <= at <= done]
        for text in mine:
            match = re.match(r"@@(\w)\.(out|err|status) ?(.*)$", text)
            if match:
                value = base64.b64decode(match.group(3)).decode("latin-1")
                result["runs"].setdefault(match.group(1), {})[match.group(2)] = value
            elif text.startswith("@@seconds "):
                result["seconds"] = float(text.split()[1])
        result["line"] = [(t - begin, d.hex()) for t, d in self.line.since(begin, end + 1)]
        result["usb"] = [(t - begin, d.hex()) for t, d in self.usb.since(begin, end + 1)]
        return result

    def stop(self):
        self.say("quit")
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def run(args):
    for tool in ("qemu-system-x86_64", "cpio", "apt-get", "dpkg-deb"):
        if shutil.which(tool) is None:
            return skip(args.out, tool + " not found (tools/install-build-deps --all)")
    busybox = "/bin/busybox"  # busybox-static's, which needs no libraries
    if not os.path.exists(busybox):
        return skip(args.out, "busybox (busybox-static) not found")
    try:
        vmlinuz, modules = kernel(args.cache)
    except (RuntimeError, subprocess.CalledProcessError) as error:
        return skip(args.out, "no kernel to boot: %s" % error)
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    # Unix socket paths are short: the work folder is a temporary one.
    with tempfile.TemporaryDirectory(prefix="ptmove-vm-") as work:
        initrd = initramfs(work, args.ptmove, busybox, modules)
        trace = os.path.join(args.out, "trace.log")
        guest = Guest(work, vmlinuz, initrd, trace)
        try:
            guest.wait_for("@@ready", 120)
            for name, actions in SCENARIOS.items():
                result = guest.scenario(name, actions)
                with open(os.path.join(args.out, name + ".json"), "w") as f:
                    json.dump(result, f, indent=1)
        finally:
            guest.stop()
            with open(os.path.join(args.out, "console.log"), "w") as f:
                f.write("\n".join(t for _, t in guest.lines) + "\n")
    # The trace's lines carry no times: mark each scenario's span by the
    # console text the guest printed around it.
    split_trace(args.out, trace)
    return 0


# ------------------------------------------------------------------ trace


def split_trace(out, trace):
    """Cuts QEMU's trace into one file per scenario. The console UART's
    transmit writes spell out "@@begin NAME" and "@@end NAME"; between them
    the console is quiet, so every UART event there is ttyS1's."""
    with open(trace, errors="replace") as f:
        events = f.read().splitlines()
    text = ""
    at = []  # the event index of each character in `text`
    dlab = False
    for i, event in enumerate(events):
        match = re.search(r"serial_write .*addr 0x([0-9a-f]+) val 0x([0-9a-f]+)", event)
        if not match:
            continue
        addr, value = int(match.group(1), 16), int(match.group(2), 16)
        if addr == 3:
            dlab = bool(value & 0x80)
        elif addr == 0 and not dlab and (0x20 <= value < 0x7f or value == 0x0a):
            text += chr(value)
            at.append(i)
    for name in SCENARIOS:
        begin = text.find("@@begin " + name + "\n")
        end = text.find("@@end " + name, begin)
        if begin < 0 or end < 0:
            continue
        first = at[begin + len("@@begin " + name)] + 1
        last = at[end]
        with open(os.path.join(out, name + ".trace"), "w") as f:
            f.write("\n".join(events[first:last]) + "\n")


def uart(trace):
    """What the driver programmed on ttyS1: divisors, line controls,
    modem controls, and the bytes it transmitted, in order; and for each
    line or modem control written, how many bytes had been sent by then."""
    state = {"divisors": [], "lcr": [], "mcr": [], "sent": bytearray(), "controls": []}
    dlab = False
    low = high = None
    for event in trace:
        match = re.search(r"serial_write .*addr 0x([0-9a-f]+) val 0x([0-9a-f]+)", event)
        if not match:
            continue
        addr, value = int(match.group(1), 16), int(match.group(2), 16)
        if addr in (3, 4):
            state["controls"].append(len(state["sent"]))
        if addr == 3:
            if dlab and not value & 0x80 and low is not None:
                state["divisors"].append((high or 0) << 8 | low)
                low = high = None
            dlab = bool(value & 0x80)
            state["lcr"].append(value & 0x7f)
        elif addr == 0 and dlab:
            low = value
        elif addr == 1 and dlab:
            high = value
        elif addr == 0:
            state["sent"].append(value)
        elif addr == 4:
            state["mcr"].append(value)
    return state


# ------------------------------------------------------------------ checks

RIGHT = "ff0100023f0042"
STOP = "ff010000000001"


def stop_for(address):
    return "ff%02x00000000%02x" % (address, address)


def wire(result, port):
    return "".join(d for _, d in result[port])


def first_time(result, port, frame):
    """When `frame` was complete on the host, in seconds after "@@begin"."""
    seen = ""
    for t, d in result[port]:
        seen += d
        if frame in seen:
            return t
    return None


class Check:
    def __init__(self):
        self.failures = []

    def that(self, ok, what):
        if not ok:
            self.failures.append(what)


def check_move_9600(c, r, trace):
    a = r["runs"]["a"]
    move = "ff2a00023f006b"
    c.that(a["out"] == MOVING, "stdout %r" % a["out"])
    c.that(a["err"] == "", "stderr %r" % a["err"])
    c.that(wire(r, "line") == move + stop_for(0x2A), "wire %s" % wire(r, "line"))
    gap = first_time(r, "line", stop_for(0x2A)) - first_time(r, "line", move)
    c.that(0.9 <= gap <= 2.0, "stop %.2f s after the movement frame, not 1 s" % gap)
    u = uart(trace)
    c.that(12 in u["divisors"], "divisors %s, not 12 (9600 bit/s)" % u["divisors"])
    # 8 bits, one stop bit, no parity; the driver sets even-parity select
    # (0x10) with parity off, which means nothing.
    c.that(u["lcr"] and u["lcr"][-1] & 0x0f == 0x03, "line control %s, not 8N1" % u["lcr"])
    c.that(u["sent"].hex() == move + stop_for(0x2A), "UART sent %s" % u["sent"].hex())
    raised = [i for i, m in enumerate(u["mcr"]) if m & 0x03 == 0x03]
    dropped = [i for i, m in enumerate(u["mcr"]) if m & 0x03 == 0]
    c.that(raised and dropped and dropped[-1] > raised[0],
           "DTR/RTS not raised, then dropped at close: %s" % u["mcr"])


def check_two_programs(c, r, trace):
    a, b = r["runs"]["a"], r["runs"]["b"]
    c.that(a["out"] == MOVING, "first stdout %r" % a["out"])
    c.that(b["out"] == MOVING + "Failed to open port\n", "second stdout %r" % b["out"])
    c.that("in use by another program" in b["err"], "second stderr %r" % b["err"])
    c.that(wire(r, "line") == RIGHT + STOP, "wire %s" % wire(r, "line"))
    # The refused run touches no register: between the first run's frames
    # the driver programs no line or modem control.
    u = uart(trace)
    between = [sent for sent in u["controls"] if 7 <= sent < 14]
    c.that(not between, "line or modem control written while the first run waited")
    c.that(u["sent"].hex() == RIGHT + STOP, "UART sent %s" % u["sent"].hex())


def check_kill_mid_wait(c, r, trace):
    move = "ff050008003f4c"
    c.that(wire(r, "line") == move + stop_for(5), "wire %s" % wire(r, "line"))
    stop = first_time(r, "line", stop_for(5))
    c.that(stop is not None and stop < 1.0 + 1.5, "the guard's stop at %s s" % stop)


def speed_check(divisor, rate):
    def check(c, r, trace):
        a = r["runs"]["a"]
        c.that(a["out"] == MOVING, "stdout %r" % a["out"])
        c.that(a["err"] == "", "stderr %r" % a["err"])
        c.that(wire(r, "line") == RIGHT + STOP, "wire %s" % wire(r, "line"))
        u = uart(trace)
        c.that(u["divisors"] and u["divisors"][-1] == divisor,
               "divisors %s, not %d (%d bit/s)" % (u["divisors"], divisor, rate))
    return check


def check_speed_31250_uart(c, r, trace):
    a = r["runs"]["a"]
    c.that(a["out"] == MOVING + "SetCommState failed\n", "stdout %r" % a["out"])
    c.that("cannot make 31250 bit/s" in a["err"] and "28800 bit/s" in a["err"] and
           "7.8 % off" in a["err"], "stderr %r" % a["err"])
    c.that(wire(r, "line") == RIGHT + STOP, "wire %s" % wire(r, "line"))
    c.that(4 not in uart(trace)["divisors"], "divisor 4 (28800 bit/s) was programmed")


def check_speed_31250_usb(c, r, trace):
    a = r["runs"]["a"]
    c.that(a["out"] == MOVING, "stdout %r" % a["out"])
    c.that(a["err"] == "", "stderr %r" % a["err"])
    c.that(wire(r, "usb") == RIGHT + STOP, "wire %s" % wire(r, "usb"))
    c.that(any("usb_serial_set_baud" in e and "baud rate 31250" in e for e in trace),
           "the adapter was not set to 31250 bit/s")


LEFT = "ff0100043f0044"


def check_unplug_and_back(c, r, trace):
    a = r["runs"]["a"]
    c.that(a["out"] == MOVING, "stdout %r" % a["out"])
    c.that("vanished" in a["err"] and "opened again" in a["err"] and
           "the stop frames were sent" in a["err"], "stderr %r" % a["err"])
    c.that(wire(r, "usb") == LEFT + STOP, "wire %s" % wire(r, "usb"))
    stop = first_time(r, "usb", STOP)
    c.that(stop is not None and 2.8 <= stop <= 4.5, "stop at %s s, not at 3 s" % stop)


def check_unplug_for_good(c, r, trace):
    a = r["runs"]["a"]
    c.that(a["out"] == MOVING + "WriteFile failed\n", "stdout %r" % a["out"])
    c.that("vanished" in a["err"] and "was not back within 5.0 s" in a["err"],
           "stderr %r" % a["err"])
    c.that(r["seconds"] < 1 + 6, "ran %.1f s, not within t + 6 s" % r["seconds"])
    c.that(wire(r, "usb") == LEFT, "wire %s" % wire(r, "usb"))


def check_unplug_back_then_kill(c, r, trace):
    move = "ff010010003f50"
    c.that(wire(r, "usb") == move + STOP, "wire %s" % wire(r, "usb"))
    stop = first_time(r, "usb", STOP)
    c.that(stop is not None and stop < 2.5 + 1.5, "the guard's stop at %s s" % stop)


def check_unplug_at_the_stop(c, r, trace):
    a = r["runs"]["a"]
    c.that(a["out"] == MOVING, "stdout %r" % a["out"])
    c.that("vanished" not in a["err"] or "the stop frames were sent" in a["err"],
           "stderr %r" % a["err"])
    usb = wire(r, "usb")
    c.that(usb.startswith(LEFT) and STOP in usb[len(LEFT):], "wire %s" % usb)


CHECKS = {
    "move_9600": check_move_9600,
    "two_programs_root": check_two_programs,
    "two_programs_user": check_two_programs,
    "kill_mid_wait": check_kill_mid_wait,
    "speed_115200": speed_check(1, 115200),
    "speed_14400": speed_check(8, 14400),
    "speed_31250_uart": check_speed_31250_uart,
    "speed_31250_usb": check_speed_31250_usb,
    "unplug_and_back": check_unplug_and_back,
    "unplug_for_good": check_unplug_for_good,
    "unplug_back_then_kill": check_unplug_back_then_kill,
    "unplug_at_the_stop": check_unplug_at_the_stop,
}


def check(args):
    skipped = os.path.join(args.out, "skipped")
    if os.path.exists(skipped):
        with open(skipped) as f:
            print("skipped: " + f.read().strip())
        return SKIP
    try:
        with open(os.path.join(args.out, args.scenario + ".json")) as f:
            result = json.load(f)
        with open(os.path.join(args.out, args.scenario + ".trace")) as f:
            trace = f.read().splitlines()
    except OSError as error:
        print("no result for %s: %s" % (args.scenario, error))
        return 1
    c = Check()
    try:
        CHECKS[args.scenario](c, result, trace)
    except (KeyError, TypeError, IndexError) as error:
        c.that(False, "incomplete result: %r" % error)
    for failure in c.failures:
        print("FAILED %s: %s" % (args.scenario, failure))
    if not c.failures:
        print("passed " + args.scenario)
    return 1 if c.failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    boot = commands.add_parser("run")
    boot.add_argument("--ptmove", required=True)
    boot.add_argument("--cache", required=True)
    boot.add_argument("--out", required=True)
    judge = commands.add_parser("check")
    judge.add_argument("--out", required=True)
    judge.add_argument("scenario", choices=sorted(CHECKS))
    args = parser.parse_args()
    return run(args) if args.command == "run" else check(args)


if __name__ == "__main__":
    sys.exit(main())

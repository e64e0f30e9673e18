#!/usr/bin/env python3
"""Stand-in for the serial colour meter on a pseudo-terminal pair.

Prints the path of the program's end of the pty on its first stdout line,
then one line "> <command>" for every command it receives. Commands end in a
carriage return; every reply line ends in CR LF.

Control lines on stdin:
  reply <command>|<line>[|<line>...]  answer <command> with these lines instead
  late <seconds> <command>|<line>...   answer the next <command> with these lines,
                                       <seconds> after it came; as a real
                                       instrument, it answers later commands
                                       only after it
  clear                                drop every scripted reply
  quit                                 close the pty and exit
"""
import argparse
import os
import pty
import select
import sys
import time
import tty


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--model", default="CR-100")
    ap.add_argument("--type", default="1", help="instrument type; 2 is a spectrometer")
    ap.add_argument("--filters", default="4,ND-100-0.3,Radiance;5,ND-100-0.6,Radiance",
                    help="filter entry lines separated by ';'")
    ap.add_argument("--matrices", default="1,Factory,1,0,0,0,1,0,0,0,1",
                    help="matrix entry lines separated by ';'")
    ap.add_argument("--luminance", default="123.45")
    ap.add_argument("--cct", default="6504,0.0012")
    args = ap.parse_args()

    master, slave = pty.openpty()
    tty.setraw(slave)
    print(os.ttyname(slave), flush=True)

    filters = [f for f in args.filters.split(";") if f]
    matrices = [m for m in args.matrices.split(";") if m]
    scripted = {}
    late = {}    # command: (seconds, lines), used once
    outbox = []  # (due time, bytes), in order

    def answer(command):
        if command in scripted:
            return scripted[command]
        ok = "OK:0:%s:%s"
        if command == "RC Model":
            return [ok % (command, args.model)]
        if command == "RC InstrumentType":
            return [ok % (command, args.type)]
        if command == "RC Filter":
            return [ok % (command, len(filters))] + filters
        if command == "RC MatrixCalib":
            return [ok % (command, "%d,3,3" % len(matrices))] + matrices
        if command == "RM Y":
            return [ok % (command, args.luminance)]
        if command == "RM CCT":
            return [ok % (command, args.cct)]
        return [ok % (command, "")]

    pending = b""
    stdin_open = True
    while True:
        now = time.monotonic()
        while outbox and outbox[0][0] <= now:
            os.write(master, outbox.pop(0)[1])
        fds = [master] + ([sys.stdin] if stdin_open else [])
        ready, _, _ = select.select(fds, [], [], max(0.0, outbox[0][0] - now) if outbox else None)
        if sys.stdin in ready:
            control = sys.stdin.readline()
            if not control:
                stdin_open = False
                continue
            control = control.rstrip("\n")
            if control == "quit":
                break
            if control == "clear":
                scripted.clear()
            elif control.startswith("reply "):
                parts = control[len("reply "):].split("|")
                scripted[parts[0]] = parts[1:]
            elif control.startswith("late "):
                seconds, rest = control[len("late "):].split(" ", 1)
                parts = rest.split("|")
                late[parts[0]] = (float(seconds), parts[1:])
            print("ok", flush=True)
        if master in ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                break
            pending += data
            while b"\r" in pending:
                raw, pending = pending.split(b"\r", 1)
                command = raw.decode("utf-8", "replace")
                print("> " + command, flush=True)
                delay, lines = late.pop(command, (0.0, None))
                if lines is None:
                    lines = answer(command)
                if lines:
                    due = max([time.monotonic() + delay] + [d for d, _ in outbox[-1:]])
                    outbox.append((due, "".join(l + "\r\n" for l in lines).encode()))
    os.close(master)
    os.close(slave)


if __name__ == "__main__":
    main()

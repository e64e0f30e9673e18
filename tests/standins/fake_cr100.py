#!/usr/bin/env python3
"""Stand-in for the serial colour meter on a pseudo-terminal pair.

Prints the path of the program's end of the pty on its first stdout line,
then one line "> <command>" for every command it receives. Commands end in a
carriage return; every reply line ends in CR LF.

Control lines on stdin:
  reply <command>|<line>[|<line>...]  answer <command> with these lines instead
  clear                                drop every scripted reply
  quit                                 close the pty and exit
"""
import argparse
import os
import pty
import select
import sys
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
        fds = [master] + ([sys.stdin] if stdin_open else [])
        ready, _, _ = select.select(fds, [], [])
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
                lines = answer(command)
                if lines:
                    os.write(master, "".join(l + "\r\n" for l in lines).encode())
    os.close(master)
    os.close(slave)


if __name__ == "__main__":
    main()

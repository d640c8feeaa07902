"""Runs a program as a background job of a terminal of its own with `stty tostop` set, its
stderr that terminal, on Linux and on a Mac alike: the session leader keeps the foreground,
and ends the job when the terminal hangs up (this process, its other side, was killed)."""

import os, pty, signal, sys, termios

session, terminal = pty.fork()
if session:
    os.waitpid(session, 0)  # holds the terminal's other side, never reading it
    sys.exit(0)

attributes = termios.tcgetattr(0)
attributes[3] |= termios.TOSTOP
termios.tcsetattr(0, termios.TCSANOW, attributes)
job = os.fork()
if job == 0:
    os.setpgid(0, 0)  # its own process group, which is not the terminal's foreground
    os.execv(sys.argv[1], sys.argv[1:])
os.setpgid(job, job)
assert os.tcgetpgrp(0) == os.getpgrp(), "the session leader is the foreground"
signal.signal(signal.SIGHUP, lambda *_: (os.kill(job, signal.SIGKILL), os._exit(0)))
os.waitpid(job, 0)

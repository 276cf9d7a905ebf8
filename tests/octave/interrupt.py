#!/usr/bin/env python3
"""Ctrl-C during a long native assembly, as a user meets it.

  interrupt.py OCTAVE_CLI TOOLBOX [--valgrind SUPPRESSIONS PRELOAD_LIB]

1. A script (octave-cli --eval) sent SIGINT while the stiffness matrix of a 3-D patch of degree 5
   is being assembled (some seconds of work) must end within a second of the signal.
2. At the prompt of an interactive session (a pseudo-terminal), Ctrl-C in the same assembly must
   bring the prompt back within a second, and the next calls must work.
3. A script sent SIGINT while a matrix-free operator is applied to many columns must end within a
   second too.
With --valgrind only the interactive session runs, under memcheck (and is given the time it
needs): nothing of the interrupted call may leak, no invalid access, exit status 0.
"""
import os
import re
import select
import signal
import subprocess
import sys
import time

octave, toolbox = sys.argv[1], sys.argv[2]
valgrind = sys.argv[4] if len(sys.argv) > 5 and sys.argv[3] == "--valgrind" else None
if valgrind:
    os.environ["LD_PRELOAD"] = sys.argv[5]  # what valgrind needs of the host (octave_memcheck.sh)
slack = 8.0 if valgrind else 1.0  # seconds from Ctrl-C to the end of the call
# The element path: at this degree sum factorisation takes a fraction of a second, too short to be
# interrupted on cue.
os.environ["NURBS_FORMS_METHOD"] = "elements"

# A trivariate patch of degree 5 on 8 x 8 x 8 elements (4 x 4 x 4 under valgrind), and a call
# that assembles its stiffness matrix: several seconds of native work.
n = 4 if valgrind else 8
SETUP = (
    f"addpath('{toolbox}'); pkg load nurbs; "
    "c = nrb4surf([0 0], [1 0], [0 1], [1 1.5]); g = nrbextrude(c, [0 0 1]); "
    f"k = (1:{n - 1}) / {n}; g = nrbkntins(nrbdegelev(g, [4 4 4]), {{k, k, k}}); "
    "small = nrb4surf([0 0], [1 0], [0 1], [1 1]);"
)
LONG = "K = StiffnessMatrix(g, 1);"
PROMPT = r"(octave:\d+>|>>) $"
failed = 0


def check(ok, label):
    global failed
    print(("ok: " if ok else "FAILED: ") + label, flush=True)
    failed += 0 if ok else 1


# 1. A script (3.: the operator's application).
APPLY_SETUP = (
    f"addpath('{toolbox}'); pkg load nurbs; "
    "c = nrb4surf([0 0], [1 0], [0 1], [1 1.5]); g = nrbextrude(c, [0 0 1]); "
    "k = (1:15) / 16; g = nrbkntins(nrbdegelev(g, [2 2 2]), {k, k, k}); "
    "[A, free] = MatrixFreeOperator('stiffness', g, 1); x = ones(numel(free), 3000);"
)
APPLY = "y = A(x);"


def script_interrupted(setup=SETUP, long=LONG, label="the assembly"):
    script = setup + " disp('started'); fflush(stdout); " + long + " disp('finished');"
    p = subprocess.Popen([octave, "--norc", "--no-history", "--quiet", "--eval", script],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = p.stdout.readline()
    check("started" in line, f"the script reached {label}")
    time.sleep(1.0)
    check(p.poll() is None, f"{label} was still running a second later")
    sent = time.monotonic()
    p.send_signal(signal.SIGINT)
    rest = p.communicate(timeout=60)[0]
    took = time.monotonic() - sent
    check(took < 1.0 and "finished" not in rest,
          f"the script ended {took:.3f} s after SIGINT, {label} unfinished")

if not valgrind:
    script_interrupted()
    script_interrupted(APPLY_SETUP, APPLY, "the operator's application")

# 2. An interactive session at a prompt.
command = [octave, "--norc", "--no-history", "--quiet", "--interactive", "--no-gui"]
if valgrind:
    command = ["valgrind", "--tool=memcheck", "--leak-check=full",
               "--errors-for-leak-kinds=definite", "--error-exitcode=3", "--num-callers=40",
               f"--suppressions={valgrind}", "--log-file=/dev/stderr"] + command
pid, fd = os.forkpty()
if pid == 0:
    os.environ["TERM"] = "dumb"
    os.execvp(command[0], command)

seen = ""


def read_until(pattern, timeout):
    """Output until pattern shows (a regular expression), or None on timeout."""
    global seen
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        ready, _, _ = select.select([fd], [], [], 0.02)
        if ready:
            try:
                chunk = os.read(fd, 4096).decode(errors="replace")
            except OSError:
                return None
            seen += chunk
            match = re.search(pattern, seen)
            if match:
                seen = seen[match.end():]
                return match
    print(f"(waited {timeout} s for {pattern!r}; the session showed {seen[-300:]!r})")
    return None


def say(text):
    os.write(fd, (text + "\n").encode())


startup = 120 if valgrind else 30
check(read_until(PROMPT, startup) is not None, "the prompt")
say(SETUP + " disp('ready')")
check(read_until(r"ready\s*\r?\n", startup * 4) is not None, "the session is set up")
read_until(PROMPT, 10)
say("disp('started'); " + LONG + " disp('finished')")
check(read_until(r"started\s*\r?\n", 60) is not None, "the assembly started")
time.sleep(3.0 if valgrind else 1.0)
sent = time.monotonic()
os.write(fd, b"\x03")
back = read_until(PROMPT, 60)
took = time.monotonic() - sent
check(back is not None and took < slack and "finished" not in seen,
      f"the prompt came back {took:.3f} s after Ctrl-C, the assembly unfinished")
say("M = MassMatrix(small, 1); printf('next call %d\\n', nnz(M))")
check(read_until(r"next call 16", startup) is not None, "a call after the interrupt works")
say("K = StiffnessMatrix(small, 1); printf('again %d\\n', nnz(K))")
check(read_until(r"again 16", startup) is not None, "and another")
say("exit")
everything = seen
read_until(r"(?!)", 300)  # to the end of the output (valgrind's report comes last)
seen = everything + seen
_, status = os.waitpid(pid, 0)
code = os.waitstatus_to_exitcode(status)
if valgrind:
    summary = re.findall(r"(ERROR SUMMARY: [^\r\n]*|definitely lost: [^\r\n]*)", seen)
    print("\n".join("valgrind: " + s for s in summary))
check(code == 0, f"the session ended with status {code}")
os.close(fd)
sys.exit(1 if failed else 0)

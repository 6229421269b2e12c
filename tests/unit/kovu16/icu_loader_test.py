#!/usr/bin/env python3
"""The run-time Unicode loader against stand-in shared objects, each case in a
fresh process (the search path of the environment is read at process start):
search by LD_LIBRARY_PATH and by the additional directory, group binding and
flags, failures of either library, 7-bit mode, the process end without a
fallback, the trace levels and their padding, and the profiler prefix."""
import os
import re
import subprocess
import sys

probe, bindir = sys.argv[1], sys.argv[2]
ok, badcommon, badi18n = (os.path.join(bindir, d) for d in ("icu_ok", "icu_badcommon", "icu_badi18n"))
failures = []
CLEAN = {k: v for k, v in os.environ.items()
         if not k.startswith("NLSUI_") and k not in ("LD_LIBRARY_PATH", "GMON_OUT_PREFIX")}


def run(args=(), **env):
    e = dict(CLEAN)
    e.update({k: v for k, v in env.items()})
    r = subprocess.run([probe, *args], env=e, capture_output=True, text=True, timeout=60)
    fields = dict(f.split("=", 1) for f in r.stdout.split()) if r.stdout else {}
    return r.returncode, fields, r.stderr


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


# Found through LD_LIBRARY_PATH: everything bound, nothing traced at level low.
rc, f, err = run(LD_LIBRARY_PATH=ok)
check("env path", (rc, f.get("result"), f.get("common"), f.get("i18n"), f.get("flags")) ==
      (0, "0", "0", "0", "11111111"), f"{rc} {f}")
check("env path quiet", err == "", err)

# Found through the additional directory, traced at medium: padded lines.
rc, f, err = run(["path", ok + "/"], NLSUI_INIT_TRACE_LEVEL="medium")
check("extra path", (f.get("result"), f.get("flags"), f.get("level")) == ("0", "11111111", "4"), str(f))
for line in ("Searching for libicuuc in additional path " + ok + "/",
             "Loaded ICU data lib: " + ok + "/libicudata.so.34",
             "Loaded ICU common lib: " + ok + "/libicuuc.so.34",
             "Running with ICU version 3.4", "ICU uses Unicode version 4.1",
             "Loaded ICU I18n lib: " + ok + "/libicui18n.so.34"):
    check("extra path trace", re.search(re.escape(line) + r" *\[nlsui0\.cpp \d+\] pid = \d+\n", err) is not None,
          line)
short = [l for l in err.splitlines() if l.startswith("Compiled with ICU version 3.4")]
check("padding", len(short) == 1 and short[0].index(" [nlsui0") == 79, repr(short))

# A common library without one symbol: the groups bound before it are dropped
# (the i18n library, opened beside the common handle, still binds).
rc, f, err = run(LD_LIBRARY_PATH=badcommon)
check("bad common", (f.get("result"), f.get("common"), f.get("i18n"), f.get("flags")) ==
      ("1", "-1", "0", "00000000"), str(f))
# The error line carries the system's text naming the symbol (it once always
# read "<no error message>": the traced lookup had taken the text already).
check("bad common trace", 'symbol load "ubrk_open_3_4" failed' in err
      and re.search(r"Error Message: [^\n]*ubrk_open_3_4", err) is not None
      and "ICU shared libraries are not loaded" in err, err)

# An i18n library without one calendar symbol: the common part still counts.
rc, f, err = run(["twice"], LD_LIBRARY_PATH=badi18n)
check("bad i18n", (f.get("result"), f.get("again"), f.get("common"), f.get("i18n"), f.get("flags")[:6]) ==
      ("0", "0", "0", "-1", "111111"), str(f))
check("bad i18n trace", 'symbol load "ucal_setMillis_3_4" failed' in err
      and "libicui18n.so.34 is closed again" in err, err)

# Nothing to find: a failure result, a fallback, or the end of the process.
rc, f, err = run(["twice"])
check("missing allowed", (rc, f.get("result"), f.get("again")) == (0, "1", "1"), f"{rc} {f}")
check("missing trace", "Could not open the ICU common library.\n   The following files must be in the path" in err
      and "LD_LIBRARY_PATH is currently set to <not set> " in err, err)
rc, f, err = run(["strict"], NLSUI_INIT_TRACE_LEVEL="high")
check("missing strict", rc == 255 and f == {} and "Terminating.\n   You may set" in err, f"{rc} {err[-300:]}")
rc, f, err = run(["strict"], NLSUI_7BIT_FALLBACK="")
check("missing fallback", (rc, f.get("result")) == (0, "1") and
      "Environment variable NLSUI_7BIT_FALLBACK is set." in err, f"{rc} {f}")

# 7-bit mode loads nothing even when the libraries are there.
rc, f, err = run(["7bit"], LD_LIBRARY_PATH=ok, NLSUI_INIT_TRACE_LEVEL="high")
check("7bit", (f.get("result"), f.get("common"), f.get("flags")) == ("1", "-1", "00000000"), str(f))
check("7bit trace", "nlsui_set7bitUnicode() is called" in err and "Library handle" not in err, err)

# Trace level words are exact; NLSUI_TRACE_LEVEL sets the 16-bit library's level.
rc, f, err = run(LD_LIBRARY_PATH=ok, NLSUI_INIT_TRACE_LEVEL="High", NLSUI_TRACE_LEVEL="high")
check("levels", (f.get("level"), f.get("u16")) == ("1", "16"), str(f))
check("u16 level report", "U16 trace level set to high" in err, err)
rc, f, err = run(LD_LIBRARY_PATH=ok, NLSUI_TRACE_LEVEL="bogus")
check("bogus level keeps u16 level", f.get("u16") == "4", str(f))

# The profiler prefix names the program.
rc, f, err = run(["prof"], LD_LIBRARY_PATH=ok, GMON_OUT_PREFIX="/tmp/gm")
check("gmon", f.get("gmon") == "/tmp/gm_" + os.path.basename(probe), str(f))

for x in failures:
    print(x)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)

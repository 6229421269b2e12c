"""Shared helpers of the command tests: running the program in a scratch
directory and building KOX archives byte by byte (raw data blocks), so that
archives the program itself would never write can be fed to it."""

import atexit
import os
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import unittest
import zlib

KOVZEF = os.environ.get("KOVZEF", "kovzef")
# The crypto library the program loads from beside itself.
LIBRARY = os.path.join(os.path.dirname(os.path.abspath(KOVZEF)), "libkovcrypto.so")
NOBODY = 65534


def _scratch():
    """The directory the build names in KOV_E2E_TMP, or else a fresh one of
    this run's own, removed at its end."""
    named = os.environ.get("KOV_E2E_TMP")
    if named:
        return named
    fresh = tempfile.mkdtemp(prefix="kov-e2e-")
    atexit.register(shutil.rmtree, fresh, True)
    return fresh


SCRATCH = _scratch()


def reachable_program(case):
    """A copy of the program for a run without privileges: the checkout may
    lie where an unprivileged user cannot reach (below a home directory of
    mode 700), so the program and the crypto library it loads from beside
    itself are copied into a fresh directory every user can enter; the case
    removes it at its end."""
    where = tempfile.mkdtemp(prefix="kov-bin-")
    case.addCleanup(shutil.rmtree, where, True)
    os.chmod(where, 0o755)
    program = shutil.copy2(KOVZEF, os.path.join(where, os.path.basename(KOVZEF)))
    if os.path.exists(LIBRARY):
        shutil.copy2(LIBRARY, where)
    for name in os.listdir(where):
        os.chmod(os.path.join(where, name), 0o755)
    return program


def drop_privileges():
    """For preexec_fn: a run as root goes on as the unprivileged user."""
    if os.geteuid() == 0:
        os.setgid(NOBODY)
        os.setuid(NOBODY)


def refuse_unnamed_files():
    """For preexec_fn: the process, and every program it runs, is refused
    files without a name (open with O_TMPFILE fails with EOPNOTSUPP), as on a
    file system that makes none.  A seccomp filter of x86-64 system calls:
    the flags of open (second argument) and openat (third)."""
    import ctypes
    tmpfile, allow, refuse = 0o20000000, 0x7FFF0000, 0x00050000 | 95
    program = [(0x20, 0, 0, 4), (0x15, 0, 7, 0xC000003E),  # another architecture: allowed
               (0x20, 0, 0, 0), (0x15, 1, 0, 257), (0x15, 2, 4, 2),  # openat, open, else allowed
               (0x20, 0, 0, 32), (0x45, 3, 2, tmpfile),  # openat's flags
               (0x20, 0, 0, 24), (0x45, 1, 0, tmpfile),  # open's flags
               (0x06, 0, 0, allow), (0x06, 0, 0, refuse)]
    code = ctypes.create_string_buffer(b"".join(struct.pack("<HBBI", *op) for op in program))

    class Program(ctypes.Structure):
        _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_void_p)]

    libc = ctypes.CDLL(None, use_errno=True)
    fprog = Program(len(program), ctypes.addressof(code))
    if libc.prctl(38, 1, 0, 0, 0) != 0 or libc.prctl(22, 2, ctypes.byref(fprog), 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "seccomp")


def run(args, cwd, env=None, max_file_size=None, cpus=None, xfsz_ignored=True):
    """Runs the program; returns (status, stdout text).  With max_file_size
    every write that would make a file larger fails (as on a full disk; with
    xfsz_ignored False the program must see to that itself); with cpus it
    runs on those processors only."""
    full_env = dict(os.environ)
    full_env["TZ"] = "UTC"
    if env:
        full_env.update(env)

    def limit():
        if max_file_size is not None:
            if xfsz_ignored:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (max_file_size, max_file_size))
        if cpus is not None:
            os.sched_setaffinity(0, cpus)

    proc = subprocess.run([KOVZEF] + list(args), cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, env=full_env, timeout=300, preexec_fn=limit)
    return proc.returncode, proc.stdout.decode("latin-1")


def mark_as_killed_runs(path):
    """Gives the file or directory at path the mark a run sets on a hidden
    file it makes under that name (its inode number and name), as a killed
    run would have left it."""
    value = "%d/%s" % (os.lstat(path).st_ino, os.path.basename(path))
    os.setxattr(path, "user.kovzef.transient", value.encode("latin-1"), follow_symlinks=False)
    return path


def kox_crc(data):
    """The archive checksum: CRC-32 from 0 without the final inversion."""
    return (~zlib.crc32(data, 0xFFFFFFFF)) & 0xFFFFFFFF


def entry_bytes(kind, name, mode, data=b"", target=None, mtime=1_600_000_000, utf8=False):
    """One entry: "RG" file, "DR" directory or "LK" link (name|target).  The
    name is Latin-1 text (or its bytes), stored in UTF-8; with utf8 the
    bytes given are the UTF-8 ones."""
    stored = name.encode("latin-1") if isinstance(name, str) else name
    if kind == "LK":
        stored += b"|" + (target.encode("latin-1") if isinstance(target, str) else target)
    if not utf8:
        stored = stored.decode("latin-1").encode("utf-8")
    stored += b"\0"
    size = len(data) if kind == "RG" else 0
    out = kind.encode() + struct.pack("<IQIQIHH", mode, size, 0, mtime, 0, 0, len(stored)) + stored
    if kind == "RG" and data:
        chunks = [data[i:i + 65536] for i in range(0, len(data), 65536)]
        for i, chunk in enumerate(chunks):
            last = i == len(chunks) - 1
            out += (b"UE" if last else b"UD") + struct.pack("<I", len(chunk)) + chunk
        out += struct.pack("<I", kox_crc(data))
    return out


def archive_bytes(entries, version=b"2.01"):
    return b"ZEF " + version + b"".join(entries)


def kox_entries(archive):
    """The entries of sound KOX archive bytes, in order: (header offset, name,
    [(block offset, type, length)], checksum offset or None, end offset)."""
    out = []
    pos = 8
    while pos < len(archive):
        _, _, _, _, _, ulen, nlen = struct.unpack_from("<IQIQIHH", archive, pos + 2)
        name = archive[pos + 34:pos + 34 + nlen - 1].decode("utf-8")
        at = pos + 34 + nlen + ulen
        blocks = []
        crc_at = None
        while archive[at:at + 2] in (b"DA", b"ED", b"UD", b"UE"):
            btype = archive[at:at + 2]
            (blen,) = struct.unpack_from("<I", archive, at + 2)
            blocks.append((at, btype, blen))
            at += 6 + blen
            if btype in (b"ED", b"UE"):
                crc_at = at
                at += 4
                break
        out.append((pos, name, blocks, crc_at, at))
        pos = at
    return out


class ScratchCase(unittest.TestCase):
    """Each test gets an empty directory of its own."""

    def setUp(self):
        os.makedirs(SCRATCH, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=type(self).__name__ + "-", dir=SCRATCH)

    def tearDown(self):
        for root, dirs, _ in os.walk(self.dir):
            for d in dirs:
                path = os.path.join(root, d)
                if not os.path.islink(path):
                    os.chmod(path, 0o755)
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, rel, data=b"", mode=None):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(p, mode)
        return p

    def run_kov(self, *args, cwd=None, max_file_size=None, xfsz_ignored=True):
        return run(args, cwd or self.dir, max_file_size=max_file_size, xfsz_ignored=xfsz_ignored)

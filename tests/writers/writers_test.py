"""What writing the output promises, as one table of cases run against both writers of files: the
native library and the npm package in Node. Each case is run by each writer as root and as an
unprivileged user (where the case has a meaning for that user); the outcomes (the result and
message, what the target is, holds and belongs to, what else the folder holds) must be the same
for both writers, and what the case expects of every writer.

    KELVANE_LIBRARY=<build>/libtarnwick-kelvane.so.1 python3 writers_test.py
(as root for every case: users, mounts and a sysctl, each put back; else the cases of this user)
"""
import os
import pwd
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
# The system's Python, which another user may run (a user's own may live in root's home).
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
WRITERS = {
    "native": [PYTHON, os.path.join(HERE, "native_writer.py")],
    "node": ["node", os.path.join(HERE, "node_writer.mjs")],
}
ROOT = os.geteuid() == 0


def account(name):
    try:
        return pwd.getpwnam(name)
    except KeyError:
        return None


# As root: root, and the unprivileged user of the tests where it exists (tests/support/test_users.sh).
USERS = ["root"] + (["kelvane-test-a"] if account("kelvane-test-a") else []) if ROOT else \
    [pwd.getpwuid(os.geteuid()).pw_name]


def pgm(path, width, height, seed=0):
    with open(path, "wb") as file:
        file.write(b"P5 %d %d 255\n" % (width, height) +
                   bytes((i * 7 + seed) % 251 for i in range(width * height)))


def write(path, data, mode=0o644):
    with open(path, "wb") as file:
        file.write(data)
    if mode is not None:
        os.chmod(path, mode)


def read(path):
    with open(path, "rb") as file:
        return file.read()


class Run:
    """A writer's job in a scratch folder, as one user."""

    def __init__(self, writer, user, folder):
        self.writer, self.user, self.folder = writer, user, folder
        self.pw = account(user)

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self, target, count=1, source=None, stdout=subprocess.DEVNULL):
        as_user = {} if self.user == "root" or not ROOT else \
            {"user": self.pw.pw_uid, "group": self.pw.pw_gid, "extra_groups": []}
        return subprocess.Popen([*WRITERS[self.writer], source or self.path("in.pgm"), target,
                                 str(count)], stdout=stdout, stderr=subprocess.PIPE,
                                cwd=self.folder, env=dict(os.environ), **as_user)

    def job(self, target):
        process = self.start(target)
        message = process.communicate(timeout=120)[1].decode().strip()
        return process.returncode == 0, message.replace(self.folder, "{dir}")


def kind_of(path):
    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return "missing"
    for test, name in ((stat.S_ISLNK, "link"), (stat.S_ISREG, "file"), (stat.S_ISDIR, "folder"),
                       (stat.S_ISFIFO, "fifo"), (stat.S_ISCHR, "device")):
        if test(mode):
            return name
    return "other"


class Cases:
    """Each case makes its target in `run`'s folder and says what every writer must give: the
    outcome's entries it names (ok, content: "new", "old" or "through", mode, owner ...)."""

    def __init__(self, run, reference):
        self.run, self.reference = run, reference
        self.uid = run.pw.pw_uid
        self.undo = []  # what puts the system back after the job

    def new_file(self):
        return "new.png", {"ok": True, "kind": "file", "content": "new", "mode": 0o644,
                           "uid": self.uid}

    def own_file_keeps_its_mode(self):
        write(self.run.path("kept.png"), b"old", 0o640)
        self.own("kept.png")
        return "kept.png", {"ok": True, "content": "new", "mode": 0o640, "uid": self.uid}

    def read_only_file(self):
        write(self.run.path("frozen.png"), b"old", 0o444)
        self.own("frozen.png")
        root = self.run.user == "root"
        return "frozen.png", {"ok": root, "content": "new" if root else "old", "mode": 0o444}

    def links_stay_links(self):
        os.mkdir(self.run.path("real"))
        write(self.run.path("real/kept.png"), b"old", 0o640)
        os.symlink("real/kept.png", self.run.path("relative.png"))
        os.symlink(self.run.path("relative.png"), self.run.path("chain.png"))
        self.own("real", "real/kept.png")
        return "chain.png", {"ok": True, "kind": "link", "content": "new", "mode": 0o640}

    def dangling_link_creates_its_target(self):
        os.symlink("made.png", self.run.path("dangling.png"))
        return "dangling.png", {"ok": True, "kind": "link", "content": "new"}

    def hard_link_written_in_place(self):
        write(self.run.path("one.png"), b"old")
        os.link(self.run.path("one.png"), self.run.path("two.png"))
        self.own("one.png")
        return "one.png", {"ok": True, "content": "new", "links": 2, "other": "new"}

    def fifo_written_through(self):
        os.mkfifo(self.run.path("fifo.png"))
        self.own("fifo.png")
        return "fifo.png", {"ok": True, "kind": "fifo", "content": "through"}

    def dev_null_stays_a_device(self):
        return "/dev/null", {"ok": True, "kind": "device"}

    def dev_full_is_a_failure(self):
        return "/dev/full", {"ok": False, "kind": "device"}

    def a_folder_is_never_replaced(self):
        os.mkdir(self.run.path("folder.png"))
        return "folder.png", {"ok": False, "kind": "folder"}

    def a_missing_folder(self):
        return "nowhere/x.png", {"ok": False, "kind": "missing"}

    def writable_file_in_a_folder_that_takes_none(self):
        os.mkdir(self.run.path("locked"))
        write(self.run.path("locked/kept.png"), b"old", 0o666)
        os.chmod(self.run.path("locked"), 0o555)
        return "locked/kept.png", {"ok": True, "content": "new", "mode": 0o666}

    def another_users_writable_file(self):
        write(self.run.path("theirs.png"), b"old", 0o666)
        os.chown(self.run.path("theirs.png"), 1, 1)  # daemon's
        return "theirs.png", {"ok": True, "content": "new", "mode": 0o666, "uid": 1, "gid": 1}

    def another_users_private_file(self):
        write(self.run.path("private.png"), b"old", 0o600)
        os.chown(self.run.path("private.png"), 1, 1)
        root = self.run.user == "root"
        return "private.png", {"ok": root, "content": "new" if root else "old", "mode": 0o600,
                               "uid": 1, "gid": 1}

    # Root's cases: another user's link in a sticky folder, and file systems full or read-only.
    def protected_link_is_not_followed(self):
        return self.sticky_link("1", {"ok": False, "kind": "link", "victim": "old"})

    def unprotected_link_is_followed(self):
        return self.sticky_link("0", {"ok": True, "kind": "link", "victim": "new"})

    def sticky_link(self, setting, expected):
        write(self.run.path("victim.png"), b"old", 0o600)
        os.mkdir(self.run.path("sticky"), 0o777)
        os.chmod(self.run.path("sticky"), 0o1777)
        os.symlink(self.run.path("victim.png"), self.run.path("sticky/out.png"))
        os.lchown(self.run.path("sticky/out.png"), account(USERS[-1]).pw_uid, -1)
        self.sysctl("fs/protected_symlinks", setting)
        return "sticky/out.png", expected

    def no_block_left(self):
        self.tmpfs("size=64k", filler=60 * 1024)
        return "disk/out.png", {"ok": False, "content": "old"}

    def no_inode_left(self):
        self.tmpfs("nr_inodes=4,size=1m", filler=0)
        return "disk/out.png", {"ok": False, "content": "old"}

    def read_only_file_system(self):
        self.tmpfs("size=1m", filler=0)
        subprocess.run(["mount", "-o", "remount,ro", self.run.path("disk")], check=True)
        return "disk/out.png", {"ok": False, "content": "old"}

    def tmpfs(self, options, filler):
        disk = self.run.path("disk")
        os.mkdir(disk)
        subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", disk], check=True)
        self.undo.append(lambda: subprocess.run(["umount", disk], check=True))
        write(os.path.join(disk, "out.png"), b"old")
        write(os.path.join(disk, "filler"), b"x" * filler)
        try:
            write(os.path.join(disk, "filler2"), b"")  # the last inode, where there is one
        except OSError:
            pass

    def sysctl(self, name, value):
        setting = "/proc/sys/" + name
        old = read(setting)
        write(setting, value.encode(), None)
        self.undo.append(lambda: write(setting, old, None))

    ROOT_ONLY = ("protected_link_is_not_followed", "unprotected_link_is_followed",
                 "no_block_left", "no_inode_left", "read_only_file_system")

    def own(self, *names):
        """Gives the names to the run's user (the scratch folder is theirs already)."""
        for name in names:
            os.lchown(self.run.path(name), self.run.pw.pw_uid, self.run.pw.pw_gid)

    @classmethod
    def every(cls):
        return [name for name in vars(cls) if not name.startswith("_") and
                name not in ("every", "own", "sticky_link", "tmpfs", "sysctl") and
                callable(getattr(cls, name))]


class WritersTest(unittest.TestCase):
    def setUp(self):
        os.umask(0o022)
        self.scratch = tempfile.mkdtemp(prefix="kelvane-writers-")
        os.chmod(self.scratch, 0o755)
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def folder(self, user, label):
        folder = os.path.join(self.scratch, f"{label}-{user}")
        os.mkdir(folder)
        pgm(os.path.join(folder, "in.pgm"), 61, 47)
        pw = account(user)
        os.chown(folder, pw.pw_uid, pw.pw_gid)
        return folder

    def reference(self):
        run = Run("native", USERS[0], self.folder(USERS[0], "reference"))
        self.assertEqual(run.job(run.path("reference.png")), (True, ""))
        return read(run.path("reference.png"))

    def outcome(self, run, name, reference):
        target = name if os.path.isabs(name) else run.path(name)
        received = []
        reader = None
        if kind_of(target) == "fifo":  # the FIFO's reader, as the picture arrives
            reader = threading.Thread(target=lambda: received.append(read(target)))
            reader.start()
        ok, message = run.job(target)
        if reader:
            try:  # a reader left waiting (the write failed) gets an empty file
                os.close(os.open(target, os.O_WRONLY | os.O_NONBLOCK))
            except OSError:  # ENXIO: it has read the picture and gone
                pass
            reader.join(timeout=60)
        found = {"ok": ok, "message": message, "kind": kind_of(target)}
        if found["kind"] in ("file", "link") and os.path.exists(target):
            st = os.stat(target)
            data = read(target)
            found.update(mode=stat.S_IMODE(st.st_mode), uid=st.st_uid, gid=st.st_gid,
                         links=st.st_nlink,
                         content="new" if data == reference else "old" if data == b"old" else
                         f"{len(data)} other bytes")
        if received:
            found["content"] = "through" if received[0] == reference else "other"
        for key, name in (("other", "two.png"), ("victim", "victim.png")):
            if os.path.exists(run.path(name)):
                found[key] = "new" if read(run.path(name)) == reference else "old"
        found["entries"] = sorted(e for e in os.listdir(run.folder) if e.startswith(".kelvane"))
        return found

    def test_every_case_gives_the_same_outcome_for_both_writers(self):
        reference = self.reference()
        for user in USERS:
            for case in Cases.every():
                if (case.startswith("another_users") or not ROOT) and user == "root" or \
                        case in Cases.ROOT_ONLY and user != "root" or \
                        "protected_link" in case and len(USERS) < 2:  # needs another's link
                    continue
                outcomes = {}
                for writer in WRITERS:
                    run = Run(writer, user, self.folder(user, f"{case}-{writer}"))
                    cases = Cases(run, reference)
                    try:
                        name, expected = getattr(cases, case)()
                        outcomes[writer] = self.outcome(run, name, reference)
                    finally:
                        for undo in reversed(cases.undo):
                            undo()
                    with self.subTest(case=case, user=user, writer=writer):
                        for key, value in expected.items():
                            self.assertEqual(outcomes[writer].get(key), value, outcomes[writer])
                        self.assertEqual(outcomes[writer]["entries"], [])
                with self.subTest(case=case, user=user):
                    self.assertEqual(outcomes["native"], outcomes["node"])

    def test_standard_output_into_a_pipe_gets_the_picture(self):
        reference = self.reference()
        for writer in WRITERS:
            with self.subTest(writer=writer):
                run = Run(writer, USERS[0], self.folder(USERS[0], f"stdout-{writer}"))
                process = run.start("/dev/stdout", stdout=subprocess.PIPE)
                self.assertEqual(process.communicate(timeout=60), (reference, b""))

    def test_a_writer_killed_at_any_moment_leaves_the_old_file_or_the_new_one(self):
        # Each writer writes a 400 x 300 picture again and again until it is killed, after its
        # start and then at several moments of its writes; the next write into the folder
        # removes whatever the killed one left.
        for user in USERS:
            for writer in WRITERS:
                run = Run(writer, user, self.folder(user, f"kill-{writer}"))
                pgm(run.path("in.pgm"), 400, 300)
                target = run.path("out.png")
                self.assertEqual(run.job(target), (True, ""))
                whole = read(target)
                for delay in (0.05, 0.2, 0.3, 0.4, 0.5, 0.65, 0.8, 1.0, 1.3):
                    with self.subTest(user=user, writer=writer, delay=delay):
                        process = run.start(target, count=0)
                        time.sleep(delay)
                        process.kill()
                        process.communicate()
                        self.assertEqual(read(target), whole)
                        self.assertEqual(run.job(run.path("next.png")), (True, ""))
                        self.assertEqual(sorted(os.listdir(run.folder)),
                                         ["in.pgm", "next.png", "out.png"])

    def test_concurrent_writers_leave_one_whole_picture(self):
        # Two writers (of either kind) write different pictures to the same name, 15 times each,
        # while this process reads it: every read sees one whole picture, and nothing is left.
        user = USERS[0]
        for pair in (("native", "node"), ("node", "node"), ("native", "native")):
            with self.subTest(writers=pair):
                run = Run(pair[0], user, self.folder(user, "-".join(pair)))
                pgm(run.path("a.pgm"), 200, 150, seed=1)
                pgm(run.path("b.pgm"), 150, 200, seed=2)
                whole = []
                for source in ("a.pgm", "b.pgm"):
                    self.assertEqual(Run("native", user, run.folder).start(
                        run.path("ref.png"), source=run.path(source)).communicate()[1], b"")
                    whole.append(read(run.path("ref.png")))
                os.remove(run.path("ref.png"))
                target = run.path("out.png")
                writers = [Run(kind, user, run.folder).start(target, 15, run.path(source))
                           for kind, source in zip(pair, ("a.pgm", "b.pgm"))]
                reads = 0
                while any(w.poll() is None for w in writers):
                    try:
                        seen = read(target)
                    except FileNotFoundError:
                        continue
                    self.assertIn(seen, whole, f"a mixed or partial file after {reads} reads")
                    reads += 1
                self.assertEqual([w.communicate()[1] for w in writers], [b"", b""])
                self.assertIn(read(target), whole)
                self.assertEqual(sorted(os.listdir(run.folder)), ["a.pgm", "b.pgm", "in.pgm",
                                                                  "out.png"])


if __name__ == "__main__":
    unittest.main()

"""Crash safety: the task commands survive SIGKILL at any moment.

A driver (tarvik_crashdriver) creates and updates tasks through the real services in a loop and
acknowledges each command on stdout once it returned true. It is killed with SIGKILL at a random
moment, twenty times, on the same database file. After every kill the file must pass SQLite's
integrity check, and every acknowledged command must be found in it with its values; only the
one command that was in flight may or may not have reached the file.

TARVIK_CRASH_SEED fixes the random kill moments; the seed used is printed either way.
"""
import os
import random
import signal
import subprocess
import time
import unittest

from harness import Home, wait_until

DRIVER = os.environ.get("TARVIK_CRASHDRIVER", "tarvik_crashdriver")
KILLS = 20


class Run:
    """One driver process, its output file and what it reported."""

    def __init__(self, home, tag, seed):
        self.out_path = os.path.join(home.root, "driver-%s.out" % tag)
        self.err = open(os.path.join(home.root, "driver-%s.err" % tag), "w")
        with open(self.out_path, "w") as out:
            self.proc = subprocess.Popen([DRIVER, home.db_path, tag, str(seed)], env=home.env(),
                                         stdout=out, stderr=self.err)

    def lines(self):
        with open(self.out_path, "rb") as f:
            text = f.read().decode("utf-8", errors="replace")
        # A line cut off by the kill, or still being written, has no line feed yet and does
        # not count.
        return [line.split("\t") for line in text.split("\n")[:-1]]

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait(10)
        self.err.close()


def values(fields):
    """(name, done, expire_at, epoch) as the database should hold them."""
    name, done, expire_at, epoch = fields
    return (name, int(done), expire_at or None, int(epoch) if epoch else None)


class CrashSafetyTest(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.close)
        os.makedirs(os.path.dirname(self.home.db_path))
        self.seed = int(os.environ.get("TARVIK_CRASH_SEED", random.randrange(1 << 31)))
        print("crash seed:", self.seed, flush=True)
        self.random = random.Random(self.seed)
        self.expected = {}  # task id -> values of the last acknowledged command

    def rows(self):
        return {row[0]: tuple(row[1:]) for row in self.home.query(
            "SELECT id, name, active, expire_at, expire_at_epoch FROM tasks")}

    def check_after_kill(self, run, kill_number):
        lines = run.lines()
        self.assertIn(["ready"], lines, "the driver never got going")
        self.assertNotIn(["timeout"], lines)

        in_flight = None  # the command announced last and not acknowledged
        created = {}  # key -> values, for creates of this run
        for fields in lines:
            kind = fields[0]
            if kind == "begin" and fields[1] == "create":
                created[fields[2]] = values(fields[3:7])
                in_flight = ("create", fields[2], created[fields[2]])
            elif kind == "begin" and fields[1] == "update":
                in_flight = ("update", int(fields[2]), values(fields[3:7]))
            elif kind == "done" and fields[1] == "create":
                task_id = int(fields[2])
                self.assertGreater(task_id, 0, "a created task could not be found again")
                self.expected[task_id] = created[fields[3]]
                in_flight = None
            elif kind == "done" and fields[1] == "update":
                self.expected[int(fields[2])] = in_flight[2]
                in_flight = None
            elif kind == "failed":
                self.fail("a command failed without any fault: %r" % fields)

        self.assertEqual(self.home.sqlite3_cli("PRAGMA integrity_check;"), ["ok"],
                         "kill %d left a damaged file" % kill_number)
        rows = self.rows()
        for task_id, want in self.expected.items():
            if task_id not in rows:
                self.fail("kill %d lost task %d" % (kill_number, task_id))
            got = rows[task_id]
            if got != want and in_flight and in_flight[0] == "update" and in_flight[1] == task_id:
                self.assertEqual(got, in_flight[2], "kill %d: task %d is neither the old nor "
                                 "the new version" % (kill_number, task_id))
                self.expected[task_id] = got  # the update reached the file before the kill
            else:
                self.assertEqual(got, want, "kill %d changed task %d" % (kill_number, task_id))

        extra = {i: r for i, r in rows.items() if i not in self.expected}
        if extra:
            # Only the create in flight may have landed without being acknowledged.
            self.assertEqual(len(extra), 1, "kill %d: unexpected rows %r" % (kill_number, extra))
            self.assertTrue(in_flight and in_flight[0] == "create",
                            "kill %d: unexpected row %r" % (kill_number, extra))
            (task_id, got), = extra.items()
            self.assertEqual(got, in_flight[2])
            self.expected[task_id] = got

    def test_twenty_kills_lose_nothing_acknowledged(self):
        journals_left = 0
        acknowledged = 0
        for kill_number in range(1, KILLS + 1):
            run = Run(self.home, "r%02d" % kill_number, self.random.randrange(1 << 31))
            wait_until(lambda: ["ready"] in run.lines() or run.proc.poll() is not None,
                       timeout=60, interval=0.02, message="the driver did not start")
            self.assertIsNone(run.proc.poll(), "the driver ended by itself")
            time.sleep(self.random.uniform(0, 0.6))
            run.kill()
            if os.path.exists(self.home.db_path + "-journal"):
                journals_left += 1
            acknowledged += sum(1 for line in run.lines() if line[0] == "done")
            self.check_after_kill(run, kill_number)

        print("%d kills, %d commands acknowledged, %d tasks in the file, %d kills left a "
              "rollback journal behind" % (KILLS, acknowledged, len(self.expected),
                                            journals_left), flush=True)
        self.assertGreater(len(self.expected), KILLS, "the driver hardly ran")


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Two processes: `kortypes serve` on an ephemeral port of 127.0.0.1, and
`kortypes demo --connect URL` against it.

Usage: test_serve.py PATH-TO-KORTYPES [unittest arguments]

The connected demo must print what the in-process demo prints (times
aside), and the server must keep what its clients changed, answer until it
is stopped, and stop cleanly on SIGINT and SIGTERM.
"""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import unittest

TOOL = None
TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z")


def run(*args, timeout=120):
    proc = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


class Server:
    """A `kortypes serve` child process; the URL is read from its first line."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([TOOL, "serve", "--port", "0", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.first_line = self.proc.stdout.readline()

    def url(self):
        match = re.fullmatch(r"serving (http://127\.0\.0\.1:(\d+)/sdk)\n", self.first_line)
        if not match:
            raise AssertionError(f"unexpected first line {self.first_line!r}")
        return match.group(1)

    def stop(self, sig=signal.SIGINT):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            out, err = self.proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            raise AssertionError("the server did not stop within 30 s")
        return self.proc.returncode, out, err


def comparable(output):
    """The demo's lines after its introduction and its Server step, times masked."""
    lines = output.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("2. "))
    return [TIMESTAMP.sub("<time>", line) for line in lines[start:]]


class ConnectedDemo(unittest.TestCase):
    def setUp(self):
        self.server = Server()
        self.addCleanup(self.server.stop)

    def test_prints_what_the_in_process_demo_prints(self):
        code, local, err = run("demo")
        self.assertEqual(code, 0, err)
        for wire in ("xml", "json"):
            with self.subTest(wire=wire):
                server = Server()
                try:
                    code, remote, err = run("demo", "--connect", server.url(), "--wire", wire)
                    self.assertEqual(code, 0, err)
                    self.assertIn("connected to", remote)
                    self.assertIn(server.url(), remote)
                    self.assertEqual(comparable(remote), comparable(local))
                finally:
                    status, _, err = server.stop()
                    self.assertEqual(status, 0, err)

    def test_the_server_keeps_what_clients_changed(self):
        url = self.server.url()
        code, _, err = run("demo", "--connect", url)
        self.assertEqual(code, 0, err)
        # The alarm the first run made is still there: the second run is
        # refused with the server's fault, reported plainly.
        code, out, err = run("demo", "--connect", url)
        self.assertEqual(code, 1)
        self.assertIn("kor.fault.DuplicateName", err)
        self.assertNotIn("internal error", err)

    def test_stops_on_sigterm_and_reports_what_it_served(self):
        run("demo", "--connect", self.server.url())
        status, _, err = self.server.stop(signal.SIGTERM)
        self.assertEqual(status, 0, err)
        match = re.search(r"stopped by SIGTERM after (\d+) requests on (\d+) connections", err)
        self.assertIsNotNone(match, err)
        self.assertGreater(int(match.group(1)), int(match.group(2)))


class Failures(unittest.TestCase):
    def test_a_server_that_is_gone_is_reported(self):
        server = Server()
        url = server.url()
        server.stop()
        code, _, err = run("demo", "--connect", url)
        self.assertEqual(code, 1)
        self.assertIn("cannot talk to " + url, err)

    def test_malformed_command_lines_are_refused(self):
        for args in (["serve", "--port", "http"], ["serve", "--port", "70000"],
                     ["serve", "--vms", "-1"],
                     ["serve", "--datacenters", "1000", "--hosts", "1000"], ["demo", "--connect", "ftp://127.0.0.1/sdk"],
                     ["demo", "--wire", "json"], ["demo", "--connect", "http://127.0.0.1:1/sdk",
                                                  "--wire", "soap"]):
            with self.subTest(args=args):
                code, _, err = run(*args)
                self.assertEqual(code, 2, err)
                self.assertTrue(err.strip())

    def test_a_port_in_use_is_refused(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            code, _, err = run("serve", "--port", str(taken.getsockname()[1]))
        self.assertEqual(code, 2)
        self.assertIn("cannot listen", err)

    def test_json_start_line(self):
        server = subprocess.Popen([TOOL, "serve", "--port", "0", "--json"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            line = json.loads(server.stdout.readline())
            self.assertRegex(line["url"], r"^http://127\.0\.0\.1:\d+/sdk$")
            self.assertGreater(line["objects"], 0)
            code, _, err = run("demo", "--connect", line["url"])
            self.assertEqual(code, 0, err)
        finally:
            server.send_signal(signal.SIGINT)
            server.communicate(timeout=30)
        self.assertEqual(server.returncode, 0)

    def test_sized_inventory(self):
        server = subprocess.Popen([TOOL, "serve", "--port", "0", "--json", "--datacenters", "2",
                                   "--clusters", "2", "--hosts", "3", "--vms", "2"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            line = json.loads(server.stdout.readline())
            self.assertEqual((line["datacenters"], line["clusters"], line["hosts"], line["vms"]),
                             (2, 4, 12, 24))
            # The first datacenter keeps the ids the demo names.
            code, _, err = run("demo", "--connect", line["url"])
            self.assertEqual(code, 0, err)
        finally:
            server.send_signal(signal.SIGINT)
            _, err = server.communicate(timeout=30)
        self.assertEqual(server.returncode, 0, err)
        self.assertIn("12 hosts, 24 virtual machines", err)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main()

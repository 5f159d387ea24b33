#!/usr/bin/env python3
"""End-to-end tests of qbftp against the real FTP servers that scripts/test
starts (pyftpdlib with a user login, vsftpd anonymous). Skipped (exit 77)
when the servers are not there."""
import json
import os
import subprocess
import sys
import unittest

QBFTP = sys.argv[1] if len(sys.argv) > 1 else "qbftp"
PY_URL = os.environ.get("QB_PYFTPD_URL")
PY_ROOT = os.environ.get("QB_PYFTPD_ROOT")
PY_PASSWORD = os.environ.get("QB_PYFTPD_PASSWORD")
VS_URL = os.environ.get("QB_VSFTPD_URL")
VS_ROOT = os.environ.get("QB_VSFTPD_ROOT")


def run(*args, password=PY_PASSWORD, timeout=60):
    env = dict(os.environ)
    env.pop("QBFTP_PASSWORD", None)
    if password is not None:
        env["QBFTP_PASSWORD"] = password
    p = subprocess.run([QBFTP, *args], capture_output=True, env=env, timeout=timeout,
                       stdin=subprocess.DEVNULL)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


class Servers(unittest.TestCase):
    """The same checks on both servers and in both data connection modes."""

    def servers(self):
        return [("pyftpdlib", PY_URL, PY_ROOT), ("vsftpd", VS_URL, VS_ROOT)]

    def setUp(self):
        os.makedirs(os.path.join(PY_ROOT, "pub", "sub"), exist_ok=True)
        with open(os.path.join(PY_ROOT, "pub", "readme.txt"), "w") as f:
            f.write("hello\n")
        os.makedirs(os.path.join(VS_ROOT, "pub", "sub"), exist_ok=True)
        with open(os.path.join(VS_ROOT, "pub", "readme.txt"), "w") as f:
            f.write("hello\n")

    def test_ls_both_modes(self):
        for name, url, _ in self.servers():
            for mode in ("--passive", "--active"):
                with self.subTest(server=name, mode=mode):
                    rc, out, err = run(mode, "ls", url + "/pub/")
                    self.assertEqual(rc, 0, err)
                    lines = out.splitlines()
                    self.assertIn("d", [l.split(" ")[0] for l in lines])
                    self.assertTrue(any(l.startswith("- 6 ") and l.endswith(" readme.txt")
                                        for l in lines), out)

    def test_ls_json(self):
        for name, url, _ in self.servers():
            with self.subTest(server=name):
                rc, out, err = run("--json", "ls", url + "/pub")
                self.assertEqual(rc, 0, err)
                entries = {e["name"]: e for e in map(json.loads, out.splitlines())}
                self.assertEqual(entries["readme.txt"]["type"], "file")
                self.assertEqual(entries["readme.txt"]["size"], 6)
                self.assertEqual(entries["sub"]["type"], "folder")

    def test_mkdir_then_again_fails(self):
        for name, url, root in self.servers():
            with self.subTest(server=name):
                base = "upload" if name == "vsftpd" else "pub"
                target = f"{url}/{base}/made-{os.getpid()}"
                rc, _, err = run("mkdir", target)
                self.assertEqual(rc, 0, err)
                self.assertTrue(os.path.isdir(os.path.join(root, base, f"made-{os.getpid()}")))
                rc, _, err = run("mkdir", target)
                self.assertEqual(rc, 1)
                self.assertIn("Failed to create folder", err)

    def test_missing_folder_fails_with_the_servers_reply(self):
        rc, _, err = run("ls", PY_URL + "/no-such-folder")
        self.assertEqual(rc, 1)
        self.assertIn("Failed to explore folder", err)
        self.assertIn("550", err)


class Behaviour(unittest.TestCase):
    def test_password_never_shown(self):
        rc, out, err = run("--log", "ls", PY_URL + "/")
        self.assertEqual(rc, 0, err)
        self.assertNotIn(PY_PASSWORD, out + err)
        self.assertIn("PASS " + "X" * len(PY_PASSWORD), err)

    def test_wrong_password_fails(self):
        rc, _, err = run("ls", PY_URL + "/", password="wrong")
        self.assertEqual(rc, 1)
        self.assertIn("Failed to connect!", err)

    def test_no_password_without_terminal_is_a_usage_error(self):
        rc, _, err = run("ls", PY_URL + "/", password=None)
        self.assertEqual(rc, 2)
        self.assertIn("QBFTP_PASSWORD", err)

    def test_usage_errors(self):
        for args in (["ls"], ["frobnicate", "x"], ["ls", "http://x/"], ["--timeout"],
                     ["ls", "ftp://host:99999/"], ["--bogus", "ls", "ftp://h/"]):
            with self.subTest(args=args):
                rc, _, _ = run(*args)
                self.assertEqual(rc, 2)

    def test_nobody_listening(self):
        rc, _, err = run("--timeout", "10", "ls", "ftp://127.0.0.1:1/")
        self.assertEqual(rc, 1)
        self.assertIn("Failed to connect!", err)


if __name__ == "__main__":
    if not (PY_URL and VS_URL):
        print("FTP servers not running (start them with scripts/test); skipped")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v"])

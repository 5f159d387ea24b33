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


class Transfers(unittest.TestCase):
    """Copies, moves, deletes and renames on real servers."""

    counter = 0

    def setUp(self):
        import tempfile
        self.tmp = tempfile.mkdtemp(prefix="qbftp-e2e-")
        self.payload = os.urandom(3 * 1024 * 1024 + 17)
        with open(os.path.join(self.tmp, "blob.bin"), "wb") as f:
            f.write(self.payload)
        tree = os.path.join(self.tmp, "tree", "sub")
        os.makedirs(tree)
        with open(os.path.join(self.tmp, "tree", "a.txt"), "w") as f:
            f.write("a\n")
        with open(os.path.join(tree, "b with space.txt"), "w") as f:
            f.write("b\n")

    def tearDown(self):
        import shutil
        shutil.rmtree(self.tmp, ignore_errors=True)

    def remote(self, server):
        """A fresh writable remote folder URL and its local path on the server."""
        base, root = (VS_URL + "/upload", os.path.join(VS_ROOT, "upload")) if server == "vsftpd" \
            else (PY_URL, PY_ROOT)
        Transfers.counter += 1
        name = f"t{os.getpid()}-{Transfers.counter}"
        rc, _, err = run("mkdir", f"{base}/{name}")
        self.assertEqual(rc, 0, err)
        return f"{base}/{name}", os.path.join(root, name)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_file_round_trip_both_modes(self):
        for server in ("pyftpdlib", "vsftpd"):
            for mode in ("--passive", "--active"):
                with self.subTest(server=server, mode=mode):
                    url, root = self.remote(server)
                    rc, out, err = run(mode, "put", os.path.join(self.tmp, "blob.bin"), url + "/")
                    self.assertEqual((rc, out), (0, ""), err)
                    self.assertEqual(self.read(os.path.join(root, "blob.bin")), self.payload)
                    back = os.path.join(self.tmp, f"back-{server}{mode}.bin")
                    rc, _, err = run(mode, "get", url + "/blob.bin", back)
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(self.read(back), self.payload)

    def test_folder_round_trip_and_recursive_delete(self):
        for server in ("pyftpdlib", "vsftpd"):
            with self.subTest(server=server):
                url, root = self.remote(server)
                rc, _, err = run("-r", "put", os.path.join(self.tmp, "tree"), url + "/")
                self.assertEqual(rc, 0, err)
                self.assertEqual(self.read(os.path.join(root, "tree", "sub", "b with space.txt")),
                                 b"b\n")
                dest = os.path.join(self.tmp, "down-" + server)
                rc, _, err = run("-r", "get", url + "/tree", dest)
                self.assertEqual(rc, 0, err)
                self.assertEqual(self.read(os.path.join(dest, "a.txt")), b"a\n")
                self.assertEqual(self.read(os.path.join(dest, "sub", "b with space.txt")), b"b\n")
                rc, out, err = run("ls", url + "/tree/sub")
                self.assertEqual(rc, 0, err)
                self.assertTrue(out.rstrip("\n").endswith(" b with space.txt"), out)
                rc, _, err = run("-r", "rm", url + "/tree")
                self.assertEqual(rc, 0, err)
                self.assertFalse(os.path.exists(os.path.join(root, "tree")))

    def test_copy_move_and_rename_on_and_between_sites(self):
        py, py_root = self.remote("pyftpdlib")
        vs, vs_root = self.remote("vsftpd")
        rc, _, err = run("put", os.path.join(self.tmp, "blob.bin"), py + "/blob.bin")
        self.assertEqual(rc, 0, err)
        rc, _, err = run("cp", py + "/blob.bin", py + "/copy.bin")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read(os.path.join(py_root, "copy.bin")), self.payload)
        rc, _, err = run("mv", py + "/copy.bin", vs + "/")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read(os.path.join(vs_root, "copy.bin")), self.payload)
        self.assertFalse(os.path.exists(os.path.join(py_root, "copy.bin")))
        rc, _, err = run("rename", vs + "/copy.bin", "renamed.bin")
        self.assertEqual(rc, 0, err)
        self.assertTrue(os.path.exists(os.path.join(vs_root, "renamed.bin")))
        rc, _, err = run("mv", vs + "/renamed.bin", os.path.join(self.tmp, "local.bin"))
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read(os.path.join(self.tmp, "local.bin")), self.payload)
        self.assertFalse(os.path.exists(os.path.join(vs_root, "renamed.bin")))

    def test_existing_local_files(self):
        url, root = self.remote("vsftpd")
        with open(os.path.join(root, "f.bin"), "wb") as f:
            f.write(self.payload)
        local = os.path.join(self.tmp, "f.bin")
        with open(local, "wb") as f:
            f.write(self.payload[:1000])
        rc, _, err = run("get", url + "/f.bin", local)
        self.assertEqual(rc, 1)
        self.assertIn("--overwrite, --resume or --skip", err)
        rc, _, err = run("--skip", "get", url + "/f.bin", local)
        self.assertEqual(rc, 0, err)
        self.assertEqual(len(self.read(local)), 1000)
        rc, _, err = run("--log", "--resume", "get", url + "/f.bin", local)
        self.assertEqual(rc, 0, err)
        self.assertIn("REST 1000", err)
        self.assertEqual(self.read(local), self.payload)
        with open(local, "wb") as f:
            f.write(b"x" * 5)
        rc, _, err = run("--overwrite", "get", url + "/f.bin", local)
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read(local), self.payload)

    def test_text_mode_keeps_text(self):
        url, root = self.remote("pyftpdlib")
        text = b"line one\nline two\n\nlast\n"
        local = os.path.join(self.tmp, "notes.txt")
        with open(local, "wb") as f:
            f.write(text)
        rc, _, err = run("--ascii", "put", local, url + "/")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read(os.path.join(root, "notes.txt")), text)
        back = os.path.join(self.tmp, "notes-back.txt")
        rc, _, err = run("--ascii", "get", url + "/notes.txt", back)
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.read(back), text)

    def test_failures(self):
        url, _ = self.remote("pyftpdlib")
        rc, _, err = run("get", url + "/missing.bin", os.path.join(self.tmp, "m"))
        self.assertEqual(rc, 1)
        self.assertIn("Failed to copy", err)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "m")) and
                         os.path.getsize(os.path.join(self.tmp, "m")) > 0)
        rc, _, err = run("rm", url + "/missing.bin")
        self.assertEqual(rc, 1)
        self.assertIn("Failed to delete", err)
        rc, _, _ = run("put", os.path.join(self.tmp, "tree"), url + "/")
        self.assertEqual(rc, 2, "a folder needs -r")


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

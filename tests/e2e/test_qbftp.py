#!/usr/bin/env python3
"""End-to-end tests of qbftp against the real FTP servers that scripts/test
starts (pyftpdlib with a user login, vsftpd anonymous). Skipped (exit 77)
when the servers are not there."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time
import unittest

QBFTP = sys.argv[1] if len(sys.argv) > 1 else "qbftp"
PY_URL = os.environ.get("QB_PYFTPD_URL")
PY_ROOT = os.environ.get("QB_PYFTPD_ROOT")
PY_PASSWORD = os.environ.get("QB_PYFTPD_PASSWORD")
VS_URL = os.environ.get("QB_VSFTPD_URL")
VS_ROOT = os.environ.get("QB_VSFTPD_ROOT")
TLS_CA = os.environ.get("QB_TLS_CA")
VS_TLS_URL = os.environ.get("QB_VSFTPD_TLS_URL")
VS_TLS_ROOT = os.environ.get("QB_VSFTPD_TLS_ROOT")
VS_FTPS_URL = os.environ.get("QB_VSFTPD_FTPS_URL")
VS_FTPS_ROOT = os.environ.get("QB_VSFTPD_FTPS_ROOT")
PY_TLS_URL = os.environ.get("QB_PYFTPD_TLS_URL")
PY_TLS_ROOT = os.environ.get("QB_PYFTPD_TLS_ROOT")
PY6_URL = os.environ.get("QB_PYFTPD6_URL")
PY6_ROOT = os.environ.get("QB_PYFTPD6_ROOT")


def stat_mode(path):
    import stat
    return stat.S_IMODE(os.stat(path).st_mode)


def run(*args, password=PY_PASSWORD, timeout=60):
    env = dict(os.environ)
    env.pop("QBFTP_PASSWORD", None)
    if password is not None:
        env["QBFTP_PASSWORD"] = password
    p = subprocess.run([QBFTP, *args], capture_output=True, env=env, timeout=timeout,
                       stdin=subprocess.DEVNULL)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def snapshot(root):
    """Every folder and file under root: relative path -> None (folder) or checksum."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        for d in dirs:
            found[os.path.normpath(os.path.join(rel, d))] = None
        for f in files:
            found[os.path.normpath(os.path.join(rel, f))] = sha256(os.path.join(folder, f))
    return found


def listing(out):
    """`qbftp ls` output as name -> (type letter, size); names keep their spaces."""
    entries = {}
    for line in out.splitlines():
        kind, size, _, name = line.split(" ", 3)
        entries[name] = (kind, int(size))
    return entries


def sparse_file(path, size, pieces):
    """A sparse file of `size` bytes holding `pieces` ({offset: bytes}), zeros elsewhere."""
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, data in pieces.items():
            f.seek(offset)
            f.write(data)


def read_at(path, offset, length=None):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read() if length is None else f.read(length)


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

    def fixture_folders(self, root):
        """Nested, spaced and empty folders under pub/ of one server's folder."""
        pub = os.path.join(root, "pub")
        os.makedirs(os.path.join(pub, "deep", "er", "est"), exist_ok=True)
        with open(os.path.join(pub, "deep", "er", "leaf.txt"), "wb") as f:
            f.write(b"leaf\n")
        spaced = os.path.join(pub, "with space")
        os.makedirs(os.path.join(spaced, "sub dir"), exist_ok=True)
        for name, data in (("a  b.txt", b"abc"), ("end ", b""), ("x y z.bin", b"\0" * 10)):
            with open(os.path.join(spaced, name), "wb") as f:
                f.write(data)
        os.makedirs(os.path.join(pub, "empty"), exist_ok=True)

    def test_ls_root(self):
        for name, url, _ in self.servers():
            for mode in ("--passive", "--active"):
                for suffix in ("", "/"):
                    with self.subTest(server=name, mode=mode, url=url + suffix):
                        rc, out, err = run(mode, "ls", url + suffix)
                        self.assertEqual(rc, 0, err)
                        entries = listing(out)
                        self.assertEqual(entries["pub"][0], "d", out)
                        if name == "vsftpd":
                            self.assertEqual(sorted(entries), ["pub", "upload"])

    def test_ls_nested_spaced_and_empty_folders(self):
        cases = (
            ("pub/deep/er", {"est": "d", "leaf.txt": "-"}),
            ("pub/with space", {"sub dir": "d", "a  b.txt": "-", "end ": "-", "x y z.bin": "-"}),
            ("pub/with%20space/", {"sub dir": "d", "a  b.txt": "-", "end ": "-",
                                   "x y z.bin": "-"}),
            ("pub/with space/sub dir", {}),
            ("pub/empty", {}),
        )
        for name, url, root in self.servers():
            self.fixture_folders(root)
            for mode in ("--passive", "--active"):
                for path, expected in cases:
                    with self.subTest(server=name, mode=mode, path=path):
                        rc, out, err = run(mode, "ls", f"{url}/{path}")
                        self.assertEqual(rc, 0, err)
                        entries = listing(out)
                        self.assertEqual({n: t for n, (t, _) in entries.items()}, expected)
                        if "a  b.txt" in expected:
                            self.assertEqual(entries["a  b.txt"][1], 3)
                            self.assertEqual(entries["x y z.bin"][1], 10)

    def test_ls_missing_folder_on_both_servers(self):
        replies = {"pyftpdlib": "550 No such file or directory.",
                   "vsftpd": "550 Failed to change directory."}
        for name, url, _ in self.servers():
            for mode in ("--passive", "--active"):
                # A file named as a folder (a "/" at the end) is no folder.
                for path in ("no-such-folder", "pub/no/such", "pub/readme.txt/"):
                    with self.subTest(server=name, mode=mode, path=path):
                        rc, out, err = run(mode, "ls", f"{url}/{path}")
                        self.assertEqual((rc, out), (1, ""))
                        self.assertIn("Failed to explore folder", err)
                        if path != "pub/readme.txt/":
                            self.assertIn(replies[name], err)
                        else:
                            self.assertIn("550", err)

    def test_mkdir_nested(self):
        for name, url, root in self.servers():
            with self.subTest(server=name):
                base = "upload" if name == "vsftpd" else "pub"
                parent = f"nest-{os.getpid()}"
                rc, _, err = run("mkdir", f"{url}/{base}/{parent}")
                self.assertEqual(rc, 0, err)
                for child in ("inner", "with space", "with space/deeper"):
                    rc, _, err = run("mkdir", f"{url}/{base}/{parent}/{child}")
                    self.assertEqual(rc, 0, err)
                    self.assertTrue(os.path.isdir(os.path.join(root, base, parent, child)))
                rc, out, err = run("ls", f"{url}/{base}/{parent}")
                self.assertEqual(rc, 0, err)
                self.assertEqual(sorted(listing(out)), ["inner", "with space"])
                # A missing parent is not made on the way: the server's refusal.
                rc, _, err = run("mkdir", f"{url}/{base}/{parent}/none/child")
                self.assertEqual(rc, 1)
                self.assertIn("Failed to create folder", err)
                self.assertIn("550", err)
                self.assertFalse(os.path.exists(os.path.join(root, base, parent, "none")))


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

    def test_a_listing_of_many_pieces_is_read_whole(self):
        # Several hundred kilobytes arrive in many pieces, cut anywhere in a
        # line: every entry comes out once, with its name (spaces included)
        # and size; MLSD on pyftpdlib, LIST on vsftpd.
        names = [f"f-{i:05d}" for i in range(5000)] + \
            [f"with  two  spaces {i}" for i in range(500)] + \
            [f"{'x' * 150}-{i}" for i in range(500)]
        for server in ("pyftpdlib", "vsftpd"):
            with self.subTest(server=server):
                url, root = self.remote(server)
                # 6,000 files would weigh on every later recursive download
                # of the whole server (the servers serve every build's run).
                self.addCleanup(shutil.rmtree, root, True)
                for i, name in enumerate(names):
                    with open(os.path.join(root, name), "wb") as f:
                        f.write(b"z" * (i % 7))
                os.mkdir(os.path.join(root, "a folder"))
                rc, out, err = run("ls", url)
                self.assertEqual(rc, 0, err)
                want = {name: ("-", i % 7) for i, name in enumerate(names)}
                want["a folder"] = ("d", listing(out).get("a folder", ("d", 0))[1])
                self.assertEqual(listing(out), want)

    def test_an_item_named_dash_a_is_listed_once(self):
        # "LIST -a" that lists an item "-a" is sent again as plain "LIST"
        # (the option may have been taken for a name): the listing, printed
        # as it is read, still shows each entry once.
        for server, options in (("vsftpd", ()), ("pyftpdlib", ("--no-feat",))):
            with self.subTest(server=server):
                url, root = self.remote(server)
                for name in ("-a", "b", ".hidden"):
                    with open(os.path.join(root, name), "wb") as f:
                        f.write(b"x")
                rc, out, err = run(*options, "ls", url)
                self.assertEqual(rc, 0, err)
                names = [line.split(" ", 3)[3] for line in out.splitlines()]
                self.assertEqual(sorted(names), sorted(set(names)), out)
                self.assertLessEqual({"-a", "b"}, set(names), out)

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

    def test_hidden_entries_travel_and_are_deleted(self):
        """Dot-files and dot-folders: plain LIST hides them on UNIX servers; MLSD (pyftpdlib)
        and LIST -a (vsftpd, and pyftpdlib without FEAT) list them."""
        hidden = os.path.join(self.tmp, "hidden")
        os.makedirs(os.path.join(hidden, ".config", "deep"))
        for rel, data in ((".profile", b"p\n"), (os.path.join(".config", "deep", ".x"), b"x\n"),
                          ("seen.txt", b"s\n")):
            with open(os.path.join(hidden, rel), "wb") as f:
                f.write(data)
        for server in ("pyftpdlib", "vsftpd"):
            for options in ((), ("--no-feat",)):
                with self.subTest(server=server, options=options):
                    url, root = self.remote(server)
                    rc, _, err = run(*options, "-r", "put", hidden, url + "/")
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(snapshot(os.path.join(root, "hidden")), snapshot(hidden))
                    dest = os.path.join(self.tmp, f"down-{server}-{len(options)}")
                    rc, _, err = run(*options, "-r", "get", url + "/hidden", dest)
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(snapshot(dest), snapshot(hidden))
                    rc, _, err = run(*options, "-r", "rm", url + "/hidden")
                    self.assertEqual(rc, 0, err)
                    self.assertFalse(os.path.exists(os.path.join(root, "hidden")))

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

    def test_existing_remote_files(self):
        """put treats a file on the server as get treats a local one."""
        local = os.path.join(self.tmp, "blob.bin")
        cases = (  # flags, what the server holds before, exit, what it holds after, log lines
            ([], self.payload[:1000], 1, self.payload[:1000], ["\nSIZE "]),
            (["--skip"], self.payload[:1000], 0, self.payload[:1000], []),
            (["--resume"], self.payload[:1000], 0, self.payload, ["\nREST 1000\n"]),
            (["--resume"], self.payload, 0, self.payload, []),
            (["--overwrite"], b"x" * 5, 0, self.payload, []),
            ([], None, 0, self.payload, []),
        )
        for server in ("pyftpdlib", "vsftpd"):
            for flags, before, code, after, logged in cases:
                with self.subTest(server=server, flags=flags, before=before and len(before)):
                    url, root = self.remote(server)
                    if before is not None:
                        with open(os.path.join(root, "blob.bin"), "wb") as f:
                            f.write(before)
                        # vsftpd writes as its anonymous user.
                        os.chmod(os.path.join(root, "blob.bin"), 0o666)
                    rc, _, err = run("--log", *flags, "put", local, url + "/")
                    self.assertEqual(rc, code, err)
                    self.assertEqual(self.read(os.path.join(root, "blob.bin")), after)
                    for line in logged:
                        self.assertIn(line, err)
                    if code == 1:
                        self.assertIn("--overwrite, --resume or --skip", err)
                        self.assertNotIn("\nSTOR ", err)
        rc, _, err = run("--overwrite", "--skip", "put", local, PY_URL + "/")
        self.assertEqual(rc, 2, err)

    def test_standard_output_is_written_as_the_file_arrives(self):
        # Into a pipe that is read as the download goes on, after what a
        # redirected file already holds, and when the file or the reader
        # fails: what went out stays out, the exit status and standard error
        # say that the stream is not whole.
        payload = os.urandom(3 << 20)
        env = dict(os.environ, QBFTP_PASSWORD=PY_PASSWORD)
        for server in ("pyftpdlib", "vsftpd"):
            url, root = self.remote(server)
            with open(os.path.join(root, "streamed.bin"), "wb") as f:
                f.write(payload)
            with self.subTest(server=server, case="read as it comes"):
                p = subprocess.Popen([QBFTP, "get", url + "/streamed.bin", "-"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     stdin=subprocess.DEVNULL, env=env)
                got = b"".join(iter(lambda: p.stdout.read(1 << 16), b""))
                err = p.stderr.read().decode("utf-8", "replace")
                self.assertEqual(p.wait(timeout=60), 0, err)
                self.assertEqual(got, payload)
            with self.subTest(server=server, case="after what the file holds"):
                out = os.path.join(self.tmp, "appended-" + server)
                with open(out, "wb") as f:
                    f.write(b"head\n")
                    f.flush()
                    p = subprocess.run([QBFTP, "get", url + "/streamed.bin", "-"], stdout=f,
                                       stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                       env=env, timeout=60)
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assertEqual(self.read(out), b"head\n" + payload)
            with self.subTest(server=server, case="no such file"):
                rc, out, err = run("get", url + "/none.bin", "-")
                self.assertEqual((rc, out), (1, ""), err)
                self.assertIn("not the whole file", err)
            with self.subTest(server=server, case="the reader goes away"):
                p = subprocess.Popen([QBFTP, "get", url + "/streamed.bin", "-"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     stdin=subprocess.DEVNULL, env=env)
                self.assertEqual(p.stdout.read(1000), payload[:1000])
                p.stdout.close()
                err = p.stderr.read().decode("utf-8", "replace")
                self.assertEqual(p.wait(timeout=60), 1, err)
                self.assertIn("not the whole file", err)
            os.remove(os.path.join(root, "streamed.bin"))

    def test_pipes_patterns_and_many_items(self):
        for server in ("pyftpdlib", "vsftpd"):
            with self.subTest(server=server):
                url, root = self.remote(server)
                files = {"a.txt": b"a\n", "b.txt": b"b\n", ".hidden.txt": b"h\n", "c.bin": b"c"}
                srcs = []
                for name, data in files.items():
                    path = os.path.join(self.tmp, name)
                    with open(path, "wb") as f:
                        f.write(data)
                    srcs.append(path)
                # Several sources into a remote folder; the URL must say it is one.
                rc, _, err = run("put", *srcs, url)
                self.assertEqual(rc, 2, err)
                rc, _, err = run("put", *srcs, url + "/")
                self.assertEqual(rc, 0, err)
                self.assertEqual(sorted(os.listdir(root)), sorted(files))
                # A pattern in the last element, matched by qbftp as the shell would.
                down = os.path.join(self.tmp, "down-" + server)
                os.makedirs(down)
                rc, _, err = run("get", url + "/*.txt", down)
                self.assertEqual(rc, 0, err)
                self.assertEqual(sorted(os.listdir(down)), ["a.txt", "b.txt"])
                rc, out, err = run("ls", url + "/?.bin")
                self.assertEqual(rc, 0, err)
                self.assertEqual(list(listing(out)), ["c.bin"])
                rc, _, err = run("get", url + "/*.none", down)
                self.assertEqual(rc, 1)
                self.assertIn("nothing matches", err)
                # Several URLs into one folder.
                both = os.path.join(self.tmp, "both-" + server)
                os.makedirs(both)
                rc, _, err = run("get", url + "/a.txt", url + "/c.bin", both + "/")
                self.assertEqual(rc, 0, err)
                self.assertEqual(sorted(os.listdir(both)), ["a.txt", "c.bin"])
                # A destination that ends in "/" must be an existing folder.
                rc, _, err = run("get", url + "/a.txt", os.path.join(self.tmp, "nonexist") + "/")
                self.assertEqual(rc, 1, err)
                self.assertFalse(os.path.exists(os.path.join(self.tmp, "nonexist")))
                # ls of one file.
                rc, out, err = run("ls", url + "/a.txt")
                self.assertEqual(rc, 0, err)
                self.assertEqual(listing(out), {"a.txt": ("-", 2)})
                # Standard input and output.
                p = subprocess.run([QBFTP, "put", "-", url + "/piped.bin"], input=self.payload,
                                   capture_output=True, timeout=60,
                                   env=dict(os.environ, QBFTP_PASSWORD=PY_PASSWORD))
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assertEqual(self.read(os.path.join(root, "piped.bin")), self.payload)
                p = subprocess.run([QBFTP, "get", url + "/piped.bin", "-"], capture_output=True,
                                   timeout=60, stdin=subprocess.DEVNULL,
                                   env=dict(os.environ, QBFTP_PASSWORD=PY_PASSWORD))
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assertEqual(p.stdout, self.payload)
                # The login folder itself, recursively, into an existing folder.
                if server == "vsftpd":
                    whole = os.path.join(self.tmp, "whole")
                    os.makedirs(whole)
                    rc, _, err = run("-r", "get", VS_URL + "/", whole)
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(sorted(os.listdir(whole)), ["pub", "upload"])

    def test_folder_commands_like_the_shell(self):
        for server in ("pyftpdlib", "vsftpd"):
            with self.subTest(server=server):
                url, root = self.remote(server)
                # mkdir -p makes the folders on the way; existing ones are fine.
                for _ in range(2):
                    rc, _, err = run("mkdir", "-p", url + "/p1/p 2/p3")
                    self.assertEqual(rc, 0, err)
                self.assertTrue(os.path.isdir(os.path.join(root, "p1", "p 2", "p3")))
                rc, _, err = run("mkdir", url + "/p1")
                self.assertEqual(rc, 1, "without -p an existing folder fails")
                # mv within one server renames into the other folder: nothing travels.
                rc, _, err = run("put", os.path.join(self.tmp, "blob.bin"), url + "/p1/")
                self.assertEqual(rc, 0, err)
                rc, _, err = run("--log", "mv", url + "/p1/blob.bin", url + "/p1/p 2/")
                self.assertEqual(rc, 0, err)
                self.assertIn("\nRNFR ", err)
                self.assertNotIn("\nRETR ", err)
                self.assertNotIn("\nSTOR ", err)
                self.assertEqual(self.read(os.path.join(root, "p1", "p 2", "blob.bin")),
                                 self.payload)
                self.assertFalse(os.path.exists(os.path.join(root, "p1", "blob.bin")))
                # A folder moves whole.
                rc, _, err = run("-r", "mv", url + "/p1/p 2", url + "/")
                self.assertEqual(rc, 0, err)
                self.assertEqual(sorted(os.listdir(os.path.join(root, "p 2"))), ["blob.bin", "p3"])
                # An existing destination is not replaced unasked.
                rc, _, err = run("put", os.path.join(self.tmp, "blob.bin"), url + "/p1/")
                self.assertEqual(rc, 0, err)
                rc, _, err = run("mv", url + "/p1/blob.bin", url + "/p 2/")
                self.assertEqual(rc, 1, err)
                self.assertTrue(os.path.exists(os.path.join(root, "p1", "blob.bin")))
                rc, _, err = run("--overwrite", "mv", url + "/p1/blob.bin", url + "/p 2/")
                self.assertEqual(rc, 0, err)
                self.assertFalse(os.path.exists(os.path.join(root, "p1", "blob.bin")))
        # vsftpd leaves names that start with "." out of a plain LIST: rm -r says so.
        url, root = self.remote("vsftpd")
        os.makedirs(os.path.join(root, "h", "inner"))
        with open(os.path.join(root, "h", "inner", ".hidden"), "w") as f:
            f.write("x")
        rc, _, err = run("--no-list-a", "-r", "rm", url + "/h")
        self.assertEqual(rc, 1, err)
        self.assertIn("h/inner is not empty for the server", err)
        self.assertIn("hidden entries", err)

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

    def test_failed_transfers_leave_local_files_alone(self):
        """A missing remote file never truncates or leaves a local file, and a
        folder the server cannot enter fails a recursive get that says which."""
        for server in ("pyftpdlib", "vsftpd"):
            with self.subTest(server=server):
                url, root = self.remote(server)
                kept = os.path.join(self.tmp, f"kept-{server}.bin")
                with open(kept, "wb") as f:
                    f.write(b"keep me")
                rc, _, err = run("--overwrite", "get", url + "/missing.bin", kept)
                self.assertEqual(rc, 1, err)
                self.assertEqual(self.read(kept), b"keep me")
                fresh = os.path.join(self.tmp, f"fresh-{server}")
                os.makedirs(fresh)
                rc, _, err = run("get", url + "/missing.bin", fresh)
                rc2, _, err2 = run("-r", "get", url + "/missing-folder", fresh)
                self.assertEqual((rc, rc2), (1, 1), err + err2)
                self.assertEqual(os.listdir(fresh), [], "nothing is made for what is not there")
                # A moved file is checked on the server before its source goes.
                moved = os.path.join(self.tmp, f"moved-{server}.bin")
                with open(moved, "wb") as f:
                    f.write(self.payload)
                rc, _, err = run("--log", "mv", moved, url + "/")
                self.assertEqual(rc, 0, err)
                self.assertIn(f"\nSIZE ", err)
                self.assertFalse(os.path.exists(moved))
                self.assertEqual(self.read(os.path.join(root, f"moved-{server}.bin")), self.payload)

    def test_a_folder_the_server_cannot_enter_fails_the_recursive_get(self):
        # vsftpd serves anonymous users as an unprivileged user: a folder
        # without permissions is closed to it.
        url, root = self.remote("vsftpd")
        os.makedirs(os.path.join(root, "top", "closed"))
        with open(os.path.join(root, "top", "open.txt"), "w") as f:
            f.write("open\n")
        os.chmod(os.path.join(root, "top", "closed"), 0)
        try:
            down = os.path.join(self.tmp, "down-closed")
            os.makedirs(down)
            rc, _, err = run("-r", "get", url + "/top", down)
            self.assertEqual(rc, 1, err)
            self.assertIn("top/closed", err)
            self.assertEqual(self.read(os.path.join(down, "top", "open.txt")), b"open\n")
        finally:
            os.chmod(os.path.join(root, "top", "closed"), 0o755)

    def test_spaced_and_empty_files_round_trip(self):
        files = {"with space.bin": os.urandom(200 * 1024 + 3), "empty.bin": b"",
                 "empty  with spaces": b"", "mixed line ends.txt": b"x\r\ny\n"}
        src = os.path.join(self.tmp, "src")
        os.makedirs(src)
        for name, data in files.items():
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        for server in ("pyftpdlib", "vsftpd"):
            for mode in ("--passive", "--active"):
                with self.subTest(server=server, mode=mode):
                    url, root = self.remote(server)
                    rc, _, err = run("mkdir", url + "/in space")
                    self.assertEqual(rc, 0, err)
                    back = os.path.join(self.tmp, f"back-{server}{mode}")
                    os.makedirs(back)
                    for name in files:
                        local = os.path.join(src, name)
                        rc, _, err = run(mode, "put", local, url + "/in space/")
                        self.assertEqual(rc, 0, f"{name}: {err}")
                        self.assertEqual(sha256(os.path.join(root, "in space", name)),
                                         sha256(local), name)
                        rc, _, err = run(mode, "get", f"{url}/in space/{name}", back + "/")
                        self.assertEqual(rc, 0, f"{name}: {err}")
                        self.assertEqual(sha256(os.path.join(back, name)), sha256(local), name)
                    rc, out, err = run(mode, "ls", url + "/in%20space")
                    self.assertEqual(rc, 0, err)
                    self.assertEqual({n: size for n, (_, size) in listing(out).items()},
                                     {n: len(d) for n, d in files.items()})

    def test_resume_past_4_gib(self):
        """Only the tail of a 4 GiB + 1 MiB file travels; the offset needs 64 bits."""
        gib4, mib = 4 << 30, 1 << 20
        head = {0: b"HEAD-of-file", gib4 - 8: b"just-below-4GiB!"}
        tail = {gib4 + 5: b"ABCDEFGHIJKLMNOPQRSTUVWXYZ", gib4 + mib // 2: os.urandom(4096),
                gib4 + mib - 7: b"the-end"}
        url, root = self.remote("vsftpd")
        remote = os.path.join(root, "big file.bin")
        sparse_file(remote, gib4 + mib, {**head, **tail})
        try:
            for mode in ("--passive", "--active"):
                with self.subTest(mode=mode):
                    local = os.path.join(self.tmp, "big file.bin")
                    # The same first 4 GiB + 10 bytes, the marker at gib4 + 5 cut after 5 bytes.
                    sparse_file(local, gib4 + 10, {**head, gib4 + 5: b"ABCDE"})
                    started = time.monotonic()
                    rc, _, err = run(mode, "--resume", "--log", "get", url + "/big%20file.bin",
                                     local)
                    elapsed = time.monotonic() - started
                    self.assertEqual(rc, 0, err)
                    self.assertIn("\nREST 4294967306\n", err)
                    self.assertLess(elapsed, 20)
                    self.assertEqual(os.path.getsize(local), gib4 + mib)
                    # Nothing before the offset was written again: the file stays sparse.
                    self.assertLess(os.stat(local).st_blocks * 512, 64 * mib)
                    self.assertEqual(read_at(local, 0, 12), b"HEAD-of-file")
                    self.assertEqual(hashlib.sha256(read_at(local, gib4 - 8)).hexdigest(),
                                     hashlib.sha256(read_at(remote, gib4 - 8)).hexdigest())
                    os.remove(local)
        finally:
            os.remove(remote)

    def test_resume_after_cut_off_download(self):
        cases = (("mid-way", 1234567), ("one byte", 1), ("complete", len(self.payload)))
        for server in ("pyftpdlib", "vsftpd"):
            url, root = self.remote(server)
            with open(os.path.join(root, "blob.bin"), "wb") as f:
                f.write(self.payload)
            for mode in ("--passive", "--active"):
                for label, cut in cases:
                    with self.subTest(server=server, mode=mode, cut=label):
                        local = os.path.join(self.tmp, "blob copy.bin")
                        rc, _, err = run(mode, "--overwrite", "get", url + "/blob.bin", local)
                        self.assertEqual(rc, 0, err)
                        os.truncate(local, cut)
                        rc, _, err = run(mode, "--resume", "--log", "get", url + "/blob.bin",
                                         local)
                        self.assertEqual(rc, 0, err)
                        if cut == len(self.payload) and "complete already" in err:
                            # A server that tells the size: nothing is asked for.
                            self.assertNotIn("\nRETR ", err)
                        else:
                            self.assertIn(f"\nREST {cut}\n", err)
                        self.assertEqual(sha256(local), hashlib.sha256(self.payload).hexdigest())

    def test_text_mode_download_restarts_instead_of_resuming(self):
        url, root = self.remote("vsftpd")
        with open(os.path.join(root, "notes.txt"), "wb") as f:
            f.write(b"one\ntwo\nthree\n")
        local = os.path.join(self.tmp, "notes.txt")
        with open(local, "wb") as f:
            f.write(b"one\n")
        rc, _, err = run("--ascii", "--resume", "--log", "get", url + "/notes.txt", local)
        self.assertEqual(rc, 0, err)
        self.assertNotIn("\nREST 4\n", err)
        self.assertEqual(self.read(local), b"one\ntwo\nthree\n")

    def make_tree(self):
        """A deeper local tree: spaces, an empty folder, an empty file, a larger file."""
        top = os.path.join(self.tmp, "nested tree")
        deep = os.path.join(top, "level 1", "level 2", "level 3")
        os.makedirs(deep)
        os.makedirs(os.path.join(top, "level 1", "empty folder"))
        for path, data in (("top.txt", b"top\n"), ("level 1/empty file", b""),
                           ("level 1/level 2/a b.bin", os.urandom(70000)),
                           ("level 1/level 2/level 3/deepest.txt", b"deep\n")):
            with open(os.path.join(top, path), "wb") as f:
                f.write(data)
        return top

    def test_nested_tree_round_trip_and_delete_both_modes(self):
        top = self.make_tree()
        expected = snapshot(top)
        for server in ("pyftpdlib", "vsftpd"):
            for mode in ("--passive", "--active"):
                with self.subTest(server=server, mode=mode):
                    url, root = self.remote(server)
                    rc, _, err = run(mode, "-r", "put", top, url + "/")
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(snapshot(os.path.join(root, "nested tree")), expected)
                    dest = os.path.join(self.tmp, f"down-{server}{mode}")
                    rc, _, err = run(mode, "-r", "get", url + "/nested tree", dest)
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(snapshot(dest), expected)
                    rc, _, err = run(mode, "-r", "rm", url + "/nested%20tree")
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(os.listdir(root), [])

    def test_files_copied_and_moved_between_and_within_sites(self):
        cases = (("cp", "pyftpdlib", "vsftpd"), ("cp", "vsftpd", "pyftpdlib"),
                 ("cp", "vsftpd", "vsftpd"), ("mv", "vsftpd", "pyftpdlib"),
                 ("mv", "pyftpdlib", "pyftpdlib"), ("mv", "vsftpd", "vsftpd"))
        digest = hashlib.sha256(self.payload).hexdigest()
        for command, source, dest in cases:
            for mode in ("--passive", "--active"):
                with self.subTest(command=command, source=source, dest=dest, mode=mode):
                    src_url, src_root = self.remote(source)
                    dst_url, dst_root = self.remote(dest)
                    with open(os.path.join(src_root, "a file.bin"), "wb") as f:
                        f.write(self.payload)
                    rc, _, err = run(mode, command, src_url + "/a file.bin",
                                     dst_url + "/the copy.bin")
                    self.assertEqual(rc, 0, err)
                    self.assertEqual(sha256(os.path.join(dst_root, "the copy.bin")), digest)
                    self.assertEqual(os.path.exists(os.path.join(src_root, "a file.bin")),
                                     command == "cp")

    # The host spelled two ways makes two connections to one server: the
    # file goes through the temporary file and is handed from one to the
    # other, while the server still holds the source's earlier data
    # connections. The time-out turns a destination that is never answered
    # into a failure.
    def test_files_copied_and_moved_between_two_connections_to_one_server(self):
        digest = hashlib.sha256(self.payload).hexdigest()
        for server in ("pyftpdlib", "vsftpd"):
            for command in ("cp", "mv"):
                for mode in ("--passive", "--active"):
                    with self.subTest(server=server, command=command, mode=mode):
                        url, root = self.remote(server)
                        with open(os.path.join(root, "a file.bin"), "wb") as f:
                            f.write(self.payload)
                        rc, _, err = run(mode, "--timeout", "10", command, url + "/a file.bin",
                                         url.replace("127.0.0.1", "localhost") + "/the copy.bin")
                        self.assertEqual(rc, 0, err)
                        self.assertEqual(sha256(os.path.join(root, "the copy.bin")), digest)
                        self.assertEqual(os.path.exists(os.path.join(root, "a file.bin")),
                                         command == "cp")

    def folder_transfer(self, command, source, dest, mode, timeout="60"):
        """Uploads the nested tree to `source`, then copies or moves it to `dest`."""
        top = os.path.join(self.tmp, "nested tree")
        if not os.path.isdir(top):
            self.make_tree()
        src_url, src_root = self.remote(source)
        dst_url, dst_root = self.remote(dest)
        rc, _, err = run("-r", "put", top, src_url + "/")
        self.assertEqual(rc, 0, err)
        rc, _, err = run(mode, "--timeout", timeout, "-r", command, src_url + "/nested tree",
                         dst_url + "/")
        self.assertEqual(rc, 0, err)
        self.assertEqual(snapshot(os.path.join(dst_root, "nested tree")), snapshot(top))
        self.assertEqual(os.path.exists(os.path.join(src_root, "nested tree")), command == "cp")

    def test_folders_moved_between_and_copied_or_moved_within_sites(self):
        cases = (("cp", "pyftpdlib", "pyftpdlib"), ("cp", "vsftpd", "vsftpd"),
                 ("mv", "pyftpdlib", "pyftpdlib"), ("mv", "vsftpd", "vsftpd"),
                 ("mv", "pyftpdlib", "vsftpd"), ("mv", "vsftpd", "pyftpdlib"))
        for command, source, dest in cases:
            for mode in ("--passive", "--active"):
                with self.subTest(command=command, source=source, dest=dest, mode=mode):
                    self.folder_transfer(command, source, dest, mode)

    # A folder copy between two sites hands each file to the destination and
    # must go on with the next one on the source (it once stopped after the
    # first file).
    def test_folders_copied_between_sites(self):
        for source, dest in (("pyftpdlib", "vsftpd"), ("vsftpd", "pyftpdlib")):
            with self.subTest(source=source, dest=dest):
                self.folder_transfer("cp", source, dest, "--passive", timeout="4")

    def test_rename(self):
        cases = (("pyftpdlib", "old name.bin", False, "new name.bin"),
                 ("vsftpd", "old name.bin", False, "new  name.bin"),
                 ("pyftpdlib", "a folder", True, "b folder"),
                 ("vsftpd", "a folder", True, "b folder"))
        for server, old, folder, new in cases:
            with self.subTest(server=server, old=old, new=new):
                url, root = self.remote(server)
                if folder:
                    rc, _, err = run("mkdir", f"{url}/{old}")
                    self.assertEqual(rc, 0, err)
                    rc, _, err = run("put", os.path.join(self.tmp, "blob.bin"), f"{url}/{old}/")
                else:
                    rc, _, err = run("put", os.path.join(self.tmp, "blob.bin"), f"{url}/{old}")
                self.assertEqual(rc, 0, err)
                rc, _, err = run("rename", f"{url}/{old}" + ("/" if folder else ""), new)
                self.assertEqual(rc, 0, err)
                self.assertEqual(os.listdir(root), [new])
                inside = os.path.join(root, new, "blob.bin") if folder else os.path.join(root, new)
                self.assertEqual(self.read(inside), self.payload)
                rc, _, err = run("rename", f"{url}/{old}", "other")
                self.assertEqual(rc, 1)
                self.assertIn("Failed to rename", err)
                self.assertIn("550", err)
                self.assertEqual(os.listdir(root), [new])


class DataCommands(unittest.TestCase):
    """EPSV/EPRT as the servers take them, PASV/PORT when asked, and IPv6."""

    counter = 0

    def setUp(self):
        import tempfile
        self.tmp = tempfile.mkdtemp(prefix="qbftp-e2e-")
        self.payload = os.urandom(256 * 1024 + 3)
        self.source = os.path.join(self.tmp, "data.bin")
        with open(self.source, "wb") as f:
            f.write(self.payload)

    def tearDown(self):
        import shutil
        shutil.rmtree(self.tmp, ignore_errors=True)

    def sent(self, err):
        """The verbs of the commands the --log dialogue shows."""
        verbs = set()
        for line in err.splitlines():
            word = line.split(" ", 1)[0]
            if word in ("EPSV", "PASV", "EPRT", "PORT"):
                verbs.add(word)
        return verbs

    def round_trip(self, url, root, *options):
        DataCommands.counter += 1
        name = f"dc{DataCommands.counter}-" + "-".join(o.strip("-") for o in options) + ".bin"
        # --overwrite: the suite runs once per build against the same servers.
        rc, _, err = run("--log", *options, "--overwrite", "put", self.source, url + "/" + name)
        self.assertEqual(rc, 0, err)
        with open(os.path.join(root, name), "rb") as f:
            self.assertEqual(f.read(), self.payload)
        back = os.path.join(self.tmp, name)
        rc, _, err2 = run("--log", *options, "get", url + "/" + name, back)
        self.assertEqual(rc, 0, err2)
        with open(back, "rb") as f:
            self.assertEqual(f.read(), self.payload)
        return self.sent(err + err2)

    def test_commands_per_mode_and_option(self):
        cases = [  # options, the data commands expected, those that must not appear
            (("--passive",), {"EPSV"}, {"PASV", "PORT", "EPRT"}),
            (("--passive", "--no-epsv"), {"PASV"}, {"EPSV", "PORT", "EPRT"}),
            (("--active",), {"PORT"}, {"EPSV", "PASV", "EPRT"}),
            (("--active", "--no-epsv"), {"PORT"}, {"EPSV", "PASV", "EPRT"}),
        ]
        for name, url, root in (("pyftpdlib", PY_URL, PY_ROOT),
                                ("vsftpd", VS_URL + "/upload", os.path.join(VS_ROOT, "upload"))):
            for options, expected, absent in cases:
                with self.subTest(server=name, options=options):
                    verbs = self.round_trip(url, root, *options)
                    self.assertTrue(expected <= verbs, verbs)
                    self.assertFalse(absent & verbs, verbs)

    @unittest.skipUnless(PY6_URL, "no pyftpdlib on the IPv6 loopback")
    def test_ipv6_loopback(self):
        for mode, expected in (("--passive", "EPSV"), ("--active", "EPRT")):
            with self.subTest(mode=mode):
                verbs = self.round_trip(PY6_URL, PY6_ROOT, mode)
                self.assertIn(expected, verbs)
                rc, out, err = run(mode, "ls", PY6_URL + "/")
                self.assertEqual(rc, 0, err)
                self.assertIn("-" + mode.strip("-") + ".bin", out)


@unittest.skipUnless(VS_TLS_URL and PY_TLS_URL and TLS_CA, "no TLS servers")
class Tls(unittest.TestCase):
    """FTPS: vsftpd with explicit TLS (data connections must resume the session) and
    implicit TLS, pyftpdlib with explicit TLS and a self-signed certificate."""

    counter = 0

    def setUp(self):
        import tempfile
        self.tmp = tempfile.mkdtemp(prefix="qbftp-e2e-")
        self.payload = os.urandom(2 * 1024 * 1024 + 11)
        self.source = os.path.join(self.tmp, "data.bin")
        with open(self.source, "wb") as f:
            f.write(self.payload)

    def tearDown(self):
        import shutil
        shutil.rmtree(self.tmp, ignore_errors=True)

    def servers(self):
        """name, options, writable folder URL, its path on disk"""
        return [
            ("vsftpd explicit", ("--tls", "--cacert", TLS_CA), VS_TLS_URL + "/upload",
             os.path.join(VS_TLS_ROOT, "upload")),
            ("vsftpd implicit", ("--cacert", TLS_CA), VS_FTPS_URL + "/upload",
             os.path.join(VS_FTPS_ROOT, "upload")),
            ("pyftpdlib explicit", ("--tls", "--insecure"), PY_TLS_URL, PY_TLS_ROOT),
        ]

    def test_round_trips_listing_and_resume(self):
        for name, options, url, root in self.servers():
            for mode in ("--passive", "--active"):
                with self.subTest(server=name, mode=mode):
                    Tls.counter += 1
                    remote = f"tls{Tls.counter}.bin"
                    rc, _, err = run(*options, mode, "--log", "--overwrite", "put",
                                     self.source, f"{url}/{remote}")
                    self.assertEqual(rc, 0, err)
                    self.assertIn("Connection encrypted: TLSv1.2", err)
                    self.assertIn("Data connection encrypted:", err)
                    with open(os.path.join(root, remote), "rb") as f:
                        self.assertEqual(f.read(), self.payload)
                    rc, out, err = run(*options, mode, "ls", url + "/")
                    self.assertEqual(rc, 0, err)
                    self.assertIn(remote, listing(out))
                    self.assertEqual(listing(out)[remote], ("-", len(self.payload)))
                    # A download cut short locally, then resumed over TLS.
                    back = os.path.join(self.tmp, remote)
                    with open(back, "wb") as f:
                        f.write(self.payload[:700001])
                    rc, _, err = run(*options, mode, "--log", "--resume", "get",
                                     f"{url}/{remote}", back)
                    self.assertEqual(rc, 0, err)
                    self.assertIn("REST 700001", err)
                    with open(back, "rb") as f:
                        self.assertEqual(f.read(), self.payload)

    def test_data_connections_resume_the_session(self):
        # vsftpd refuses a data connection that does not (require_ssl_reuse): the folder's
        # listing and the download need two in a row.
        rc, _, err = run("--tls", "--cacert", TLS_CA, "--log", "--overwrite", "put",
                         self.source, VS_TLS_URL + "/upload/reuse.bin")
        self.assertEqual(rc, 0, err)
        back = os.path.join(self.tmp, "back")
        os.mkdir(back)
        rc, _, err = run("--tls", "--cacert", TLS_CA, "--log", "-r", "get",
                         VS_TLS_URL + "/upload/", back + "/")
        self.assertEqual(rc, 0, err)
        self.assertGreaterEqual(err.count("session resumed"), 2, err)
        with open(self.source, "rb") as a, open(os.path.join(back, "upload", "reuse.bin"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_certificates(self):
        vs = VS_TLS_URL + "/"
        py = PY_TLS_URL + "/"
        mismatch = vs.replace("127.0.0.1", "localhost")
        cases = [  # name, arguments, exit status, what stderr says
            ("trusted through --cacert", ("--tls", "--cacert", TLS_CA, "ls", vs), 0, ""),
            ("unknown issuer, no terminal", ("--tls", "ls", vs), 1,
             "unable to get local issuer certificate"),
            ("self-signed, no terminal", ("--tls", "ls", py), 1, "self-signed certificate"),
            ("self-signed with --insecure", ("--tls", "--insecure", "ls", py), 0, ""),
            ("host name mismatch", ("--tls", "--cacert", TLS_CA, "ls", mismatch), 1,
             "mismatch"),
            ("host name mismatch with --insecure", ("--tls", "--insecure", "ls", mismatch), 0, ""),
            ("a CA file that is not there", ("--tls", "--cacert", "/nonexistent.pem", "ls", vs), 1,
             "/nonexistent.pem"),
        ]
        for name, args, status, says in cases:
            with self.subTest(case=name):
                started = time.monotonic()
                rc, _, err = run("--timeout", "10", *args, timeout=30)
                self.assertEqual(rc, status, err)
                self.assertIn(says, err)
                self.assertLess(time.monotonic() - started, 10, "no waiting for a time-out")
                if status:
                    self.assertIn("refused" if "CA file" not in name else "cannot be read", err)

    def test_site_security_settings(self):
        """A site's TLS mode, EPSV setting and kept certificate, from sites add and the
        site settings file beside the profile, used by site: URLs."""
        import ftplib
        import ssl
        import urllib.parse
        home = os.path.join(self.tmp, "home")
        saved = {k: os.environ.get(k) for k in ("HOME", "XDG_CONFIG_HOME")}
        os.environ["HOME"] = home
        os.environ["XDG_CONFIG_HOME"] = os.path.join(home, "config")
        try:
            cases = [  # site, sites add options, URL, shown by sites --json
                ("T/Vs", ("--tls",), VS_TLS_URL + "/", ("explicit", True)),
                ("T/VsImplicit", (), VS_FTPS_URL + "/", ("implicit", True)),
                ("T/Plain", ("--no-tls", "--no-epsv"), PY_URL + "/", ("none", False)),
                ("T/Default", (), PY_URL + "/", ("if-available", True)),
                ("T/Py", ("--tls",), PY_TLS_URL + "/", ("explicit", True)),
            ]
            for site, options, url, _ in cases:
                rc, _, err = run("sites", "add", site, url, *options)
                self.assertEqual(rc, 0, err)
            rc, out, err = run("sites", "--json")
            self.assertEqual(rc, 0, err)
            shown = {e["site"]: e for e in map(json.loads, out.splitlines())}
            for site, _, _, (tls, epsv) in cases:
                with self.subTest(site=site):
                    self.assertEqual((shown[site]["tls"], shown[site]["epsv"],
                                      shown[site]["fingerprint"]), (tls, epsv, ""))
            profile = os.path.join(home, "config", "quillbeck", "Quillbeck.dat")
            settings = profile + ".sites"
            self.assertEqual(stat_mode(settings), 0o600)

            # A site: URL connects as the site says; the command line wins.
            uses = [  # site, options, commands sent, commands never sent
                ("T/Vs", ("--cacert", TLS_CA), {"AUTH", "EPSV"}, {"PASV"}),
                ("T/VsImplicit", ("--cacert", TLS_CA), {"EPSV"}, {"AUTH", "PASV"}),
                ("T/Plain", (), {"PASV"}, {"AUTH", "EPSV"}),
                ("T/Default", (), {"AUTH", "EPSV"}, {"PASV"}),
                ("T/Default", ("--no-tls", "--no-epsv"), {"PASV"}, {"AUTH", "EPSV"}),
            ]
            for site, options, sent, never in uses:
                with self.subTest(site=site, options=options):
                    rc, _, err = run("--timeout", "10", "--log", *options, "ls",
                                     f'site:"{site}"', password=None, timeout=30)
                    self.assertEqual(rc, 0, err)
                    verbs = {line.split(" ", 1)[0] for line in err.splitlines()}
                    self.assertLessEqual(sent, verbs, err)
                    self.assertFalse(never & verbs, err)

            # The certificate kept for the site connects without asking; another one
            # fails loudly, even with --insecure.
            parts = urllib.parse.urlsplit(PY_TLS_URL)
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            ftp = ftplib.FTP_TLS(context=context)
            ftp.connect(parts.hostname, parts.port, timeout=10)
            ftp.auth()
            der = ftp.sock.getpeercert(binary_form=True)
            ftp.close()
            kept = ":".join("%02X" % b for b in hashlib.sha256(der).digest())
            other = ":".join(["00"] * 32)
            certificates = [  # fingerprint kept, options, exit status, what stderr says
                (kept, (), 0, ""),
                (kept.lower(), (), 0, ""),
                (other, (), 1, "HAS CHANGED"),
                (other, ("--insecure",), 1, "HAS CHANGED"),
            ]
            for fingerprint, options, status, says in certificates:
                with self.subTest(fingerprint=fingerprint, options=options):
                    with open(settings, "w") as f:
                        f.write("Quillbeck site settings 1\n"
                                f"T/Py\ttls=explicit\tepsv=on\tfingerprint={fingerprint}\n")
                    rc, out, err = run("--timeout", "10", *options, "ls", 'site:"T/Py"',
                                       password=None, timeout=30)
                    self.assertEqual(rc, status, err)
                    self.assertIn(says, err)
                    if status == 0:
                        rc, out, err = run("sites", "--json")
                        shown = {e["site"]: e for e in map(json.loads, out.splitlines())}
                        self.assertEqual(shown["T/Py"]["fingerprint"], kept)
        finally:
            for k, v in saved.items():
                if v is None:
                    os.environ.pop(k, None)
                else:
                    os.environ[k] = v

    def test_servers_that_do_not_speak_tls(self):
        cases = [  # name, arguments, what stderr says
            ("AUTH TLS refused while TLS is required", ("--tls", "ls", VS_URL + "/"),
             "refused AUTH TLS"),
            ("a plain server where TLS comes first", ("--tls-implicit", "ls", VS_URL + "/"),
             "TLS handshake failed"),
        ]
        for name, args, says in cases:
            with self.subTest(case=name):
                started = time.monotonic()
                rc, _, err = run("--timeout", "10", *args, timeout=30)
                self.assertEqual(rc, 1, err)
                self.assertIn(says, err)
                self.assertLess(time.monotonic() - started, 10, "no waiting for a time-out")


class Behaviour(unittest.TestCase):
    def setUp(self):
        Servers.setUp(self)

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
                     ["ls", "ftp://host:99999/"], ["--bogus", "ls", "ftp://h/"],
                     ["--timeout", "9300000000", "ls", PY_URL + "/"],
                     ["ls", "ftp://127.0.0.1:21:21/"], ["--skip", "--resume", "get", "ftp://h/x"]):
            with self.subTest(args=args):
                rc, _, _ = run(*args)
                self.assertEqual(rc, 2)

    def test_small_conventions(self):
        rc, out, err = run("--timeout=5", "--retries=0", "ls", VS_URL + "/")
        self.assertEqual(rc, 0, err)
        self.assertIn("upload", out)
        for command in ("ls", "get", "put", "rm", "mv"):
            with self.subTest(command=command):
                rc, out, err = run(command, "--help")
                self.assertEqual(rc, 0, err)
                self.assertTrue(out.startswith(f"Usage: qbftp [OPTIONS] {command} "), out)

    def test_preserve_keeps_the_remote_time(self):
        import tempfile
        import shutil
        tmp = tempfile.mkdtemp(prefix="qbftp-preserve-")
        try:
            import calendar
            # Older than half a year: the listing gives only the day; "MDTM"
            # (both servers offer it) the second as well.
            stamps = (time.mktime((2019, 5, 17, 0, 0, 0, 0, 0, -1)),
                      calendar.timegm((2019, 5, 17, 13, 14, 15, 0, 0, 0)))
            for (name, url, root), stamp in ((server, stamp) for server in (
                    ("pyftpdlib", PY_URL, PY_ROOT), ("vsftpd", VS_URL, VS_ROOT))
                    for stamp in stamps):
                path = os.path.join(root, "pub", "old.txt")
                with open(path, "w") as f:
                    f.write("old\n")
                os.utime(path, (stamp, stamp))
                for flags in (["-p"], ["--preserve", "-r"]):
                    with self.subTest(server=name, flags=flags, stamp=stamp):
                        dest = os.path.join(tmp, f"{name}{flags[0]}{int(stamp)}")
                        os.makedirs(dest)
                        source = url + ("/pub/old.txt" if len(flags) == 1 else "/pub")
                        rc, _, err = run(*flags, "get", source, dest + "/")
                        self.assertEqual(rc, 0, err)
                        got = os.path.join(dest, "old.txt") if len(flags) == 1 else \
                            os.path.join(dest, "pub", "old.txt")
                        self.assertEqual(os.path.getmtime(got), stamp)
                plain = os.path.join(tmp, f"{name}-plain{int(stamp)}")
                rc, _, err = run("get", url + "/pub/old.txt", plain)
                self.assertEqual(rc, 0, err)
                self.assertGreater(os.path.getmtime(plain), stamp + 86400)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)

    def test_ctrl_c_stops_a_transfer_with_exit_130(self):
        import signal
        import tempfile
        import shutil
        tmp = tempfile.mkdtemp(prefix="qbftp-stop-")
        try:
            for name, url, root in (("pyftpdlib", PY_URL, PY_ROOT), ("vsftpd", VS_URL, VS_ROOT)):
                with self.subTest(server=name):
                    remote = os.path.join(root, "pub", "endless.bin")
                    sparse_file(remote, 64 << 30, {})
                    env = dict(os.environ, QBFTP_PASSWORD=PY_PASSWORD)
                    local = os.path.join(tmp, name + ".bin")
                    p = subprocess.Popen([QBFTP, "get", url + "/pub/endless.bin", local],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, env=env)
                    try:
                        time.sleep(1.0)
                        p.send_signal(signal.SIGINT)
                        out, err = p.communicate(timeout=20)
                    finally:
                        if p.poll() is None:
                            p.kill()
                        os.remove(remote)
                    err = err.decode("utf-8", "replace")
                    self.assertEqual(p.returncode, 130, err)
                    self.assertIn("qbftp: interrupted\n", err)
                    self.assertFalse(os.path.exists(local) and
                                     os.path.getsize(local) == 64 << 30, "it was stopped")
        finally:
            shutil.rmtree(tmp, ignore_errors=True)

    def test_sites_without_the_window_and_netrc(self):
        import shutil
        import stat
        import tempfile
        home = tempfile.mkdtemp(prefix="qbftp-home-")
        saved = {k: os.environ.get(k) for k in ("HOME", "XDG_CONFIG_HOME")}
        os.environ["HOME"] = home
        os.environ["XDG_CONFIG_HOME"] = os.path.join(home, "config")
        try:
            rc, _, err = run("sites", "add", "Test/Py", PY_URL + "/pub")
            self.assertEqual(rc, 0, err)
            rc, _, err = run("sites", "add", "Test/Vs", VS_URL + "/pub", "--active")
            self.assertEqual(rc, 0, err)
            profile = os.path.join(home, "config", "quillbeck", "Quillbeck.dat")
            self.assertEqual(stat.S_IMODE(os.stat(profile).st_mode), 0o600)
            with open(profile, "rb") as f:
                self.assertNotIn(PY_PASSWORD.encode(), f.read())
            rc, out, err = run("sites", "--json")
            self.assertEqual(rc, 0, err)
            sites = {e["site"]: e for e in map(json.loads, out.splitlines())}
            self.assertEqual(sites["Test/Py"]["user"], "qb")
            self.assertTrue(sites["Test/Vs"]["anonymous"])
            for site in ("Test/Py", "Test/Vs"):
                with self.subTest(site=site):
                    # The stored password: none in the environment.
                    rc, out, err = run("ls", f'site:"{site}"', password=None)
                    self.assertEqual(rc, 0, err)
                    self.assertIn("readme.txt", listing(out))
            rc, _, err = run("sites", "rename", "Test/Py", "Renamed")
            self.assertEqual(rc, 0, err)
            rc, _, err = run("sites", "remove", "Test/Vs")
            self.assertEqual(rc, 0, err)
            rc, out, _ = run("sites", "--json")
            self.assertEqual([e["site"] for e in map(json.loads, out.splitlines())
                              if e["site"].startswith("Test/")], ["Test/Renamed"])
            # ~/.netrc gives the password when none is given, unless others may read it.
            netrc = os.path.join(home, ".netrc")
            with open(netrc, "w") as f:
                f.write(f"machine 127.0.0.1 login qb password {PY_PASSWORD}\n")
            for mode, code in ((0o600, 0), (0o644, 2)):
                with self.subTest(netrc=oct(mode)):
                    os.chmod(netrc, mode)
                    rc, _, err = run("ls", PY_URL + "/", password=None)
                    self.assertEqual(rc, code, err)
                    if code:
                        self.assertIn("not used", err)
        finally:
            for k, v in saved.items():
                if v is None:
                    os.environ.pop(k, None)
                else:
                    os.environ[k] = v
            shutil.rmtree(home, ignore_errors=True)

    def test_man_page_and_completion_know_every_option_and_command(self):
        import re
        cli = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cli")
        rc, help_text, err = run("--help")
        self.assertEqual(rc, 0, err)
        section = help_text.split("Options:")[1]
        # Whole option names, hyphens included ("--no-tls", not "--no").
        options = set(re.findall(r"^ +(--?[a-z][a-z-]*)", section, re.M) +
                      re.findall(r"^ +-[a-z], (--[a-z][a-z-]*)", section, re.M))
        commands = set(re.findall(r"^  ([a-z]+) ", help_text.split("Commands:")[1]
                                  .split("Options:")[0], re.M))
        self.assertIn("--overwrite", options)
        self.assertIn("sites", commands)
        with open(os.path.join(cli, "qbftp.1")) as f:
            man = f.read().replace("\\-", "-")
        with open(os.path.join(cli, "qbftp.bash")) as f:
            completion = f.read()
        for word in sorted(options | commands):
            with self.subTest(word=word):
                self.assertIn(word, man)
                self.assertIn(word, completion)
        script = (f"source {os.path.join(cli, 'qbftp.bash')}; "
                  "COMP_WORDS=(qbftp --ov); COMP_CWORD=1; _qbftp; echo ${COMPREPLY[*]}; "
                  "COMP_WORDS=(qbftp --log g); COMP_CWORD=2; _qbftp; echo ${COMPREPLY[*]}; "
                  "COMP_WORDS=(qbftp sites r); COMP_CWORD=2; _qbftp; echo ${COMPREPLY[*]}")
        p = subprocess.run(["bash", "-c", script], capture_output=True, text=True, timeout=30)
        self.assertEqual(p.stdout.splitlines(), ["--overwrite", "get", "remove rename"], p.stderr)

    def test_unreadable_profile_is_never_changed(self):
        """A file that is not a profile, named or at the default place, ends the
        run with exit 2; the file and its folder stay exactly as they were."""
        import shutil
        import tempfile
        tmp = tempfile.mkdtemp(prefix="qbftp-profile-")
        try:
            system_like = os.path.join(tmp, "hosts")
            with open(system_like, "wb") as f:
                f.write(b"127.0.0.1 localhost\n")
            os.makedirs(os.path.join(tmp, "config", "quillbeck"))
            with open(os.path.join(tmp, "config", "quillbeck", "Quillbeck.dat"), "wb") as f:
                f.write(b"not a profile")
            before = snapshot(tmp)
            cases = ((["--profile", system_like, "ls", PY_URL + "/"], {}),
                     (["--profile", system_like, "sites"], {}),
                     (["ls", VS_URL + "/"], {"XDG_CONFIG_HOME": os.path.join(tmp, "config")}))
            for args, env in cases:
                with self.subTest(args=args):
                    saved = {k: os.environ.get(k) for k in env}
                    os.environ.update(env)
                    try:
                        rc, out, err = run(*args)
                    finally:
                        for k, v in saved.items():
                            if v is None:
                                os.environ.pop(k, None)
                            else:
                                os.environ[k] = v
                    self.assertEqual((rc, out), (2, ""), err)
                    self.assertIn("could not be read", err)
                    self.assertEqual(snapshot(tmp), before)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)

    def test_nobody_listening(self):
        rc, _, err = run("--timeout", "10", "ls", "ftp://127.0.0.1:1/")
        self.assertEqual(rc, 1)
        self.assertIn("Failed to connect!", err)


if __name__ == "__main__":
    if not (PY_URL and VS_URL):
        print("FTP servers not running (start them with scripts/test); skipped")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v"])

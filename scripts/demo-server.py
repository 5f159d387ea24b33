#!/usr/bin/python3
"""The demonstration FTP server of scripts/run --demo (pyftpdlib).

    demo-server.py ROOT PORTFILE USER PASSWORD

Fills ROOT with a small sample tree, listens on a free port of 127.0.0.1,
writes the port number to PORTFILE once it accepts connections, and serves
until it is terminated. Everything is read-only but the "upload" folder.
"""
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

import pyftpd  # noqa: F401 (its active-mode fault mended: two sites of one server)

BIG_FILE_MIB = 50


def make_tree(root):
    def write(path, text):
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)

    write("readme.txt", "Welcome to Quillbeck's demonstration server.\n"
          "Download files, look into the folders, and upload into 'upload'.\n")
    write("notes/todo.txt", "1. Connect\n2. Explore\n3. Copy\n")
    write("notes/2024/january.txt", "A note in a nested folder.\n")
    write("notes/2024/deeper/still deeper.txt", "Three levels down.\n")
    write("Folder with spaces äöü/Ünïcödé file – ½.txt", "A name with spaces and non-ASCII.\n")
    write("Folder with spaces äöü/plain.txt", "Plain.\n")
    os.makedirs(os.path.join(root, "upload"), exist_ok=True)
    big = os.path.join(root, "big", "fifty-mib.bin")
    os.makedirs(os.path.dirname(big), exist_ok=True)
    if not os.path.exists(big) or os.path.getsize(big) != BIG_FILE_MIB << 20:
        with open(big, "wb") as f:
            block = bytes(range(256)) * 4096  # 1 MiB
            for _ in range(BIG_FILE_MIB):
                f.write(block)


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    root, port_file, user, password = sys.argv[1:]
    root = os.path.abspath(root)
    make_tree(root)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elr")
    authorizer.override_perm(user, os.path.join(root, "upload"), perm="elradfmwMT",
                             recursive=True)
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "Quillbeck demo server ready."
    handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", 0), handler)
    server.max_cons = 32
    port = server.socket.getsockname()[1]
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % port)
    os.rename(port_file + ".tmp", port_file)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()

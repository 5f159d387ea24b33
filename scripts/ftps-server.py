#!/usr/bin/env python3
"""pyftpdlib with explicit TLS required on control and data connections, for the
end-to-end tests: user "qb", password "qbsecret", full rights in ROOT.

    ftps-server.py PORT ROOT CERTFILE KEYFILE PASV_FIRST-PASV_LAST
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer

import pyftpd  # noqa: F401 (its active-mode fault mended here too)


def main():
    port, root, cert, key, ports = sys.argv[1:6]
    first, last = (int(p) for p in ports.split("-"))
    authorizer = DummyAuthorizer()
    authorizer.add_user("qb", "qbsecret", root, perm="elradfmwMT")
    handler = TLS_FTPHandler
    handler.certfile = cert
    handler.keyfile = key
    handler.authorizer = authorizer
    handler.tls_control_required = True
    handler.tls_data_required = True
    handler.passive_ports = range(first, last + 1)
    FTPServer(("127.0.0.1", int(port)), handler).serve_forever()


if __name__ == "__main__":
    main()

"""Command line of the simulator: one sub-command per device service.

Each service module offers register(subparsers), which adds its sub-commands and sets
`handler` on them; handlers take the parsed arguments and return the exit status. A new
service (UDP search, web login, examination) is one more module in SERVICES.
"""

import argparse
import sys

from devicesim import examine, search, share, weblogin

SERVICES = [share, search, weblogin, examine]


def build_parser():
    parser = argparse.ArgumentParser(
        prog="devicesim", description="Simulated networked document device.")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    for service in SERVICES:
        service.register(subparsers)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.handler(args)
    except OSError as error:
        print("devicesim: %s" % error, file=sys.stderr)
        return 1
    except ValueError as error:
        print("devicesim: %s" % error, file=sys.stderr)
        return 2

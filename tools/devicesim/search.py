"""The device's answer to the UDP server search.

Listens on the search port for the request "SERVERREQUEST" (COM "GETSERVERS", PARAM with
RESPTYPE, IP4ADRS and PORT) and answers each with one datagram per simulated device, sent to
the address and port that the request names. --device takes comma-separated key=value pairs
(hwname, ip4, ip6, http, https, netbios, romrev); ip4 defaults to the address the answer leaves
from. --raw adds an answer sent as it stands (a malformed or foreign one).

On start the command prints "search port=PORT" and serves until SIGTERM or SIGINT. It only
listens and answers unicast: it never broadcasts.
"""

import signal
import socket
import sys
import threading
import xml.etree.ElementTree as ElementTree
from xml.sax.saxutils import escape

MODEL = "QZV-4070"
MAX_REQUEST = 1024
FIELDS = ("ip4", "ip6", "http", "https", "hwname", "netbios", "romrev")
ELEMENTS = ("IP4ADRS", "IP6ADRS", "HTTP", "HTTPS", "HWNAME", "NETBIOS", "ROMREV")


def parse_device(text, index=1):
    device = {"ip4": "", "ip6": "", "http": "80", "https": "443", "hwname": MODEL,
              "netbios": "DEVICE%02d" % index, "romrev": "1.00"}
    for pair in filter(None, text.split(",")):
        key, sep, value = pair.partition("=")
        if not sep or key not in FIELDS:
            raise ValueError("bad device field: %r" % pair)
        device[key] = value
    return device


def parse_request(data):
    """(address, port) from a request datagram; ValueError when it is not one."""
    if len(data) > MAX_REQUEST:
        raise ValueError("request larger than %d bytes" % MAX_REQUEST)
    if b"<!DOCTYPE" in data or b"<!ENTITY" in data:
        raise ValueError("request with a document type")
    root = ElementTree.fromstring(data.decode("utf-8-sig"))
    if root.tag != "SERVERREQUEST" or root.findtext("COM") != "GETSERVERS":
        raise ValueError("not a GETSERVERS request")
    address = root.findtext("PARAM/IP4ADRS") or ""
    port = int(root.findtext("PARAM/PORT") or "")
    socket.inet_aton(address)
    if not 0 < port < 65536:
        raise ValueError("port out of range: %d" % port)
    return address, port


def make_response(device, own_address):
    values = dict(device)
    if not values["ip4"]:
        values["ip4"] = own_address
    body = "".join("<%s>%s</%s>" % (name, escape(values[field]), name)
                   for name, field in zip(ELEMENTS, FIELDS))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<SERVERRESPONSE><COM><DETAILS>%s'
            "</DETAILS></COM></SERVERRESPONSE>\n" % body).encode("utf-8")


def own_address_towards(address, port):
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        probe.connect((address, port))
        return probe.getsockname()[0]
    finally:
        probe.close()


class SearchResponder:
    """Answers search requests on one UDP socket until close()."""

    def __init__(self, devices, raw_answers=(), bind="127.0.0.1", port=61000):
        self.devices = list(devices)
        self.raw_answers = [a.encode("utf-8") if isinstance(a, str) else a for a in raw_answers]
        self.requests = []
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((bind, port))
        self.port = self.sock.getsockname()[1]
        self._closing = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._closing:
            try:
                data, sender = self.sock.recvfrom(65535)
            except OSError:
                return
            if self._closing:
                return
            try:
                address, port = parse_request(data)
            except (ValueError, ElementTree.ParseError, OSError) as error:
                sys.stderr.write("devicesim search: request from %s ignored: %s\n"
                                 % (sender[0], error))
                continue
            self.requests.append((address, port))
            own = own_address_towards(address, port)
            answers = [make_response(d, own) for d in self.devices] + self.raw_answers
            for answer in answers:
                self.sock.sendto(answer, (address, port))

    def close(self):
        self._closing = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self._thread.join(timeout=5)


def _search_command(args):
    devices = [parse_device(text, i + 1) for i, text in enumerate(args.device or [])]
    if not devices and not args.raw:
        devices = [parse_device("", 1)]
    responder = SearchResponder(devices, args.raw, args.bind, args.port)
    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())
    print("search port=%d" % responder.port, flush=True)
    stop.wait()
    responder.close()
    return 0


def register(subparsers):
    parser = subparsers.add_parser("search", help="answer the UDP server search")
    parser.add_argument("--bind", default="127.0.0.1",
                        help='address to listen on ("" for every address, e.g. in a namespace)')
    parser.add_argument("--port", type=int, default=61000)
    parser.add_argument("--device", action="append",
                        help="one simulated device: hwname=...,netbios=...,ip4=...,http=...")
    parser.add_argument("--raw", action="append", default=[],
                        help="an answer sent as it stands, e.g. a malformed one")
    parser.set_defaults(handler=_search_command)

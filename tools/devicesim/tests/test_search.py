"""Tests of the simulated search answer, over loopback only."""

import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

from devicesim import search  # noqa: E402

REQUEST = ('\ufeff<?xml version="1.0" encoding="UTF-8"?>\n<SERVERREQUEST>\n'
           "  <COM>GETSERVERS</COM>\n  <PARAM>\n    <RESPTYPE>RESPONSEDIRECT</RESPTYPE>\n"
           "    <IP4ADRS>127.0.0.1</IP4ADRS>\n    <PORT>%d</PORT>\n  </PARAM>\n"
           "</SERVERREQUEST>\n")


class SearchResponderTest(unittest.TestCase):
    def setUp(self):
        self.client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.client.bind(("127.0.0.1", 0))
        self.client.settimeout(5)
        self.addCleanup(self.client.close)

    def start(self, devices, raw=()):
        responder = search.SearchResponder(devices, raw, "127.0.0.1", 0)
        self.addCleanup(responder.close)
        return responder

    def ask(self, responder, request):
        self.client.sendto(request, ("127.0.0.1", responder.port))

    def test_answers_each_device_in_element_order_to_the_named_port(self):
        devices = [search.parse_device("netbios=DEV1,http=8080", 1),
                   search.parse_device("hwname=QZV-9999,ip4=10.0.0.9", 2)]
        responder = self.start(devices, raw=["<broken"])
        port = self.client.getsockname()[1]
        self.ask(responder, (REQUEST % port).encode("utf-8"))
        answers = [self.client.recvfrom(8192)[0] for _ in range(3)]
        self.assertIn(b"<SERVERRESPONSE><COM><DETAILS><IP4ADRS>127.0.0.1</IP4ADRS><IP6ADRS>"
                      b"</IP6ADRS><HTTP>8080</HTTP><HTTPS>443</HTTPS><HWNAME>QZV-4070</HWNAME>"
                      b"<NETBIOS>DEV1</NETBIOS><ROMREV>1.00</ROMREV></DETAILS>", answers[0])
        self.assertIn(b"<IP4ADRS>10.0.0.9</IP4ADRS>", answers[1])
        self.assertIn(b"<HWNAME>QZV-9999</HWNAME>", answers[1])
        self.assertEqual(b"<broken", answers[2])
        self.assertEqual([("127.0.0.1", port)], responder.requests)

    def test_ignores_what_is_not_a_request(self):
        responder = self.start([search.parse_device("", 1)])
        port = self.client.getsockname()[1]
        for bad in (b"<SERVERREQUEST><COM>OTHER</COM></SERVERREQUEST>", b"\xff\xfe",
                    (REQUEST % 70000).encode("utf-8"), b"x" * 2000,
                    b'<!DOCTYPE a [<!ENTITY e "x">]><SERVERREQUEST/>'):
            self.ask(responder, bad)
        self.ask(responder, (REQUEST % port).encode("utf-8"))
        self.client.recvfrom(8192)
        self.assertEqual([("127.0.0.1", port)], responder.requests)

    def test_bad_device_field_is_refused(self):
        with self.assertRaises(ValueError):
            search.parse_device("colour=red")


if __name__ == "__main__":
    unittest.main()

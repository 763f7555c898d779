"""Tests of the simulated web login over HTTP and HTTPS."""

import http.client
import json
import os
import ssl
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

from devicesim import weblogin  # noqa: E402

FORM_OK = b"name=admin&password=c2VjcmV0Kz8+"  # Base64 of "secret+?>" holds '+'


class WebLoginTest(unittest.TestCase):
    def start(self, **kwargs):
        self._temp = tempfile.TemporaryDirectory()
        self.log = os.path.join(self._temp.name, "requests.log")
        device = weblogin.Device("admin", "secret+?>", log_path=self.log, **kwargs)
        self.servers = weblogin.WebServers(device)
        self.addCleanup(self._temp.cleanup)
        self.addCleanup(self.servers.close)

    def post(self, path, body, https=False):
        if https:
            context = ssl.create_default_context(cafile=self.servers.cert)
            conn = http.client.HTTPSConnection("127.0.0.1", self.servers.https_port,
                                               context=context, timeout=10)
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.servers.http_port, timeout=10)
        conn.request("POST", path, body,
                     {"Content-Type": "application/x-www-form-urlencoded"})
        response = conn.getresponse()
        response.read()
        conn.close()
        return response

    def test_login_answers(self):
        cases = [  # (login answer, body, https, status, cookie expected)
            ("auto", FORM_OK, False, 302, True),
            ("auto", FORM_OK, True, 302, True),
            ("auto", b"name=admin&password=d3Jvbmc=", False, 200, False),
            ("auto", b"name=admin&password=not base64", False, 200, False),
            ("200", FORM_OK, False, 200, False),
            ("401", FORM_OK, False, 401, False),
            ("302", b"name=x&password=", False, 302, True),
        ]
        for answer, body, https, status, cookie in cases:
            with self.subTest(answer=answer, body=body, https=https):
                self.start(login_answer=answer)
                response = self.post(weblogin.LOGIN_PATH, body, https)
                self.assertEqual(status, response.status)
                self.assertEqual(cookie,
                                 "JSESSIONID=" in (response.getheader("Set-Cookie") or ""))
                self.servers.close()
                self._temp.cleanup()

    def test_logout_answer_and_request_log(self):
        self.start(logout_answer=501)
        self.assertEqual(501, self.post(weblogin.LOGOUT_PATH, FORM_OK).status)
        self.assertEqual(404, self.post("/other", FORM_OK).status)
        with open(self.log, encoding="utf-8") as log:
            entries = [json.loads(line) for line in log]
        self.assertEqual(weblogin.LOGOUT_PATH, entries[0]["path"])
        self.assertEqual(FORM_OK.decode("latin-1"), entries[0]["body"])

    def test_untrusted_certificate_is_refused_by_a_verifying_client(self):
        self.start()
        context = ssl.create_default_context()  # system trust store only
        conn = http.client.HTTPSConnection("127.0.0.1", self.servers.https_port,
                                           context=context, timeout=10)
        with self.assertRaises(ssl.SSLCertVerificationError):
            conn.request("POST", weblogin.LOGIN_PATH, FORM_OK)
        conn.close()


if __name__ == "__main__":
    unittest.main()

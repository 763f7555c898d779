"""Tests of the share layout and listing: python3 -m unittest discover -s tools/devicesim/tests
-t tools (or run this file directly)."""

import io
import os
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

from devicesim import cli, formats, share  # noqa: E402


class LayoutTest(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory()
        self.root = self._temp.name

    def tearDown(self):
        self._temp.cleanup()

    def test_lays_out_the_device_folders_and_setting(self):
        share.layout(self.root, extensions=["txt", "DOC"], max_size_mib=3,
                     timestamp="20240101120000")
        for folder in ("backup", "import", "import/data", "import/result"):
            self.assertTrue(os.path.isdir(os.path.join(self.root, "zereda", folder)), folder)
        with open(os.path.join(self.root, "zereda/import/setting.xml"), "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b'<?xml version="1.0" encoding="UTF-8"?>'))
        self.assertEqual(formats.parse_detection_setting(data),
                         (True, "20240101120000", ["txt", "DOC"], 3))
        # The order the program's reader walks: enable, timestamp, container, data..., maxfilesize.
        import xml.etree.ElementTree as ET
        names = [e.tag for e in ET.fromstring(data).iter()]
        self.assertEqual(names, ["setting", "enable", "timestamp", "extension", "data", "data",
                                 "maxfilesize"])

    def test_layout_again_keeps_content_and_rewrites_setting(self):
        share.layout(self.root)
        kept = os.path.join(self.root, "zereda/backup/PC01/a.txt")
        os.makedirs(os.path.dirname(kept))
        with open(kept, "w") as f:
            f.write("copy")
        share.layout(self.root, enabled=False)
        self.assertTrue(os.path.exists(kept))
        with open(os.path.join(self.root, "zereda/import/setting.xml"), "rb") as f:
            self.assertFalse(formats.parse_detection_setting(f.read())[0])
        self.assertEqual(os.listdir(os.path.join(self.root, "zereda/import")).count("setting.xml"), 1)
        self.assertEqual([n for n in os.listdir(os.path.join(self.root, "zereda/import"))
                          if n.endswith(".tmp")], [])

    def test_refuses_bad_values(self):
        for kwargs in ({"extensions": [".txt"]}, {"extensions": ["a/b"]},
                       {"max_size_mib": -1}, {"timestamp": "2024"}):
            with self.subTest(kwargs=kwargs):
                with self.assertRaises(ValueError):
                    share.layout(self.root, **kwargs)
        with self.assertRaises(FileNotFoundError):
            share.layout(os.path.join(self.root, "missing"))

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "needs root")
    def test_new_entries_take_the_owner_of_the_share_root(self):
        os.chown(self.root, 4321, 4321)
        share.layout(self.root)
        for relative in ("zereda", "zereda/backup", "zereda/import/data",
                         "zereda/import/setting.xml"):
            info = os.stat(os.path.join(self.root, relative))
            self.assertEqual((info.st_uid, info.st_gid), (4321, 4321), relative)


class ShowTest(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory()
        self.root = self._temp.name
        share.layout(self.root)

    def tearDown(self):
        self._temp.cleanup()

    def write(self, relative, size):
        path = os.path.join(self.root, "zereda/backup", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"x" * size)
        return path

    def test_prints_tree_with_sizes_and_totals(self):
        self.write("日本語/報告書.txt", 10)
        readonly = self.write("result_PC01.xml", 2048)
        os.chmod(readonly, stat.S_IRUSR)
        out = io.StringIO()
        share.show(self.root, out=out)
        text = out.getvalue()
        self.assertIn("├── result_PC01.xml  (2.0 KiB)  [read-only]", text)
        self.assertIn("└── 日本語/", text)
        self.assertIn("    └── 報告書.txt  (10 B)", text)
        self.assertTrue(text.endswith("2 file(s), 1 folder(s), 2058 bytes\n"))

    def test_command_line_reports_errors_with_status(self):
        self.assertEqual(cli.main(["layout", self.root, "--switch", "off"]), 0)
        self.assertEqual(cli.main(["show", os.path.join(self.root, "none")]), 1)
        self.assertEqual(cli.main(["layout", self.root, "--timestamp", "x"]), 2)


if __name__ == "__main__":
    unittest.main()

"""Tests of the examination of forwarded batches and of setting changes, in a temporary share."""

import io
import os
import sys
import tempfile
import time
import unittest
from xml.sax.saxutils import escape

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

from devicesim import cli, examine, formats, share  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
NOW = time.mktime((2024, 1, 2, 3, 4, 5, 0, 0, -1))


def file_list(pc, entries):
    """A file list as the program writes it (byte-order mark, declaration, indentation)."""
    body = "".join(
        "    <data>\n      <name>%s</name>\n      <transfername>%s</transfername>\n"
        "      <path>%s</path>\n      <timestamp>20240101000000</timestamp>\n    </data>\n"
        % (escape(name), escape(transfer), escape(path)) for name, transfer, path in entries)
    return ('\ufeff<?xml version="1.0" encoding="UTF-8"?>\n<filelist>\n  <pc>%s</pc>\n'
            "  <file>\n%s  </file>\n</filelist>\n" % (pc, body)).encode("utf-8")


class ExamineTest(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory()
        self.root = self._temp.name
        share.layout(self.root)
        self.data = os.path.join(self.root, "zereda/import/data")
        self.result = os.path.join(self.root, "zereda/import/result")
        self.err = io.StringIO()
        self.examiner = examine.Examiner(
            self.root, ["社外秘=社外秘|(?i:confidential)",
                        "電話番号=0\\d{1,4}-\\d{1,4}-\\d{4}"],
            clock=lambda: NOW, err=self.err)

    def tearDown(self):
        self._temp.cleanup()

    def put(self, name, content):
        with open(os.path.join(self.data, name), "wb") as out:
            out.write(content if isinstance(content, bytes) else content.encode("utf-8"))

    def test_examines_a_batch_end_to_end(self):
        self.put("PC01_memo_20240101000000.txt",
                 "社外秘: 連絡先 03-1234-5678 / 045-111-2222, CONFIDENTIAL\n")
        self.put("PC01_plain_20240101000001.txt", "nothing to see\n")
        self.put("PC01_memo_20240101000002.txt", b"\xff\xfeconfidential\x01")
        self.put("PC01_metadata_20240101000003.qzv", file_list("PC01", [
            ("memo.txt", "PC01_memo_20240101000000.txt", "/home/a/memo & <1>.txt"),
            ("plain.txt", "PC01_plain_20240101000001.txt", "/home/a/plain.txt"),
            ("memo.txt", "PC01_memo_20240101000002.txt", "/home/b/memo.txt"),
        ]))
        # A batch still on its way: files without their list yet.
        self.put("PC02_next_20240101000004.txt", "社外秘")

        done = self.examiner.examine_once()

        self.assertEqual([name for name, _ in done], ["PC01_metadata_20240101000003.qzv"])
        self.assertEqual(sorted(os.listdir(self.result)),
                         ["PC01_20240102030405.xml", "PC01_20240102030406.xml"])
        with open(os.path.join(self.result, "PC01_20240102030405.xml"), "rb") as f:
            written = f.read()
        with open(os.path.join(HERE, "golden", "PC01_20240102030405.xml"), "rb") as f:
            self.assertEqual(written, f.read())
        with open(os.path.join(self.result, "PC01_20240102030406.xml"), "rb") as f:
            second = f.read()
        self.assertIn(b"<path>/home/b/memo.txt</path>", second)
        self.assertIn(b"<text>confidential</text>", second)
        # The batch is gone; the next batch waits for its list.
        self.assertEqual(os.listdir(self.data), ["PC02_next_20240101000004.txt"])
        self.assertEqual(self.err.getvalue(), "")
        self.assertEqual(self.examiner.examine_once(), [])

    def test_reads_the_file_list_the_program_writes(self):
        with open(os.path.join(REPOSITORY, "tests/detection/golden/filelist"), "rb") as f:
            pc, entries = formats.parse_file_list(f.read())
        self.assertEqual(pc, "PC01")
        self.assertEqual([e["transfername"] for e in entries],
                         ["PC01_report_20170401123456.docx",
                          "PC01_見積 & <案>_20170401123457.pdf"])
        self.assertEqual(entries[1]["path"], "/home/a/見積 & <案>.pdf")

    def test_empty_groups_are_written_with_count_zero_on_request(self):
        examiner = examine.Examiner(self.root, ["a=alpha", "b=beta"], empty_groups=True,
                                    clock=lambda: NOW)
        self.put("PC01_x_1.txt", "alpha alpha")
        self.put("PC01_metadata_1.qzv", file_list("PC01", [("x.txt", "PC01_x_1.txt", "/x.txt")]))
        (_, results), = examiner.examine_once()
        with open(results[0], "rb") as f:
            text = f.read().decode("utf-8")
        self.assertIn("<name>a</name>\n      <count>2</count>", text)
        self.assertIn("<name>b</name>\n      <count>0</count>\n      <hits />", text)

    def test_lists_not_in_the_documented_form_stay_and_are_reported_once(self):
        bad_lists = {
            "PC01_metadata_1.qzv": b"<filelist><pc>PC01</pc><file><data>",
            "PC01_metadata_2.qzv": file_list("PC01", []).replace(b"<pc>PC01</pc>", b""),
            "PC01_metadata_3.qzv": b'<!DOCTYPE f [<!ENTITY e "x">]><filelist/>',
            "PC01_metadata_4.qzv": file_list("PC01", [("a", "b", "c")]).replace(
                b"<path>c</path>", b"<path></path>"),
            "PC01_metadata_5.qzv": file_list("../PC01", [("a", "b", "c")]),
        }
        for name, content in bad_lists.items():
            self.put(name, content)
        self.put("b", "社外秘")
        self.put("~tess0123456789abcdef.qzv", file_list("PC01", [("a", "b", "c")])[:40])
        self.assertEqual(self.examiner.examine_once(), [])
        self.assertEqual(self.examiner.examine_once(), [])
        self.assertEqual(sorted(os.listdir(self.data)),
                         sorted(list(bad_lists) + ["b", "~tess0123456789abcdef.qzv"]))
        self.assertEqual(os.listdir(self.result), [])
        self.assertEqual(self.err.getvalue().count("left in place"), len(bad_lists))
        # A list that was caught half-written is examined once it is complete.
        self.put("PC01_metadata_1.qzv", file_list("PC01", [("b.txt", "b", "/b.txt")]))
        self.assertEqual(len(self.examiner.examine_once()[0][1]), 1)

    def test_names_from_the_list_never_reach_outside_the_import_folder(self):
        outside = os.path.join(self.root, "zereda/import/setting.xml")
        self.put("PC01_metadata_1.qzv", file_list("PC01", [
            ("s.xml", "../setting.xml", "/s.xml"), ("gone.txt", "PC01_gone_1.txt", "/gone.txt")]))
        done = self.examiner.examine_once()
        self.assertEqual(done, [("PC01_metadata_1.qzv", [])])
        self.assertTrue(os.path.exists(outside))
        self.assertIn("'../setting.xml' is not a plain name", self.err.getvalue())
        self.assertIn("PC01_gone_1.txt is not there", self.err.getvalue())
        self.assertEqual(os.listdir(self.data), [])

    def test_command_line_once(self):
        out = io.StringIO()
        sys.stdout, saved = out, sys.stdout
        try:
            self.assertEqual(cli.main(["examine", self.root, "--once"]), examine.NO_LIST)
            self.put("PC01_a_1.txt", "社外秘")
            self.put("PC01_metadata_1.qzv", file_list("PC01", [("a.txt", "PC01_a_1.txt", "/a")]))
            self.assertEqual(cli.main(["examine", self.root, "--once", "--timeout", "5"]), 0)
            self.assertEqual(cli.main(["examine", self.root, "--once", "--pattern", "x"]), 2)
            self.assertEqual(cli.main(["examine", os.path.join(self.root, "none"), "--once"]), 1)
        finally:
            sys.stdout = saved
        self.assertIn("examined PC01_metadata_1.qzv: 1 result(s)\n  PC01_", out.getvalue())

    def test_command_line_result_groups_hits_by_category_in_order(self):
        out = io.StringIO()
        sys.stdout, saved = out, sys.stdout
        try:
            self.assertEqual(cli.main(["result", self.root, "--pc", "PC01", "--file", "a.txt",
                                       "--path", "/a/a.txt", "--hit", "x=1", "--hit", "y=2",
                                       "--hit", "x=3"]), 0)
            self.assertEqual(cli.main(["result", self.root, "--pc", "../PC", "--file", "a",
                                       "--path", "b"]), 2)
            self.assertEqual(cli.main(["result", self.root, "--pc", "PC01", "--file", "a",
                                       "--path", "b", "--hit", "nohit"]), 2)
        finally:
            sys.stdout = saved
        names = os.listdir(self.result)
        self.assertEqual(names, [out.getvalue().strip()])
        self.assertRegex(names[0], r"^PC01_\d{14}\.xml$")
        with open(os.path.join(self.result, names[0]), "rb") as f:
            text = f.read().decode("utf-8")
        self.assertEqual(text, formats.detection_result_xml(
            "a.txt", "/a/a.txt", names[0][5:19], [("x", ["1", "3"]), ("y", ["2"])]).decode())


class SettingChangeTest(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory()
        self.root = self._temp.name
        share.layout(self.root, extensions=["txt"], max_size_mib=10, timestamp="20240101120000")

    def tearDown(self):
        self._temp.cleanup()

    def read(self):
        with open(os.path.join(self.root, "zereda/import/setting.xml"), "rb") as f:
            return formats.parse_detection_setting(f.read())

    def test_changes_only_the_given_values(self):
        share.change_setting(self.root, extensions=["pdf", "DOCX"], keep_timestamp=True)
        self.assertEqual(self.read(), (True, "20240101120000", ["pdf", "DOCX"], 10))
        share.change_setting(self.root, enabled=False, max_size_mib=1,
                             timestamp="20240101120001")
        self.assertEqual(self.read(), (False, "20240101120001", ["pdf", "DOCX"], 1))

    def test_time_stamp_moves_on_unless_kept(self):
        share.change_setting(self.root, timestamp="29991231235959")
        # "Now" is earlier than the stored stamp: the new one is still later.
        self.assertEqual(share.change_setting(self.root)[1], "30000101000000")
        before = formats.now_timestamp()
        share.layout(self.root, timestamp="20000101000000")
        self.assertGreaterEqual(share.change_setting(self.root)[1], before)

    def test_command_line(self):
        out = io.StringIO()
        sys.stdout, saved = out, sys.stdout
        try:
            self.assertEqual(cli.main(["setting", self.root, "--switch", "off", "--extensions",
                                       "txt, pdf", "--max-size", "3", "--keep-timestamp"]), 0)
            self.assertEqual(cli.main(["setting", self.root, "--timestamp", "x"]), 2)
            self.assertEqual(cli.main(["setting", self.root, "--extensions", "a/b"]), 2)
            self.assertEqual(cli.main(["setting", os.path.join(self.root, "none")]), 1)
        finally:
            sys.stdout = saved
        self.assertEqual(out.getvalue(),
                         "setting switch=off timestamp=20240101120000 extensions=txt,pdf "
                         "max-size=3\n")
        self.assertEqual(self.read(), (False, "20240101120000", ["txt", "pdf"], 3))


if __name__ == "__main__":
    unittest.main()

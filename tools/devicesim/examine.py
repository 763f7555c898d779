"""The device's examination of forwarded files.

The program's forwarder copies files into zereda/import/data/ under unique names and then a
file list ("<PC>_metadata_<14 digits>.qzv") that names them. Files without a list yet belong
to a batch still on its way and are left alone. For every list the examiner reads each named
file, searches its content (UTF-8, undecodable bytes replaced) for the configured patterns,
writes one result file "<PC>_<14 digits>.xml" into zereda/import/result/ for every file with at
least one hit, and deletes the list and the files it names. A list that is not a file list in
the documented form is left in place with a warning on stderr (the program then sees a
leftover and sends nothing more), so that a disagreement with the format shows.

"examine SHARE_ROOT" serves until SIGTERM or SIGINT, printing "examine root=PATH" on start and
one line per batch; "--once" examines what is there (waiting up to --timeout seconds for a
first list) and exits with 3 when no list came.
"""

import os
import re
import signal
import sys
import threading
import time

from devicesim import formats, share

DEFAULT_PATTERNS = ("社外秘=社外秘|(?i:confidential)", "電話番号=0\\d{1,4}-\\d{1,4}-\\d{4}")
MAX_EXAMINED_BYTES = 64 * 1024 * 1024
NO_LIST = 3


def parse_pattern(text):
    """(category, compiled expression) from "CATEGORY=REGEX"; ValueError when malformed."""
    category, sep, expression = text.partition("=")
    if not sep or not category or not expression:
        raise ValueError("pattern must be CATEGORY=REGEX: %r" % text)
    try:
        return category, re.compile(expression)
    except re.error as error:
        raise ValueError("bad expression in %r: %s" % (text, error)) from None


def is_plain_name(name):
    """True for a name that stays inside its folder: no separator, no control character."""
    return (bool(name) and name not in (".", "..") and "/" not in name and "\\" not in name
            and not any(ord(c) < 0x20 or ord(c) == 0x7F for c in name))


class Examiner:
    """Examines the batches in one share's import folder."""

    def __init__(self, root, patterns=DEFAULT_PATTERNS, max_hits=20, empty_groups=False,
                 clock=time.time, err=None):
        if max_hits < 1:
            raise ValueError("max_hits must be at least 1: %r" % max_hits)
        self.tree = share.ShareTree(root)
        self.patterns = [parse_pattern(p) if isinstance(p, str) else p for p in patterns]
        self.max_hits = max_hits
        self.empty_groups = empty_groups
        self.clock = clock
        self.err = err or sys.stderr
        self.refused = set()  # (name, size, mtime) of lists already reported as malformed

    def warn(self, text):
        self.err.write("examine: %s\n" % text)
        self.err.flush()

    def pending_lists(self):
        """Names of the file lists in the import folder, without the temporaries a copy in
        progress writes ("~..." or "....") before renaming them."""
        folder = self.tree.path(share.IMPORT_DATA)
        return sorted(n for n in os.listdir(folder)
                      if n.endswith(formats.FILE_LIST_SUFFIX) and not n.startswith(("~", "."))
                      and os.path.isfile(os.path.join(folder, n)))

    def groups_of(self, content):
        """[(category, [hits])] of a file's content, in pattern order."""
        text = content.decode("utf-8", errors="replace")
        groups = []
        for category, expression in self.patterns:
            hits = []
            for match in expression.finditer(text):
                if match.group(0):
                    hits.append(match.group(0))
                    if len(hits) >= self.max_hits:
                        break
            if hits or self.empty_groups:
                groups.append((category, hits))
        return groups

    def examine_once(self):
        """Examines every complete batch; returns [(list name, [result paths])]."""
        done = []
        for list_name in self.pending_lists():
            results = self.examine_batch(list_name)
            if results is not None:
                done.append((list_name, results))
        return done

    def examine_batch(self, list_name):
        data_folder = self.tree.path(share.IMPORT_DATA)
        list_path = os.path.join(data_folder, list_name)
        with open(list_path, "rb") as source:
            info = os.fstat(source.fileno())
            version = (list_name, info.st_size, info.st_mtime_ns)
            if version in self.refused:
                return None  # reported already; looked at again once it changes
            data = source.read(formats.MAX_FILE_LIST + 1)
        try:
            pc, entries = formats.parse_file_list(data)
            if not is_plain_name(pc):
                raise ValueError("PC name %r cannot start a file name" % pc)
        except ValueError as error:
            self.refused.add(version)
            self.warn("%s left in place: %s" % (list_name, error))
            return None
        self.tree.make_folder(share.IMPORT_RESULT)
        results = []
        names = []
        for entry in entries:
            transfer = entry["transfername"]
            if not is_plain_name(transfer):
                self.warn("%s: transfer name %r is not a plain name" % (list_name, transfer))
                continue
            names.append(transfer)
            try:
                with open(os.path.join(data_folder, transfer), "rb") as source:
                    content = source.read(MAX_EXAMINED_BYTES)
            except FileNotFoundError:
                self.warn("%s: listed file %s is not there" % (list_name, transfer))
                continue
            groups = self.groups_of(content)
            if not any(hits for _, hits in groups):
                continue
            results.append(self.write_result(pc, entry, groups))
        for name in names + [list_name]:
            try:
                os.remove(os.path.join(data_folder, name))
            except FileNotFoundError:
                pass
        return results

    def write_result(self, pc, entry, groups):
        """Writes one result file under a name no other result in the folder has."""
        stamp = time.strftime("%Y%m%d%H%M%S", time.localtime(self.clock()))
        while os.path.exists(self.tree.path(share.IMPORT_RESULT, "%s_%s.xml" % (pc, stamp))):
            stamp = formats.next_timestamp(stamp)
        name = "%s_%s.xml" % (pc, stamp)
        data = formats.detection_result_xml(entry["name"], entry["path"], stamp, groups)
        return self.tree.write_file(os.path.join(share.IMPORT_RESULT, name), data)


def _report(done, out):
    for list_name, results in done:
        out.write("examined %s: %d result(s)\n" % (list_name, len(results)))
        for path in results:
            out.write("  %s\n" % os.path.basename(path))
    out.flush()


def _examine_command(args):
    examiner = Examiner(args.root, args.pattern or DEFAULT_PATTERNS, args.max_hits,
                        args.empty_groups)
    if not os.path.isdir(examiner.tree.path(share.IMPORT_DATA)):
        raise FileNotFoundError("no import folder: %s" % examiner.tree.path(share.IMPORT_DATA))
    if args.once:
        deadline = time.monotonic() + args.timeout
        while True:
            done = examiner.examine_once()
            if done or time.monotonic() >= deadline:
                break
            time.sleep(min(args.interval, max(0.0, deadline - time.monotonic())))
        _report(done, sys.stdout)
        return 0 if done else NO_LIST
    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())
    print("examine root=%s" % examiner.tree.root, flush=True)
    while not stop.is_set():
        _report(examiner.examine_once(), sys.stdout)
        stop.wait(args.interval)
    return 0


def parse_hit(text):
    """(category, hit text) from "CATEGORY=TEXT"; ValueError when malformed."""
    category, sep, hit = text.partition("=")
    if not sep or not category or not hit:
        raise ValueError("hit must be CATEGORY=TEXT: %r" % text)
    return category, hit


def _result_command(args):
    """Writes one result file as if a forwarded file had been examined."""
    if not is_plain_name(args.pc):
        raise ValueError("PC name %r cannot start a file name" % args.pc)
    groups = []
    for category, hit in (parse_hit(h) for h in args.hit or ()):
        for name, hits in groups:
            if name == category:
                hits.append(hit)
                break
        else:
            groups.append((category, [hit]))
    examiner = Examiner(args.root)
    examiner.tree.make_folder(share.IMPORT_RESULT)
    path = examiner.write_result(args.pc, {"name": args.file, "path": args.path}, groups)
    print(os.path.basename(path), flush=True)
    return 0


def register(subparsers):
    result = subparsers.add_parser(
        "result", help="write one detection result into zereda/import/result",
        description="Writes <PC>_<14 digits>.xml into zereda/import/result as the examination "
                    "of one file would, and prints its name.")
    result.add_argument("root", metavar="SHARE_ROOT")
    result.add_argument("--pc", required=True, help="the computer name the result is for")
    result.add_argument("--file", required=True, help="the examined file's name")
    result.add_argument("--path", required=True, help="the examined file's path on the PC")
    result.add_argument("--hit", action="append", metavar="CATEGORY=TEXT",
                        help="one matched text of a category (repeatable, in order)")
    result.set_defaults(handler=_result_command)

    parser = subparsers.add_parser(
        "examine", help="examine forwarded batches in zereda/import/data",
        description="Reads each file list in zereda/import/data, writes a result file into "
                    "zereda/import/result for every listed file whose content matches a "
                    "pattern, and deletes the batch.")
    parser.add_argument("root", metavar="SHARE_ROOT")
    parser.add_argument("--pattern", action="append", metavar="CATEGORY=REGEX",
                        help="a category and the expression it matches (repeatable; default "
                             + ", ".join(DEFAULT_PATTERNS) + ")")
    parser.add_argument("--max-hits", type=int, default=20,
                        help="hits kept per category and file (default 20)")
    parser.add_argument("--empty-groups", action="store_true",
                        help="also write categories without hits (count 0) in each result")
    parser.add_argument("--interval", type=float, default=1.0,
                        help="seconds between looks at the import folder (default 1)")
    parser.add_argument("--once", action="store_true",
                        help="examine once and exit (3 when no file list came)")
    parser.add_argument("--timeout", type=float, default=0.0,
                        help="with --once: seconds to wait for a first file list (default 0)")
    parser.set_defaults(handler=_examine_command)

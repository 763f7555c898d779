"""The device's file share as a folder tree: lay it out as the device keeps it, show what the
program left in it.

Works on the folder directly: a local share root (the program's LocalShare), or the folder
that smbd serves (scripts/smbd-fixture's TESSARINE_SMB_ROOT). Everything created takes the
owner of the share root, so that smbd's account can write where the device lets it.
"""

import os
import stat
import sys

from devicesim import DEVICE_SHARE, formats

BACKUP = "backup"
IMPORT = "import"
IMPORT_DATA = os.path.join(IMPORT, "data")
IMPORT_RESULT = os.path.join(IMPORT, "result")
DEFAULT_EXTENSIONS = ("txt", "doc", "docx", "xls", "xlsx", "pdf")


class ShareTree:
    """Paths below one share root ("<root>/zereda/...") and writes that keep the ownership."""

    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.share = os.path.join(self.root, DEVICE_SHARE)
        self._new_owner = self._owner()

    def path(self, *parts):
        return os.path.join(self.share, *parts)

    def _owner(self):
        """(uid, gid) to give new entries: the owner of the share folder, or of the share root
        before the share folder exists; None when no change of owner is needed."""
        if os.geteuid() != 0:
            return None
        for candidate in (self.share, self.root):
            try:
                info = os.stat(candidate)
            except FileNotFoundError:
                continue
            if info.st_uid == 0:
                return None
            return info.st_uid, info.st_gid
        return None

    def _adopt(self, path):
        if self._new_owner is not None:
            os.chown(path, *self._new_owner)

    def make_folder(self, *parts):
        """Creates a folder below the share (and the share folder itself) if missing."""
        if not os.path.isdir(self.root):
            raise FileNotFoundError("share root does not exist: %s" % self.root)
        components = [c for part in parts for c in part.split(os.sep) if c]
        current = self.share
        for component in [None] + components:
            if component is not None:
                current = os.path.join(current, component)
            if not os.path.isdir(current):
                os.mkdir(current, 0o755)
                self._adopt(current)
        return current

    def write_file(self, relative, data):
        """Writes a file below the share in one step (temporary name, then rename), so that
        a reader on the other side of smbd never sees half of it."""
        target = self.path(relative)
        folder = os.path.dirname(target)
        temporary = os.path.join(folder, ".devicesim-%d.tmp" % os.getpid())
        with open(temporary, "wb") as out:
            out.write(data)
        os.chmod(temporary, 0o644)
        self._adopt(temporary)
        os.replace(temporary, target)
        return target


def layout(root, enabled=True, extensions=DEFAULT_EXTENSIONS, max_size_mib=10, timestamp=None):
    """Creates zereda/backup, zereda/import (with setting.xml), import/data, import/result.
    Existing content stays; setting.xml is rewritten with the given values."""
    tree = ShareTree(root)
    tree.make_folder(BACKUP)
    tree.make_folder(IMPORT)
    tree.make_folder(IMPORT_DATA)
    tree.make_folder(IMPORT_RESULT)
    setting = formats.detection_setting_xml(enabled, timestamp, extensions, max_size_mib)
    tree.write_file(os.path.join(IMPORT, formats.SETTING_FILE), setting)
    return tree


def change_setting(root, enabled=None, extensions=None, max_size_mib=None, timestamp=None,
                   keep_timestamp=False):
    """Rewrites setting.xml with the given values changed and the others kept. The time stamp
    becomes `timestamp`, or stays with keep_timestamp, or else moves on to now (at least one
    second past the old one), as the device's does whenever its setting changes.
    Returns (enabled, timestamp, extensions, max_size_mib) as written."""
    tree = ShareTree(root)
    relative = os.path.join(IMPORT, formats.SETTING_FILE)
    with open(tree.path(relative), "rb") as source:
        old_enabled, old_timestamp, old_extensions, old_size = \
            formats.parse_detection_setting(source.read())
    if timestamp is None:
        if keep_timestamp:
            timestamp = old_timestamp
        else:
            timestamp = formats.now_timestamp()
            if old_timestamp.isdigit() and len(old_timestamp) == 14 and timestamp <= old_timestamp:
                timestamp = formats.next_timestamp(old_timestamp)
    values = (old_enabled if enabled is None else enabled, timestamp,
              list(old_extensions if extensions is None else extensions),
              old_size if max_size_mib is None else max_size_mib)
    tree.write_file(relative, formats.detection_setting_xml(*values))
    return values


def _human(size):
    for unit in ("B", "KiB", "MiB", "GiB"):
        if size < 1024 or unit == "GiB":
            return "%d %s" % (size, unit) if unit == "B" else "%.1f %s" % (size, unit)
        size /= 1024.0
    return "%d B" % size


def tree_lines(folder):
    """Lines of a tree drawing of `folder` with sizes, and the totals (files, folders, bytes)."""
    lines = []
    totals = [0, 0, 0]

    def walk(path, prefix):
        try:
            names = sorted(os.listdir(path))
        except OSError as error:
            lines.append("%s[unreadable: %s]" % (prefix, error.strerror))
            return
        for index, name in enumerate(names):
            last = index == len(names) - 1
            branch = "└── " if last else "├── "
            full = os.path.join(path, name)
            info = os.lstat(full)
            flags = "" if info.st_mode & stat.S_IWUSR else "  [read-only]"
            if stat.S_ISDIR(info.st_mode):
                totals[1] += 1
                lines.append("%s%s%s/%s" % (prefix, branch, name, flags))
                walk(full, prefix + ("    " if last else "│   "))
            else:
                totals[0] += 1
                totals[2] += info.st_size
                lines.append("%s%s%s  (%s)%s" % (prefix, branch, name, _human(info.st_size), flags))

    walk(folder, "")
    return lines, tuple(totals)


def show(root, folder=BACKUP, out=None):
    tree = ShareTree(root)
    target = tree.path(folder) if folder else tree.share
    write = (out or sys.stdout).write
    if not os.path.isdir(target):
        raise FileNotFoundError("no such folder on the share: %s" % target)
    lines, (files, folders, size) = tree_lines(target)
    write(target + "/\n")
    for line in lines:
        write(line + "\n")
    write("%d file(s), %d folder(s), %d bytes\n" % (files, folders, size))
    return 0


def _layout_command(args):
    extensions = [e.strip() for e in args.extensions.split(",") if e.strip()]
    tree = layout(args.root, args.switch == "on", extensions, args.max_size, args.timestamp)
    print(tree.share)
    return 0


def _setting_command(args):
    extensions = None
    if args.extensions is not None:
        extensions = [e.strip() for e in args.extensions.split(",") if e.strip()]
    enabled = None if args.switch is None else args.switch == "on"
    enabled, timestamp, extensions, size = change_setting(
        args.root, enabled, extensions, args.max_size, args.timestamp, args.keep_timestamp)
    print("setting switch=%s timestamp=%s extensions=%s max-size=%d"
          % ("on" if enabled else "off", timestamp, ",".join(extensions), size))
    return 0


def _show_command(args):
    return show(args.root, "" if args.all else args.folder)


def register(subparsers):
    parser = subparsers.add_parser(
        "layout", help="lay out the share as the device keeps it",
        description="Creates zereda/backup, zereda/import/setting.xml, zereda/import/data and "
                    "zereda/import/result below SHARE_ROOT.")
    parser.add_argument("root", metavar="SHARE_ROOT",
                        help="folder that holds (or will hold) the share folder 'zereda'")
    parser.add_argument("--switch", choices=("on", "off"), default="on",
                        help="detection switch in setting.xml (default on)")
    parser.add_argument("--extensions", default=",".join(DEFAULT_EXTENSIONS),
                        help="comma-separated extensions to ask for (default %(default)s)")
    parser.add_argument("--max-size", type=int, default=10, metavar="MIB",
                        help="largest file to forward, in MiB (default 10)")
    parser.add_argument("--timestamp", default=None,
                        help="setting time stamp, 14 digits (default: now)")
    parser.set_defaults(handler=_layout_command)

    parser = subparsers.add_parser(
        "setting", help="change the detection setting in setting.xml",
        description="Changes the given values of zereda/import/setting.xml and keeps the "
                    "others; the time stamp moves on unless given or kept.")
    parser.add_argument("root", metavar="SHARE_ROOT")
    parser.add_argument("--switch", choices=("on", "off"))
    parser.add_argument("--extensions", help="comma-separated extensions")
    parser.add_argument("--max-size", type=int, metavar="MIB")
    stamp = parser.add_mutually_exclusive_group()
    stamp.add_argument("--timestamp", help="new time stamp, 14 digits")
    stamp.add_argument("--keep-timestamp", action="store_true",
                       help="keep the old time stamp (the program then forwards differentially)")
    parser.set_defaults(handler=_setting_command)

    parser = subparsers.add_parser(
        "show", help="print what landed on the share",
        description="Prints the tree below zereda/backup (or another share folder) with sizes.")
    parser.add_argument("root", metavar="SHARE_ROOT")
    parser.add_argument("--folder", default=BACKUP,
                        help="folder below zereda to show (default backup)")
    parser.add_argument("--all", action="store_true", help="show the whole share")
    parser.set_defaults(handler=_show_command)

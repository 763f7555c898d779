"""XML documents the device keeps, receives or writes on its share.

The detection setting ("setting.xml" in zereda/import/) is read by the program's forwarder
as: root, enable ("on" switches detection on), timestamp (changes whenever the setting
changes), one container element, any number of data elements (file extensions without the
dot), then maxfilesize (MiB).

The file list ("<PC>_metadata_<14 digits>.qzv" in zereda/import/data/) is written by the
forwarder after the files it announces: filelist with pc and one file element holding a data
element per forwarded file (name, transfername, path, timestamp, in this order).

A detection result ("<PC>_<14 digits>.xml" in zereda/import/result/) is read by the program's
result checker as: root, file, path, timestamp, one container, then per group an element
holding name, count and a container with exactly count text elements.
"""

import re
import time
import xml.etree.ElementTree as ET

SETTING_FILE = "setting.xml"
FILE_LIST_SUFFIX = ".qzv"
MAX_FILE_LIST = 16 * 1024 * 1024
FILE_LIST_FIELDS = ("name", "transfername", "path", "timestamp")


def now_timestamp():
    """Local time as the 14 digits the device stamps its documents with."""
    return time.strftime("%Y%m%d%H%M%S", time.localtime())


def detection_setting_xml(enabled=True, timestamp=None, extensions=("txt",), max_size_mib=10):
    """The bytes of a detection setting document (UTF-8 with declaration)."""
    for ext in extensions:
        if not ext or ext.startswith(".") or any(c in ext for c in "/\\*?"):
            raise ValueError("not a file extension: %r" % ext)
    if timestamp is not None and not (len(timestamp) == 14 and timestamp.isdigit()):
        raise ValueError("time stamp must be 14 digits (YYYYMMDDhhmmss): %r" % timestamp)
    if max_size_mib < 0:
        raise ValueError("maximum size must not be negative: %r" % max_size_mib)
    root = ET.Element("setting")
    ET.SubElement(root, "enable").text = "on" if enabled else "off"
    ET.SubElement(root, "timestamp").text = timestamp or now_timestamp()
    container = ET.SubElement(root, "extension")
    for ext in extensions:
        ET.SubElement(container, "data").text = ext
    ET.SubElement(root, "maxfilesize").text = str(int(max_size_mib))
    ET.indent(root)
    body = ET.tostring(root, encoding="unicode")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n' + body + "\n").encode("utf-8")


def parse_detection_setting(data):
    """(enabled, timestamp, [extensions], max_size_mib) of a setting document."""
    root = ET.fromstring(data)
    enabled = (root.findtext("enable") or "") == "on"
    timestamp = root.findtext("timestamp") or ""
    extensions = [e.text or "" for e in root.iter("data")]
    max_size = int(root.findtext("maxfilesize") or "0")
    return enabled, timestamp, extensions, max_size


def next_timestamp(timestamp):
    """The 14-digit time stamp one second after `timestamp` (local time)."""
    seconds = time.mktime(time.strptime(timestamp, "%Y%m%d%H%M%S"))
    return time.strftime("%Y%m%d%H%M%S", time.localtime(seconds + 1))


def _children(element, names, what):
    children = list(element)
    tags = [child.tag for child in children]
    if tags != list(names):
        raise ValueError("%s holds %s, expected %s" % (what, tags, list(names)))
    return children


def parse_file_list(data):
    """(pc, [entry dicts with FILE_LIST_FIELDS]) of a file list; ValueError when the document
    is not a file list in the documented element order."""
    if len(data) > MAX_FILE_LIST:
        raise ValueError("file list larger than %d bytes" % MAX_FILE_LIST)
    if b"<!DOCTYPE" in data or b"<!ENTITY" in data:
        raise ValueError("file list with a document type")
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        raise ValueError("file list is not well-formed: %s" % error) from None
    if root.tag != "filelist":
        raise ValueError("root element is %r, not 'filelist'" % root.tag)
    pc, files = _children(root, ("pc", "file"), "filelist")
    if not (pc.text or "").strip():
        raise ValueError("file list names no PC")
    entries = []
    for index, data_element in enumerate(files):
        if data_element.tag != "data":
            raise ValueError("file holds %r, expected data" % data_element.tag)
        fields = _children(data_element, FILE_LIST_FIELDS, "data #%d" % (index + 1))
        entry = {field.tag: field.text or "" for field in fields}
        empty = [name for name, value in entry.items() if not value]
        if empty:
            raise ValueError("data #%d has empty %s" % (index + 1, ", ".join(empty)))
        entries.append(entry)
    return pc.text, entries


_NOT_XML_CHARACTER = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def xml_text(text):
    """`text` with every character XML 1.0 cannot hold replaced by U+FFFD."""
    return _NOT_XML_CHARACTER.sub("\ufffd", text)


def detection_result_xml(file_name, path, timestamp, groups):
    """The bytes of a detection result (UTF-8 with declaration). `groups` is a sequence of
    (category, [hit texts]); each group's count is the number of its hits."""
    root = ET.Element("detectresult")
    ET.SubElement(root, "file").text = file_name
    ET.SubElement(root, "path").text = path
    ET.SubElement(root, "timestamp").text = timestamp
    container = ET.SubElement(root, "groups")
    for category, hits in groups:
        group = ET.SubElement(container, "group")
        ET.SubElement(group, "name").text = category
        ET.SubElement(group, "count").text = str(len(hits))
        hit_container = ET.SubElement(group, "hits")
        for hit in hits:
            ET.SubElement(hit_container, "text").text = xml_text(hit)
    ET.indent(root)
    body = ET.tostring(root, encoding="unicode")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n' + body + "\n").encode("utf-8")

"""XML documents the device keeps or writes on its share.

The detection setting ("setting.xml" in zereda/import/) is read by the program's forwarder
as: root, enable ("on" switches detection on), timestamp (changes whenever the setting
changes), one container element, any number of data elements (file extensions without the
dot), then maxfilesize (MiB).
"""

import time
import xml.etree.ElementTree as ET

SETTING_FILE = "setting.xml"


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

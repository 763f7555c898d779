"""Simulated networked document device for the integration tests and the demo.

Python 3 standard library only, and independent of the C++ program: it knows the device's side
of the conversation (share layout, detection setting, later the search answer, the web login
and the examination of forwarded files) from the documented formats alone.
"""

DEVICE_SHARE = "zereda"

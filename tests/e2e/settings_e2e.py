"""Drives the settings window of a running TessarineTool through the accessibility bus.

Controls are found by role and accessible name, which are the captions a user reads. Each
command waits for what it needs and exits non-zero with a message when it does not come.

    settings_e2e.py PID COMMAND [ARG ...]

Commands (each finds the window of the program with process id PID):
  wait-window TITLE                 a showing window (frame or dialog) with this title
  set-text TITLE LABEL TEXT         the text field named LABEL in window TITLE gets TEXT
  check TITLE LABEL on|off          the check box LABEL is set to the state given
  press TITLE LABEL                 the showing push button LABEL is pressed
  tab TITLE LABEL                   the page tab LABEL is chosen
  choose TITLE LABEL                the radio button LABEL is chosen
  cell TITLE ITEM                   prints "x y width height" of the tree cell named ITEM
  label TITLE PREFIX                prints the showing label that starts with PREFIX
  answer TEXT BUTTON                a message box showing TEXT is answered with BUTTON
  buttons-inside TITLE              every showing push button of the window lies inside it
  windows                           prints the program's windows
  dump TITLE                        prints the window's tree (role, name, states)
"""
import sys
import time

import pyatspi

TIMEOUT = 20.0


def fail(message):
    print("settings_e2e.py: " + message, file=sys.stderr)
    sys.exit(1)


def retry(what, find, timeout=TIMEOUT):
    end = time.monotonic() + timeout
    while True:
        try:
            found = find()
        except Exception:  # the tree changes under us while windows open and close
            found = None
        if found is not None:
            return found
        if time.monotonic() > end:
            fail("timed out waiting for " + what)
        time.sleep(0.2)


def app_of(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def walk(acc, depth=0):
    yield acc, depth
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


TEXT_ROLES = (pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY)
WINDOW_ROLES = (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW, pyatspi.ROLE_ALERT)


def window(pid, title):
    app = app_of(pid)
    if app is None:
        return None
    for i in range(app.childCount):
        win = app.getChildAtIndex(i)
        if win is not None and win.getRole() in WINDOW_ROLES and win.name == title and showing(win):
            return win
    return None


def control(pid, title, roles, name):
    win = window(pid, title)
    if win is None:
        return None
    roles = roles if isinstance(roles, tuple) else (roles,)
    for acc, _ in walk(win):
        if acc.getRole() in roles and acc.name == name and showing(acc):
            return acc
    return None


def try_action(acc, names):
    try:
        action = acc.queryAction()
    except NotImplementedError:
        return False
    for i in range(action.nActions):
        if action.getName(i).lower() in names:
            action.doAction(i)
            return True
    return False


def do_action(acc, names):
    if not try_action(acc, names):
        fail("%s '%s' offers none of the actions %s" % (acc.getRoleName(), acc.name, names))


def main(argv):
    if len(argv) < 3:
        fail(__doc__)
    pid, command, args = int(argv[1]), argv[2], argv[3:]
    if command == "wait-window":
        retry("window " + args[0], lambda: window(pid, args[0]))
    elif command == "set-text":
        title, label, text = args
        edit = retry("text field " + label, lambda: control(pid, title, TEXT_ROLES, label))
        edit.queryEditableText().setTextContents(text)
        if edit.getRole() != pyatspi.ROLE_PASSWORD_TEXT:
            retry("text field %s to read %r" % (label, text),
                  lambda: True if edit.queryText().getText(0, -1) == text else None, 5)
    elif command == "check":
        title, label, state = args
        box = retry("check box " + label, lambda: control(pid, title, pyatspi.ROLE_CHECK_BOX, label))
        want = state == "on"
        if box.getState().contains(pyatspi.STATE_CHECKED) != want:
            do_action(box, ("toggle", "press", "click"))
        retry("check box %s %s" % (label, state),
              lambda: True if box.getState().contains(pyatspi.STATE_CHECKED) == want else None, 5)
    elif command == "press":
        title, label = args
        button = retry("button " + label,
                       lambda: control(pid, title, pyatspi.ROLE_PUSH_BUTTON, label))
        retry("button %s enabled" % label,
              lambda: True if button.getState().contains(pyatspi.STATE_ENABLED) else None, 10)
        do_action(button, ("press", "click"))
    elif command == "tab":
        title, label = args
        tab = retry("tab " + label, lambda: control(pid, title, pyatspi.ROLE_PAGE_TAB, label))
        if not try_action(tab, ("press", "click", "switch")):
            tab.parent.querySelection().selectChild(tab.getIndexInParent())
        # Qt names the tab list after the tab shown.
        retry("tab %s shown" % label, lambda: True if tab.parent.name == label else None, 5)
    elif command == "choose":
        title, label = args
        radio = retry("radio button " + label,
                      lambda: control(pid, title, pyatspi.ROLE_RADIO_BUTTON, label))
        if not radio.getState().contains(pyatspi.STATE_CHECKED):
            do_action(radio, ("press", "click", "toggle"))
        retry("radio button %s chosen" % label,
              lambda: True if radio.getState().contains(pyatspi.STATE_CHECKED) else None, 5)
    elif command == "cell":
        title, name = args
        roles = (pyatspi.ROLE_TREE_ITEM, pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_LIST_ITEM)
        item = retry("tree row " + name, lambda: control(pid, title, roles, name), 60)
        print("%d %d %d %d" % tuple(item.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)))
    elif command == "label":
        title, prefix = args

        def label():
            win = window(pid, title)
            if win is None:
                return None
            for acc, _ in walk(win):
                if acc.getRole() == pyatspi.ROLE_LABEL and showing(acc) and acc.name.startswith(prefix):
                    return acc
            return None

        print(retry("a label starting with " + prefix, label, 60).name)
    elif command == "answer":
        text, label = args

        def box():
            app = app_of(pid)
            if app is None:
                return None
            for i in range(app.childCount):
                win = app.getChildAtIndex(i)
                if win is None or not showing(win):
                    continue
                names = {acc.name for acc, _ in walk(win) if acc.getRole() == pyatspi.ROLE_LABEL}
                if text in names:
                    for acc, _ in walk(win):
                        if acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and acc.name == label:
                            return acc
            return None

        do_action(retry("a message box saying " + text, box), ("press", "click"))
    elif command == "buttons-inside":
        win = retry("window " + args[0], lambda: window(pid, args[0]))
        wx, wy, ww, wh = win.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        cut = []
        count = 0
        for acc, _ in walk(win):
            if acc.getRole() != pyatspi.ROLE_PUSH_BUTTON or not showing(acc):
                continue
            count += 1
            x, y, w, h = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            if w <= 0 or h <= 0 or x < wx or y < wy or x + w > wx + ww or y + h > wy + wh:
                cut.append("'%s' %dx%d+%d+%d" % (acc.name, w, h, x, y))
        if count == 0:
            fail("window %s shows no push button" % args[0])
        if cut:
            fail("window %s (%dx%d+%d+%d) cuts off: %s" % (args[0], ww, wh, wx, wy, ", ".join(cut)))
    elif command == "windows":
        app = retry("the program on the accessibility bus", lambda: app_of(pid))
        for i in range(app.childCount):
            win = app.getChildAtIndex(i)
            print("%s '%s' showing=%s" % (win.getRoleName(), win.name, showing(win)))
    elif command == "dump":
        win = retry("window " + args[0], lambda: window(pid, args[0]))
        for acc, depth in walk(win):
            states = [pyatspi.stateToString(s) for s in acc.getState().getStates()]
            print("%s%s '%s' %s" % ("  " * depth, acc.getRoleName(), acc.name,
                                   ",".join(s for s in states if s in ("showing", "enabled", "checked", "selected"))))
    else:
        fail("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)

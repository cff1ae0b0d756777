"""The panel as a screen-reader user meets it, through AT-SPI (names, roles, states, actions)
and the keyboard (xdotool), against the switcher emulator.

  keyboard: a status, a route, page changes and an EDID set with keys alone, no pointer.
  tree:     roles, names and states of every page and dialog; assistive presses answer at once.
  desktop:  under a window manager (run.sh starts openbox): the system menu's keys, the window
            manager's maximize and restore, what shows at each size.

Usage: panel_atspi.py PART CORVANE COMPORT (run.sh starts it inside its own X and buses)."""
import os
import subprocess
import sys
import time

import pyatspi

PRESS_LIMIT = 0.1  # seconds an assistive press may take: a screen reader's call must not wait
failures = []


def check(cond, what):
    print(('ok    ' if cond else 'FAIL  ') + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def wait_for(pred, timeout=10.0, step=0.1):
    end = time.time() + timeout
    while True:
        try:
            v = pred()
        except Exception:  # objects come and go while windows open and close
            v = None
        if v or time.time() > end:
            return v
        time.sleep(step)


def walk(acc, depth=0):
    if acc is None or depth > 30:
        return
    yield acc
    try:
        children = [acc.getChildAtIndex(i) for i in range(acc.childCount)]
    except Exception:
        return
    for c in children:
        yield from walk(c, depth + 1)


def find_all(root, role=None, name=None):
    out = []
    for a in walk(root):
        try:
            if (role is None or a.getRoleName() == role) and (name is None or a.name == name):
                out.append(a)
        except Exception:
            pass
    return out


def find(root, role=None, name=None, timeout=5.0):
    found = wait_for(lambda: find_all(root, role, name), timeout)
    return found[0] if found else None


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def has(acc, state):
    return acc is not None and acc.getState().contains(state)


def focused(root):
    for a in walk(root):
        try:
            if a.getState().contains(pyatspi.STATE_FOCUSED):
                return a
        except Exception:
            pass
    return None


def focused_is(root, role, name):
    f = focused(root)
    if f is not None and f.getRoleName() == role and f.name == name:
        return True
    print('      focus is on', None if f is None else (f.getRoleName(), f.name))
    return False


def key(k):
    subprocess.run(['xdotool', 'key', '--clearmodifiers', k], check=False)
    time.sleep(0.15)


def press(acc):
    """The accessible "Press"/"Toggle"; returns how long the call took."""
    act = acc.queryAction()
    names = [act.getName(i) for i in range(act.nActions)]
    index = next(i for i, n in enumerate(names) if n.lower() in ('press', 'toggle', 'click'))
    start = time.monotonic()
    act.doAction(index)
    return time.monotonic() - start


def listener():
    """A screen reader of its own process, keeping names as libatspi does; what it said so far."""
    log = os.path.join(os.environ['XDG_RUNTIME_DIR'], 'said')
    proc = subprocess.Popen([sys.executable, __file__, 'listen'], stdout=open(log, 'w'))
    return proc, lambda: open(log).read().splitlines()


def listen():  # the listener's process: every name read when told of it, a notification's said
    def heard(e):
        try:  # objects come and go
            if e.source.name is not None and e.source.getRoleName() == 'notification' and e.detail1:
                print(e.source.name, flush=True)
        except Exception:
            pass
    pyatspi.Registry.registerEventListener(heard, 'object:state-changed:showing', 'object:property-change:accessible-name')
    pyatspi.Registry.start()


NO_SESSION = 75  # the session could not be used: run.sh starts another
TITLE = None  # the main window's name: "4x2 Corvane Controller Ver" and the program's version


def start(panel):
    global TITLE
    version = subprocess.run([panel, '--version'], capture_output=True, text=True).stdout.split()
    TITLE = '4x2 Corvane Controller Ver' + (version[-1] if version else '?')
    proc = subprocess.Popen([panel])
    app = None
    end = time.time() + 20
    while app is None and time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            if a is not None and a.name == 'corvane':
                app = a
    if app is not None:
        # Read every name and state afresh, as a screen reader told of each change would: no copy
        # of the tree kept in this process goes stale.
        app.set_cache_mask(pyatspi.Atspi.Cache.NONE)
        app.clear_cache()
        time.sleep(0.2)
    if app is None:
        ended = proc.poll()
        proc.kill()
        print('the panel did not appear on the accessibility bus' +
              ('' if ended is None else ' (it ended with %d: no display?)' % ended))
        # A panel that could not reach the virtual display: run.sh tries a fresh one.
        sys.exit(NO_SESSION if ended is not None else 1)
    window = find(app, 'dialog', TITLE, 10)
    refocus(app)
    return proc, app, window


def refocus(app):
    """No window manager runs here: give the main window the keyboard as one would at start and
    when a modal window above it has closed."""
    subprocess.run(['xdotool', 'search', '--sync', '--onlyvisible', '--name', '^4x2 Corvane', 'windowfocus', '--sync'],
                   check=False, capture_output=True)
    wait_for(lambda: focused(app), 5)


def dialogs(app):
    """The panel's open windows other than the main window (a closed one may stay in the tree)."""
    out = []
    for i in range(app.childCount):
        a = app.getChildAtIndex(i)
        if a is not None and a.getRoleName() == 'dialog' and a.name != TITLE and showing(a):
            out.append(a)
    return out


def device_info(window):
    return [a.name for a in find_all(window, 'label') if a.name.endswith(': Connect') or a.name.endswith(': Disconnect')]


def keyboard(panel, port):
    proc, app, window = start(panel)
    try:
        check(focused_is(app, 'push button', 'Status'), 'focus starts on "Status"')
        # Tab: Clear, Port, Connect. The port list holds the emulator's port.
        key('Tab'), key('Tab')
        check(focused(app) is not None and focused(app).getRoleName() == 'combo box', 'Tab reaches the port list')
        check(focused(app).name == port, 'the port list shows ' + port)
        key('Tab')
        check(focused_is(app, 'push button', 'Connect'), 'Tab reaches "Connect"')
        for k in ('Return', 'KP_Enter', 'space', 'Escape'):
            key(k)
        check(find(window, 'push button', 'Disconnect', 1) is None, 'Enter, Escape and Space press nothing')
        key('ctrl+Return')
        check(find(window, 'push button', 'Disconnect', 5) is not None, 'Ctrl+Enter presses "Connect"')
        wait_for(lambda: False, 1.0)  # the DVI query of the connection is answered

        # Status, two stops back: the port list is passed over while the port is open.
        key('shift+Tab'), key('shift+Tab')
        check(focused_is(app, 'push button', 'Status'), 'Shift+Tab goes back to "Status"')
        key('ctrl+Return')
        busy = wait_for(lambda: [d for d in dialogs(app) if find_all(d, 'label', 'Getting status')], 5)
        check(bool(busy), 'the busy indicator reads "Getting status"')
        check(wait_for(lambda: not dialogs(app) and len(device_info(window)) >= 4, 20),
              'the status fills the device information')
        refocus(app)

        check(wait_for(lambda: focused_is(app, 'push button', 'Status'), 3), 'focus is back on "Status"')
        # The Matrix page: Ctrl+Tab, focus on output 1's previous arrow; IN3 four stops on.
        key('ctrl+Tab')
        tabs = find(window, 'page tab list')
        check(wait_for(lambda: [t.name for t in find_all(tabs, 'page tab') if has(t, pyatspi.STATE_SELECTED)] == ['Matrix']),
              'Ctrl+Tab selects the Matrix tab')
        check(wait_for(lambda: focused_is(app, 'push button', 'Output 1: previous input')),
              'focus lands on the page\'s first control')
        wait_for(lambda: False, 1.0)  # the route queries of the opening
        for _ in range(4):
            key('Tab')
        check(focused_is(app, 'radio button', 'Output 1: IN3'), 'Tab reaches IN3 of output 1 after the arrows')
        key('ctrl+Return')
        in3 = focused(app)
        check(wait_for(lambda: has(in3, pyatspi.STATE_CHECKED), 8), 'Ctrl+Enter routes input 3 to output 1')
        check(find(window, None, 'Output 1: input 3', 3) is not None, 'the picture reads "Output 1: input 3"')

        # Maximize from the system menu (Alt+Space; the menu is its own window and takes Enter).
        key('alt+space')
        menu = find(app, 'popup menu', 'System menu', 3)
        check(menu is not None, 'Alt+Space opens the system menu, found in the tree')
        key('Down'), key('Return')  # open on Minimize (Restore is off), one above Maximize
        edid_tab = find(tabs, 'page tab', 'EDID')
        check(wait_for(lambda: showing(edid_tab) and window.queryComponent().getExtents(0).width > 1000, 5),
              'Maximize shows the EDID tab')

        # The EDID page: Ctrl+PageDown twice (FW Upgrade, then EDID); a preset to input 1.
        key('ctrl+Next')
        wait_for(lambda: has(find(tabs, 'page tab', 'FW Upgrade'), pyatspi.STATE_SELECTED), 3)
        wait_for(lambda: False, 0.5)
        key('ctrl+Next')
        check(wait_for(lambda: has(edid_tab, pyatspi.STATE_SELECTED), 3), 'Ctrl+PageDown reaches the EDID page')
        wait_for(lambda: not dialogs(app) and 'Default EDID' not in [a.name for a in find_all(window, 'label')], 10)
        preset = focused(app)
        check(preset is not None and preset.getRoleName() == 'combo box', 'focus lands on the preset list')
        key('Down')
        chosen = preset.name
        key('Tab'), key('Tab')
        check(focused_is(app, 'push button', 'Set the preset'), 'Tab reaches "Set", read as "Set the preset"')
        key('ctrl+Return')
        # The emulator answers at once: "Setting" is gone within milliseconds, too soon to read;
        # the finished view stays 900 ms.
        check(bool(wait_for(lambda: [d for d in dialogs(app) if find_all(d, 'label', 'Set successfully!')], 10)),
              'the busy indicator ends with "Set successfully!"')
        wait_for(lambda: not dialogs(app), 5)
        refocus(app)
        # The input EDID list read back with the page's "Status", eight stops on.
        for _ in range(8):
            key('Tab')
        check(focused_is(app, 'push button', 'Status'), 'Tab reaches the EDID page\'s "Status"')
        key('ctrl+Return')
        check(wait_for(lambda: not dialogs(app) and chosen in [a.name for a in find_all(window, 'label')], 20),
              'input 1 reads its new EDID "%s"' % chosen)
        refocus(app)
        # Back with Ctrl+Shift+Tab: FW Upgrade.
        key('ctrl+shift+Tab')
        check(wait_for(lambda: has(find(tabs, 'page tab', 'FW Upgrade'), pyatspi.STATE_SELECTED), 3),
              'Ctrl+Shift+Tab goes back to FW Upgrade')
    finally:
        proc.terminate()
        proc.wait(5)


def timed_press(app, acc, what):
    took = press(acc)
    check(took < PRESS_LIMIT, '%s: the press returns in %.0f ms' % (what, took * 1000))


def tree(panel, port):
    proc, app, window = start(panel)
    reader, heard = listener()
    try:
        tabs = find(window, 'page tab list', 'Pages')
        check(tabs is not None, 'the tabs are a page tab list')
        page_tabs = find_all(tabs, 'page tab')
        check([t.name for t in page_tabs if showing(t)] != [] and len(page_tabs) == 4, 'four page tabs')
        check([t.name for t in page_tabs if has(t, pyatspi.STATE_SELECTED)] == ['General'], 'General is selected')
        for role, name in (('combo box', port), ('combo box', 'Switcher IP')):
            check(find(window, role, name, 1) is not None, '%s "%s"' % (role, name))
        clears = {a.name: a.description for a in find_all(window, 'push button') if a.name.lower() == 'clear'}
        check(len(set(clears.values())) == 2 and all(clears.values()), 'the two "clear" buttons say what they clear')
        close = find(window, 'push button', 'Close')
        check(close.description != close.name, 'the close button is read once')

        # Status: the press answers at once; the status sequence and its busy indicator follow.
        connect = find(window, 'push button', 'Connect')
        timed_press(app, connect, 'Connect')
        check(find(window, 'push button', 'Disconnect', 5) is not None, 'connected')
        wait_for(lambda: False, 1.0)  # the DVI query of the connection is answered
        timed_press(app, find(window, 'push button', 'Status'), 'Status')
        busy = wait_for(lambda: [d for d in dialogs(app) if find_all(d, 'label', 'Getting status')], 5)
        check(bool(busy), 'the busy indicator opens and reads "Getting status"')
        if busy:
            # Sampled while it is open (each dot step is 300 ms): the name never carries the dots.
            label = find_all(busy[0], 'label', 'Getting status')[0]
            names, samples = set(), 0
            end = time.time() + 1.0
            while time.time() < end and busy[0] in dialogs(app):
                try:
                    names.add(label.name)
                    samples += 1
                except Exception:
                    break
                time.sleep(0.05)
            check(samples >= 2 and names <= {'Getting status', ''},
                  'its name stays "Getting status" while the dots move (%d samples)' % samples)
        check(wait_for(lambda: not dialogs(app) and len(device_info(window)) >= 4, 20), 'the status sequence ends')
        said = find(window, 'notification', None, 3)
        check(said is not None and showing(said) and said.name.startswith('INPUT 1: ') and 'OUTPUT2: ' in said.name,
              'the outcome is said as a notification: ' + (said.name if said else 'none'))
        # Only the template's own empty static (1102, never hidden) may show without a name.
        nameless = [a.queryComponent().getExtents(1) for a in find_all(window, 'label') if showing(a) and not a.name]
        check(len(nameless) <= 1, 'the unused device lines are not showing: %s' % [(e.x, e.y) for e in nameless])

        # Factory Reset (out of sight: not showing, within reach of a screen reader): the question.
        for role, name in (('push button', 'Factory Reset'), ('page tab', 'EDID'), ('panel', 'Control Mode Select'),
                           ('panel', 'Reset to the factory settings'), ('label', 'Switcher IP'), ('label', 'RX:'),
                           ('combo box', 'Switcher IP')):
            beyond = find(window, role, name, 1)
            check(beyond is not None and not showing(beyond), '%s "%s" beyond the edge is not showing' % (role, name))
        check(find(window, 'text', 'RX', 0) is None, 'the log panes beyond the edge are not made yet')
        timed_press(app, find(window, 'push button', 'Factory Reset'), 'Factory Reset')
        question = 'Do you want to reset to factory settings?'
        box = find(app, 'dialog', question, 5)
        check(box is not None, 'the question box is named by its text')
        if box:
            check(find(box, 'label', question, 1) is not None, 'its text is a label')
            check(wait_for(lambda: focused_is(app, 'push button', 'Cancel'), 3), 'focus starts on "Cancel"')
            names = [(a.getRoleName(), a.name) for a in walk(box) if showing(a)]
            for item in (('push button', 'Cancel'), ('check box', 'No longer remind')):
                check(item in names, 'the question shows %s "%s"' % item)
            timed_press(app, find(box, 'push button', 'Cancel'), 'Cancel')
            check(wait_for(lambda: find(app, 'dialog', question, 0) is None, 5), 'Cancel closes the question')

        # Matrix page by the tab's own press; its buttons and pictures.
        timed_press(app, find(tabs, 'page tab', 'Matrix'), 'the Matrix tab')
        check(wait_for(lambda: has(find(tabs, 'page tab', 'Matrix'), pyatspi.STATE_SELECTED), 3), 'Matrix is selected')
        wait_for(lambda: False, 1.0)
        ins = [a for a in find_all(window, 'radio button') if a.name.startswith('Output') and showing(a)]
        check(len(ins) == 8 and sum(has(a, pyatspi.STATE_CHECKED) for a in ins) == 2,
              'eight IN buttons, read as the outputs\' choices, one checked per output')
        for o in (1, 2):
            for arrow in ('previous', 'next'):
                check(find(window, 'push button', 'Output %d: %s input' % (o, arrow), 1) is not None,
                      'the %s arrow of output %d' % (arrow, o))
        in2 = ins[5]  # output 2, IN2
        timed_press(app, in2, 'IN2 of output 2')
        check(wait_for(lambda: has(in2, pyatspi.STATE_CHECKED), 8), 'the route is set')
        check(wait_for(lambda: 'Output 2: input 2' in heard(), 3), 'a screen reader keeping names hears the route: %s' % heard())

        # FW Upgrade: named path and pane; Upgrade without a file tells so in the message box.
        timed_press(app, find(tabs, 'page tab', 'FW Upgrade'), 'the FW Upgrade tab')
        check(find(window, 'text', 'Open FW File', 3) is not None, 'the FW path field is named')
        check(find(window, 'text', 'Messages', 1) is not None, 'the FW message pane is named')
        wait_for(lambda: False, 0.5)
        timed_press(app, find(window, 'push button', 'Upgrade'), 'Upgrade')
        box = find(app, 'dialog', 'Please open the file(.fw)!', 5)
        check(box is not None, 'the message box reads "Please open the file(.fw)!"')
        if box:
            ok = find(box, 'push button', 'Ok')
            timed_press(app, ok, 'Ok')
            check(wait_for(lambda: find(app, 'dialog', 'Please open the file(.fw)!', 0) is None, 5), 'Ok closes it')

        # EDID page (its tab out of sight at this size, still pressable): Set.
        timed_press(app, find(tabs, 'page tab', 'EDID'), 'the EDID tab')
        check(wait_for(lambda: has(find(tabs, 'page tab', 'EDID'), pyatspi.STATE_SELECTED), 3), 'EDID is selected')
        wait_for(lambda: not dialogs(app) and find_all(window, 'push button', 'Set the preset'), 10)
        wait_for(lambda: False, 1.5)
        timed_press(app, find(window, 'push button', 'Set the preset'), 'Set')
        check(wait_for(lambda: [d for d in dialogs(app) if find_all(d, 'label', 'Set successfully!')], 10),
              'the EDID set ends with "Set successfully!"')
        wait_for(lambda: not dialogs(app), 5)

        # The system menu: in the tree while open, its items usable.
        key('alt+space')
        menu = find(app, 'popup menu', 'System menu', 3)
        check(menu is not None, 'the open system menu is in the tree')
        if menu:
            items = [menu.getChildAtIndex(i).name for i in range(menu.childCount)]
            check('Maximize' in items and 'Restore' in items, 'its items read ' + ', '.join(n for n in items if n))
            timed_press(app, find(menu, 'menu item', 'Maximize'), 'Maximize')
            check(wait_for(lambda: window.queryComponent().getExtents(0).width > 1000, 5), 'the window is maximized')

        # The network configuration dialog (TCP mode; Cancel sends nothing).
        timed_press(app, find(window, 'radio button', 'TCP Control Mode'), 'TCP Control Mode')
        timed_press(app, find(window, 'push button', 'Config...'), 'Config...')
        config = find(app, 'dialog', 'TCP Config', 5)
        check(config is not None, 'the network configuration dialog opens')
        if config:
            for role, name in (('radio button', 'Auto IP'), ('radio button', 'Static IP'),
                               ('text', 'IP address, part 1'), ('text', 'MAC address, part 6')):
                check(find(config, role, name, 1) is not None, 'it holds %s "%s"' % (role, name))
            timed_press(app, find(config, 'push button', 'Cancel'), 'Cancel')
            check(wait_for(lambda: not dialogs(app), 5), 'Cancel closes it')
    finally:
        reader.terminate()
        proc.terminate()
        proc.wait(5)


def wm_has_active_window():
    out = subprocess.run(['xprop', '-root', '_NET_ACTIVE_WINDOW'], capture_output=True, text=True).stdout
    return 'window id' in out and not out.strip().endswith('0x0')


def width(window):
    return window.queryComponent().getExtents(0).width


def selected_tabs(tabs):
    return [t.name for t in find_all(tabs, 'page tab') if has(t, pyatspi.STATE_SELECTED)]


def desktop(panel, port):
    proc, app, window = start(panel)
    try:
        tabs = find(window, 'page tab list')
        edid_tab = find(tabs, 'page tab', 'EDID')
        normal = width(window)
        check(normal < 700, 'the window opens at its own size (%d px wide)' % normal)
        check(wait_for(wm_has_active_window, 10), 'the window manager makes the window active')
        # Alt+Space is the window manager's where it binds the key, and opens the panel's menu
        # where it reaches the panel: which of the two happens is the window manager's affair (and
        # its timing), so only the panel's own keys below are checked. Escape closes either menu.
        key('alt+space')
        key('Escape')
        wait_for(lambda: find(app, 'popup menu', 'System menu', 0) is None, 3)
        refocus(app)
        # The panel's system menu by its own keys; Maximize is its third item.
        for keys in ('Menu', 'shift+F10'):
            key(keys)
            menu = find(app, 'popup menu', 'System menu', 3)
            if not check(menu is not None, '%s opens the system menu' % keys):
                continue
            key('Escape')
            wait_for(lambda: find(app, 'popup menu', 'System menu', 0) is None, 3)
        key('Menu')
        key('Down'), key('Return')  # Minimize, then Maximize
        check(wait_for(lambda: width(window) > 1000 and showing(edid_tab), 5), 'Maximize from the Menu key shows the EDID tab')
        key('shift+F10')
        key('Return')  # Restore, the first item
        check(wait_for(lambda: width(window) == normal, 5), 'Restore from Shift+F10 gives the window its own size back')

        # The window manager's maximize shows what the system menu's does.
        refocus(app)
        key('super+Up')
        check(wait_for(lambda: width(window) > 1000, 5), 'the window manager maximizes the window (Super+Up)')
        reset = find(window, 'push button', 'Factory Reset')
        check(wait_for(lambda: showing(edid_tab) and showing(reset), 3), 'the EDID tab and "Factory Reset" are shown')
        in_sight = [find(window, role, name, 3) for role, name in
                    (('text', 'RX'), ('text', 'TX'), ('label', 'RX:'), ('panel', 'Disable/Enable Beep'))]
        check(all(a is not None and showing(a) for a in in_sight), 'the log panes, labels and group boxes are shown')
        key('Menu')
        menu = find(app, 'popup menu', 'System menu', 3)
        if check(menu is not None, 'the Menu key opens the system menu of the maximized window'):
            enabled = {menu.getChildAtIndex(i).name: has(menu.getChildAtIndex(i), pyatspi.STATE_ENABLED)
                       for i in range(menu.childCount)}
            check(enabled.get('Restore') and not enabled.get('Maximize'), 'it offers Restore, not Maximize')
            key('Escape')
            check(wait_for(lambda: find(app, 'popup menu', 'System menu', 0) is None, 3), 'Escape closes it')
        # The EDID page, then the window manager's restore: a page whose tab is in sight.
        press(edid_tab)
        check(wait_for(lambda: selected_tabs(tabs) == ['EDID'], 3), 'the EDID page is chosen')
        # No link is open: the page says so, and the operator closes the box.
        box = find(app, 'dialog', 'Open COM failed!', 5)
        if check(box is not None, 'the EDID page without a link reads "Open COM failed!"'):
            press(find(box, 'push button', 'Ok'))
        check(wait_for(lambda: not dialogs(app), 5), 'the box closes')
        refocus(app)
        key('super+Down')
        check(wait_for(lambda: width(window) == normal, 5),
              'the window manager restores the window (Super+Down): %d px wide' % width(window))
        check(wait_for(lambda: not any(showing(a) for a in in_sight if a is not None), 3),
              'restored, the log panes, labels and group boxes beyond the edge are not showing')
        check(wait_for(lambda: selected_tabs(tabs) == ['General'], 3),
              'restored, the selected tab is one in sight: ' + ', '.join(selected_tabs(tabs)))
        stray = [i.name for c in find_all(window, 'combo box') if not showing(c) for i in find_all(c, 'list item') if showing(i)]
        check(not stray, 'the hidden EDID page\'s lists have no item showing: %s' % stray)
    finally:
        proc.terminate()
        proc.wait(5)


if __name__ == '__main__':
    if sys.argv[1:] == ['listen']:
        listen()
    part, panel, port = sys.argv[1:4]
    {'keyboard': keyboard, 'tree': tree, 'desktop': desktop}[part](panel, port)
    if failures:
        print('%d failed: %s' % (len(failures), '; '.join(failures)))
        sys.exit(1)
    print('all passed')

#!/usr/bin/python3
"""The web page in a real headless Chromium, driven through its accessibility tree by role and
name as a screen reader would, against corvaned holding two emulators (one on TCP, one on a
pseudo-terminal). Checks what the switchers really did with corvanectl, runs an axe-core audit
(WCAG 2 A and AA) and keeps screenshots at phone and desktop size.
  page_test.py CORVANED CORVANE_SIM CORVANECTL AXE_JS SHOT_DIR"""
import json, os, re, shutil, signal, socket, subprocess, sys, tempfile, threading, time

daemon, sim, ctl, axe_js, shots = sys.argv[1:6]
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
except ImportError as e:
    print('skipped: %s' % e)
    sys.exit(77)


class Page:
    """Headless Chromium at a size; its accessibility tree through the DevTools protocol."""

    def __init__(self, url, w, h):
        o = Options()
        for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--window-size=%d,%d' % (w, h)):
            o.add_argument(a)
        self.d = webdriver.Chrome(options=o)
        self.d.get(url)

    def nodes(self):
        return self.d.execute_cdp_cmd('Accessibility.getFullAXTree', {})['nodes']

    @staticmethod
    def role(n):
        return (n.get('role') or {}).get('value')

    @staticmethod
    def name(n):
        return ((n.get('name') or {}).get('value') or '').strip()

    @staticmethod
    def prop(n, p):
        for x in n.get('properties', []):
            if x['name'] == p:
                return x['value'].get('value')
        return False

    def tap(self, n):
        """A real pointer press and release at the middle of the node's box."""
        bid = n['backendDOMNodeId']
        self.d.execute_cdp_cmd('DOM.scrollIntoViewIfNeeded', {'backendNodeId': bid})
        q = self.d.execute_cdp_cmd('DOM.getBoxModel', {'backendNodeId': bid})['model']['content']
        x, y = (q[0] + q[4]) / 2, (q[1] + q[5]) / 2
        for t in ('mousePressed', 'mouseReleased'):
            self.d.execute_cdp_cmd('Input.dispatchMouseEvent',
                                   {'type': t, 'x': x, 'y': y, 'button': 'left', 'clickCount': 1})

    def quit(self):
        self.d.quit()
if not shutil.which('chromedriver') or not os.path.exists(axe_js):
    print('skipped: chromedriver or axe-core missing')
    sys.exit(77)

tmp = tempfile.mkdtemp(prefix='corvane-web-')
env = dict(os.environ, CORVANE_PORT_DIR=os.path.join(tmp, 'ports'))
procs = []
failures = []


def start(args, ready):
    """Starts a program and returns it with the first line of its output that matches ready."""
    p = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         env=env)
    procs.append(p)
    for line in p.stdout:
        m = re.search(ready, line)
        if m:  # the rest is read away, so that no program waits on a full pipe
            threading.Thread(target=p.stdout.read, daemon=True).start()
            return p, m
    raise RuntimeError('%s did not start' % args[0])


def corvanectl(*args):
    out = subprocess.run([ctl, *args, '--json'], capture_output=True, text=True, env=env, timeout=30)
    return json.loads(out.stdout) if out.returncode == 0 else None


def check(what, ok):
    print(('ok    ' if ok else 'FAIL  ') + what, flush=True)
    if not ok:
        failures.append(what)
        try:  # what the page said, for the log
            print('      page: %s' % page.d.execute_script(
                "return [...document.querySelectorAll('.availability, .result')].map(e => e.textContent)"))
        except Exception:
            pass


def wait(predicate, seconds=10.0):
    end = time.time() + seconds
    while time.time() < end:
        try:
            if predicate():
                return True
        except Exception:
            pass
        time.sleep(0.1)
    return False


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


tcp_port = free_port()
lobby_sim, _ = start([sim, '--tcp', '127.0.0.1:%d' % tcp_port], r'tcp: ')
stage_sim, m = start([sim, '--serial', '--control'], r'serial: (com\d+)')
lobby = ['--host', '127.0.0.1:%d' % tcp_port]
stage = ['--port', m.group(1)]
scenes = os.path.join(tmp, 'scenes')
os.mkdir(scenes)
corvanectl('route', '3', 'all', *lobby)
corvanectl('scene', 'save', os.path.join(scenes, 'Movie.json'), *lobby)
corvanectl('route', '1', '1', *lobby)
corvanectl('route', '2', '2', *lobby)
service, m = start([daemon, '--web', '127.0.0.1:0', '--host', '127.0.0.1:%d=Lobby' % tcp_port,
                    '--port', stage[1] + '=Stage', '--scenes', scenes, '--interval', '500'], r'API on (\S+)')
url = 'http://%s/' % m.group(1)

page = Page(url, 390, 844)


def descendants(node_id, nodes):
    by = {n['nodeId']: n for n in nodes}
    todo, out = list(by[node_id].get('childIds', [])), []
    while todo:
        n = by.get(todo.pop())
        if n:
            out.append(n)
            todo.extend(n.get('childIds', []))
    return out


def control(region, role, name, group=None):
    """The control of that role and name inside the region (and group) of that name."""
    nodes = page.nodes()
    scope = [n for n in nodes if page.role(n) == 'region' and page.name(n) == region]
    if not scope:
        return None
    inside = descendants(scope[0]['nodeId'], nodes)
    if group:
        g = [n for n in inside if page.role(n) == 'group' and page.name(n) == group]
        inside = descendants(g[0]['nodeId'], nodes) if g else []
    found = [n for n in inside if not n.get('ignored') and page.role(n) == role and page.name(n) == name]
    return found[0] if found else None


def state(region, role, name, prop, group=None):
    n = control(region, role, name, group)
    return None if n is None else str(page.prop(n, prop)).lower()


def text(region, selector):
    return page.d.execute_script(
        "return [...document.querySelectorAll('section')].find(s => s.querySelector('h2').textContent === arguments[0])"
        ".querySelector(arguments[1]).textContent", region, selector)


def routes(link):
    doc = corvanectl('route', *link)
    return doc and {r['output']: r['input'] for r in doc['routes']}


def audit(size):
    page.d.execute_script(open(axe_js).read())
    result = page.d.execute_async_script(
        "const done = arguments[0];"
        "axe.run(document, {runOnly: {type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa']}})"
        ".then(r => done(r.violations.map(v => v.id + ': ' + v.nodes.map(n => n.target.join(' ')).join(', '))))"
        ".catch(e => done(['axe failed: ' + e]));")
    check('axe-core at %s: no WCAG 2 A/AA violation %s' % (size, result), result == [])


try:
    page.d.set_script_timeout(30)
    check('the page loads with a region for each switcher',
          wait(lambda: state('Lobby', 'radio', 'IN1', 'checked', 'Output 1') == 'true' and
               control('Stage', 'radio', 'IN1', 'Output 1') is not None))
    check('a preset the switcher does not match is not pressed',
          state('Lobby', 'button', 'Movie', 'pressed') == 'false')
    page.d.save_screenshot(os.path.join(shots, 'phone.png'))
    audit('390x844')

    page.tap(control('Lobby', 'radio', 'IN3', 'Output 1'))
    check('tapping IN3 of Output 1 shows it checked',
          wait(lambda: state('Lobby', 'radio', 'IN3', 'checked', 'Output 1') == 'true'))
    check('... and the switcher routes it', routes(lobby) == {1: 3, 2: 2})

    corvanectl('route', '4', '2', *lobby)
    check('a change made with corvanectl shows',
          wait(lambda: state('Lobby', 'radio', 'IN4', 'checked', 'Output 2') == 'true'))
    stage_sim.stdin.write('input 4 on\n')
    stage_sim.stdin.flush()
    check("a source appearing on the emulator's input shows",
          wait(lambda: text('Stage', '.inputs li:nth-child(4) .signal') == 'signal'))

    page.tap(control('Lobby', 'button', 'Movie'))
    check('a preset tap applies it and shows pressed',
          wait(lambda: state('Lobby', 'button', 'Movie', 'pressed') == 'true'))
    check('... and the switcher shows the scene', routes(lobby) == {1: 3, 2: 3})
    check('... with its report in words', 'done' in text('Lobby', '.result'))

    # Keyboard alone: Tab to Output 2's checked radio, an arrow routes the next input.
    body = page.d.find_element('css selector', 'body')
    body.click()
    for _ in range(40):
        ActionChains(page.d).send_keys(Keys.TAB).perform()
        if page.d.execute_script("const e = document.activeElement; return e.type === 'radio' && e.checked"
                                 " && e.closest('fieldset').querySelector('legend').textContent === 'Output 2'"
                                 " && e.closest('section').querySelector('h2').textContent === 'Lobby'"):
            break
    ActionChains(page.d).send_keys(Keys.ARROW_RIGHT).perform()
    check('keyboard: an arrow on Output 2 routes the next input',
          wait(lambda: state('Lobby', 'radio', 'IN4', 'checked', 'Output 2') == 'true') and routes(lobby)[2] == 4)
    for _ in range(20):
        ActionChains(page.d).send_keys(Keys.TAB).perform()
        if page.d.execute_script("return document.activeElement.textContent === 'Beep'"):
            break
    beep = state('Lobby', 'switch', 'Beep', 'checked')
    ActionChains(page.d).send_keys(Keys.SPACE).perform()
    check('keyboard: Space on Beep turns it over',
          wait(lambda: state('Lobby', 'switch', 'Beep', 'checked') not in (beep, None)))

    stage_sim.kill()
    check('a switcher killed shows as away, its controls disabled',
          wait(lambda: state('Stage', 'radio', 'IN1', 'disabled', 'Output 1') == 'true'))
    page.tap(control('Lobby', 'radio', 'IN2', 'Output 1'))
    check('... while the other keeps working',
          wait(lambda: state('Lobby', 'radio', 'IN2', 'checked', 'Output 1') == 'true') and routes(lobby)[1] == 2)

    page.d.set_window_size(820, 1180)
    page.d.save_screenshot(os.path.join(shots, 'tablet.png'))
    page.d.set_window_size(1280, 900)
    page.d.save_screenshot(os.path.join(shots, 'desktop.png'))
    audit('1280x900')

    # The service ends while a command waits on a silent switcher: its outcome is not known.
    lobby_sim.send_signal(signal.SIGSTOP)
    page.tap(control('Lobby', 'radio', 'IN3', 'Output 1'))
    wait(lambda: text('Lobby', '.result') == 'Output 1 to IN3…')
    service.kill()
    check('a command whose connection ends before its answer says its outcome is not known',
          wait(lambda: text('Lobby', '.result') == 'Output 1 to IN3: not known, the connection to the service ended.'))
finally:
    page.quit()
    for p in procs:
        p.kill()
        p.wait()
    shutil.rmtree(tmp, ignore_errors=True)

print('%d failed' % len(failures))
sys.exit(1 if failures else 0)

#!/usr/bin/python3
"""A route tapped on corvaned's web page against the same route through the MQTT bridge, on one
emulator over a serial line paced as the real one (19200 baud). The page: from the tap (a real
pointer press and release in headless Chromium) until the radio of the new input shows checked. The bridge:
from the command published until the new route is published. "ratio" is the page's median over
the bridge's (goal: at most 1.1). A Mosquitto broker on a loopback port of its own.
  web_route.py BUILD_DIR [CHANGES]"""
import os, re, shutil, socket, statistics, subprocess, sys, tempfile, threading, time

build = sys.argv[1]
changes = int(sys.argv[2]) if len(sys.argv) > 2 else 40
try:
    import paho.mqtt.client as mqtt
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
except ImportError as e:
    print('web_route: skipped (%s)' % e)
    sys.exit(0)

tmp = tempfile.mkdtemp(prefix='corvane-bench-web-')
env = dict(os.environ, CORVANE_PORT_DIR=os.path.join(tmp, 'ports'))
procs = []


def start(args, ready):
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
    procs.append(p)
    for line in p.stdout:
        m = re.search(ready, line)
        if m:
            threading.Thread(target=p.stdout.read, daemon=True).start()
            return p, m
    raise RuntimeError('%s did not start' % args[0])


def stop(p):
    p.terminate()
    p.wait()


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def page_times(com):
    service, m = start([build + '/service/corvaned', '--web', '127.0.0.1:0', '--port', com + '=room',
                        '--interval', '600000'], r'API on (\S+)')
    o = Options()
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--window-size=390,844'):
        o.add_argument(a)
    d = webdriver.Chrome(options=o)
    times = []
    try:
        d.get('http://%s/' % m.group(1))
        d.set_script_timeout(30)
        radio = "document.querySelectorAll('.output')[0].querySelectorAll('input')[%d]"
        end = time.time() + 15
        while time.time() < end and not d.execute_script(
                "return document.getElementById('service').textContent === 'Live' && %s.closest"
                "('fieldset.controls').disabled === false" % (radio % 0)):
            time.sleep(0.1)
        for k in range(changes):
            i = (k + 1) % 4  # never the input shown
            # The page times itself: from the end of the tap (the finger lifted: before that a press
            # may still become a scroll) until the page sets the radio checked.
            d.execute_script("document.querySelector('.result').textContent = '';"
                             "const r = %s, tap = window.tap = (window.tap || 0) + 1; window.shown = null; let t = null;"
                             "const native = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'checked');"
                             "r.addEventListener('pointerup', () => { t = performance.now(); }, {once: true});"
                             "Object.defineProperty(r, 'checked', {configurable: true,"
                             "  get() { return native.get.call(this); },"
                             "  set(v) { native.set.call(this, v);"
                             "           if (v && t !== null && tap === window.tap && window.shown === null)"
                             "             window.shown = performance.now() - t; }});"
                             % (radio % i))
            box = d.execute_script("const b = %s.getBoundingClientRect(); return [b.x + b.width / 2,"
                                   " b.y + b.height / 2]" % (radio % i))
            for t in ('mousePressed', 'mouseReleased'):
                d.execute_cdp_cmd('Input.dispatchMouseEvent', {'type': t, 'x': box[0], 'y': box[1],
                                                               'button': 'left', 'clickCount': 1})
            end = time.time() + 10
            while time.time() < end and d.execute_script('return window.shown') is None:
                time.sleep(0.005)
            shown = d.execute_script('return window.shown')
            if shown is None:
                raise RuntimeError('the page did not show the route')
            times.append(shown)
            # The read-back and the result follow; the next tap waits for them.
            end = time.time() + 10
            while time.time() < end and not d.execute_script(
                    "return document.querySelector('.result').textContent.endsWith('done.')"):
                time.sleep(0.005)
    finally:
        d.quit()
        stop(service)
    return times


def mqtt_times(com):
    port = free_port()
    conf = os.path.join(tmp, 'mosquitto.conf')
    with open(conf, 'w') as f:
        f.write('listener %d 127.0.0.1\nallow_anonymous true\nuser root\npersistence false\nset_tcp_nodelay true\n'
                % port)
    broker, _ = start(['/usr/sbin/mosquitto', '-c', conf, '-v'], r' running')
    bridge, _ = start([build + '/service/corvaned', '--broker', '127.0.0.1:%d' % port, '--port', com,
                       '--prefix', 'bench/matrix', '--interval', '600000'], r'online|connected')
    seen, cv = {}, threading.Condition()
    client = mqtt.Client()
    client.on_message = lambda c, u, msg: (cv.acquire(), seen.__setitem__(msg.topic, msg.payload.decode()),
                                           cv.notify_all(), cv.release())
    client.connect('127.0.0.1', port)
    client.subscribe('bench/matrix/#')
    client.loop_start()

    def until(topic, value, seconds=10):
        with cv:
            return cv.wait_for(lambda: seen.get(topic) == value, seconds)

    times = []
    try:
        if not until('bench/matrix/availability', 'online', 15):
            raise RuntimeError('the bridge did not come online')
        for k in range(changes):
            value = str((k + 1) % 4 + 1)
            with cv:
                seen.pop('bench/matrix/output/1/input', None)
                seen.pop('bench/matrix/result', None)
            t = time.perf_counter()
            client.publish('bench/matrix/output/1/input/set', value)
            if not until('bench/matrix/output/1/input', value):
                raise RuntimeError('the bridge did not publish the route')
            times.append((time.perf_counter() - t) * 1000)
            with cv:  # the result follows; the next command waits for it
                cv.wait_for(lambda: 'bench/matrix/result' in seen, 10)
    finally:
        client.loop_stop()
        stop(bridge)
        stop(broker)
    return times


try:
    sim, m = start([build + '/sim/corvane-sim', '--serial', '--pace-line'], r'serial: (com\d+)')
    com = m.group(1).upper()
    web = page_times(com)
    bus = mqtt_times(com)
    print('web_route: tap to shown median %.1f ms, MQTT route median %.1f ms, ratio %.2f (goal <= 1.1; %d each)'
          % (statistics.median(web), statistics.median(bus), statistics.median(web) / statistics.median(bus),
             changes))
finally:
    for p in procs:
        if p.poll() is None:
            p.kill()
            p.wait()
    shutil.rmtree(tmp, ignore_errors=True)

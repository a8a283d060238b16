#!/usr/bin/python3
"""Records the requests a real browser sends when it submits the test pages.

Serves each page of tests/directions/web/form_cases/pages from a loopback
server, loads it in Debian's headless Chromium (driven over its DevTools
protocol), does the case's actions (set a control's value, click a control),
and writes the request the submission made, byte for byte, to recorded.json.
The web client's tests compare their own requests with these.

Needs: apt-get install chromium python3-websocket
Run:   tools/record_form_requests.py [case-name ...]
"""

import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websocket

HERE = os.path.dirname(os.path.abspath(__file__))
CASES_DIR = os.path.join(HERE, '..', 'tests', 'directions', 'web', 'form_cases')


class State:
    lock = threading.Lock()
    case = None  # the case being recorded
    page_served = False
    request = None
    got_request = threading.Event()


def latin1(data):
    return data.decode('latin-1')


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def handle_any(self):
        length = int(self.headers.get('Content-Length') or 0)
        body = self.rfile.read(length) if length else b''
        with State.lock:
            case = State.case
            if self.path == '/favicon.ico' or case is None:
                self.answer(404, b'text/plain', b'')
                return
            if not State.page_served and self.path == '/case/' + case['name']:
                State.page_served = True
                with open(os.path.join(CASES_DIR, 'pages', case['name'] + '.html'), 'rb') as f:
                    page = f.read()
                self.answer(200, case['contentType'].encode(), page)
                return
            if State.request is None:
                method, target, _ = self.raw_requestline.rstrip(b'\r\n').split(b' ', 2)
                State.request = {
                    'method': latin1(method),
                    'target': latin1(target),
                    'contentType': self.headers.get('Content-Type', ''),
                    'body': latin1(body),
                }
                State.got_request.set()
        self.answer(200, b'text/html; charset=utf-8', b'<html><body>done</body></html>')

    def answer(self, status, content_type, body):
        self.send_response(status)
        self.send_header('Content-Type', content_type.decode())
        self.send_header('Content-Length', str(len(body)))
        self.send_header('Connection', 'close')
        self.end_headers()
        self.wfile.write(body)

    do_GET = do_POST = handle_any


class DevTools:
    def __init__(self, url):
        self.ws = websocket.create_connection(url, timeout=20)
        self.next_id = 0
        self.events = []

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({'id': self.next_id, 'method': method, 'params': params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get('id') == self.next_id:
                if 'error' in message:
                    raise RuntimeError('%s: %s' % (method, message['error']))
                return message.get('result', {})
            self.events.append(message)

    def wait_event(self, method, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for i, event in enumerate(self.events):
                if event.get('method') == method:
                    del self.events[i]
                    return event
            self.events.append(json.loads(self.ws.recv()))
        raise TimeoutError(method)


ACTIONS_JS = '''(() => {
  function el(f, n) {
    const form = document.forms[f];
    if (!form) throw new Error('no form ' + f);
    for (const e of form.elements) if (e.name === n || e.id === n) return e;
    for (const e of form.querySelectorAll('*')) if (e.name === n || e.id === n) return e;
    throw new Error('no element ' + n);
  }
  %s
})()'''


def actions_script(actions):
    lines = []
    for action in actions:
        if action[0] == 'set':
            lines.append('el(%s, %s).value = %s;' % tuple(json.dumps(a) for a in action[1:4]))
        elif action[0] == 'click':
            lines.append('el(%s, %s).click();' % tuple(json.dumps(a) for a in action[1:3]))
        else:
            raise ValueError(action)
    return ACTIONS_JS % '\n  '.join(lines)


def start_chromium(profile):
    process = subprocess.Popen(
        ['chromium', '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--remote-debugging-port=0', '--user-data-dir=' + profile, 'about:blank'],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, 'DevToolsActivePort')
    for _ in range(200):
        if os.path.exists(port_file) and open(port_file).read().strip():
            break
        time.sleep(0.1)
    port = open(port_file).read().split()[0]
    targets = json.load(urllib.request.urlopen('http://127.0.0.1:%s/json/list' % port))
    page = next(t for t in targets if t['type'] == 'page')
    return process, page['webSocketDebuggerUrl']


def main():
    with open(os.path.join(CASES_DIR, 'cases.json')) as f:
        cases = json.load(f)
    wanted = set(sys.argv[1:])
    recorded_path = os.path.join(CASES_DIR, 'recorded.json')
    recorded = {}
    if os.path.exists(recorded_path):
        with open(recorded_path) as f:
            recorded = json.load(f)

    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = 'http://127.0.0.1:%d' % server.server_address[1]
    profile = tempfile.mkdtemp(prefix='record-forms-')
    process, ws_url = start_chromium(profile)
    failures = 0
    try:
        tools = DevTools(ws_url)
        tools.call('Page.enable')
        version = tools.call('Browser.getVersion')['product']
        for case in cases:
            if wanted and case['name'] not in wanted:
                continue
            with State.lock:
                State.case, State.page_served, State.request = case, False, None
                State.got_request.clear()
            tools.events.clear()
            tools.call('Page.navigate', url=base + '/case/' + case['name'])
            tools.wait_event('Page.loadEventFired')
            result = tools.call('Runtime.evaluate', expression=actions_script(case['actions']))
            if 'exceptionDetails' in result:
                print('%s: script failed: %s' % (case['name'], result['exceptionDetails']))
                failures += 1
                continue
            if not State.got_request.wait(10):
                print('%s: no request' % case['name'])
                failures += 1
                continue
            tools.wait_event('Page.loadEventFired')
            recorded[case['name']] = State.request
            print('%s: %s %s' % (case['name'], State.request['method'], State.request['target']))
        recorded['_browser'] = version
    finally:
        process.terminate()
        process.wait()
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    with open(recorded_path, 'w') as f:
        json.dump(recorded, f, indent=1, sort_keys=True, ensure_ascii=True)
        f.write('\n')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

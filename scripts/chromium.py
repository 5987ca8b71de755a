#!/usr/bin/python3
"""Headless Chromium (Debian's chromium) driven over the DevTools protocol on a pipe, for
the page's tests (tests/web/browser_test.py) and its screenshot (scripts/screenshots.sh).
The page is served on the loopback address from a thread of this process.

  chromium.py screenshot FOLDER QUERY SCALE SECONDS OUT
      the page in FOLDER, with QUERY (say "?seed=7"), at 800x600 CSS pixels and that
      device scale factor; of the moments looked at over SECONDS, the one with the most
      drawn is saved to OUT as a PNG
"""
import base64
import functools
import http.server
import json
import os
import select
import subprocess
import sys
import tempfile
import threading
import time

WIDTH, HEIGHT = 800, 600
FLAGS = ['--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--disable-quic', '--hide-scrollbars',
         '--remote-debugging-pipe']
ANSWER_SECONDS = 30
POLL_SECONDS = 0.1
# The canvas's pixels that are neither black nor transparent, once the model has loaded.
LIT = '''window.quorvane && (() => {
  const canvas = document.querySelector('canvas');
  const image = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
  return new Uint32Array(image.data.buffer).filter((pixel) => (pixel & 0xffffff) !== 0).length;
})()'''


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder):
    """Serves FOLDER on 127.0.0.1, on a port the system picks; returns its address."""
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(QuietHandler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f'http://127.0.0.1:{server.server_port}/'


class Page:
    def __init__(self, browser, target, session):
        self.browser, self.target, self.session = browser, target, session

    def send(self, method, **params):
        return self.browser.send(method, self.session, **params)

    def evaluate(self, expression):
        """The expression's value, once its promise (if any) has settled."""
        result = self.send('Runtime.evaluate', expression=expression, returnByValue=True, awaitPromise=True)
        if 'exceptionDetails' in result:
            raise RuntimeError(result['exceptionDetails'].get('exception', {}).get('description', expression))
        return result['result'].get('value')

    def wait(self, expression, seconds):
        """Polls until the expression is true; its last value."""
        deadline = time.monotonic() + seconds
        while True:
            try:
                value = self.evaluate(expression)
            except RuntimeError:
                value = None
            if value or time.monotonic() > deadline:
                return value
            time.sleep(POLL_SECONDS)

    def close(self):
        self.browser.send('Target.closeTarget', targetId=self.target)


class Browser:
    """One Chromium with a fresh profile; end() ends it by its process id."""

    def __init__(self):
        self.profile = tempfile.TemporaryDirectory()
        # Chromium reads commands from its fd 3 and writes answers to its fd 4.
        their_commands, self.commands = os.pipe()
        self.answers, their_answers = os.pipe()

        def give_pipes():
            os.dup2(their_commands, 3)
            os.dup2(their_answers, 4)

        self.process = subprocess.Popen(['chromium', *FLAGS, '--user-data-dir=' + self.profile.name],
                                        preexec_fn=give_pipes, pass_fds=(3, 4), stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(their_commands)
        os.close(their_answers)
        self.last_id = 0
        self.unread = b''

    def read(self):
        while b'\0' not in self.unread:
            if not select.select([self.answers], [], [], ANSWER_SECONDS)[0]:
                raise TimeoutError(f'Chromium did not answer within {ANSWER_SECONDS} s')
            chunk = os.read(self.answers, 1 << 20)
            if not chunk:
                raise EOFError('Chromium ended')
            self.unread += chunk
        message, self.unread = self.unread.split(b'\0', 1)
        return json.loads(message)

    def send(self, method, session=None, **params):
        """The result of one command; events that arrive meanwhile are dropped."""
        self.last_id += 1
        message = {'id': self.last_id, 'method': method, 'params': params}
        if session:
            message['sessionId'] = session
        os.write(self.commands, json.dumps(message).encode() + b'\0')
        while True:
            answer = self.read()
            if answer.get('id') == self.last_id:
                if 'error' in answer:
                    raise RuntimeError(f"{method}: {answer['error'].get('message')}")
                return answer['result']

    def open(self, url, scale):
        """A new tab at 800x600 CSS pixels and that device scale factor, loading URL."""
        target = self.send('Target.createTarget', url='about:blank')['targetId']
        page = Page(self, target, self.send('Target.attachToTarget', targetId=target, flatten=True)['sessionId'])
        page.send('Emulation.setDeviceMetricsOverride', width=WIDTH, height=HEIGHT, deviceScaleFactor=scale,
                  mobile=False)
        page.send('Page.navigate', url=url)
        return page

    def end(self):
        """Asks Chromium to close, so that it ends its own helper processes; else ends it."""
        try:
            self.send('Browser.close')
            self.process.wait(10)
        except (OSError, EOFError, RuntimeError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        os.close(self.commands)
        os.close(self.answers)
        self.profile.cleanup()


def screenshot(folder, query, scale, seconds, out):
    browser = Browser()
    try:
        page = browser.open(serve(folder) + query, float(scale))
        most, picture = 0, None
        deadline = time.monotonic() + float(seconds)
        while time.monotonic() < deadline or picture is None:
            lit = page.wait(LIT, ANSWER_SECONDS) or 0
            if lit > most:
                most, picture = lit, page.send('Page.captureScreenshot')['data']
            time.sleep(POLL_SECONDS * 2)
        with open(out, 'wb') as file:
            file.write(base64.b64decode(picture))
    finally:
        browser.end()


if __name__ == '__main__' and sys.argv[1:2] == ['screenshot'] and len(sys.argv) == 7:
    screenshot(*sys.argv[2:])
elif __name__ == '__main__':
    sys.exit(__doc__)

#!/usr/bin/python3
"""The page (web/) served on the loopback address, and Debian's headless Chromium driven by
Selenium (python3-selenium, chromium-driver), for scripts/web.sh, scripts/screenshots.sh and
the browser level's tests.

  browser.py serve FOLDER PORT
      serves FOLDER on http://127.0.0.1:PORT/ until Ctrl-C
  browser.py screenshot FOLDER QUERY SCALE SECONDS OUT
      the page in FOLDER, with QUERY (say "?seed=7"), at 800x600 CSS pixels and that
      device scale factor; of the moments looked at over SECONDS, the one with the most drawn is
      saved to OUT as a PNG
"""
import functools
import http.server
import sys
import tempfile
import threading
import time

FLAGS = ['--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--disable-quic', '--hide-scrollbars']
POLL_SECONDS = 0.1
WIDTH, HEIGHT = 800, 600  # the screenshot's page, in CSS pixels
# The canvas's pixels that are neither black nor transparent, once the model has loaded.
LIT = '''return window.quorvane && (() => {
  const canvas = document.querySelector('canvas');
  const image = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
  return new Uint32Array(image.data.buffer).filter((pixel) => (pixel & 0xffffff) !== 0).length;
})()'''


class Handler(http.server.SimpleHTTPRequestHandler):
    # Browsers load a module only as application/wasm, and read the app manifest by its own
    # type; this does not depend on the machine's table of types.
    extensions_map = {'.wasm': 'application/wasm', '.webmanifest': 'application/manifest+json',
                      '.js': 'text/javascript'}

    def log_message(self, *args):
        pass


def serve(folder, port=0):
    """Serves FOLDER on 127.0.0.1 from a thread (port 0: one the system picks); the server."""
    server = http.server.ThreadingHTTPServer(('127.0.0.1', port), functools.partial(Handler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def address(server):
    return f'http://127.0.0.1:{server.server_port}/'


def chromium(scale=1, width=800, height=600):
    """A Chromium with a fresh profile, its window WIDTHxHEIGHT (of which the headless
    browser keeps some for its bar) at that device scale factor. quit() ends it and its
    driver; the profile goes with this process."""
    # Serving alone needs no Selenium.
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in FLAGS:
        options.add_argument(flag)
    profile = tempfile.TemporaryDirectory()
    options.add_argument('--user-data-dir=' + profile.name)
    options.add_argument(f'--window-size={width},{height}')
    options.add_argument(f'--force-device-scale-factor={scale}')
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    driver.profile = profile
    return driver


def poll(probe, seconds, done=bool):
    """Calls PROBE until DONE holds for its value or SECONDS have passed; its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if done(value) or time.monotonic() > deadline:
            return value
        time.sleep(POLL_SECONDS)


def screenshot(folder, query, scale, seconds, out):
    server = serve(folder)
    driver = chromium(float(scale))
    try:
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': WIDTH, 'height': HEIGHT, 'deviceScaleFactor': float(scale), 'mobile': False})
        driver.get(address(server) + query)
        most, picture = 0, None
        deadline = time.monotonic() + float(seconds)
        while time.monotonic() < deadline or picture is None:
            lit = poll(lambda: driver.execute_script(LIT), 30) or 0
            if lit > most:
                most, picture = lit, driver.get_screenshot_as_png()
            time.sleep(POLL_SECONDS * 2)
        with open(out, 'wb') as file:
            file.write(picture)
    finally:
        driver.quit()
        server.shutdown()


if __name__ == '__main__' and sys.argv[1:2] == ['serve'] and len(sys.argv) == 4:
    serve(sys.argv[2], int(sys.argv[3]))
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
elif __name__ == '__main__' and sys.argv[1:2] == ['screenshot'] and len(sys.argv) == 7:
    screenshot(*sys.argv[2:])
elif __name__ == '__main__':
    sys.exit(__doc__)

#!/usr/bin/python3
# The page (web/) in Debian's headless Chromium, driven by Selenium: one case per row of
# ROWS, each in a new tab (driver) of the browser for its device scale factor, served by a
# server of its own (server). A row's check gives (what, got, want) facts; the case prints
# each that differs, then "PASS name" or "FAIL name". Exits 1 if any failed.
#
#   browser_test.py SITE WEB_FRAMES
# SITE is the built page's folder, WEB_FRAMES the native model's frames (tests/web/frames.cpp).
import io
import subprocess
import sys

from PIL import Image

sys.path.append(sys.path[0] + '/../../scripts')
from browser import LIT, address, chromium, poll, serve

SITE, WEB_FRAMES = sys.argv[1:3]
WAIT = 30
# The canvas's size and the first 4096 frames of seed 7 at that size.
CANVAS = 'const c = document.querySelector("canvas"); return [[c.width, c.height], quorvane.frames(7, c.width, c.height, 4096)]'
# Ticks a second over at least 2 s, both ends read on the page's own clock.
RATE = '''const [ticks, start] = [quorvane.ticks(), performance.now()];
return new Promise((done) => setTimeout(() => done(1000 * (quorvane.ticks() - ticks) / (performance.now() - start)), 2000));'''
# Before the page's own script: each wake lock request's type, in window.locks, instead of
# the request (which this browser may refuse or grant).
LOCKS = '''navigator.wakeLock.request = async (type) => { (window.locks ??= []).push(type); throw type; };'''


# What the screen shows: the canvas's backing store covers the window pixel for pixel, and
# every colour is black or one of the figure's first 4096 frames', red in the low byte.
def pixels():
    shot = Image.open(io.BytesIO(driver.get_screenshot_as_png()))
    store, frames = driver.execute_script(CANVAS)
    wheel = {(colour & 255, colour >> 8 & 255, colour >> 16) for colour in frames[4::6]}
    shown = {colour for count, colour in shot.getcolors(shot.width * shot.height)} - {(0, 0, 0)}
    return [('backing store', tuple(store), shot.size), ('colours off the wheel', len(shown - wheel), 0),
            ('lit pixels', bool(shown), True)]


# A stall on a busy machine drops ticks: it can only make a later measurement the one
# that passes.
def pace():
    rate = poll(lambda: driver.execute_script(RATE), WAIT, lambda rate: round(rate, -1) == 100)
    return [('ticks a second, to the nearest ten', round(rate, -1), 100)]


# Six fields a frame: from x, from y, to x, to y, colour, clear after.
def same_model(seed, width, height, count):
    def check():
        native = subprocess.check_output([WEB_FRAMES, *map(str, (seed, width, height, count))]).split()
        web = driver.execute_script(f'return quorvane.frames({seed}, {width}, {height}, {count})')
        differ = [i // 6 for i, (got, want) in enumerate(zip(web, native)) if got != int(want)]
        return [('fields', len(web), min(count, 4096) * 6), ('frames that differ', differ[:5], [])]
    return check


def installable():
    errors = poll(lambda: driver.execute_cdp_cmd('Page.getInstallabilityErrors', {})['installabilityErrors'], WAIT,
                  lambda errors: not errors)
    return [('installability errors', errors, [])]


def offline():
    driver.execute_script('return navigator.serviceWorker.ready')
    server.shutdown()
    server.server_close()
    driver.execute_cdp_cmd('Network.setCacheDisabled', {'cacheDisabled': True})
    driver.refresh()
    return [('drawn again without the server', bool(poll(lambda: driver.execute_script(LIT), WAIT)), True)]


def wake_lock():
    driver.find_element('tag name', 'canvas').click()
    return [('wake lock requests', poll(lambda: driver.execute_script('return window.locks'), WAIT), ['screen'])]


def crisp(scale):
    return f'every lit pixel a wheel colour at {scale}', '?seed=7&speed=1', scale, pixels


def speed(text, ms):
    return f'speed={text}: {ms} ms', f'?speed={text}', 1, lambda: [
        ('interval', driver.execute_script('return quorvane.interval()'), ms)]


# Name, query, device scale factor, check.
ROWS = [
    crisp(1), crisp(1.25), crisp(2), crisp(2.625),
    ('speed 1: 100 ticks a second', '?speed=1', 1, pace),
    speed('10', 1600), speed('0', 50), speed('11', 50), speed('abc', 50),
    ('same model, seed 7 at 800x600', '', 1, same_model(7, 800, 600, 2000)),
    ('same model, seed 1765113000 at 1920x1080, the 4096 kept', '', 1, same_model(1765113000, 1920, 1080, 5000)),
    ('installable', '', 1, installable),
    ('offline', '', 1, offline),
    ('full screen asks for a wake lock', '', 1, wake_lock),
]
browsers = {}


def run(query, scale, check):
    global driver, server
    server = serve(SITE)
    if scale not in browsers:
        browsers[scale] = chromium(scale, 803, 603)
    driver = browsers[scale]
    driver.switch_to.new_window()
    try:
        driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': LOCKS})
        driver.get(address(server) + query)
        poll(lambda: driver.execute_script(LIT), WAIT)
        return check()
    # The driver's, the page's or the native model's.
    except Exception as error:
        return [('error', repr(error), None)]
    finally:
        driver.close()
        driver.switch_to.window(driver.window_handles[0])
        server.shutdown()


failed = 0
for name, query, scale, check in ROWS:
    problems = [f'  {what}: got {got}, want {want}' for what, got, want in run(query, scale, check) if got != want]
    print(*problems, ('FAIL ' if problems else 'PASS ') + name, sep='\n')
    failed += bool(problems)
for driver in browsers.values():
    driver.quit()
sys.exit(1 if failed else 0)

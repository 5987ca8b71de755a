#!/usr/bin/python3
# The page (web/) in a real headless Chromium, served on the loopback address: one case per
# row of CASES. Prints what differed, then "PASS name" or "FAIL name"; exits 1 if any failed.
#
#   browser_test.py SITE WEB_FRAMES
# SITE is the built page's folder, WEB_FRAMES the native model's frames (tests/web/frames.cpp).
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '../../scripts'))
from chromium import LIT, Browser, serve  # noqa: E402

SITE, WEB_FRAMES = sys.argv[1:3]
LOAD_SECONDS = 10
FRAMES = 2000
# The canvas's size in device pixels and in CSS pixels, and its pixels: black, in a colour
# of the figure's first 4096 frames (red in the low byte, as in ImageData), or another.
PIXELS = '''(() => {
  const canvas = document.querySelector('canvas');
  const colours = new Set(quorvane.frames(7, canvas.width, canvas.height, 4096)
    .filter((_, i) => i % 6 === 4).map((colour) => (0xff000000 | colour) >>> 0));
  const counts = {black: 0, figure: 0, other: 0};
  const image = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
  for (const pixel of new Uint32Array(image.data.buffer))
    counts[pixel === 0xff000000 ? 'black' : colours.has(pixel) ? 'figure' : 'other']++;
  return [canvas.width, canvas.height, innerWidth, innerHeight, counts];
})()'''


def expect(problems, what, got, want):
    if got != want:
        problems.append(f'{what}: got {got}, want {want}')


# Within a few seconds, lines in the figure's colours on black, in device pixels.
def pixels(page, scale):
    page.wait(LIT, LOAD_SECONDS)
    width, height, css_width, css_height, counts = page.evaluate(PIXELS)
    problems = []
    expect(problems, 'backing store', (width, height), (css_width * scale, css_height * scale))
    expect(problems, 'lit pixels in other colours', counts['other'], 0)
    expect(problems, 'some lit, most black', 0 < counts['figure'] < counts['black'], True)
    return problems


# The ticks in SECONDS are one per interval, within 10% or one tick.
def pace(interval_ms, seconds):
    def check(page, scale):
        got = page.evaluate(f'new Promise((done) => {{ const first = quorvane.ticks(); '
                            f'setTimeout(() => done(quorvane.ticks() - first), {seconds * 1000}); }})')
        want = seconds * 1000 / interval_ms
        return [] if abs(got - want) <= max(1, want / 10) else [f'{got} ticks, want {want:g}']
    return check


# The page's first frames are the native model's; an end point may be one pixel off.
def same_model(seed, width, height):
    def check(page, scale):
        native = [int(field) for field in subprocess.run(
            [WEB_FRAMES, str(seed), str(width), str(height), str(FRAMES)], check=True, capture_output=True,
            text=True).stdout.split()]
        web = page.evaluate(f'quorvane.frames({seed}, {width}, {height}, {FRAMES})')
        # Six fields a frame: the two end points, the colour, the restart.
        ends_off = [abs(got - want) for field, (got, want) in enumerate(zip(web, native)) if field % 6 < 4]
        print(f'  {FRAMES} frames, {sum(web[5::6])} restarts, {ends_off.count(1)} end point coordinates one pixel off')
        problems = []
        expect(problems, 'largest end point difference', max(ends_off) <= 1, True)
        expect(problems, 'colours', web[4::6] == native[4::6], True)
        expect(problems, 'restarts', web[5::6] == native[5::6], True)
        return problems
    return check


CASES = [  # name, query, device scale factor, check(page, scale) -> what differed
    ('pixels', '?seed=7&speed=1', 1, pixels),
    ('high density', '?seed=7&speed=1', 2, pixels),
    ('speed 1', '?speed=1', 1, pace(3, 2)),
    ('speed 10', '?speed=10', 1, pace(1600, 4)),
    ('speed=0 is the default', '?speed=0', 1, pace(50, 1.5)),
    ('speed=11 is the default', '?speed=11', 1, pace(50, 1.5)),
    ('speed=abc is the default', '?speed=abc', 1, pace(50, 1.5)),
    ('same model, seed 7 at 800x600', '', 1, same_model(7, 800, 600)),
    ('same model, seed 1765113000 at 1920x1080', '', 1, same_model(1765113000, 1920, 1080)),
]


def main():
    address = serve(SITE)
    browser = Browser()
    failed = 0
    try:
        for name, query, scale, check in CASES:
            try:
                page = browser.open(address + query, scale)
                problems = check(page, scale) if page.wait('!!window.quorvane', LOAD_SECONDS) else ['no model']
                page.close()
            except (OSError, EOFError, RuntimeError) as error:
                problems = [str(error)]
            print(''.join(f'  {problem}\n' for problem in problems) + ('FAIL ' if problems else 'PASS ') + name)
            failed += bool(problems)
    finally:
        browser.end()
    return 1 if failed else 0


sys.exit(main())

// Quorvane in a browser. The model, saver/animation_model.cpp compiled to quorvane.wasm,
// decides each line; this script draws it, one device pixel wide, as the saver's pen does.
//   ?speed=N   1 (10 ms between lines) to 10 (1600 ms), as the saver's dialog sets it; default 5
//   ?seed=N    a fixed figure; otherwise the seed comes from the clock, as in the saver
'use strict';

const DefaultSpeed = 5;
// Windows delivers no timer faster than every 10 ms, so neither does the page.
const LeastIntervalMs = 10;
const MostCatchUpMs = 1000;  // after a stall, older ticks are dropped, not drawn at once
const Black = 0xff000000;
const FrameFields = 6;
const MostFrames = 4096;  // the frames glue.cpp keeps for the test hook

function QueryNumber(name, pattern) {
  const text = new URLSearchParams(location.search).get(name);
  return text !== null && pattern.test(text) ? Number(text) : null;
}

// Only the speeds the dialog can set; anything else gives the default.
const speed = QueryNumber('speed', /^([1-9]|10)$/) ?? DefaultSpeed;
const seed = QueryNumber('seed', /^-?\d{1,10}$/) ?? Math.floor(Date.now() / 1000);

const canvas = document.querySelector('canvas');
const context = canvas.getContext('2d', {alpha: false});
let model = null;
let image = null;
let pixels = null;
let dirty = null;  // [left, top, right, bottom] drawn since the last frame
let interval = 0;
let due = 0;
let ticks = 0;
let deviceSize = null;  // the canvas's box in whole device pixels, where the browser reports it
let wakeLock = null;
let askingForLock = false;

function Memory(address, count) { return new Int32Array(model.memory.buffer, address, count); }

function ClearToBlack() {
  pixels.fill(Black);
  dirty = [0, 0, canvas.width - 1, canvas.height - 1];
}

// The backing store in device pixels, so that a line is one device pixel wide. The CSS
// box times the ratio, rounded, can miss the box the browser lays out by a pixel (at 1.25
// or 2.625, say), and then it resamples the canvas into blends of the wheel's colours.
function Fit() {
  const [width, height] = deviceSize ?? [canvas.clientWidth, canvas.clientHeight].map(
    (size) => Math.max(1, Math.round(size * devicePixelRatio)));
  if (width === canvas.width && height === canvas.height && image) return;
  canvas.width = width;
  canvas.height = height;
  image = context.createImageData(width, height);
  pixels = new Uint32Array(image.data.buffer);
  ClearToBlack();
  model.resize(width, height);
}

function Plot(x, y, colour) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
  pixels[y * canvas.width + x] = colour;
  dirty = dirty ? [Math.min(dirty[0], x), Math.min(dirty[1], y), Math.max(dirty[2], x), Math.max(dirty[3], y)]
                : [x, y, x, y];
}

// Bresenham's line from the first point up to, not including, the last, as GDI draws it.
function Line(x, y, toX, toY, colour) {
  const dx = Math.abs(toX - x);
  const dy = -Math.abs(toY - y);
  const stepX = x < toX ? 1 : -1;
  const stepY = y < toY ? 1 : -1;
  let error = dx + dy;
  while (x !== toX || y !== toY) {
    Plot(x, y, colour);
    const twice = 2 * error;
    if (twice >= dy) { error += dy; x += stepX; }
    if (twice <= dx) { error += dx; y += stepY; }
  }
}

// One tick: the line in the model's colour (red in the low byte, as in ImageData), then
// the clear when the figure starts over.
function Tick() {
  const [fromX, fromY, toX, toY, colour, clearAfter] = Memory(model.tick(), FrameFields);
  ++ticks;
  Line(fromX, fromY, toX, toY, (Black | colour) >>> 0);
  if (clearAfter) ClearToBlack();
}

function Show() {
  if (!dirty) return;
  const [left, top, right, bottom] = dirty;
  context.putImageData(image, 0, 0, left, top, right - left + 1, bottom - top + 1);
  dirty = null;
}

// Every tick that has fallen due since the last frame, so that the pace is the saver's
// even where frames come only every 16 ms.
function Animate(now) {
  requestAnimationFrame(Animate);
  if (document.hidden) return;
  Fit();
  if (now - due > MostCatchUpMs) due = now - MostCatchUpMs;
  for (; due <= now; due += interval) Tick();
  Show();
}

function WatchDeviceSize() {
  try {
    new ResizeObserver(([entry]) => {
      const box = entry.devicePixelContentBoxSize?.[0];
      if (box) deviceSize = [Math.max(1, box.inlineSize), Math.max(1, box.blockSize)];
    }).observe(canvas, {box: 'device-pixel-content-box'});
  } catch {
    // Without the device pixel box, the rounded CSS box stays.
  }
}

// Full screen keeps the screen on. The browser drops the lock while the page is hidden,
// so it is asked for again on the page's return. Where the API is missing or refuses,
// the screen dims as before and nothing else changes.
async function KeepAwake() {
  if (askingForLock || !document.fullscreenElement || document.hidden) return;
  if (wakeLock && !wakeLock.released) return;
  askingForLock = true;
  try {
    const lock = await navigator.wakeLock.request('screen');
    // Full screen may have ended while the browser was deciding.
    if (document.fullscreenElement) wakeLock = lock;
    else lock.release();
  } catch {
    // No wake lock here.
  } finally {
    askingForLock = false;
  }
}

function FullScreenChanged() {
  if (document.fullscreenElement) {
    KeepAwake();
    return;
  }
  wakeLock?.release();
  wakeLock = null;
}

function EnterFullScreen() {
  if (!document.fullscreenElement) document.documentElement.requestFullscreen?.().catch(() => {});
}

async function Main() {
  const bytes = await (await fetch('quorvane.wasm')).arrayBuffer();
  model = (await WebAssembly.instantiate(bytes)).instance.exports;
  interval = Math.max(LeastIntervalMs, model.interval(speed));
  Fit();
  model.start(seed, canvas.width, canvas.height);
  // The test hook: the first frames (at most the 4096 kept) of a figure, six numbers each,
  // as the model gives them, leaving the running figure as it was; the ticks run so far;
  // and the milliseconds between ticks.
  window.quorvane = {
    frames: (frameSeed, width, height, count) => {
      const kept = Math.min(count, MostFrames);
      return Array.from(Memory(model.firstFrames(frameSeed, width, height, kept), kept * FrameFields));
    },
    ticks: () => ticks,
    interval: () => interval,
  };
  // No ticks while the page is hidden; on its return the figure resumes, one interval on.
  document.addEventListener('visibilitychange', () => {
    due = performance.now() + interval;
    KeepAwake();
  });
  document.addEventListener('fullscreenchange', FullScreenChanged);
  addEventListener('click', EnterFullScreen);
  addEventListener('keydown', (event) => { if (event.key !== 'Escape') EnterFullScreen(); });
  due = performance.now() + interval;
  requestAnimationFrame(Animate);
}

// The page's files, kept for when the server is gone (service-worker.js). Browsers offer
// it only to secure origins; elsewhere the page simply needs its server.
navigator.serviceWorker?.register('service-worker.js').catch(() => {});
WatchDeviceSize();
Main();

// Quorvane in a browser. The model, saver/animation_model.cpp compiled to quorvane.wasm,
// decides each line; this script draws it, one device pixel wide, as the saver's pen does.
//   ?speed=N   1 (3 ms between lines) to 10 (1600 ms), as the saver's dialog sets it; default 5
//   ?seed=N    a fixed figure; otherwise the seed comes from the clock, as in the saver
'use strict';

const DefaultSpeed = 5;
const IntervalScale = 1.5625;
const MostCatchUpMs = 1000;  // after a stall, older ticks are dropped, not drawn at once
const Black = 0xff000000;
const FrameFields = 6;

function QueryNumber(name, pattern) {
  const text = new URLSearchParams(location.search).get(name);
  return text !== null && pattern.test(text) ? Number(text) : null;
}

// Only the speeds the dialog can set; anything else gives the default.
const speed = QueryNumber('speed', /^([1-9]|10)$/) ?? DefaultSpeed;
const interval = Math.trunc(2 ** speed * IntervalScale);
const seed = QueryNumber('seed', /^-?\d{1,10}$/) ?? Math.floor(Date.now() / 1000);

const canvas = document.querySelector('canvas');
const context = canvas.getContext('2d', {alpha: false});
let model = null;
let image = null;
let pixels = null;
let dirty = null;  // [left, top, right, bottom] drawn since the last frame
let due = 0;
let ticks = 0;

function Memory(address, count) { return new Int32Array(model.memory.buffer, address, count); }

function ClearToBlack() {
  pixels.fill(Black);
  dirty = [0, 0, canvas.width - 1, canvas.height - 1];
}

// The backing store in device pixels, so that a line is one device pixel wide.
function Fit() {
  const width = Math.max(1, Math.round(canvas.clientWidth * devicePixelRatio));
  const height = Math.max(1, Math.round(canvas.clientHeight * devicePixelRatio));
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

function EnterFullScreen() {
  if (!document.fullscreenElement) document.documentElement.requestFullscreen?.().catch(() => {});
}

async function Main() {
  const bytes = await (await fetch('quorvane.wasm')).arrayBuffer();
  model = (await WebAssembly.instantiate(bytes)).instance.exports;
  Fit();
  model.start(seed, canvas.width, canvas.height);
  // The test hook: the first frames (at most 4096) of a figure, six numbers each, as the
  // model gives them, leaving the running figure as it was; and the ticks run so far.
  window.quorvane = {
    frames: (frameSeed, width, height, count) =>
      Array.from(Memory(model.firstFrames(frameSeed, width, height, count), count * FrameFields)),
    ticks: () => ticks,
  };
  // No ticks while the page is hidden; on its return the figure resumes, one interval on.
  document.addEventListener('visibilitychange', () => { due = performance.now() + interval; });
  addEventListener('click', EnterFullScreen);
  addEventListener('keydown', (event) => { if (event.key !== 'Escape') EnterFullScreen(); });
  due = performance.now() + interval;
  requestAnimationFrame(Animate);
}

Main();

'use strict';
// Formatting, colours and small DOM helpers shared by the report's views.

const MVT_UNITS = [
  { ns: 1e9, name: 's' },
  { ns: 1e6, name: 'ms' },
  { ns: 1e3, name: '\u00b5s' },
  { ns: 1, name: 'ns' },
];

// "950 ns", "12.3 µs", "3.50 ms": three significant digits in the largest
// unit that keeps the number at 1 or more.
function formatDuration(ns) {
  if (ns === null || ns === undefined || !isFinite(ns)) return '\u2013';
  // 999.7 ms rounds to 1000 ms: such a value is written in the next unit.
  const value = Math.abs(ns) * 1.0005;
  const unit = MVT_UNITS.find((u) => value >= u.ns) || MVT_UNITS[MVT_UNITS.length - 1];
  const scaled = ns / unit.ns;
  if (unit.ns === 1) return Math.round(scaled) + ' ns';
  const digits = Math.abs(scaled) >= 99.95 ? 0 : Math.abs(scaled) >= 9.995 ? 1 : 2;
  return scaled.toFixed(digits) + ' ' + unit.name;
}

// A tick label: the unit suits the largest label in view (`largest`), the
// decimals the step between ticks: "+1.5 ms" rather than "+1500 µs".
function formatOffset(ns, step, largest) {
  if (ns === 0) return '0';
  const top = Math.max(Math.abs(largest || ns), step);
  const unit = MVT_UNITS.find((u) => top >= u.ns) || MVT_UNITS[MVT_UNITS.length - 1];
  const decimals = Math.max(0, Math.min(9, Math.ceil(-Math.log10(step / unit.ns) - 1e-9)));
  return (ns < 0 ? '\u2212' : '+') + (Math.abs(ns) / unit.ns).toFixed(decimals) + ' ' + unit.name;
}

// Draws a tick label centred on x, but kept inside [left, right].
function tickLabel(ctx, text, x, y, left, right) {
  const half = ctx.measureText(text).width / 2;
  ctx.textAlign = 'center';
  ctx.fillText(text, Math.max(left + half, Math.min(x, right - half)), y);
}

// A moment in the run: "+1.23 s", or as precise as `resolution` (ns)
// asks, so that the two ends of a short bar late in a run differ:
// "+1.199987 s to +1.200060 s".
function formatMoment(ns, resolution) {
  if (ns === 0) return '0';
  const unit = MVT_UNITS.find((u) => Math.abs(ns) >= u.ns) || MVT_UNITS[MVT_UNITS.length - 1];
  const decimals = resolution > 0 ? Math.min(9, Math.ceil(-Math.log10(resolution / unit.ns) - 1e-9)) : 0;
  const scaled = Math.abs(ns / unit.ns);
  // Three significant digits when they are enough.
  if (unit.ns === 1 || decimals <= (scaled >= 99.95 ? 0 : scaled >= 9.995 ? 1 : 2)) return '+' + formatDuration(ns);
  return '+' + (ns / unit.ns).toFixed(decimals) + ' ' + unit.name;
}

// A share of a whole, 0.125 -> "12.5 %"; small shares keep a digit more.
function formatShare(x) {
  if (x === null || x === undefined || !isFinite(x)) return '\u2013';
  const percent = 100 * x;
  return (Math.abs(percent) < 10 && percent !== 0 ? percent.toFixed(1) : percent.toFixed(0)) + ' %';
}

// A relative change, 0.12 -> "+12 %", -0.034 -> "−3.4 %".
function formatChange(x) {
  if (x === null || x === undefined || !isFinite(x)) return '\u2013';
  const text = formatShare(Math.abs(x));
  return x > 0 ? '+' + text : x < 0 ? '\u2212' + text : text;
}

// "2,500": commas by hand, as toLocaleString is slow enough to matter over
// tens of thousands of cells.
function formatCount(n) {
  if (n === null || n === undefined) return '\u2013';
  const value = Number(n);
  if (!Number.isInteger(value)) return value.toLocaleString('en-US');
  return String(value).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
}

// 1, 2 or 5 times a power of ten: the tick step that gives about `count`
// ticks over `span`.
function niceStep(span, count) {
  const raw = span / Math.max(1, count);
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  const factor = raw / power;
  return power * (factor <= 1 ? 1 : factor <= 2 ? 2 : factor <= 5 ? 5 : 10);
}

// Colours for execution names: a palette that tells a dozen names apart at a
// glance, then hues a golden angle apart.
const MVT_PALETTE = ['#4e79a7', '#f28e2b', '#59a14f', '#e15759', '#76b7b2', '#edc948',
  '#b07aa1', '#ff9da7', '#9c755f', '#8cd17d', '#86bcb6', '#d4a6c8'];

function nameColour(index) {
  if (index < MVT_PALETTE.length) return MVT_PALETTE[index];
  return 'hsl(' + Math.round((index * 137.508) % 360) + ',52%,56%)';
}

// Dark text on light fills, white on dark ones.
function textColourOn(colour) {
  const rgb = colourToRgb(colour);
  const luminance = (0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]) / 255;
  return luminance > 0.62 ? '#1f2430' : '#ffffff';
}

function colourToRgb(colour) {
  if (colour[0] === '#') {
    return [1, 3, 5].map((i) => parseInt(colour.slice(i, i + 2), 16));
  }
  const hsl = colour.match(/hsl\((\d+),(\d+)%,(\d+)%\)/);
  if (!hsl) return [128, 128, 128];
  const h = +hsl[1] / 360;
  const s = +hsl[2] / 100;
  const l = +hsl[3] / 100;
  const q = l < 0.5 ? l * (1 + s) : l + s - l * s;
  const p = 2 * l - q;
  const channel = (t) => {
    t = (t + 1) % 1;
    if (t < 1 / 6) return p + (q - p) * 6 * t;
    if (t < 1 / 2) return q;
    if (t < 2 / 3) return p + (q - p) * (2 / 3 - t) * 6;
    return p;
  };
  return [channel(h + 1 / 3), channel(h), channel(h - 1 / 3)].map((v) => Math.round(v * 255));
}

function withAlpha(colour, alpha) {
  const rgb = colourToRgb(colour);
  return 'rgba(' + rgb[0] + ',' + rgb[1] + ',' + rgb[2] + ',' + alpha + ')';
}

// A sequential scale from pale to deep blue for "how much time": t in [0, 1].
function heatColour(t) {
  const from = [232, 240, 251];
  const to = [26, 74, 150];
  const k = Math.max(0, Math.min(1, t));
  const rgb = from.map((f, i) => Math.round(f + (to[i] - f) * k));
  return '#' + rgb.map((v) => v.toString(16).padStart(2, '0')).join('');
}

// document.createElement with attributes and children in one call; strings
// become text, so no trace text is ever parsed as markup.
function el(tag, attributes, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) {
    if (value === null || value === undefined || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key === 'style') node.style.cssText = value;
    else node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

// The same for SVG elements, whose attributes are all plain.
function svgEl(tag, attributes, ...children) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', tag);
  for (const [key, value] of Object.entries(attributes || {})) {
    if (value === null || value === undefined || value === false) continue;
    if (key === 'text') node.textContent = value;
    else if (key === 'class') node.setAttribute('class', value);
    else node.setAttribute(key, value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

// Canvases are drawn at the screen's pixel density so that text stays sharp.
function fitCanvas(canvas, width, height) {
  const ratio = window.devicePixelRatio || 1;
  canvas.style.width = width + 'px';
  canvas.style.height = height + 'px';
  canvas.width = Math.max(1, Math.round(width * ratio));
  canvas.height = Math.max(1, Math.round(height * ratio));
  const context = canvas.getContext('2d');
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  return context;
}

// The index of the first element of sorted `values` in [lo, hi) that is >= x.
function lowerBound(values, x, lo, hi) {
  while (lo < hi) {
    const mid = (lo + hi) >>> 1;
    if (values[mid] < x) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// The index of the first element in [lo, hi) that is > x.
function upperBound(values, x, lo, hi) {
  while (lo < hi) {
    const mid = (lo + hi) >>> 1;
    if (values[mid] <= x) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// Places a tooltip near the pointer, inside its container.
function placeTooltip(tooltip, container, clientX, clientY) {
  const box = container.getBoundingClientRect();
  tooltip.hidden = false;
  const width = tooltip.offsetWidth;
  const height = tooltip.offsetHeight;
  let x = clientX - box.left + 14;
  let y = clientY - box.top + 16;
  if (x + width > box.width - 4) x = Math.max(4, clientX - box.left - width - 14);
  if (y + height > box.height - 4) y = Math.max(4, clientY - box.top - height - 12);
  tooltip.style.left = x + 'px';
  tooltip.style.top = y + 'px';
}

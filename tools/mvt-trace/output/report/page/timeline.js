'use strict';
// The timeline: one lane per thread drawn on a canvas, zoomed and panned with
// mouse and keyboard. Executions too short to see at the current zoom are
// merged into blocks while drawing, so a frame costs what is visible, not
// what the run holds.

const TL = {
  labelWidth: 156,
  rowHeight: 20,
  barHeight: 16,
  lanePadding: 6,
  minBar: 1.5,          // pixels; narrower executions are merged with their neighbours
  minLabel: 26,         // pixels a bar needs before a name is written in it
  font: '11.5px system-ui, "Segoe UI", Roboto, "DejaVu Sans", Arial, sans-serif',
  labelFont: '600 12.5px system-ui, "Segoe UI", Roboto, "DejaVu Sans", Arial, sans-serif',
  smallFont: '11px system-ui, "Segoe UI", Roboto, "DejaVu Sans", Arial, sans-serif',
  minSpan: 20,          // ns: the deepest zoom
};

// One row of bars (tasks of one depth, or one row of regions): views into the
// lane's parallel arrays, [lo, hi).
function rowSegments(group, rows) {
  const segments = [];
  for (let r = 0; r < rows; r++) segments.push({ lo: 0, hi: 0 });
  let i = 0;
  while (i < group.d.length) {
    const row = group.d[i];
    const lo = i;
    while (i < group.d.length && group.d[i] === row) i++;
    if (row < rows) segments[row] = { lo, hi: i };
  }
  return segments;
}

function emptyGroup() {
  return { b: [], e: [], d: [], n: [], x: [] };
}

class TimelineView {
  constructor(data, elements, callbacks) {
    this.data = data;
    this.el = elements;
    this.callbacks = callbacks || {};
    this.names = data.names || [];
    this.details = data.details || [];
    this.fullSpan = Math.max(data.span_ns || 0, 1000);
    this.several = new Set((data.lanes || []).map((l) => l.process)).size > 1;
    this.lanes = (data.lanes || []).map((lane) => this.prepareLane(lane));
    let y = 0;
    for (const lane of this.lanes) {
      lane.top = y;
      // Tall enough for its label's two lines, thread and file.
      lane.height = Math.max(Math.max(1, lane.rows) * TL.rowHeight + 2 * TL.lanePadding, 38);
      y += lane.height;
    }
    this.totalHeight = Math.max(y, 40);
    this.t0 = 0;
    this.t1 = this.fullSpan;
    this.selected = null;       // {lane, kind, index}
    // Per details entry, 1 when its execution belongs to what is chosen
    // elsewhere on the page (a node, or a construct's nodes).
    this.highlighted = null;
    this.drag = null;
    this.rangeSelection = null; // [x0, x1] in canvas pixels while Shift-dragging
    this.textWidths = new Map();
    this.pending = false;
    this.bind();
    this.resize();
  }

  prepareLane(lane) {
    const tasks = lane.tasks || emptyGroup();
    const regions = lane.regions || emptyGroup();
    const blocks = lane.blocks || { b: [], e: [], d: [], c: [] };
    const regionRows = lane.region_rows || 0;
    const taskRows = Math.max(0, (lane.rows || 0) - regionRows);
    return {
      source: lane,
      label: lane.label,
      file: lane.file || '',
      rows: Math.max(lane.rows || 0, 1),
      regionRows,
      tasks,
      regions,
      blocks,
      taskRows: rowSegments(tasks, taskRows),
      regionRowSegments: rowSegments(regions, regionRows),
      openTasks: new Set(lane.open || []),
      openRegions: new Set(lane.open_regions || []),
    };
  }

  // ---- geometry -------------------------------------------------------

  plotWidth() {
    return Math.max(10, this.width - TL.labelWidth - 12);
  }

  xOf(t) {
    return TL.labelWidth + ((t - this.t0) / (this.t1 - this.t0)) * this.plotWidth();
  }

  tOf(x) {
    return this.t0 + ((x - TL.labelWidth) / this.plotWidth()) * (this.t1 - this.t0);
  }

  // The y of a drawing row of a lane, in canvas coordinates (scroll applied).
  rowTop(lane, drawingRow) {
    return lane.top - this.scrollTop + TL.lanePadding + drawingRow * TL.rowHeight + (TL.rowHeight - TL.barHeight) / 2;
  }

  resize() {
    this.width = Math.max(300, this.el.timeline.clientWidth);
    const maxHeight = Math.max(160, Math.round(window.innerHeight * 0.62));
    this.viewHeight = Math.min(this.totalHeight, maxHeight);
    this.el.spacer.style.height = Math.max(0, this.totalHeight - this.viewHeight) + 'px';
    this.el.scroll.style.maxHeight = this.viewHeight + 'px';
    this.ctx = fitCanvas(this.el.canvas, this.width, this.viewHeight);
    this.axisCtx = fitCanvas(this.el.axis, this.width, 30);
    this.scrollTop = this.el.scroll.scrollTop;
    this.draw();
  }

  // ---- view changes ---------------------------------------------------

  setView(t0, t1) {
    let span = Math.max(TL.minSpan, t1 - t0);
    span = Math.min(span, this.fullSpan);
    let start = Math.max(0, Math.min(t0, this.fullSpan - span));
    if (t1 - t0 < TL.minSpan) start = Math.max(0, (t0 + t1) / 2 - span / 2);
    this.t0 = start;
    this.t1 = start + span;
    this.requestDraw();
    if (this.callbacks.onView) this.callbacks.onView(this.t0, this.t1);
  }

  zoom(factor, atX) {
    const x = atX === undefined ? TL.labelWidth + this.plotWidth() / 2 : atX;
    const t = this.tOf(x);
    const span = (this.t1 - this.t0) * factor;
    const share = (x - TL.labelWidth) / this.plotWidth();
    this.setView(t - share * span, t - share * span + span);
  }

  pan(pixels) {
    const dt = (pixels / this.plotWidth()) * (this.t1 - this.t0);
    this.setView(this.t0 + dt, this.t1 + dt);
  }

  reset() {
    this.setView(0, this.fullSpan);
  }

  requestDraw() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.draw();
    });
  }

  // ---- drawing --------------------------------------------------------

  draw() {
    const ctx = this.ctx;
    // Shapes drawn this frame: bounded by the pixels in view, not by the
    // executions, which is what keeps a frame cheap.
    this.shapesDrawn = 0;
    ctx.clearRect(0, 0, this.width, this.viewHeight);
    const step = niceStep(this.t1 - this.t0, this.plotWidth() / 110);
    this.drawGrid(ctx, step);
    for (let k = 0; k < this.lanes.length; k++) {
      const lane = this.lanes[k];
      const top = lane.top - this.scrollTop;
      if (top > this.viewHeight || top + lane.height < 0) continue;
      this.drawLane(ctx, lane, k);
    }
    this.drawLabels(ctx);
    this.drawRangeSelection(ctx, this.viewHeight);
    this.drawAxis(step);
  }

  drawGrid(ctx, step) {
    for (let k = 0; k < this.lanes.length; k++) {
      const lane = this.lanes[k];
      const top = lane.top - this.scrollTop;
      ctx.fillStyle = k % 2 ? '#fbfbfd' : '#ffffff';
      ctx.fillRect(0, top, this.width, lane.height);
      ctx.fillStyle = '#e3e6ec';
      ctx.fillRect(0, top + lane.height - 1, this.width, 1);
    }
    ctx.fillStyle = '#eef0f4';
    for (let t = Math.ceil(this.t0 / step) * step; t <= this.t1; t += step) {
      ctx.fillRect(Math.round(this.xOf(t)), 0, 1, this.viewHeight);
    }
  }

  drawLane(ctx, lane, laneIndex) {
    ctx.save();
    ctx.beginPath();
    ctx.rect(TL.labelWidth, lane.top - this.scrollTop, this.width - TL.labelWidth, lane.height);
    ctx.clip();
    ctx.font = TL.font;
    ctx.textBaseline = 'middle';
    // Blocks of executions not embedded lie under the bars that are.
    this.drawBlocks(ctx, lane);
    for (let r = 0; r < lane.regionRowSegments.length; r++) {
      const seg = lane.regionRowSegments[r];
      this.drawRow(ctx, lane, laneIndex, 'region', lane.regions, seg.lo, seg.hi, this.rowTop(lane, r));
    }
    for (let d = 0; d < lane.taskRows.length; d++) {
      const seg = lane.taskRows[d];
      this.drawRow(ctx, lane, laneIndex, 'task', lane.tasks, seg.lo, seg.hi, this.rowTop(lane, lane.regionRows + d));
    }
    if (lane.tasks.b.length + lane.regions.b.length + lane.blocks.b.length === 0) {
      ctx.fillStyle = '#98a2b3';
      ctx.fillText('no task executions or regions on this thread', TL.labelWidth + 8, this.rowTop(lane, 0) + TL.barHeight / 2);
    }
    ctx.restore();
  }

  // Draws the bars of one row in view. Bars wide enough are drawn one by one;
  // runs of narrower ones become one block each, found by binary search on
  // begin times one pixel column at a time.
  drawRow(ctx, lane, laneIndex, kind, group, lo, hi, y) {
    if (lo >= hi) return;
    const b = group.b;
    const e = group.e;
    const n = group.n;
    let i = lowerBound(e, this.t0, lo, hi);
    while (i < hi && b[i] <= this.t1) {
      const x0 = this.xOf(b[i]);
      const x1 = this.xOf(e[i]);
      if (x1 - x0 >= TL.minBar) {
        this.shapesDrawn++;
        this.drawBar(ctx, lane, laneIndex, kind, group, i, x0, x1, y);
        i++;
        continue;
      }
      const start = x0;
      let end = Math.max(x1, x0 + 1);
      let count = 0;
      let uniform = true;
      const first = n[i];
      for (;;) {
        const columnEnd = this.tOf(Math.floor(this.xOf(b[i])) + 1);
        let j = upperBound(b, columnEnd, i, hi) - 1;
        if (j > i && this.xOf(e[j]) - this.xOf(b[j]) >= TL.minBar) j--;
        if (j < i) j = i;
        count += j - i + 1;
        if (n[j] !== first || n[(i + j) >>> 1] !== first) uniform = false;
        end = Math.max(end, this.xOf(e[j]));
        i = j + 1;
        if (i >= hi) break;
        const next0 = this.xOf(b[i]);
        if (next0 > end + 1 || this.xOf(e[i]) - next0 >= TL.minBar) break;
      }
      this.shapesDrawn++;
      if (count === 1) {
        this.drawBar(ctx, lane, laneIndex, kind, group, i - 1, start, Math.max(end, start + 1), y);
      } else {
        this.drawMerged(ctx, kind, uniform ? first : -1, count, start, end, y);
      }
    }
  }

  // Executions merged at this zoom: the colour of their name when they share
  // one, grey otherwise, and "name ×count" when there is room.
  drawMerged(ctx, kind, name, count, x0, x1, y) {
    const colour = name >= 0 ? nameColour(name) : '#8d95a5';
    const left = Math.max(x0, TL.labelWidth - 2);
    const width = Math.max(1, Math.min(x1, this.width + 2) - left);
    ctx.fillStyle = kind === 'region' ? withAlpha(colour, 0.45) : colour;
    ctx.fillRect(left, y, width, TL.barHeight);
    ctx.fillStyle = 'rgba(255,255,255,0.35)';
    for (let x = left + 3; x < left + width - 1; x += 4) ctx.fillRect(x, y + TL.barHeight - 3, 1, 3);
    if (width >= TL.minLabel) {
      const text = this.fitText(ctx, (name >= 0 ? this.names[name] + ' ' : '') + '\u00d7' + formatCount(count), width - 8);
      if (text) {
        ctx.fillStyle = kind === 'region' ? '#1f2430' : textColourOn(colour);
        ctx.fillText(text, left + 4, y + TL.barHeight / 2 - 0.5);
      }
    }
  }

  drawBar(ctx, lane, laneIndex, kind, group, i, x0, x1, y) {
    const colour = nameColour(group.n[i]);
    const left = Math.max(x0, TL.labelWidth - 2);
    const right = Math.min(x1, this.width + 2);
    const width = Math.max(1, right - left);
    const open = (kind === 'task' ? lane.openTasks : lane.openRegions).has(i);
    if (kind === 'region') {
      ctx.fillStyle = withAlpha(colour, 0.2);
      ctx.fillRect(left, y, width, TL.barHeight);
      ctx.strokeStyle = colour;
      ctx.lineWidth = 1.5;
      ctx.strokeRect(left + 0.75, y + 0.75, Math.max(0.5, width - 1.5), TL.barHeight - 1.5);
    } else {
      ctx.fillStyle = colour;
      ctx.fillRect(left, y, width, TL.barHeight);
      if (width > 4) {
        ctx.fillStyle = 'rgba(255,255,255,0.55)';
        ctx.fillRect(left, y, 1, TL.barHeight);
      }
    }
    if (open && x1 <= this.width + 2) this.drawOpenEnd(ctx, x1, y, kind === 'region' ? colour : null);
    const selected = this.selected;
    if (selected && selected.lane === laneIndex && selected.kind === kind && selected.index === i) {
      ctx.strokeStyle = '#111';
      ctx.lineWidth = 2;
      ctx.strokeRect(left - 1, y - 1, width + 2, TL.barHeight + 2);
    } else if (this.highlighted && group.x[i] >= 0 && this.highlighted[group.x[i]]) {
      ctx.strokeStyle = '#e8590c';
      ctx.lineWidth = 2;
      ctx.strokeRect(left - 1, y - 1, width + 2, TL.barHeight + 2);
    }
    if (width >= TL.minLabel) {
      const text = this.fitText(ctx, this.names[group.n[i]] || '', width - 8 - (open ? 8 : 0));
      if (text) {
        ctx.fillStyle = kind === 'region' ? '#1f2430' : textColourOn(colour);
        ctx.fillText(text, left + 4, y + TL.barHeight / 2 + 0.5);
      }
    }
  }

  // An execution still open when its file ended gets a torn right edge: it
  // has no end, only the end of the trace.
  drawOpenEnd(ctx, x, y, outline) {
    const teeth = 4;
    const depth = 5;
    ctx.save();
    ctx.beginPath();
    ctx.moveTo(x + 1, y - 1);
    for (let k = 0; k <= teeth; k++) {
      const ty = y + (TL.barHeight * k) / teeth;
      ctx.lineTo(k % 2 ? x - depth : x + 1, ty);
    }
    ctx.lineTo(x + 1, y + TL.barHeight + 1);
    ctx.closePath();
    ctx.fillStyle = '#ffffff';
    ctx.fill();
    ctx.beginPath();
    for (let k = 0; k <= teeth; k++) {
      const ty = y + (TL.barHeight * k) / teeth;
      if (k === 0) ctx.moveTo(x, ty);
      else ctx.lineTo(k % 2 ? x - depth : x, ty);
    }
    ctx.strokeStyle = outline || '#3b4556';
    ctx.lineWidth = 1.2;
    ctx.stroke();
    ctx.restore();
  }

  drawBlocks(ctx, lane) {
    const blocks = lane.blocks;
    for (let i = 0; i < blocks.b.length; i++) {
      if (blocks.e[i] < this.t0 || blocks.b[i] > this.t1) continue;
      const x0 = this.xOf(blocks.b[i]);
      const x1 = Math.max(this.xOf(blocks.e[i]), x0 + 2);
      const y = this.rowTop(lane, blocks.d[i]);
      ctx.fillStyle = this.blockPattern(ctx);
      ctx.fillRect(x0, y + 2, x1 - x0, TL.barHeight - 4);
    }
  }

  blockPattern(ctx) {
    if (!this.pattern) {
      const tile = document.createElement('canvas');
      tile.width = 6;
      tile.height = 6;
      const t = tile.getContext('2d');
      t.fillStyle = '#d8dce3';
      t.fillRect(0, 0, 6, 6);
      t.strokeStyle = '#a7adb9';
      t.lineWidth = 1.5;
      t.beginPath();
      t.moveTo(0, 6);
      t.lineTo(6, 0);
      t.stroke();
      this.pattern = ctx.createPattern(tile, 'repeat');
    }
    return this.pattern;
  }

  fitText(ctx, text, room) {
    if (room < 8) return '';
    const width = (s) => {
      let w = this.textWidths.get(s);
      if (w === undefined) {
        w = ctx.measureText(s).width;
        if (this.textWidths.size < 20000) this.textWidths.set(s, w);
      }
      return w;
    };
    if (width(text) <= room) return text;
    let lo = 0;
    let hi = text.length;
    while (lo < hi) {
      const mid = (lo + hi + 1) >>> 1;
      if (ctx.measureText(text.slice(0, mid) + '\u2026').width <= room) lo = mid;
      else hi = mid - 1;
    }
    return lo >= 2 ? text.slice(0, lo) + '\u2026' : '';
  }

  drawLabels(ctx) {
    ctx.fillStyle = '#ffffff';
    ctx.fillRect(0, 0, TL.labelWidth - 4, this.viewHeight);
    ctx.fillStyle = '#e3e6ec';
    ctx.fillRect(TL.labelWidth - 4, 0, 1, this.viewHeight);
    ctx.textBaseline = 'alphabetic';
    for (const lane of this.lanes) {
      const top = lane.top - this.scrollTop;
      if (top > this.viewHeight || top + lane.height < 0) continue;
      ctx.fillStyle = '#e3e6ec';
      ctx.fillRect(0, top + lane.height - 1, TL.labelWidth - 4, 1);
      ctx.font = TL.labelFont;
      ctx.fillStyle = '#1f2430';
      ctx.fillText(lane.label, 12, top + TL.lanePadding + 13);
      ctx.font = TL.smallFont;
      ctx.fillStyle = '#667085';
      const file = this.several ? lane.file : lane.file.split('/').pop();
      ctx.fillText(this.fitText(ctx, file, TL.labelWidth - 22), 12, top + TL.lanePadding + 27);
    }
  }

  drawRangeSelection(ctx, height) {
    if (!this.rangeSelection) return;
    const [a, b] = this.rangeSelection;
    ctx.fillStyle = 'rgba(47,111,223,0.14)';
    ctx.fillRect(Math.min(a, b), 0, Math.abs(b - a), height);
    ctx.fillStyle = 'rgba(47,111,223,0.8)';
    ctx.fillRect(Math.min(a, b), 0, 1, height);
    ctx.fillRect(Math.max(a, b), 0, 1, height);
  }

  drawAxis(step) {
    const ctx = this.axisCtx;
    ctx.clearRect(0, 0, this.width, 30);
    ctx.fillStyle = '#fafbfc';
    ctx.fillRect(0, 0, this.width, 30);
    ctx.font = TL.smallFont;
    ctx.textBaseline = 'alphabetic';
    ctx.fillStyle = '#667085';
    ctx.fillText(formatDuration(this.t1 - this.t0) + ' in view', 12, 19);
    ctx.save();
    ctx.beginPath();
    ctx.rect(TL.labelWidth - 4, 0, this.width, 30);
    ctx.clip();
    for (let t = Math.ceil(this.t0 / step) * step; t <= this.t1; t += step) {
      const x = Math.round(this.xOf(t));
      ctx.fillStyle = '#98a2b3';
      ctx.fillRect(x, 22, 1, 8);
      ctx.fillStyle = '#3b4556';
      tickLabel(ctx, formatOffset(Math.round(t / step) * step, step, this.t1), x, 17, TL.labelWidth, this.width - 2);
    }
    ctx.restore();
    this.drawRangeSelection(ctx, 30);
  }

  // ---- finding what is under the pointer --------------------------------

  // What lies at canvas point (x, y): a bar, several merged bars, a block of
  // executions not embedded, or nothing.
  hit(x, y) {
    if (x < TL.labelWidth) return null;
    const canvasY = y + this.scrollTop;
    const laneIndex = this.lanes.findIndex((l) => canvasY >= l.top && canvasY < l.top + l.height);
    if (laneIndex < 0) return null;
    const lane = this.lanes[laneIndex];
    const row = Math.floor((canvasY - lane.top - TL.lanePadding) / TL.rowHeight);
    if (row < 0 || row >= lane.rows) return null;
    const t = this.tOf(x);
    const tolerance = (3 / this.plotWidth()) * (this.t1 - this.t0);
    const kind = row < lane.regionRows ? 'region' : 'task';
    const group = kind === 'region' ? lane.regions : lane.tasks;
    const seg = kind === 'region' ? lane.regionRowSegments[row] : lane.taskRows[row - lane.regionRows];
    if (seg && seg.hi > seg.lo) {
      const first = lowerBound(group.e, t - tolerance, seg.lo, seg.hi);
      const last = upperBound(group.b, t + tolerance, seg.lo, seg.hi) - 1;
      if (last >= first) {
        // A bar that holds the moment itself wins over neighbours in reach.
        const inside = upperBound(group.b, t, seg.lo, seg.hi) - 1;
        if (inside >= seg.lo && group.e[inside] >= t && this.xOf(group.e[inside]) - this.xOf(group.b[inside]) >= TL.minBar) {
          return { lane: laneIndex, kind, index: inside };
        }
        if (last === first) return { lane: laneIndex, kind, index: first };
        return { lane: laneIndex, kind: 'many', count: last - first + 1, from: group.b[first], to: group.e[last] };
      }
    }
    const blocks = lane.blocks;
    for (let i = 0; i < blocks.b.length; i++) {
      if (blocks.d[i] === row && blocks.b[i] <= t + tolerance && blocks.e[i] >= t - tolerance) {
        return { lane: laneIndex, kind: 'block', count: blocks.c[i], from: blocks.b[i], to: blocks.e[i] };
      }
    }
    return null;
  }

  // Everything known about one bar, for the tooltip and the details panel.
  describe(ref) {
    const lane = this.lanes[ref.lane];
    const group = ref.kind === 'region' ? lane.regions : lane.tasks;
    const i = ref.index;
    const x = group.x[i];
    return {
      ref,
      lane: lane.source,
      kind: ref.kind,
      detailsIndex: x,
      name: this.names[group.n[i]] || '',
      nameIndex: group.n[i],
      begin: group.b[i],
      end: group.e[i],
      depth: group.d[i],
      open: (ref.kind === 'region' ? lane.openRegions : lane.openTasks).has(i),
      details: x >= 0 ? this.details[x] : null,
    };
  }

  tooltipFor(hit) {
    const lane = this.lanes[hit.lane];
    if (hit.kind === 'many' || hit.kind === 'block') {
      const what = hit.kind === 'many' ? 'executions merged at this zoom' : 'executions not embedded in the page';
      return el('div', null,
        el('b', { text: formatCount(hit.count) + ' ' + what }),
        el('div', { class: 'dim', text: formatMoment(hit.from, (hit.to - hit.from) / 20) + ' to ' + formatMoment(hit.to, (hit.to - hit.from) / 20) + ' \u00b7 ' + lane.label }),
        el('div', { class: 'dim', text: 'click or zoom in to tell them apart' }));
    }
    const d = this.describe(hit);
    return el('div', null,
      el('b', { text: d.name }),
      el('span', { class: 'dim', text: d.kind === 'region' ? '  region' : '  task' }),
      el('div', { text: formatDuration(d.end - d.begin) + (d.open ? ' so far: still open at the end of the file' : '') }),
      el('div', { class: 'dim', text: formatMoment(d.begin, (d.end - d.begin) / 20) + ' to ' + formatMoment(d.end, (d.end - d.begin) / 20) + ' \u00b7 ' + lane.label }));
  }

  // ---- interaction ----------------------------------------------------

  bind() {
    const canvas = this.el.canvas;
    const local = (event) => {
      const box = canvas.getBoundingClientRect();
      return { x: event.clientX - box.left, y: event.clientY - box.top };
    };
    canvas.addEventListener('wheel', (event) => this.onWheel(event, local(event).x), { passive: false });
    this.el.axis.addEventListener('wheel', (event) => this.onWheel(event, local(event).x), { passive: false });
    canvas.addEventListener('mousedown', (event) => {
      if (event.button !== 0) return;
      const p = local(event);
      this.drag = { startX: p.x, lastX: p.x, moved: false, select: event.shiftKey, t0: this.t0, t1: this.t1 };
      canvas.focus({ preventScroll: true });
      event.preventDefault();
    });
    this.el.axis.addEventListener('mousedown', (event) => {
      if (event.button !== 0) return;
      const p = local(event);
      this.drag = { startX: p.x, lastX: p.x, moved: false, select: true };
      event.preventDefault();
    });
    window.addEventListener('mousemove', (event) => {
      if (!this.drag) return;
      const p = local(event);
      if (Math.abs(p.x - this.drag.startX) > 3) this.drag.moved = true;
      if (this.drag.select) {
        this.rangeSelection = [Math.max(TL.labelWidth, this.drag.startX), Math.max(TL.labelWidth, p.x)];
        canvas.classList.add('selecting');
        this.requestDraw();
      } else if (this.drag.moved) {
        canvas.classList.add('dragging');
        this.pan(this.drag.lastX - p.x);
      }
      this.drag.lastX = p.x;
      this.hideTooltip();
    });
    window.addEventListener('mouseup', (event) => {
      const drag = this.drag;
      if (!drag) return;
      this.drag = null;
      canvas.classList.remove('dragging', 'selecting');
      if (drag.select && this.rangeSelection) {
        const [a, b] = this.rangeSelection;
        this.rangeSelection = null;
        if (Math.abs(b - a) > 4) this.setView(this.tOf(Math.min(a, b)), this.tOf(Math.max(a, b)));
        else this.requestDraw();
      } else if (!drag.moved && event.target === canvas) {
        const p = local(event);
        this.onClick(p.x, p.y);
      }
    });
    canvas.addEventListener('mousemove', (event) => {
      if (this.drag) return;
      const p = local(event);
      const hit = this.hit(p.x, p.y);
      if (!hit) {
        this.hideTooltip();
        return;
      }
      this.el.tooltip.replaceChildren(this.tooltipFor(hit));
      placeTooltip(this.el.tooltip, this.el.timeline, event.clientX, event.clientY);
    });
    canvas.addEventListener('mouseleave', () => this.hideTooltip());
    canvas.addEventListener('dblclick', (event) => {
      const p = local(event);
      this.zoom(event.shiftKey ? 2.5 : 0.4, p.x);
    });
    canvas.addEventListener('keydown', (event) => this.onKey(event));
    this.el.scroll.addEventListener('scroll', () => {
      this.scrollTop = this.el.scroll.scrollTop;
      this.hideTooltip();
      this.requestDraw();
    });
    window.addEventListener('resize', () => this.resize());
  }

  onWheel(event, x) {
    event.preventDefault();
    const scale = event.deltaMode === 1 ? 16 : event.deltaMode === 2 ? 400 : 1;
    if (event.shiftKey || Math.abs(event.deltaX) > Math.abs(event.deltaY)) {
      this.pan((event.shiftKey ? event.deltaY : event.deltaX) * scale);
    } else {
      this.zoom(Math.exp(event.deltaY * scale * 0.0018), Math.max(TL.labelWidth, x));
    }
    this.hideTooltip();
  }

  onKey(event) {
    const step = this.plotWidth() * 0.15;
    const actions = {
      '+': () => this.zoom(0.6), '=': () => this.zoom(0.6), w: () => this.zoom(0.6),
      '-': () => this.zoom(1 / 0.6), _: () => this.zoom(1 / 0.6), s: () => this.zoom(1 / 0.6),
      ArrowLeft: () => this.pan(-step), a: () => this.pan(-step),
      ArrowRight: () => this.pan(step), d: () => this.pan(step),
      ArrowUp: () => { this.el.scroll.scrollTop -= TL.rowHeight * 2; },
      ArrowDown: () => { this.el.scroll.scrollTop += TL.rowHeight * 2; },
      0: () => this.reset(), Home: () => this.reset(),
      Escape: () => this.select(null),
    };
    const action = actions[event.key];
    if (!action || event.ctrlKey || event.metaKey || event.altKey) return;
    event.preventDefault();
    action();
  }

  onClick(x, y) {
    const hit = this.hit(x, y);
    if (!hit) {
      this.select(null);
      return;
    }
    if (hit.kind === 'many' || hit.kind === 'block') {
      const pad = Math.max((hit.to - hit.from) * 0.1, TL.minSpan);
      this.setView(hit.from - pad, hit.to + pad);
      return;
    }
    this.select(hit);
  }

  select(ref) {
    this.selected = ref && (ref.kind === 'task' || ref.kind === 'region') ? ref : null;
    this.requestDraw();
    if (this.callbacks.onSelect) this.callbacks.onSelect(this.selected ? this.describe(this.selected) : null);
  }

  // Outlines the executions of the given nodes (rows of analysis.nodes);
  // none when the list is empty.
  setHighlightNodes(nodes) {
    const wanted = new Set(nodes.filter((n) => n >= 0));
    if (wanted.size === 0) {
      this.highlighted = null;
    } else {
      this.highlighted = new Uint8Array(this.details.length);
      this.details.forEach((entry, x) => {
        if (entry && wanted.has(entry.node)) this.highlighted[x] = 1;
      });
    }
    this.requestDraw();
  }

  // The pieces of one execution (an untied task may be suspended and resume
  // on another thread): every bar that shares its details entry.
  piecesOf(detailsIndex) {
    const pieces = [];
    if (detailsIndex < 0) return pieces;
    this.lanes.forEach((lane, laneIndex) => {
      const x = lane.tasks.x;
      for (let i = 0; i < x.length; i++) {
        if (x[i] === detailsIndex) pieces.push({ lane: laneIndex, kind: 'task', index: i, begin: lane.tasks.b[i], end: lane.tasks.e[i] });
      }
    });
    return pieces.sort((a, b) => a.begin - b.begin);
  }

  // Shows a bar and selects it, as a click on it would.
  reveal(ref) {
    const lane = this.lanes[ref.lane];
    const group = ref.kind === 'region' ? lane.regions : lane.tasks;
    const b = group.b[ref.index];
    const e = group.e[ref.index];
    if (e < this.t0 || b > this.t1 || this.xOf(e) - this.xOf(b) < 4 * TL.minBar) {
      const pad = Math.max(2 * (e - b), TL.minSpan);
      this.setView(b - pad, e + pad);
    }
    this.select(ref);
  }

  hideTooltip() {
    this.el.tooltip.hidden = true;
  }

  // The page position of a bar's middle, scrolling its lane into view and
  // zooming to the bar when it is out of view or too narrow to click. For
  // scripts that drive the page (its tests among them).
  locate(laneIndex, kind, index) {
    this.el.timeline.scrollIntoView({ block: 'nearest' });
    const lane = this.lanes[laneIndex];
    const group = kind === 'region' ? lane.regions : lane.tasks;
    // A bar narrower than a few pixels is merged with its neighbours.
    const b = group.b[index];
    const e = group.e[index];
    if (e < this.t0 || b > this.t1 || this.xOf(e) - this.xOf(b) < 4 * TL.minBar) {
      const pad = Math.max(2 * (e - b), TL.minSpan);
      this.setView(b - pad, e + pad);
      this.draw();
    }
    const row = kind === 'region' ? group.d[index] : lane.regionRows + group.d[index];
    const rowY = lane.top + TL.lanePadding + row * TL.rowHeight;
    if (rowY < this.el.scroll.scrollTop || rowY + TL.rowHeight > this.el.scroll.scrollTop + this.viewHeight) {
      this.el.scroll.scrollTop = Math.max(0, rowY - this.viewHeight / 2);
      this.scrollTop = this.el.scroll.scrollTop;
      this.draw();
    }
    const x0 = Math.max(this.xOf(group.b[index]), TL.labelWidth);
    const x1 = Math.min(this.xOf(group.e[index]), this.width);
    const box = this.el.canvas.getBoundingClientRect();
    return { x: box.left + (x0 + x1) / 2, y: box.top + this.rowTop(lane, row) + TL.barHeight / 2 };
  }

  // The legend: a swatch for each of the names with the most time on the
  // timeline (a run may have thousands of names), then what the shapes mean.
  legend() {
    const time = new Map();
    const regions = new Set();
    const add = (group, isRegion) => {
      for (let i = 0; i < group.n.length; i++) {
        time.set(group.n[i], (time.get(group.n[i]) || 0) + (group.e[i] - group.b[i]));
        if (isRegion) regions.add(group.n[i]);
      }
    };
    for (const lane of this.lanes) {
      add(lane.tasks, false);
      add(lane.regions, true);
    }
    const shown = 14;
    const ranked = [...time.entries()].sort((a, b) => b[1] - a[1]);
    const swatch = (n) => (regions.has(n)
      ? el('i', { class: 'swatch region', style: 'border-color:' + nameColour(n) + ';background:' + withAlpha(nameColour(n), 0.2) })
      : el('i', { class: 'swatch', style: 'background:' + nameColour(n) }));
    const items = ranked.slice(0, shown).sort((a, b) => a[0] - b[0]).map(([n]) =>
      el('span', { class: 'name', title: this.names[n] }, swatch(n), el('span', { text: this.names[n] })));
    if (ranked.length > shown) {
      items.push(el('span', { class: 'muted', text: '+ ' + formatCount(ranked.length - shown) + ' more names, each with less time' }));
    }
    const hasRegions = this.lanes.some((l) => l.regions.b.length > 0);
    const hasOpen = this.lanes.some((l) => l.openTasks.size + l.openRegions.size > 0);
    const hasBlocks = this.lanes.some((l) => l.blocks.b.length > 0);
    const keys = [el('span', { class: 'muted' }, el('i', { class: 'swatch', style: 'background:#5b6473' }), 'execution (or a piece of one)')];
    if (hasRegions) {
      keys.push(el('span', { class: 'muted' },
        el('i', { class: 'swatch region', style: 'border-color:#5b6473;background:rgba(91,100,115,0.2)' }), 'region'));
    }
    if (hasOpen) keys.push(el('span', { class: 'muted' }, this.openSwatch(), 'still open at the end of the file'));
    keys.push(el('span', { class: 'muted' }, el('i', { class: 'swatch merged' }), 'several executions merged at this zoom'));
    if (hasBlocks) keys.push(el('span', { class: 'muted' }, el('i', { class: 'swatch block' }), 'executions not embedded'));
    keys.push(el('span', { class: 'muted' }, el('i', { class: 'swatch outlined' }), 'executions of the chosen task or construct'));
    return [...items, el('span', { class: 'break' }), ...keys];
  }

  openSwatch() {
    const canvas = document.createElement('canvas');
    const ctx = fitCanvas(canvas, 22, 16);
    ctx.fillStyle = '#5b6473';
    ctx.fillRect(0, 0, 20, 16);
    this.drawOpenEnd(ctx, 20, 0, null);
    canvas.className = 'swatch';
    canvas.style.width = '16.5px';
    canvas.style.height = '12px';
    return canvas;
  }
}

'use strict';
// The concurrency chart: how many threads run an execution at each moment,
// from the analysis's series of bucket means, for all executions and for
// the program's tasks alone. Stretches where the tasks keep few threads
// busy are shaded; the part of the run the timeline shows is framed, and a
// click or a drag moves the timeline there.

const CC = { height: 190, top: 14, bottom: 24 };

const CC_SERIES = {
  all: { fill: 'rgba(143,160,189,0.30)', stroke: '#7d8aa3', label: 'all executions' },
  tasks: { fill: 'rgba(47,111,223,0.30)', stroke: '#2f6fdf', label: 'the program\u2019s tasks' },
};

class ConcurrencyChart {
  constructor(canvas, concurrency, wallNs, callbacks) {
    this.canvas = canvas;
    this.all = ConcurrencyChart.profile(concurrency);
    this.tasks = concurrency.tasks ? ConcurrencyChart.profile(concurrency.tasks) : null;
    const series = [this.all, this.tasks].filter(Boolean);
    this.max = Math.max(1, ...series.map((p) => p.max));
    const longest = series.reduce((m, p) => Math.max(m, p.bucket * p.mean.length), 0);
    this.span = Math.max(wallNs || longest, 1);
    this.callbacks = callbacks || {};
    // Where the program's tasks keep fewer than half their average of
    // threads busy, or less than one, the run does little of its own work at
    // once: those stretches are what a reader looks for.
    const reference = this.tasks || this.all;
    this.low = Math.max(1, reference.average / 2);
    this.window = null;
    this.hover = null;
    this.drag = null;
    this.bind();
    this.resize();
  }

  static profile(p) {
    const series = p.series || { bucket_ns: 0, mean: [] };
    const mean = series.mean || [];
    return {
      mean,
      bucket: series.bucket_ns || 0,
      average: p.average || 0,
      max: mean.reduce((m, v) => Math.max(m, v), p.max || 0),
    };
  }

  plotLeft() { return TL.labelWidth; }
  plotWidth() { return Math.max(10, this.width - TL.labelWidth - 12); }
  plotHeight() { return CC.height - CC.top - CC.bottom; }
  xOf(t) { return this.plotLeft() + (t / this.span) * this.plotWidth(); }
  tOf(x) { return ((x - this.plotLeft()) / this.plotWidth()) * this.span; }
  yOf(v) { return CC.top + this.plotHeight() * (1 - v / this.max); }

  resize() {
    this.width = Math.max(300, this.canvas.parentElement.clientWidth);
    this.ctx = fitCanvas(this.canvas, this.width, CC.height);
    this.draw();
  }

  // The timeline's view, framed on the chart.
  showWindow(t0, t1) {
    this.window = t0 <= 0 && t1 >= this.span ? null : [t0, t1];
    this.draw();
  }

  bucketOf(p) {
    return p.bucket || this.span / Math.max(1, p.mean.length);
  }

  draw() {
    const ctx = this.ctx;
    ctx.clearRect(0, 0, this.width, CC.height);
    ctx.font = TL.smallFont;

    const reference = this.tasks || this.all;
    const bucket = this.bucketOf(reference);
    ctx.fillStyle = '#fdeedf';
    const mean = reference.mean;
    for (let i = 0; i < mean.length; i++) {
      if (mean[i] >= this.low) continue;
      let j = i;
      while (j + 1 < mean.length && mean[j + 1] < this.low) j++;
      const x0 = this.xOf(i * bucket);
      ctx.fillRect(x0, CC.top, Math.max(1, this.xOf((j + 1) * bucket) - x0), this.plotHeight());
      i = j;
    }

    const yStep = Math.max(1, niceStep(this.max, 4));
    ctx.textAlign = 'right';
    ctx.textBaseline = 'middle';
    for (let v = 0; v <= this.max + 1e-9; v += yStep) {
      const y = Math.round(this.yOf(v)) + 0.5;
      ctx.fillStyle = '#e6e9ef';
      ctx.fillRect(this.plotLeft(), y, this.plotWidth(), 1);
      ctx.fillStyle = '#667085';
      ctx.fillText(String(+v.toFixed(2)), this.plotLeft() - 8, y);
    }
    ctx.save();
    ctx.translate(16, CC.top + this.plotHeight() / 2);
    ctx.rotate(-Math.PI / 2);
    ctx.textAlign = 'center';
    ctx.fillText('threads running', 0, 0);
    ctx.restore();

    this.drawSeries(ctx, this.all, CC_SERIES.all);
    if (this.tasks) this.drawSeries(ctx, this.tasks, CC_SERIES.tasks);
    // Averages are labelled at the right end, the lower one below its line
    // so that two close averages do not write over each other.
    const averages = [[this.all, CC_SERIES.all], [this.tasks, CC_SERIES.tasks]].filter(([p]) => p && p.average > 0);
    averages.sort((a, b) => b[0].average - a[0].average);
    averages.forEach(([p, style], k) => this.drawAverage(ctx, p.average, style, k > 0));

    const step = niceStep(this.span, this.plotWidth() / 110);
    ctx.textBaseline = 'top';
    ctx.fillStyle = '#3b4556';
    for (let t = 0; t <= this.span + 1e-6; t += step) {
      const x = Math.round(this.xOf(t));
      ctx.fillRect(x, CC.top + this.plotHeight(), 1, 4);
      tickLabel(ctx, formatOffset(Math.round(t / step) * step, step, this.span), x, CC.top + this.plotHeight() + 7,
        this.plotLeft() - 20, this.width - 2);
    }

    if (this.window) {
      const x0 = this.xOf(this.window[0]);
      const x1 = Math.max(this.xOf(this.window[1]), x0 + 2);
      ctx.fillStyle = 'rgba(31,36,48,0.07)';
      ctx.fillRect(x0, CC.top, x1 - x0, this.plotHeight());
      ctx.strokeStyle = '#1f2430';
      ctx.lineWidth = 1;
      ctx.strokeRect(Math.round(x0) + 0.5, CC.top + 0.5, Math.round(x1 - x0), this.plotHeight() - 1);
    }
    if (this.drag && this.drag.moved) {
      const [a, b] = [this.drag.startX, this.drag.lastX];
      ctx.fillStyle = 'rgba(47,111,223,0.16)';
      ctx.fillRect(Math.min(a, b), CC.top, Math.abs(b - a), this.plotHeight());
    }
    if (this.hover !== null) this.drawHover(ctx);
  }

  // A step line over the buckets, filled down to zero.
  drawSeries(ctx, p, style) {
    const bucket = this.bucketOf(p);
    const mean = p.mean;
    ctx.beginPath();
    ctx.moveTo(this.xOf(0), this.yOf(0));
    for (let i = 0; i < mean.length; i++) {
      ctx.lineTo(this.xOf(i * bucket), this.yOf(mean[i]));
      ctx.lineTo(this.xOf((i + 1) * bucket), this.yOf(mean[i]));
    }
    ctx.lineTo(this.xOf(mean.length * bucket), this.yOf(0));
    ctx.closePath();
    ctx.fillStyle = style.fill;
    ctx.fill();
    ctx.strokeStyle = style.stroke;
    ctx.lineWidth = 1.3;
    ctx.stroke();
  }

  drawAverage(ctx, average, style, below) {
    const y = Math.round(this.yOf(average)) + 0.5;
    ctx.setLineDash([5, 4]);
    ctx.strokeStyle = style.stroke;
    ctx.lineWidth = 1.2;
    ctx.beginPath();
    ctx.moveTo(this.plotLeft(), y);
    ctx.lineTo(this.plotLeft() + this.plotWidth(), y);
    ctx.stroke();
    ctx.setLineDash([]);
    const text = 'average ' + average.toFixed(2) + ', ' + style.label;
    ctx.textAlign = 'right';
    ctx.textBaseline = below ? 'top' : 'bottom';
    const w = ctx.measureText(text).width + 8;
    const x = this.plotLeft() + this.plotWidth() - 4;
    const ty = below ? Math.min(y + 3, CC.top + this.plotHeight() - 14) : Math.max(y - 3, CC.top + 12);
    ctx.fillStyle = 'rgba(255,255,255,0.8)';
    ctx.fillRect(x - w + 4, below ? ty - 1 : ty - 13, w, 14);
    ctx.fillStyle = style.stroke === CC_SERIES.all.stroke ? '#4d5a70' : '#1d4fa8';
    ctx.fillText(text, x, ty);
  }

  drawHover(ctx) {
    const x = this.hover;
    const t = this.tOf(x);
    const value = (p) => {
      const i = Math.floor(t / this.bucketOf(p));
      return i >= 0 && i < p.mean.length ? p.mean[i] : null;
    };
    const all = value(this.all);
    if (all === null) return;
    ctx.fillStyle = '#1f2430';
    ctx.fillRect(Math.round(x), CC.top, 1, this.plotHeight());
    let text = formatMoment(t) + ': ' + all.toFixed(2) + ' all';
    if (this.tasks) {
      const tasks = value(this.tasks);
      if (tasks !== null) text += ', ' + tasks.toFixed(2) + ' tasks';
    }
    ctx.font = TL.smallFont;
    const w = ctx.measureText(text).width + 12;
    const left = x + 8 + w > this.width ? x - 8 - w : x + 8;
    ctx.fillStyle = 'rgba(28,32,42,0.92)';
    ctx.fillRect(left, CC.top + 2, w, 18);
    ctx.fillStyle = '#fff';
    ctx.textAlign = 'left';
    ctx.textBaseline = 'middle';
    ctx.fillText(text, left + 6, CC.top + 11);
  }

  bind() {
    const local = (event) => event.clientX - this.canvas.getBoundingClientRect().left;
    const inPlot = (x) => Math.max(this.plotLeft(), Math.min(x, this.plotLeft() + this.plotWidth()));
    this.canvas.addEventListener('mousedown', (event) => {
      const x = inPlot(local(event));
      this.drag = { startX: x, lastX: x, moved: false };
      event.preventDefault();
    });
    window.addEventListener('mousemove', (event) => {
      if (!this.drag) return;
      this.drag.lastX = inPlot(local(event));
      if (Math.abs(this.drag.lastX - this.drag.startX) > 3) this.drag.moved = true;
      this.draw();
    });
    window.addEventListener('mouseup', () => {
      const drag = this.drag;
      if (!drag) return;
      this.drag = null;
      if (drag.moved && this.callbacks.onRange) {
        this.callbacks.onRange(this.tOf(Math.min(drag.startX, drag.lastX)), this.tOf(Math.max(drag.startX, drag.lastX)));
      } else if (this.callbacks.onPick) {
        this.callbacks.onPick(this.tOf(drag.startX));
      }
      this.draw();
    });
    this.canvas.addEventListener('mousemove', (event) => {
      const x = local(event);
      this.hover = x >= this.plotLeft() && x <= this.plotLeft() + this.plotWidth() ? x : null;
      this.draw();
    });
    this.canvas.addEventListener('mouseleave', () => {
      this.hover = null;
      this.draw();
    });
    window.addEventListener('resize', () => this.resize());
  }

  legend() {
    const swatch = (style) => el('i', { class: 'swatch', style: 'background:' + style.fill + ';border:1px solid ' + style.stroke });
    const items = [el('span', null, swatch(CC_SERIES.all), 'all executions: the program\u2019s tasks and the runtime\u2019s own')];
    if (this.tasks) items.push(el('span', null, swatch(CC_SERIES.tasks), 'the program\u2019s tasks'));
    const noun = this.tasks ? 'task' : 'execution';
    const low = this.low === 1 ? 'less than one ' + noun : 'fewer than ' + +this.low.toFixed(2) + ' ' + noun + 's';
    items.push(el('span', null, el('i', { class: 'swatch', style: 'background:#fdeedf' }), low + ' running'));
    return items;
  }
}

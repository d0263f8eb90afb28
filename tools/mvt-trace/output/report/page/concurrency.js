'use strict';
// The concurrency chart: how many executions run at each moment, from the
// analysis's series of bucket means. Stretches of low concurrency are shaded;
// the part of the run the timeline shows is framed, and a click or a drag
// moves the timeline there.

const CC = { height: 170, top: 12, bottom: 24 };

class ConcurrencyChart {
  constructor(canvas, concurrency, wallNs, callbacks) {
    this.canvas = canvas;
    this.series = concurrency.series || { bucket_ns: 0, mean: [] };
    this.average = concurrency.average || 0;
    this.max = this.series.mean.reduce((m, v) => Math.max(m, v), Math.max(concurrency.max || 0, 1));
    this.span = Math.max(wallNs || this.series.bucket_ns * this.series.mean.length, 1);
    this.callbacks = callbacks || {};
    // Below half the average, or below one execution, the run does little at
    // once: those stretches are what a reader looks for.
    this.low = Math.max(1, this.average / 2);
    this.window = null;
    this.hover = null;
    this.drag = null;
    this.bind();
    this.resize();
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

  draw() {
    const ctx = this.ctx;
    const mean = this.series.mean;
    const bucket = this.series.bucket_ns || this.span / Math.max(1, mean.length);
    ctx.clearRect(0, 0, this.width, CC.height);
    ctx.font = TL.smallFont;

    ctx.fillStyle = '#fde7d3';
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
      ctx.fillStyle = '#eef0f4';
      ctx.fillRect(this.plotLeft(), y, this.plotWidth(), 1);
      ctx.fillStyle = '#667085';
      ctx.fillText(String(+v.toFixed(2)), this.plotLeft() - 8, y);
    }
    ctx.save();
    ctx.translate(14, CC.top + this.plotHeight() / 2);
    ctx.rotate(-Math.PI / 2);
    ctx.textAlign = 'center';
    ctx.fillText('executions running', 0, 0);
    ctx.restore();

    ctx.beginPath();
    ctx.moveTo(this.xOf(0), this.yOf(0));
    for (let i = 0; i < mean.length; i++) {
      ctx.lineTo(this.xOf(i * bucket), this.yOf(mean[i]));
      ctx.lineTo(this.xOf((i + 1) * bucket), this.yOf(mean[i]));
    }
    ctx.lineTo(this.xOf(mean.length * bucket), this.yOf(0));
    ctx.closePath();
    ctx.fillStyle = 'rgba(47,111,223,0.28)';
    ctx.fill();
    ctx.strokeStyle = '#2f6fdf';
    ctx.lineWidth = 1.3;
    ctx.stroke();

    if (this.average > 0) {
      const y = Math.round(this.yOf(this.average)) + 0.5;
      ctx.setLineDash([5, 4]);
      ctx.strokeStyle = '#1f2430';
      ctx.lineWidth = 1;
      ctx.beginPath();
      ctx.moveTo(this.plotLeft(), y);
      ctx.lineTo(this.plotLeft() + this.plotWidth(), y);
      ctx.stroke();
      ctx.setLineDash([]);
      ctx.textAlign = 'right';
      ctx.textBaseline = 'bottom';
      ctx.fillStyle = '#1f2430';
      ctx.fillText('average ' + this.average.toFixed(2), this.plotLeft() + this.plotWidth() - 4, y - 3);
    }

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
    if (this.hover !== null) this.drawHover(ctx, bucket);
  }

  drawHover(ctx, bucket) {
    const x = this.hover;
    const i = Math.floor(this.tOf(x) / bucket);
    const mean = this.series.mean;
    if (i < 0 || i >= mean.length) return;
    ctx.fillStyle = '#1f2430';
    ctx.fillRect(Math.round(x), CC.top, 1, this.plotHeight());
    const text = formatMoment(i * bucket) + ': ' + mean[i].toFixed(2) + ' running';
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
    return [
      el('span', null, el('i', { class: 'swatch', style: 'background:rgba(47,111,223,0.45)' }), 'mean executions running'),
      el('span', null, el('i', { class: 'swatch', style: 'background:#fde7d3' }),
        'low concurrency (below ' + +this.low.toFixed(2) + ')'),
      el('span', null, el('i', { class: 'swatch', style: 'background:transparent;border-top:2px dashed #1f2430;height:0' }),
        'average'),
    ];
  }
}

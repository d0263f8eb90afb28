'use strict';
// What the analysis predicts: the run's time and speedup on other numbers of
// workers, drawn against P on a log-2 axis with the bounds the prediction
// must respect and the recorded run as a point of its own; and what halving
// a construct would save.

const SC = { height: 250, left: 62, right: 18, top: 26, bottom: 44, gap: 36 };

// Two panels side by side, time and speedup, one SVG.
function renderScalability(container, scalability, wallNs, width) {
  const predictions = (scalability.predictions || []).filter((p) => p && p.workers > 0)
    .sort((a, b) => a.workers - b.workers);
  if (predictions.length === 0) {
    container.replaceChildren(el('p', { class: 'muted', text: 'The prediction has no point to draw.' }));
    return;
  }
  const recordedWorkers = scalability.recorded_workers;
  // Speedup and its bounds against the same one-worker time the speedup
  // was taken against.
  const points = predictions.map((p) => {
    const single = (p.speedup || 0) * p.time_ns;
    return {
      ...p,
      single,
      speedup_low: p.upper_bound_ns > 0 ? single / p.upper_bound_ns : p.speedup,
      speedup_high: p.lower_bound_ns > 0 ? single / p.lower_bound_ns : p.speedup,
    };
  });
  const single = points[0].single;
  const recorded = wallNs > 0 && recordedWorkers > 0
    ? { workers: recordedWorkers, time_ns: wallNs, speedup: single > 0 ? single / wallNs : null } : null;

  const panelWidth = Math.max(260, (width - SC.gap) / 2);
  const total = panelWidth * 2 + SC.gap;
  const svg = svgEl('svg', { class: 'scalability', id: 'scalability-chart', width: total, height: SC.height,
    viewBox: '0 0 ' + total + ' ' + SC.height, role: 'img', 'aria-label': 'predicted time and speedup against the number of workers' });
  const workers = points.map((p) => p.workers).concat(recorded ? [recorded.workers] : []);
  const xRange = [Math.min(...workers), Math.max(...workers)];

  const timeMax = Math.max(...points.map((p) => Math.max(p.upper_bound_ns || 0, p.time_ns)), recorded ? recorded.time_ns : 0);
  svg.append(scalabilityPanel({
    x0: 0, width: panelWidth, title: 'Predicted time', xRange, yMax: timeMax, format: formatDuration,
    band: points.map((p) => [p.workers, p.lower_bound_ns, p.upper_bound_ns]),
    line: points.map((p) => [p.workers, p.time_ns]),
    recorded: recorded ? [recorded.workers, recorded.time_ns] : null,
    point: (p) => 'P = ' + p[0] + ': ' + formatDuration(p[1]),
    id: 'scalability-time',
  }));
  const speedMax = Math.max(...points.map((p) => Math.max(p.speedup_high || 0, p.speedup || 0)), recorded && recorded.speedup ? recorded.speedup : 0, 1);
  svg.append(scalabilityPanel({
    x0: panelWidth + SC.gap, width: panelWidth, title: 'Predicted speedup', xRange, yMax: speedMax,
    format: (v) => +v.toFixed(2) + '\u00d7',
    band: points.map((p) => [p.workers, p.speedup_low, p.speedup_high]),
    line: points.map((p) => [p.workers, p.speedup]),
    ideal: true,
    recorded: recorded && recorded.speedup ? [recorded.workers, recorded.speedup] : null,
    point: (p) => 'P = ' + p[0] + ': ' + (+p[1].toFixed(2)) + '\u00d7',
    id: 'scalability-speedup',
  }));

  const legend = el('div', { class: 'legend' },
    el('span', null, el('i', { class: 'swatch', style: 'background:#2f6fdf;height:3px' }), 'prediction'),
    el('span', null, el('i', { class: 'swatch', style: 'background:rgba(47,111,223,0.16)' }), 'between its lower and upper bounds'),
    recorded ? el('span', null, el('i', { class: 'swatch ring' }), 'the recorded run') : null,
    el('span', null, el('i', { class: 'swatch', style: 'border-top:2px dashed #98a2b3;height:0' }), 'ideal speedup (P)'));

  const sentences = [];
  const at = (p) => points.find((q) => q.workers === p);
  if (recorded) {
    sentences.push('Recorded with ' + recorded.workers + (recorded.workers === 1 ? ' worker' : ' workers') + ': ' +
      formatDuration(recorded.time_ns) + '.');
    const twice = at(recorded.workers * 2);
    if (twice) sentences.push('With ' + twice.workers + ' the prediction is ' + formatDuration(twice.time_ns) +
      ' (between ' + formatDuration(twice.lower_bound_ns) + ' and ' + formatDuration(twice.upper_bound_ns) + ').');
  }
  const past = scalability.doubling_gains_under_5_percent_past;
  if (past) sentences.push('Past ' + past + ' workers, doubling them gains less than 5 %.');
  container.replaceChildren(svg, legend, el('p', { class: 'summary', id: 'scalability-summary', text: sentences.join(' ') }));
}

function scalabilityPanel(o) {
  const g = svgEl('g', { transform: 'translate(' + o.x0 + ',0)', id: o.id });
  const plotW = o.width - SC.left - SC.right;
  const plotH = SC.height - SC.top - SC.bottom;
  const lx = (w) => Math.log2(w);
  const span = Math.max(lx(o.xRange[1]) - lx(o.xRange[0]), 1);
  const xOf = (w) => SC.left + ((lx(w) - lx(o.xRange[0])) / span) * plotW;
  const yMax = o.yMax > 0 ? o.yMax * 1.08 : 1;
  const yOf = (v) => SC.top + plotH * (1 - v / yMax);

  g.append(svgEl('text', { x: SC.left, y: 14, class: 'panel-title', text: o.title }));
  // Horizontal grid with values, then a tick at every power of two.
  const step = niceStep(yMax, 4);
  for (let v = 0; v <= yMax + 1e-9; v += step) {
    const y = yOf(v);
    g.append(svgEl('line', { x1: SC.left, x2: SC.left + plotW, y1: y, y2: y, class: 'grid' }),
      svgEl('text', { x: SC.left - 6, y: y + 4, class: 'tick', 'text-anchor': 'end', text: v === 0 ? '0' : o.format(v) }));
  }
  for (let p = 1; p <= o.xRange[1] * 1.0001; p *= 2) {
    if (p < o.xRange[0] / 1.0001) continue;
    const x = xOf(p);
    g.append(svgEl('line', { x1: x, x2: x, y1: SC.top + plotH, y2: SC.top + plotH + 4, class: 'axis' }),
      svgEl('text', { x, y: SC.top + plotH + 17, class: 'tick', 'text-anchor': 'middle', text: String(p) }));
  }
  g.append(svgEl('line', { x1: SC.left, x2: SC.left + plotW, y1: SC.top + plotH, y2: SC.top + plotH, class: 'axis' }),
    svgEl('text', { x: SC.left + plotW / 2, y: SC.height - 6, class: 'axis-label', 'text-anchor': 'middle', text: 'workers (P), log scale' }));

  if (o.ideal) {
    const top = Math.min(o.xRange[1], yMax);
    g.append(svgEl('line', { x1: xOf(o.xRange[0]), y1: yOf(o.xRange[0]), x2: xOf(Math.max(top, o.xRange[0])), y2: yOf(Math.max(top, o.xRange[0])), class: 'ideal' }));
  }
  const band = o.band.filter((b) => isFinite(b[1]) && isFinite(b[2]));
  if (band.length > 1) {
    const upper = band.map((b) => xOf(b[0]) + ',' + yOf(b[2]));
    const lower = band.slice().reverse().map((b) => xOf(b[0]) + ',' + yOf(b[1]));
    g.append(svgEl('polygon', { points: upper.concat(lower).join(' '), class: 'band' }));
  }
  g.append(svgEl('polyline', { points: o.line.map((p) => xOf(p[0]) + ',' + yOf(p[1])).join(' '), class: 'prediction' }));
  for (const p of o.line) {
    g.append(svgEl('circle', { cx: xOf(p[0]), cy: yOf(p[1]), r: 3.5, class: 'point' }, svgEl('title', { text: o.point(p) })));
  }
  if (o.recorded) {
    const [w, v] = o.recorded;
    g.append(svgEl('circle', { cx: xOf(w), cy: yOf(v), r: 7, class: 'recorded' }, svgEl('title', { text: 'recorded: ' + o.point(o.recorded) })),
      svgEl('text', { x: xOf(w) + 10, y: yOf(v) - 8, class: 'recorded-label', text: 'recorded' }));
  }
  return g;
}

// The constructs whose halving saves the most, with what it saves.
function renderWhatIf(container, whatIf, callbacks, model) {
  const rows = (whatIf || []).filter(Boolean);
  if (rows.length === 0) {
    container.replaceChildren(el('p', { class: 'muted', text: 'No construct would save time if it ran faster.' }));
    return;
  }
  const most = rows.reduce((m, r) => Math.max(m, r.saved_ns || 0), 0) || 1;
  container.replaceChildren(
    el('p', { class: 'muted', text: 'If one construct\u2019s tasks took half their time, the run would take:' }),
    el('ol', { class: 'what-if', id: 'what-if-list' }, rows.map((row) => {
      const k = model.constructOfLabel(row.label);
      const before = (row.time_ns || 0) + (row.saved_ns || 0);
      return el('li', null,
        k >= 0 ? el('a', { class: 'name', title: row.label, onclick: () => callbacks.onConstruct(k, 'what-if'), text: row.label })
          : el('span', { class: 'name', title: row.label, text: row.label }),
        el('span', { class: 'saved', text: '\u2212' + formatDuration(row.saved_ns) }),
        el('span', { class: 'after muted', text: formatDuration(row.time_ns) + (before > 0 ? ', ' + formatShare(row.saved_ns / before) + ' less' : '') }),
        el('span', { class: 'share' }, el('i', { style: 'width:' + (100 * (row.saved_ns || 0) / most).toFixed(1) + '%' })));
    })));
}

'use strict';
// Reads the page's data and puts the views together: the header, the
// timeline with its details panel, the concurrency chart, the graph, the
// critical path and the node tables, linked so that choosing a node in one
// shows it in the others.

function readData() {
  const text = document.getElementById('mvt-data').textContent;
  return JSON.parse(text);
}

function renderHeader(data) {
  const run = data.run || {};
  const analysis = data.analysis;
  document.title = (run.title || 'run') + ' \u2013 mvt-trace report';
  document.getElementById('run-title').textContent = run.title || '(untitled run)';
  const outcome = document.getElementById('run-outcome');
  if (run.outcome) {
    outcome.textContent = run.outcome;
    if (run.exit_status !== 0) outcome.classList.add('failed');
  }
  const fact = (label, value, title) => el('div', { title }, el('dt', { text: label }), el('dd', { text: value }));
  const facts = [
    fact('Wall time', formatDuration(run.wall_ns), 'first to last timestamp of the run'),
    fact('Threads', formatCount(run.threads), 'trace files with records'),
    fact('Records', formatCount(run.records)),
    fact('Trace files', formatCount(run.files)),
  ];
  if (analysis && analysis.dependency_graph) {
    facts.push(fact('Graph nodes', formatCount(analysis.dependency_graph.nodes)));
    facts.push(fact('Parallelism', (+analysis.dependency_graph.parallelism).toFixed(2), 'work / span of the graph'));
  }
  facts.push(fact(run.directories && run.directories.length > 1 ? 'Directories' : 'Directory', (run.directories || []).join(', ')));
  facts.push(fact('Started', run.origin_utc || '\u2013', 'the first timestamp; times on this page count from it'));
  document.getElementById('run-facts').replaceChildren(...facts);

  // Problems from check and from the analysis, each once.
  const problems = [...new Set([...(run.problems || []), ...((analysis && analysis.problems) || [])])];
  const notes = run.notes || [];
  const boxes = [];
  if (problems.length) boxes.push(messageBox('problems', problems.length === 1 ? '1 problem' : problems.length + ' problems', problems, true));
  if (notes.length) boxes.push(messageBox('notes', notes.length === 1 ? '1 note on the run' : notes.length + ' notes on the run', notes, notes.length <= 4));
  document.getElementById('run-messages').replaceChildren(...boxes);
  const origin = document.getElementById('timeline-origin');
  origin.textContent = 'Times count from ' + (run.origin_utc || 'the first record') + '.';
  const footer = document.getElementById('page-footer');
  footer.textContent = 'Written by ' + (data.generator || 'mvt-trace') + ' from ' + (run.directories || []).join(', ') + '.';
}

function messageBox(kind, summary, lines, open) {
  return el('details', { class: 'messages ' + kind, open: open || null },
    el('summary', { text: summary }),
    el('ul', null, lines.map((line) => el('li', { text: line }))));
}

// What a click on a bar shows: where and when it ran, its identifiers, its
// node and its metadata.
function renderDetails(container, picked, data, onNode) {
  if (!picked) {
    container.replaceChildren(el('p', { class: 'muted', text: 'Click a bar to see its record: identifiers, parent, node and metadata.' }));
    return;
  }
  const details = picked.details || {};
  const nodes = (data.analysis && data.analysis.nodes) || [];
  const rows = [];
  const row = (label, ...value) => rows.push(el('dt', { text: label }), el('dd', null, ...value));
  row('Thread', picked.lane.label + ' (' + picked.lane.file + ')');
  row('Duration', formatDuration(picked.end - picked.begin) + (picked.open ? ' until the end of the file' : ''));
  row('Runs', formatMoment(picked.begin) + ' to ' + formatMoment(picked.end));
  row(picked.kind === 'region' ? 'Region row' : 'Nesting depth', String(picked.depth));
  if (details.id) row('Identifier', el('code', { text: details.id }));
  if (details.parent) row('Parent', el('code', { text: details.parent === '0.0.0' ? 'none (0.0.0)' : details.parent }));
  if (typeof details.node === 'number' && details.node >= 0 && nodes[details.node]) {
    const node = nodes[details.node];
    row('Node', el('a', { onclick: () => onNode(details.node, 'details'), text: node.name }),
      ' \u00b7 ' + formatCount(node.executions) + ' executions, ' + formatDuration(node.total_ns) + ' in total');
  } else if (data.analysis) {
    row('Node', el('span', { class: 'muted', text: 'none' }));
  }
  if (details.domain) row('Domain', details.domain);
  for (const [key, value] of Object.entries(details.metadata || {})) row(key, el('code', { text: value }));
  if (!picked.details) row('Record', el('span', { class: 'muted', text: 'not embedded in this page (size limit)' }));
  container.replaceChildren(
    el('h3', null, picked.name, el('span', { class: 'kind', text: picked.kind === 'region' ? 'region' : 'task execution' }),
      picked.open ? el('span', { class: 'badge', text: 'still open at the end of the file' }) : null),
    el('dl', null, rows));
}

function main() {
  const data = readData();
  renderHeader(data);
  const timelineData = data.timeline || { span_ns: 0, names: [], lanes: [], details: [] };
  const analysis = data.analysis;
  let timeline = null;
  let chart = null;
  let graph = null;
  let tables = null;

  // Choosing a node anywhere shows it everywhere.
  const showNode = (index, from) => {
    if (graph) graph.select(index);
    if (tables) tables.select(index);
    if (timeline) timeline.setHighlightNode(index);
    if (from === 'table' || from === 'path' || from === 'details') {
      document.getElementById('graph-section').scrollIntoView({ behavior: 'smooth', block: 'nearest' });
    }
  };

  timeline = new TimelineView(timelineData, {
    timeline: document.getElementById('timeline'),
    axis: document.getElementById('timeline-axis'),
    scroll: document.getElementById('timeline-scroll'),
    canvas: document.getElementById('timeline-canvas'),
    spacer: document.getElementById('timeline-spacer'),
    tooltip: document.getElementById('timeline-tooltip'),
  }, {
    onSelect: (picked) => renderDetails(document.getElementById('details'), picked, data, showNode),
    onView: (t0, t1) => chart && chart.showWindow(t0, t1),
  });
  document.getElementById('timeline-legend').replaceChildren(...timeline.legend());
  document.getElementById('timeline-zoom-in').addEventListener('click', () => timeline.zoom(0.5));
  document.getElementById('timeline-zoom-out').addEventListener('click', () => timeline.zoom(2));
  document.getElementById('timeline-reset').addEventListener('click', () => timeline.reset());
  if (timelineData.elided > 0) {
    const note = document.getElementById('timeline-note');
    note.hidden = false;
    note.replaceChildren(formatCount(timelineData.elided) + ' of the shortest executions are not embedded one by one, ' +
      'to keep this page small enough for a browser; the grey blocks show where they ran and how many there were. ' +
      "mvt-trace report's ", el('code', { text: '--max-executions' }), ' option embeds more.');
  }

  const concurrency = document.getElementById('concurrency');
  if (analysis && analysis.concurrency && analysis.concurrency.series) {
    chart = new ConcurrencyChart(document.getElementById('concurrency-chart'), analysis.concurrency,
      analysis.wall_ns || (data.run && data.run.wall_ns), {
        onPick: (t) => {
          const half = Math.min(timeline.t1 - timeline.t0, timeline.fullSpan / 10) / 2;
          timeline.setView(t - half, t + half);
        },
        onRange: (t0, t1) => timeline.setView(t0, t1),
      });
    document.getElementById('concurrency-legend').replaceChildren(...chart.legend());
  } else {
    concurrency.replaceChildren(el('p', { class: 'muted',
      text: 'The concurrency over time comes from the analysis (mvt-trace analyze); this report was written without it.' }));
  }

  const tooltip = document.getElementById('graph-tooltip');
  const section = document.getElementById('graph-section');
  graph = new GraphView(document.getElementById('graph'), data.graph, analysis, {
    onNode: (index) => showNode(index, 'graph'),
    onHover: (index, event) => {
      const node = index >= 0 && analysis ? analysis.nodes[index] : null;
      if (!node) {
        tooltip.hidden = true;
        return;
      }
      tooltip.replaceChildren(el('div', null,
        el('b', { text: node.name }), el('span', { class: 'dim', text: '  ' + node.kind }),
        el('div', { text: formatCount(node.executions) + ' executions, ' + formatDuration(node.total_ns) + ' in total' }),
        el('div', { class: 'dim', text: 'mean ' + formatDuration(node.mean_ns) + (node.code_address ? ' \u00b7 ' + node.code_address : '') })));
      placeTooltip(tooltip, section, event.clientX, event.clientY);
    },
  });
  document.getElementById('graph-legend').replaceChildren(...graph.legend());
  if (data.graph && data.graph.svg && data.graph.note) {
    document.getElementById('graph-legend').append(el('span', { class: 'muted', text: data.graph.note }));
  }
  document.getElementById('graph-zoom-in').addEventListener('click', () => graph.svg && graph.zoom(0.7));
  document.getElementById('graph-zoom-out').addEventListener('click', () => graph.svg && graph.zoom(1 / 0.7));
  document.getElementById('graph-reset').addEventListener('click', () => graph.reset());

  renderCriticalPath(document.getElementById('critical'), analysis, { onNode: showNode });
  tables = new NodeTables(document.getElementById('nodes'), analysis, { onNode: showNode });

  // For scripts that drive the page, its tests among them.
  window.mvtReport = { data, timeline, chart, graph, tables, showNode };
}

main();

'use strict';
// Reads the page's data and puts the views together: the header, the
// timeline with its details panel, the concurrency chart, the graph, the
// critical path, the predictions and the comparison when the data has them,
// and the tables, linked so that choosing a task or a construct in one
// shows it in the others.

function readData() {
  const text = document.getElementById('mvt-data').textContent;
  return JSON.parse(text);
}

function renderHeader(data, model) {
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
  if (analysis) {
    const constructs = analysis.constructs_total || model.constructs.filter(Boolean).length;
    facts.push(fact('Task nodes', formatCount(analysis.nodes_total !== undefined ? analysis.nodes_total : model.nodes.length),
      'nodes of the graph whose executions are the program\u2019s tasks'));
    facts.push(fact('Constructs', formatCount(constructs), 'pieces of code that made those tasks'));
  }
  if (model.graph) {
    facts.push(fact('Parallelism', (+model.graph.parallelism).toFixed(2), 'work / span of the graph of executions'));
  }
  facts.push(fact(run.directories && run.directories.length > 1 ? 'Directories' : 'Directory', (run.directories || []).join(', ')));
  facts.push(fact('Started', run.origin_utc || '\u2013', 'the first timestamp; times on this page count from it'));
  document.getElementById('run-facts').replaceChildren(...facts);

  // The run's findings and the analysis's, each once.
  const once = (...lists) => [...new Set(lists.flatMap((l) => l || []))];
  const problems = once(run.problems, analysis && analysis.problems);
  const notes = once(run.notes, analysis && analysis.notes);
  const boxes = [];
  if (problems.length) boxes.push(messageBox('problems', problems.length === 1 ? '1 problem' : problems.length + ' problems', problems, true));
  if (notes.length) boxes.push(messageBox('notes', notes.length === 1 ? '1 note on the run' : notes.length + ' notes on the run', notes, notes.length <= 4));
  document.getElementById('run-messages').replaceChildren(...boxes);
  document.getElementById('timeline-origin').textContent = 'Times count from ' + (run.origin_utc || 'the first record') + '.';
  document.getElementById('page-footer').textContent =
    'Written by ' + (data.generator || 'mvt-trace') + ' from ' + (run.directories || []).join(', ') + '.';
}

function messageBox(kind, summary, lines, open) {
  return el('details', { class: 'messages ' + kind, id: kind === 'problems' ? 'run-problems' : 'run-notes', open: open || null },
    el('summary', { text: summary }),
    el('ul', null, lines.map((line) => el('li', { text: line }))));
}

// What a click on a bar shows: where and when this piece ran, the
// execution's identifiers, its pieces and busy time, its task node and
// construct, and its metadata.
function renderDetails(container, picked, model, timeline, links) {
  if (!picked) {
    container.replaceChildren(el('p', { class: 'muted', text: 'Click a bar to see its record: identifiers, pieces, busy time, its task and metadata.' }));
    return;
  }
  const details = picked.details;
  const rows = [];
  const row = (label, ...value) => rows.push(el('dt', { text: label }), el('dd', null, ...value));
  const isRegion = picked.kind === 'region';
  row('Thread', picked.lane.label + ' (' + picked.lane.file + ')');
  const pieces = details && details.pieces > 1 ? timeline.piecesOf(picked.detailsIndex) : [];
  row(pieces.length > 1 ? 'This piece' : 'Duration',
    formatDuration(picked.end - picked.begin) + (picked.open ? ' until the end of the file' : '') +
    ', ' + formatMoment(picked.begin, (picked.end - picked.begin) / 20) + ' to ' + formatMoment(picked.end, (picked.end - picked.begin) / 20));
  if (details && details.busy_ns !== undefined) {
    row('Busy', formatDuration(details.busy_ns) + (details.pieces > 1 ? ' in ' + details.pieces + ' pieces' : ''));
  }
  if (details && details.pieces > 1) {
    // An execution suspended and resumed (an untied task) ran in pieces,
    // possibly on several threads; each is a bar of its own.
    const listed = pieces.map((p) => {
      const lane = timeline.lanes[p.lane];
      const here = p.lane === picked.ref.lane && p.index === picked.ref.index;
      const text = lane.label + ' ' + formatMoment(p.begin, (p.end - p.begin) / 20) + ', ' + formatDuration(p.end - p.begin);
      return el('li', null, here ? el('b', { text: text + ' (this one)' }) : el('a', { onclick: () => timeline.reveal(p), text }));
    });
    const missing = details.pieces - pieces.length;
    row('Pieces', el('ol', { class: 'pieces' }, listed),
      missing > 0 ? el('span', { class: 'muted', text: formatCount(missing) + ' more not embedded in this page (size limit)' }) : null);
  }
  row(isRegion ? 'Region row' : 'Nesting depth', String(picked.depth));
  if (details && details.id) row('Identifier', el('code', { text: details.id }));
  if (details && details.parent) row('Parent', el('code', { text: details.parent === '0.0.0' ? 'none (0.0.0)' : details.parent }));
  if (details && details.name && details.name !== picked.name) row('Name', el('code', { text: details.name }));
  if (details && typeof details.node === 'number' && details.node >= 0) {
    const node = model.node(details.node);
    if (node) {
      row('Task node', el('a', { onclick: () => links.node(details.node, 'details'), text: ReportModel.nodeLabel(node) }),
        el('span', { class: 'muted', text: ' \u00b7 ' + formatCount(node.executions) + (node.executions === 1 ? ' execution, ' : ' executions, ') +
          formatDuration(node.total_ns) + ' in total' }));
      const k = model.constructOfNode(details.node);
      const construct = model.construct(k);
      if (construct) {
        row('Construct', el('a', { onclick: () => links.construct(k, 'details'), text: construct.label }),
          el('span', { class: 'muted', text: ' \u00b7 ' + formatCount(construct.nodes) + ' task nodes, ' + formatDuration(construct.total_ns) + ' in total' }));
      }
    } else {
      row('Task node', el('span', { text: 'node-' + details.node }),
        el('span', { class: 'muted', text: ' \u00b7 not among the task nodes this page lists (size limit)' }));
    }
  } else if (details && model.analysis) {
    row('Task node', el('span', { class: 'muted', text: isRegion ? 'none' : 'none: the runtime\u2019s own execution, or a task without dependences' }));
  }
  for (const [key, value] of Object.entries((details && details.metadata) || {})) row(key, el('code', { text: value }));
  if (!details && !isRegion) row('Record', el('span', { class: 'muted', text: 'not embedded in this page (size limit)' }));
  container.replaceChildren(
    el('h3', null, picked.name, el('span', { class: 'kind', text: isRegion ? 'region' : 'execution' }),
      picked.open ? el('span', { class: 'badge', text: 'still open at the end of the file' }) : null),
    el('dl', null, rows));
}

function main() {
  const data = readData();
  const model = new ReportModel(data);
  renderHeader(data, model);
  const timelineData = data.timeline || { span_ns: 0, names: [], lanes: [], details: [] };
  const analysis = data.analysis;
  const views = { timeline: null, chart: null, graph: null, tasks: null, constructs: null };

  // Choosing a task node or a construct anywhere shows it everywhere. Only
  // a link the reader followed moves the page; other views mark it where
  // they are.
  // Smooth unless the reader asked for less motion.
  const reveal = (id) => document.getElementById(id).scrollIntoView({
    behavior: window.matchMedia('(prefers-reduced-motion: reduce)').matches ? 'auto' : 'smooth',
    block: 'nearest',
  });
  const links = {
    node(index, from) {
      if (views.tasks) views.tasks.select(index);
      if (views.constructs) views.constructs.select(-1);
      if (views.graph) views.graph.selectNode(index);
      if (views.timeline) views.timeline.setHighlightNodes([index]);
      if (from === 'table' || from === 'path' || from === 'details') reveal('graph-section');
    },
    construct(k, from) {
      if (views.constructs) views.constructs.select(k);
      if (views.tasks) views.tasks.select(-1);
      if (views.graph) views.graph.selectConstruct(k);
      if (views.timeline) {
        const nodes = [];
        model.nodeConstruct.forEach((c, i) => {
          if (c === k) nodes.push(i);
        });
        views.timeline.setHighlightNodes(nodes);
      }
      if (from === 'graph' || from === 'path' || from === 'details' || from === 'what-if' || from === 'comparison') {
        reveal('constructs-section');
      } else if (from === 'table') {
        reveal('graph-section');
      }
    },
    // A step of the critical path: its node, and the moment it ran.
    step(step, index) {
      links.node(index, 'path');
      if (views.timeline && step.begin_ns !== undefined) {
        const length = Math.max(step.duration_ns || 0, 1);
        views.timeline.setView(step.begin_ns - 4 * length, step.begin_ns + 5 * length);
      }
    },
  };

  views.timeline = new TimelineView(timelineData, {
    timeline: document.getElementById('timeline'),
    axis: document.getElementById('timeline-axis'),
    scroll: document.getElementById('timeline-scroll'),
    canvas: document.getElementById('timeline-canvas'),
    spacer: document.getElementById('timeline-spacer'),
    tooltip: document.getElementById('timeline-tooltip'),
  }, {
    onSelect: (picked) => {
      renderDetails(document.getElementById('details'), picked, model, views.timeline, links);
      const node = picked && picked.details ? picked.details.node : -1;
      // The bar's own task node, marked in the graph and the table where
      // they are; the page stays on the timeline.
      if (node >= 0 && model.node(node)) {
        if (views.tasks) views.tasks.select(node);
        if (views.graph) views.graph.selectNode(node);
      }
    },
    onView: (t0, t1) => views.chart && views.chart.showWindow(t0, t1),
  });
  const timeline = views.timeline;
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

  renderConcurrency(analysis, data, views, timeline);
  renderGraph(data, model, views, links);
  renderCriticalPath(document.getElementById('critical'), model, {
    onNode: links.node, onConstruct: links.construct, onStep: links.step,
  });
  renderPredictions(analysis, data, model, links);
  renderComparisonSection(data, model, links);
  views.tasks = new TaskTables(document.getElementById('nodes'), model, { onNode: links.node });
  views.constructs = new ConstructTable(document.getElementById('constructs'), model, { onConstruct: links.construct });
  renderRuntimeTable(document.getElementById('runtime'), model);

  // For scripts that drive the page, its tests among them.
  window.mvtReport = { data, model, timeline, chart: views.chart, graph: views.graph, tables: views.tasks,
    constructs: views.constructs, showNode: links.node, showConstruct: links.construct, readyMs: performance.now() };
}

function renderConcurrency(analysis, data, views, timeline) {
  const concurrency = document.getElementById('concurrency');
  if (!(analysis && analysis.concurrency && analysis.concurrency.series)) {
    concurrency.replaceChildren(el('p', { class: 'muted',
      text: 'The concurrency over time comes from the analysis (mvt-trace analyze); this report was written without it.' }));
    return;
  }
  const c = analysis.concurrency;
  views.chart = new ConcurrencyChart(document.getElementById('concurrency-chart'), c,
    analysis.wall_ns || (data.run && data.run.wall_ns), {
      onPick: (t) => {
        const half = Math.min(timeline.t1 - timeline.t0, timeline.fullSpan / 10) / 2;
        timeline.setView(t - half, t + half);
      },
      onRange: (t0, t1) => timeline.setView(t0, t1),
    });
  document.getElementById('concurrency-legend').replaceChildren(...views.chart.legend());
  let text = 'On average ' + (+c.average).toFixed(2) + ' threads ran an execution at once';
  if (c.tasks) text += ', and ' + (+c.tasks.average).toFixed(2) + ' ran one of the program\u2019s tasks';
  text += '.';
  // An implicit task lasts its whole region: all executions can keep every
  // thread busy while the tasks leave them idle.
  const openmp = (analysis.runtime || []).some((r) => r.name === 'omp_implicit');
  text += openmp
    ? ' An OpenMP implicit task counts as running while it waits at a barrier, so all executions together keep ' +
      'threads busy that do no work; the program\u2019s tasks alone show the work done.'
    : ' All executions count the runtime\u2019s own beside the program\u2019s tasks.';
  document.getElementById('concurrency-summary').textContent = text;
}

function renderGraph(data, model, views, links) {
  const tooltip = document.getElementById('graph-tooltip');
  const section = document.getElementById('graph-section');
  const switcher = document.getElementById('graph-switch');
  const buttons = { constructs: document.getElementById('graph-show-constructs'), nodes: document.getElementById('graph-show-nodes') };
  const legend = document.getElementById('graph-legend');
  // The first drawing is shown from within the constructor.
  let graph = null;
  graph = new GraphView(document.getElementById('graph'), data.graph, model, {
    onNode: (index) => links.node(index, 'graph'),
    onConstruct: (k) => links.construct(k, 'graph'),
    onShow: (kind) => {
      for (const [k, button] of Object.entries(buttons)) button.setAttribute('aria-pressed', String(k === kind));
      legend.replaceChildren(...(graph ? graph.legend() : []));
    },
    onHover: (kind, index, event) => {
      const row = index < 0 ? null : kind === 'constructs' ? model.construct(index) : model.node(index);
      if (!row) {
        tooltip.hidden = true;
        return;
      }
      const lines = kind === 'constructs'
        ? [el('b', { text: row.label }),
          el('div', { text: formatCount(row.nodes) + ' task nodes, ' + formatCount(row.executions) + ' executions, ' + formatDuration(row.total_ns) + ' in total' }),
          el('div', { class: 'dim', text: formatShare(row.share_of_work) + ' of the work, ' + formatShare(row.share_of_span) + ' of the span \u00b7 click for its row' })]
        : [el('b', { text: ReportModel.nodeLabel(row) }), el('span', { class: 'dim', text: '  ' + row.kind }),
          el('div', { text: formatCount(row.executions) + ' executions, ' + formatDuration(row.total_ns) + ' in total' }),
          el('div', { class: 'dim', text: 'mean ' + formatDuration(row.mean_ns) + (row.code_address ? ' \u00b7 ' + row.code_address : '') })];
      tooltip.replaceChildren(el('div', null, ...lines));
      placeTooltip(tooltip, section, event.clientX, event.clientY);
    },
  });
  views.graph = graph;
  legend.replaceChildren(...graph.legend());
  if (graph.kinds().length > 1) {
    switcher.hidden = false;
    for (const [kind, button] of Object.entries(buttons)) button.addEventListener('click', () => graph.show(kind));
  }
  if (data.graph && data.graph.svg && data.graph.note) document.getElementById('graph-note').textContent = data.graph.note;
  document.getElementById('graph-zoom-in').addEventListener('click', () => graph.zoom(0.7));
  document.getElementById('graph-zoom-out').addEventListener('click', () => graph.zoom(1 / 0.7));
  document.getElementById('graph-reset').addEventListener('click', () => graph.reset());
}

// Drawn only when the analysis has them.
function renderPredictions(analysis, data, model, links) {
  const scalability = analysis && analysis.scalability;
  const whatIf = analysis && analysis.what_if;
  if (!scalability && !whatIf) return;
  document.getElementById('prediction-pair').hidden = false;
  const nav = document.querySelector('a[href="#scalability-section"]');
  nav.hidden = false;
  if (scalability) {
    const section = document.getElementById('scalability-section');
    section.hidden = false;
    const box = document.getElementById('scalability');
    renderScalability(box, scalability, (data.run && data.run.wall_ns) || (analysis && analysis.wall_ns), box.clientWidth || 700);
  } else {
    nav.setAttribute('href', '#what-if-section');
  }
  if (whatIf) {
    document.getElementById('what-if-section').hidden = false;
    renderWhatIf(document.getElementById('what-if'), whatIf, { onConstruct: links.construct }, model);
  }
}

function renderComparisonSection(data, model, links) {
  if (!data.comparison) return;
  document.getElementById('comparison-section').hidden = false;
  document.querySelector('a[href="#comparison-section"]').hidden = false;
  renderComparison(document.getElementById('comparison'), data.comparison, { onConstruct: links.construct }, model);
}

main();

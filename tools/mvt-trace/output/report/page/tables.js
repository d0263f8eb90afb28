'use strict';
// The statistics as sortable tables: the program's tasks (one row per task
// node), their constructs, the tasks without dependences, and the runtime's
// own executions apart from them; and the critical path, by construct.

const STAT_COLUMNS = [
  { key: 'executions', label: 'Executions', format: formatCount },
  { key: 'total_ns', label: 'Total', format: formatDuration },
  { key: 'mean_ns', label: 'Mean', format: formatDuration },
  { key: 'stddev_ns', label: 'Std dev', format: formatDuration },
  { key: 'min_ns', label: 'Min', format: formatDuration },
  { key: 'p50_ns', label: 'Median', format: formatDuration },
  { key: 'p95_ns', label: 'p95', format: formatDuration },
  { key: 'max_ns', label: 'Max', format: formatDuration },
];

// "sweep (jacobi.c:57)" says where; the title says it all, inlining too.
function locationText(location) {
  if (!location) return '';
  let text = location.function + ' at ' + location.file + ':' + location.line;
  if (location.inlined_into) {
    const outer = location.inlined_into;
    text += ', inlined into ' + outer.function + ' at ' + outer.file + ':' + outer.line;
  }
  return text;
}

// A cell with a bar for a share in [0, 1] and its figure beside it.
function shareCell(share, kind) {
  const width = Math.max(0, Math.min(1, share || 0)) * 100;
  return el('td', { class: 'bar-cell ' + (kind || '') },
    el('span', { class: 'bar' }, el('i', { style: 'width:' + width.toFixed(1) + '%' })),
    el('span', { class: 'figure', text: formatShare(share || 0) }));
}

// A table whose rows sort by the column whose header is clicked: numbers
// largest first, text A to Z, a second click the other way round. Each row
// is built when it is first shown, and a page of rows at a time is shown:
// five thousand rows of a dozen cells would take the browser seconds.
class SortableTable {
  constructor(rows, columns, options) {
    this.rows = rows;
    this.columns = columns;
    this.options = options || {};
    this.sortKey = this.options.sortKey;
    this.descending = true;
    this.page = this.options.page || 200;
    this.shown = this.page;
    this.table = el('table', { class: 'stats', id: this.options.id || null });
    this.body = el('tbody');
    this.elements = new Map(); // row -> <tr>
    this.headers = columns.map((column) => {
      const th = el('th', { class: column.text ? 'text' : null, scope: 'col', tabindex: 0, text: column.label,
        title: column.title || 'sort by ' + column.label.toLowerCase() });
      th.addEventListener('click', () => this.sortBy(column.key));
      th.addEventListener('keydown', (event) => {
        if (event.key === 'Enter' || event.key === ' ') {
          event.preventDefault();
          this.sortBy(column.key);
        }
      });
      return th;
    });
    this.table.append(el('thead', null, el('tr', null, this.headers)), this.body);
    this.more = el('div', { class: 'table-more' });
    this.wrap = el('div', { class: 'table-wrap' + (this.options.short ? ' short' : '') }, this.table);
    this.sort();
  }

  // The table in its scrolling box, and the buttons that show more rows.
  parts() {
    return [this.wrap, this.more];
  }

  sortBy(key) {
    if (this.sortKey === key) {
      this.descending = !this.descending;
    } else {
      this.sortKey = key;
      this.descending = !this.columns.find((c) => c.key === key).text;
    }
    this.sort();
  }

  value(row, key) {
    const column = this.columns.find((c) => c.key === key);
    return column && column.sortValue ? column.sortValue(row) : row[key];
  }

  tr(row) {
    let tr = this.elements.get(row);
    if (!tr) {
      tr = this.options.renderRow(row);
      this.elements.set(row, tr);
    }
    return tr;
  }

  sort() {
    const key = this.sortKey;
    const sign = this.descending ? -1 : 1;
    const sorted = [...this.rows];
    if (key) {
      const values = new Map(sorted.map((row) => [row, this.value(row, key)]));
      sorted.sort((a, b) => {
        const va = values.get(a);
        const vb = values.get(b);
        if (typeof va === 'string' || typeof vb === 'string') return sign * String(va).localeCompare(String(vb));
        return sign * ((va || 0) - (vb || 0));
      });
    }
    this.sorted = sorted;
    this.headers.forEach((th, i) => {
      const column = this.columns[i];
      if (column.key === key) th.setAttribute('aria-sort', this.descending ? 'descending' : 'ascending');
      else th.removeAttribute('aria-sort');
    });
    this.render();
  }

  render() {
    const count = Math.min(this.shown, this.sorted.length);
    this.body.replaceChildren(...this.sorted.slice(0, count).map((row) => this.tr(row)));
    const left = this.sorted.length - count;
    if (left <= 0) {
      this.more.replaceChildren();
      return;
    }
    const button = (text, rows) => el('button', { type: 'button', text, onclick: () => {
      this.shown = rows;
      this.render();
    } });
    this.more.replaceChildren(
      el('span', { class: 'muted', text: formatCount(count) + ' of ' + formatCount(this.sorted.length) + ' rows shown ' }),
      button('Show ' + formatCount(Math.min(this.page, left)) + ' more', count + this.page),
      left > this.page ? button('Show all', this.sorted.length) : null);
  }

  // Makes sure a row is among those shown, and returns its <tr>.
  show(row) {
    const position = this.sorted.indexOf(row);
    if (position < 0) return null;
    if (position >= this.shown) {
      this.shown = Math.ceil((position + 1) / this.page) * this.page;
      this.render();
    }
    return this.tr(row);
  }
}

// Scrolls a table's own box, not the page, to a row.
function scrollRowIntoBox(tr) {
  const box = tr.closest('.table-wrap');
  if (!box) return;
  const head = box.querySelector('thead');
  const top = tr.offsetTop - (head ? head.offsetHeight : 0);
  if (top < box.scrollTop || tr.offsetTop + tr.offsetHeight > box.scrollTop + box.clientHeight) {
    box.scrollTop = Math.max(0, top - box.clientHeight / 3);
  }
}

function noAnalysis(what) {
  return el('p', { class: 'muted', text: what + ' come from the analysis (mvt-trace analyze); this report was written without it.' });
}

// The program's tasks: one row per task node, then the tasks that have no
// node because they declared no dependence.
class TaskTables {
  constructor(container, model, callbacks) {
    this.callbacks = callbacks || {};
    this.model = model;
    const analysis = model.analysis;
    if (!analysis) {
      container.replaceChildren(noAnalysis('Per-task statistics'));
      return;
    }
    const work = (model.graph && model.graph.work_ns) || 0;
    const rows = [];
    model.nodes.forEach((n, i) => {
      if (n) rows.push({ ...n, index: i, label: ReportModel.nodeLabel(n), share: work > 0 ? (n.total_ns || 0) / work : 0 });
    });
    const several = new Set(rows.map((n) => n.process)).size > 1;
    const columns = [{ key: 'label', label: 'Task', text: true }, { key: 'kind', label: 'Kind', text: true }];
    if (several) columns.push({ key: 'process', label: 'Process' });
    columns.push(STAT_COLUMNS[0], STAT_COLUMNS[1],
      { key: 'share', label: 'Share of work', title: 'its total time over the work: the time of all tasks together' },
      ...STAT_COLUMNS.slice(2));
    const critical = new Set(model.criticalNodes());
    const parts = [];
    const total = analysis.nodes_total || rows.length;
    if (total > rows.length) {
      parts.push(el('p', { class: 'note', text: 'The ' + formatCount(rows.length) + ' task nodes with the most time, of ' +
        formatCount(total) + ', and those of the critical path; the constructs below count them all, and ' +
        'mvt-trace analyze --json lists each.' }));
    }
    if (rows.length) {
      this.table = new SortableTable(rows, columns, {
        id: 'node-table', sortKey: 'total_ns', renderRow: (row) => this.renderRow(row, columns, critical),
      });
      this.rowOfNode = new Map(rows.map((row) => [row.index, row]));
      parts.push(...this.table.parts());
    } else {
      parts.push(el('p', { class: 'muted', text: 'No task node of the program ran.' }));
    }
    parts.push(...this.withoutDependences(analysis));
    container.replaceChildren(...parts);
  }

  renderRow(row, columns, critical) {
    const cells = columns.map((column) => {
      if (column.key === 'label') {
        const title = [row.label, row.name !== row.label ? 'name ' + row.name : null, 'identifier ' + row.id,
          row.code_address ? 'code at ' + row.code_address : null, locationText(row.location)].filter(Boolean).join('\n');
        return el('td', { class: 'text name', title },
          el('span', { text: row.label }),
          critical.has(row.index) ? el('span', { class: 'tag', text: 'critical' }) : null);
      }
      if (column.key === 'share') return shareCell(row.share);
      const value = row[column.key];
      return el('td', { class: column.text ? 'text' : null, text: column.format ? column.format(value) : value });
    });
    const tr = el('tr', { 'data-node': row.index }, cells);
    tr.addEventListener('click', () => this.callbacks.onNode && this.callbacks.onNode(row.index, 'table'));
    return tr;
  }

  // Tasks with no dependence have no node: a sentence for all of them and a
  // row per name.
  withoutDependences(analysis) {
    const summary = analysis.tasks_without_dependences;
    const unattached = analysis.unattached || [];
    if ((!summary || !summary.executions) && unattached.length === 0) return [];
    const parts = [el('h3', { class: 'sub', id: 'without-dependences', text: 'Tasks without dependences' })];
    if (summary && summary.executions) {
      const work = (this.model.graph && this.model.graph.work_ns) || 0;
      const all = work + (summary.total_ns || 0);
      parts.push(el('p', { class: 'summary', id: 'without-dependences-summary',
        text: formatCount(summary.executions) + (summary.executions === 1 ? ' execution' : ' executions') +
          ' of tasks that declared no dependence took ' + formatDuration(summary.total_ns) +
          (all > 0 ? ', ' + formatShare(summary.total_ns / all) + ' of the time of all tasks' : '') +
          '. They have no node in the graph, so they are neither in the work nor on the critical path.' }));
    }
    if (unattached.length) {
      const columns = [{ key: 'name', label: 'Name', text: true }, ...STAT_COLUMNS];
      const table = new SortableTable(unattached, columns, {
        id: 'unattached-table', sortKey: 'total_ns', short: true,
        renderRow: (row) => el('tr', null, columns.map((c) => el('td', { class: c.text ? 'text name' : null,
          text: c.format ? c.format(row[c.key]) : row[c.key] }))),
      });
      parts.push(...table.parts());
    }
    return parts;
  }

  select(index) {
    if (this.selected) this.selected.classList.remove('selected');
    this.selected = null;
    const row = this.rowOfNode && this.rowOfNode.get(index);
    const tr = row ? this.table.show(row) : null;
    if (tr) {
      tr.classList.add('selected');
      this.selected = tr;
      scrollRowIntoBox(tr);
    }
  }
}

// The constructs: the task nodes of one piece of code together.
class ConstructTable {
  constructor(container, model, callbacks) {
    this.callbacks = callbacks || {};
    if (!model.analysis) {
      container.replaceChildren(noAnalysis('Constructs'));
      return;
    }
    const rows = [];
    model.constructs.forEach((c, k) => {
      if (c) rows.push({ ...c, index: k });
    });
    if (rows.length === 0) {
      container.replaceChildren(el('p', { class: 'muted', text: 'No task node of the program ran.' }));
      return;
    }
    const columns = [
      { key: 'label', label: 'Construct', text: true },
      { key: 'nodes', label: 'Task nodes', format: formatCount },
      { key: 'executions', label: 'Executions', format: formatCount },
      { key: 'total_ns', label: 'Total', format: formatDuration },
      { key: 'share_of_work', label: 'Share of work', title: 'its time over the time of all task nodes' },
      { key: 'share_of_span', label: 'Share of span', title: 'its time on the critical path over the span' },
      { key: 'mean_ns', label: 'Mean', format: formatDuration },
      { key: 'p95_ns', label: 'p95', format: formatDuration },
    ];
    this.table = new SortableTable(rows, columns, {
      id: 'construct-table', sortKey: 'total_ns',
      renderRow: (row) => {
        const tr = el('tr', { 'data-construct': row.index }, columns.map((c) => {
          if (c.key === 'label') return el('td', { class: 'text name', title: [row.label, locationText(row.location)].filter(Boolean).join('\n'), text: row.label });
          if (c.key === 'share_of_work') return shareCell(row.share_of_work);
          if (c.key === 'share_of_span') return shareCell(row.share_of_span, 'span');
          return el('td', { text: c.format(row[c.key]) });
        }));
        tr.addEventListener('click', () => this.callbacks.onConstruct && this.callbacks.onConstruct(row.index, 'table'));
        return tr;
      },
    });
    this.rowOfConstruct = new Map(rows.map((row) => [row.index, row]));
    const parts = this.table.parts();
    const total = model.analysis.constructs_total;
    if (total > rows.length) {
      parts.unshift(el('p', { class: 'note', text: 'The ' + formatCount(rows.length) + ' constructs with the most time, of ' +
        formatCount(total) + ', and those of the critical path; mvt-trace analyze --json lists each.' }));
    }
    container.replaceChildren(...parts);
  }

  select(index) {
    if (this.selected) this.selected.classList.remove('selected');
    this.selected = null;
    const row = this.rowOfConstruct && this.rowOfConstruct.get(index);
    const tr = row ? this.table.show(row) : null;
    if (tr) {
      tr.classList.add('selected');
      this.selected = tr;
      scrollRowIntoBox(tr);
    }
  }
}

// The runtime's own executions (OpenMP's parallel regions, implicit tasks
// and barriers, a flow graph's root tasks): not the program's work.
function renderRuntimeTable(container, model) {
  if (!model.analysis) {
    container.replaceChildren(noAnalysis('The runtime\u2019s executions'));
    return;
  }
  const rows = (model.analysis.runtime || []).map((r) => ({ ...r, label: r.label || r.name, kind: r.kind || '' }));
  if (rows.length === 0) {
    container.replaceChildren(el('p', { class: 'muted', text: 'The runtime recorded no execution of its own.' }));
    return;
  }
  const columns = [{ key: 'label', label: 'Execution', text: true }, { key: 'kind', label: 'Kind', text: true }, ...STAT_COLUMNS];
  const table = new SortableTable(rows, columns, {
    id: 'runtime-table', sortKey: 'total_ns', short: true,
    renderRow: (row) => el('tr', null, columns.map((c) => el('td', {
      class: c.key === 'label' ? 'text name' : c.text ? 'text' : null,
      title: c.key === 'label' ? [row.label, row.id ? 'identifier ' + row.id : null, locationText(row.location)].filter(Boolean).join('\n') : null,
      text: c.format ? c.format(row[c.key]) : row[c.key] || '\u2013',
    }))),
  });
  container.replaceChildren(...table.parts());
}

// Work, span and parallelism; which constructs hold the span; and the
// critical path with consecutive steps of one construct as one line
// ("50 × sweep (jacobi.c:57)") that opens onto its steps.
function renderCriticalPath(container, model, callbacks) {
  const graph = model.graph;
  if (!graph) {
    container.replaceChildren(noAnalysis('Work, span and the critical path'));
    return;
  }
  const number = (label, value, title) => el('div', { title }, el('div', { class: 'label', text: label }), el('div', { class: 'value', text: value }));
  const parts = [el('div', { class: 'numbers' },
    number('Work', formatDuration(graph.work_ns), 'the time of all task nodes together'),
    number('Span', formatDuration(graph.span_ns), 'the longest chain of dependent executions: the shortest the run could take'),
    number('Parallelism', graph.parallelism !== undefined ? (+graph.parallelism).toFixed(2) : '\u2013', 'work / span'))];
  const path = graph.critical_path || [];
  parts.push(el('p', { class: 'muted', text: formatCount(graph.nodes) + ' task nodes, ' + formatCount(graph.edges) +
    (graph.edges_complete === false ? ' or more' : '') + ' edges; ' + formatCount(path.length) +
    (path.length === 1 ? ' execution' : ' executions') + ' on the critical path.' }));

  // Where the span goes, by construct.
  const holders = model.constructs.map((c, k) => ({ c, k })).filter(({ c }) => c && c.share_of_span > 0)
    .sort((a, b) => b.c.share_of_span - a.c.share_of_span).slice(0, 5);
  if (holders.length) {
    parts.push(el('h3', { class: 'sub', text: 'Constructs that hold the span' }),
      el('ul', { class: 'holders', id: 'span-holders' }, holders.map(({ c, k }) => el('li', null,
        el('a', { class: 'name', title: c.label, onclick: () => callbacks.onConstruct(k, 'path'), text: c.label }),
        el('span', { class: 'time', text: formatShare(c.share_of_span) }),
        el('span', { class: 'share' }, el('i', { style: 'width:' + (100 * c.share_of_span).toFixed(1) + '%' }))))));
  }

  if (path.length === 0) {
    parts.push(el('p', { class: 'muted', text: 'No critical path: no task node ran.' }));
    container.replaceChildren(...parts);
    return;
  }
  const groups = model.criticalGroups();
  const span = graph.span_ns || groups.reduce((s, g) => s + g.time, 0) || 1;
  parts.push(el('h3', { class: 'sub', text: 'The path, in order' }));
  const list = el('ol', { class: 'path', id: 'critical-path' });
  // A long path of alternating constructs is shown a part at a time.
  const chunk = 200;
  let shown = 0;
  const more = el('button', { type: 'button', class: 'more' });
  const showMore = () => {
    const next = groups.slice(shown, shown + chunk);
    list.append(...next.map((group) => criticalGroupItem(group, model, span, callbacks)));
    shown += next.length;
    more.hidden = shown >= groups.length;
    more.textContent = 'Show ' + formatCount(Math.min(chunk, groups.length - shown)) + ' more of ' + formatCount(groups.length - shown);
  };
  more.addEventListener('click', showMore);
  showMore();
  parts.push(list, more);
  container.replaceChildren(...parts);
}

function criticalGroupItem(group, model, span, callbacks) {
  const count = group.steps.length;
  const share = el('span', { class: 'share' }, el('i', { style: 'width:' + Math.min(100, (100 * group.time) / span).toFixed(1) + '%' }));
  const time = el('span', { class: 'time', text: formatDuration(group.time) });
  const stepNumber = el('span', { class: 'step', text: String(group.first + 1) });
  if (count === 1) {
    const { step, node } = group.steps[0];
    const name = node >= 0
      ? el('a', { onclick: () => callbacks.onStep(step, node), title: group.label + '\nidentifier ' + step.id, text: group.label })
      : el('span', { title: group.label, text: group.label });
    return el('li', { 'data-steps': 1 }, stepNumber, el('span', { class: 'name' }, name), time, share);
  }
  // The steps are written out when the group is opened: a path may hold
  // thousands.
  const steps = el('ol', { class: 'steps' });
  const item = el('li', { 'data-steps': count, class: 'group' },
    stepNumber,
    el('details', { class: 'name' },
      el('summary', { title: group.label },
        el('b', { class: 'count', text: formatCount(count) + ' \u00d7 ' }),
        group.construct >= 0
          ? el('a', { onclick: (event) => { event.preventDefault(); callbacks.onConstruct(group.construct, 'path'); }, text: group.label })
          : el('span', { text: group.label })),
      steps),
    time, share);
  const details = item.querySelector('details');
  details.addEventListener('toggle', () => {
    if (!details.open || steps.childElementCount) return;
    const limit = 500;
    steps.append(...group.steps.slice(0, limit).map(({ step, position, node }) => el('li', null,
      node >= 0
        ? el('a', { onclick: () => callbacks.onStep(step, node), title: 'identifier ' + step.id,
          text: 'step ' + (position + 1) + (step.instance > 1 ? ', execution ' + step.instance : '') })
        : el('span', { text: 'step ' + (position + 1) }),
      el('span', { class: 'muted', text: ' at ' + formatMoment(step.begin_ns, step.duration_ns / 2) + ', ' + formatDuration(step.duration_ns) }))));
    if (count > limit) steps.append(el('li', { class: 'muted', text: formatCount(count - limit) + ' more steps' }));
  });
  return item;
}

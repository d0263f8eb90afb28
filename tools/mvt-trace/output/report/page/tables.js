'use strict';
// Per-node statistics as sortable tables, and the critical path with its
// work, span and parallelism.

const STAT_COLUMNS = [
  { key: 'executions', label: 'Executions', format: formatCount },
  { key: 'total_ns', label: 'Total', format: formatDuration },
  { key: 'share', label: 'Share of time', bar: true },
  { key: 'mean_ns', label: 'Mean', format: formatDuration },
  { key: 'stddev_ns', label: 'Std dev', format: formatDuration },
  { key: 'min_ns', label: 'Min', format: formatDuration },
  { key: 'p50_ns', label: 'Median', format: formatDuration },
  { key: 'p95_ns', label: 'p95', format: formatDuration },
  { key: 'max_ns', label: 'Max', format: formatDuration },
];

// A table whose rows sort by the column whose header is clicked: numbers
// largest first, text A to Z, a second click the other way round.
class SortableTable {
  constructor(rows, columns, options) {
    this.rows = rows;
    this.columns = columns;
    this.options = options || {};
    this.sortKey = this.options.sortKey;
    this.descending = true;
    this.table = el('table', { class: 'stats' });
    this.body = el('tbody');
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
    this.render();
  }

  sortBy(key) {
    if (this.sortKey === key) {
      this.descending = !this.descending;
    } else {
      this.sortKey = key;
      this.descending = !this.columns.find((c) => c.key === key).text;
    }
    this.render();
  }

  value(row, key) {
    const column = this.columns.find((c) => c.key === key);
    return column && column.sortValue ? column.sortValue(row) : row[key];
  }

  render() {
    const key = this.sortKey;
    const sign = this.descending ? -1 : 1;
    const sorted = [...this.rows];
    if (key) {
      sorted.sort((a, b) => {
        const va = this.value(a, key);
        const vb = this.value(b, key);
        if (typeof va === 'string' || typeof vb === 'string') return sign * String(va).localeCompare(String(vb));
        return sign * ((va || 0) - (vb || 0));
      });
    }
    this.headers.forEach((th, i) => {
      const column = this.columns[i];
      if (column.key === key) th.setAttribute('aria-sort', this.descending ? 'descending' : 'ascending');
      else th.removeAttribute('aria-sort');
    });
    this.body.replaceChildren(...sorted.map((row) => this.options.renderRow(row)));
  }
}

class NodeTables {
  constructor(container, analysis, callbacks) {
    this.callbacks = callbacks || {};
    this.rowsByNode = new Map();
    if (!analysis) {
      container.replaceChildren(el('p', { class: 'muted',
        text: 'Per-node statistics come from the analysis (mvt-trace analyze); this report was written without it.' }));
      return;
    }
    const nodes = (analysis.nodes || []).map((n, i) => ({ ...n, index: i }));
    const unattached = (analysis.unattached || []).map((n) => ({ ...n, kind: 'outside the graph', index: -1 }));
    const most = [...nodes, ...unattached].reduce((m, n) => Math.max(m, n.total_ns || 0), 0);
    for (const row of [...nodes, ...unattached]) row.share = most > 0 ? (row.total_ns || 0) / most : 0;
    const critical = new Set(criticalIndexes(analysis));
    const several = new Set(nodes.map((n) => n.process)).size > 1;
    const nameColumn = { key: 'name', label: 'Node', text: true };
    const columns = [nameColumn, { key: 'kind', label: 'Kind', text: true }];
    if (several) columns.push({ key: 'process', label: 'Process' });
    columns.push(...STAT_COLUMNS);
    const renderRow = (row) => this.renderRow(row, columns, critical);
    const parts = [];
    if (analysis.nodes_total > nodes.length) {
      parts.push(el('p', { class: 'note', text: 'The ' + formatCount(nodes.length) + ' nodes with the most time, of ' +
        formatCount(analysis.nodes_total) + ' that ran, and those of the critical path; mvt-trace analyze --json lists them all.' }));
    }
    if (nodes.length) {
      this.nodeTable = new SortableTable(nodes, columns, { sortKey: 'total_ns', renderRow });
      this.nodeTable.table.id = 'node-table';
      parts.push(el('div', { class: 'table-wrap' }, this.nodeTable.table));
    } else {
      parts.push(el('p', { class: 'muted', text: 'The run recorded no graph node that executed.' }));
    }
    if (unattached.length) {
      const outside = new SortableTable(unattached, [{ key: 'name', label: 'Execution name', text: true }, ...STAT_COLUMNS],
        { sortKey: 'total_ns', renderRow: (row) => this.renderRow(row, [{ key: 'name', text: true }, ...STAT_COLUMNS], critical) });
      outside.table.id = 'unattached-table';
      parts.push(el('h3', { class: 'sub', text: 'Executions that belong to no node' }), el('div', { class: 'table-wrap' }, outside.table));
    }
    container.replaceChildren(...parts);
  }

  renderRow(row, columns, critical) {
    const cells = columns.map((column) => {
      if (column.key === 'name') {
        // Many nodes share a name ("node" for every OpenMP task); the code
        // address tells them apart.
        return el('td', { class: 'text name', title: [row.name, row.id && 'identifier ' + row.id, row.code_address].filter(Boolean).join('\n') },
          row.name, row.code_address ? el('span', { class: 'address', text: row.code_address }) : null,
          critical.has(row.index) ? el('span', { class: 'tag', text: 'critical' }) : null);
      }
      if (column.bar) {
        return el('td', { class: 'bar-cell' }, el('i', { style: 'width:' + Math.max(1, row.share * 100).toFixed(1) + '%' }));
      }
      const value = row[column.key];
      return el('td', { class: column.text ? 'text' : null, text: column.format ? column.format(value) : value });
    });
    const tr = el('tr', { 'data-node': row.index >= 0 ? row.index : null }, cells);
    if (row.index >= 0) {
      this.rowsByNode.set(row.index, tr);
      tr.addEventListener('click', () => this.callbacks.onNode && this.callbacks.onNode(row.index, 'table'));
    }
    return tr;
  }

  select(index) {
    for (const tr of this.rowsByNode.values()) tr.classList.remove('selected');
    const tr = this.rowsByNode.get(index);
    if (tr && tr.isConnected) {
      tr.classList.add('selected');
      tr.scrollIntoView({ block: 'nearest' });
    }
  }
}

function renderCriticalPath(container, analysis, callbacks) {
  const graph = analysis && analysis.dependency_graph;
  if (!graph) {
    container.replaceChildren(el('p', { class: 'muted',
      text: 'Work, span and the critical path come from the analysis (mvt-trace analyze); this report was written without it.' }));
    return;
  }
  const number = (label, value, title) => el('div', { title }, el('div', { class: 'label', text: label }), el('div', { class: 'value', text: value }));
  const parts = [el('div', { class: 'numbers' },
    number('Work', formatDuration(graph.work_ns), 'the time of all nodes together'),
    number('Span', formatDuration(graph.span_ns), 'the longest chain of dependent nodes: the shortest the run could take'),
    number('Parallelism', graph.parallelism !== undefined ? (+graph.parallelism).toFixed(2) : '\u2013', 'work / span'))];
  const facts = formatCount(graph.nodes) + ' nodes, ' + formatCount(graph.edges) + ' edges' +
    (graph.condensed_cycles ? '; ' + formatCount(graph.condensed_cycles) + ' cycles condensed into single vertices' : '');
  parts.push(el('p', { class: 'muted', text: facts }));
  const path = graph.critical_path || [];
  const indexes = new Map();
  (analysis.nodes || []).forEach((n, i) => indexes.set(n.process + ':' + n.id, i));
  const span = graph.span_ns || path.reduce((s, step) => s + (step.total_ns || 0), 0) || 1;
  if (path.length === 0) {
    parts.push(el('p', { class: 'muted', text: 'No critical path: the graph has no node with executions.' }));
  } else {
    parts.push(el('ol', { class: 'path', id: 'critical-path' }, path.map((step, k) => {
      const index = indexes.get(step.process + ':' + step.id);
      const name = index !== undefined
        ? el('a', { onclick: () => callbacks.onNode(index, 'path'), title: 'identifier ' + step.id, text: step.name })
        : el('span', { text: step.name });
      const address = index !== undefined && analysis.nodes[index].code_address;
      return el('li', null,
        el('span', { class: 'step', text: String(k + 1) }),
        el('span', { class: 'name' }, name, address ? el('span', { class: 'address', text: address }) : null),
        el('span', { class: 'time', text: formatDuration(step.total_ns) }),
        el('span', { class: 'share' }, el('i', { style: 'width:' + Math.min(100, (100 * (step.total_ns || 0)) / span).toFixed(1) + '%' })));
    })));
  }
  container.replaceChildren(...parts);
}

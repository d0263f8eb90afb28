'use strict';
// The comparison with a baseline run, as mvt-trace diff gives it: the run's
// figures base, new and their change, the constructs of both runs with the
// regressions flagged, and the constructs only one run has.

// A change's colour: for times a rise is worse, for parallelism a fall.
function changeClass(change, higherIsBetter) {
  if (!change || !isFinite(change)) return 'same';
  return (change > 0) !== !!higherIsBetter ? 'worse' : 'better';
}

function renderComparison(container, comparison, callbacks, model) {
  const parts = [];
  const run = comparison.run || {};
  const figures = [
    ['Wall time', run.wall_ns, formatDuration, false],
    ['Work', run.work_ns, formatDuration, false],
    ['Span', run.span_ns, formatDuration, false],
    ['Parallelism', run.parallelism, (v) => (v === null || v === undefined ? '\u2013' : (+v).toFixed(2)), true],
  ].filter(([, figure]) => figure);
  if (figures.length) {
    parts.push(el('table', { class: 'stats figures', id: 'comparison-run' },
      el('thead', null, el('tr', null, ['', 'Base', 'New', 'Change'].map((h, i) => el('th', { class: i ? null : 'text', text: h })))),
      el('tbody', null, figures.map(([label, figure, format, higherIsBetter]) => el('tr', null,
        el('td', { class: 'text', text: label }),
        el('td', { text: format(figure.base) }),
        el('td', { text: format(figure.new) }),
        el('td', { class: 'change ' + changeClass(figure.change, higherIsBetter), text: formatChange(figure.change) }))))));
  }

  const rows = (comparison.constructs || []).filter(Boolean).map((c) => ({
    ...c,
    base_total: c.base ? c.base.total_ns : null,
    new_total: c.new ? c.new.total_ns : null,
    base_mean: c.base ? c.base.mean_ns : null,
    new_mean: c.new ? c.new.mean_ns : null,
    base_p95: c.base ? c.base.p95_ns : null,
    new_p95: c.new ? c.new.p95_ns : null,
    executions: (c.base ? formatCount(c.base.executions) : '\u2013') + ' \u2192 ' + (c.new ? formatCount(c.new.executions) : '\u2013'),
    status: c.regressed ? 'regressed' : c.significant ? (c.change < 0 ? 'faster' : 'changed') : '',
  }));
  const regressed = rows.filter((r) => r.regressed);
  parts.push(el('p', { class: 'summary', id: 'comparison-summary', text: regressed.length
    ? formatCount(regressed.length) + ' of ' + formatCount(rows.length) + ' constructs regressed: ' +
      regressed.slice(0, 5).map((r) => r.label + ' (' + formatChange(r.change) + ')').join(', ') + (regressed.length > 5 ? ', \u2026' : '') + '.'
    : 'No construct regressed' + (rows.length ? ' of the ' + formatCount(rows.length) + ' that both runs have.' : '.') }));
  if (rows.length) {
    const columns = [
      { key: 'label', label: 'Construct', text: true },
      { key: 'status', label: '', text: true, title: 'sort by what changed' },
      { key: 'change', label: 'Change', title: 'as mvt-trace diff measures it' },
      { key: 'base_total', label: 'Base total', format: formatDuration },
      { key: 'new_total', label: 'New total', format: formatDuration },
      { key: 'base_mean', label: 'Base mean', format: formatDuration },
      { key: 'new_mean', label: 'New mean', format: formatDuration },
      { key: 'base_p95', label: 'Base p95', format: formatDuration },
      { key: 'new_p95', label: 'New p95', format: formatDuration },
      { key: 'executions', label: 'Executions', text: true, sortValue: (r) => (r.new ? r.new.executions : 0) },
    ];
    const table = new SortableTable(rows, columns, {
      id: 'comparison-table', sortKey: 'change', short: true,
      renderRow: (row) => {
        const k = model.constructOfLabel(row.label);
        return el('tr', { class: row.regressed ? 'regressed' : null, 'data-construct': k >= 0 ? k : null }, columns.map((c) => {
          if (c.key === 'label') {
            const title = [row.label, locationText(row.location)].filter(Boolean).join('\n');
            return el('td', { class: 'text name', title },
              k >= 0 ? el('a', { onclick: () => callbacks.onConstruct(k, 'comparison'), text: row.label }) : row.label);
          }
          if (c.key === 'status') return el('td', { class: 'text' }, row.status ? el('span', { class: 'tag ' + row.status, text: row.status }) : null);
          if (c.key === 'change') return el('td', { class: 'change ' + (row.significant ? changeClass(row.change, false) : 'same'), text: formatChange(row.change) });
          return el('td', { class: c.text ? 'text' : null, text: c.format ? c.format(row[c.key]) : row[c.key] });
        }));
      },
    });
    parts.push(...table.parts());
  }
  const labels = (list) => (list || []).map((item) => (typeof item === 'string' ? item : item && (item.label || item.name))).filter(Boolean);
  const added = labels(comparison.added);
  const removed = labels(comparison.removed);
  if (added.length || removed.length) {
    const list = (title, items, id) => el('div', { class: 'changed-list', id },
      el('h3', { class: 'sub', text: title + ' (' + formatCount(items.length) + ')' }),
      items.length ? el('ul', null, items.map((label) => el('li', { text: label }))) : el('p', { class: 'muted', text: 'none' }));
    parts.push(el('div', { class: 'pair-lists' },
      list('Only in the new run', added, 'comparison-added'),
      list('Only in the base run', removed, 'comparison-removed')));
  }
  container.replaceChildren(...parts);
}

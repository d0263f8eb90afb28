'use strict';
// The graph: Graphviz's SVG drawing, inline, with pan and zoom. Nodes are
// coloured by their total time and the critical path is outlined; a node's
// <g id="node-I"> ties it to analysis.nodes[I], so the table, the critical
// path and the timeline can point at it.

class GraphView {
  constructor(container, graph, analysis, callbacks) {
    this.container = container;
    this.analysis = analysis;
    this.callbacks = callbacks || {};
    this.nodes = (analysis && analysis.nodes) || [];
    this.elements = new Map(); // node index -> <g>
    this.selected = -1;
    this.svg = graph && graph.svg ? this.parse(graph.svg) : null;
    if (!this.svg) {
      const why = graph && graph.svg ? 'The graph drawing could not be read.' : (graph && graph.note) || 'No graph drawing in this report.';
      container.replaceChildren(el('div', { class: 'graph-empty', text: why }));
      container.classList.add('empty');
      return;
    }
    container.replaceChildren(this.svg);
    this.fit = this.initialBox();
    this.natural = { ...this.fit };
    this.sizeContainer();
    this.box = { ...this.fit };
    this.applyBox();
    this.findNodes();
    this.colourNodes();
    this.markCriticalPath(criticalIndexes(analysis));
    this.bind();
  }

  // The drawing as an element of this document, with anything that could
  // run a script taken out: the page shows it, nothing more.
  parse(text) {
    const doc = new DOMParser().parseFromString(text, 'image/svg+xml');
    const root = doc.documentElement;
    if (!root || root.nodeName.toLowerCase() !== 'svg' || doc.getElementsByTagName('parsererror').length) return null;
    for (const script of [...root.getElementsByTagName('script')]) script.remove();
    for (const node of root.querySelectorAll('*')) {
      for (const attribute of [...node.attributes]) {
        if (/^on/i.test(attribute.name)) node.removeAttribute(attribute.name);
      }
    }
    const svg = document.importNode(root, true);
    svg.removeAttribute('width');
    svg.removeAttribute('height');
    svg.setAttribute('preserveAspectRatio', 'xMidYMid meet');
    return svg;
  }

  initialBox() {
    const view = this.svg.viewBox && this.svg.viewBox.baseVal;
    if (view && view.width > 0 && view.height > 0) return { x: view.x, y: view.y, w: view.width, h: view.height };
    const box = this.svg.getBBox();
    return { x: box.x, y: box.y, w: Math.max(box.width, 1), h: Math.max(box.height, 1) };
  }

  // A small graph is shown at about its own size, not blown up to fill the
  // box, and the box is no taller than the drawing needs.
  sizeContainer() {
    const pixelsPerUnit = 1.25;
    const height = Math.max(220, Math.min(560, this.natural.h * pixelsPerUnit + 40));
    this.container.style.height = height + 'px';
    const width = this.container.clientWidth || 600;
    const w = Math.max(this.natural.w, width / pixelsPerUnit);
    const h = Math.max(this.natural.h, height / pixelsPerUnit);
    this.fit = { x: this.natural.x - (w - this.natural.w) / 2, y: this.natural.y - (h - this.natural.h) / 2, w, h };
  }

  applyBox() {
    const b = this.box;
    this.svg.setAttribute('viewBox', b.x + ' ' + b.y + ' ' + b.w + ' ' + b.h);
  }

  findNodes() {
    this.titles = new Map(); // Graphviz node name -> node index
    for (const g of this.svg.querySelectorAll('g[id^="node-"]')) {
      const index = Number(g.id.slice(5));
      if (!Number.isInteger(index) || index < 0 || index >= this.nodes.length) continue;
      this.elements.set(index, g);
      g.classList.add('node');
      const title = g.querySelector(':scope > title');
      if (title) this.titles.set(title.textContent.trim(), index);
    }
  }

  // Pale for little time, deep blue for the most; the square root keeps
  // small nodes apart when one node dominates.
  colourNodes() {
    const max = this.nodes.reduce((m, n) => Math.max(m, n.total_ns || 0), 0);
    if (max <= 0) return;
    for (const [index, g] of this.elements) {
      const share = Math.sqrt((this.nodes[index].total_ns || 0) / max);
      const fill = heatColour(share);
      const shape = g.querySelector(':scope > :is(ellipse, polygon, path, rect)');
      if (shape) shape.style.fill = fill;
      for (const text of g.querySelectorAll(':scope > text')) text.style.fill = textColourOn(fill);
    }
  }

  // Nodes on the path, and the edges between consecutive ones: an edge
  // <g class="edge"> names its ends in its <title> as "A->B".
  markCriticalPath(path) {
    this.critical = new Set(path);
    for (const index of path) {
      const g = this.elements.get(index);
      if (g) g.classList.add('mvt-critical');
    }
    const steps = new Set();
    for (let k = 0; k + 1 < path.length; k++) steps.add(path[k] + '>' + path[k + 1]);
    for (const edge of this.svg.querySelectorAll('g.edge')) {
      const title = edge.querySelector(':scope > title');
      const ends = title ? title.textContent.split(/->|--/) : [];
      if (ends.length !== 2) continue;
      const from = this.titles.get(ends[0].trim().split(':')[0]);
      const to = this.titles.get(ends[1].trim().split(':')[0]);
      if (from !== undefined && to !== undefined && steps.has(from + '>' + to)) edge.classList.add('mvt-critical');
    }
  }

  // The point of the drawing under the pointer.
  toDrawing(clientX, clientY) {
    const matrix = this.svg.getScreenCTM();
    if (!matrix) return { x: this.box.x, y: this.box.y };
    const point = new DOMPoint(clientX, clientY).matrixTransform(matrix.inverse());
    return { x: point.x, y: point.y };
  }

  zoom(factor, clientX, clientY) {
    const b = this.box;
    const rect = this.container.getBoundingClientRect();
    const p = clientX === undefined ? { x: b.x + b.w / 2, y: b.y + b.h / 2 } : this.toDrawing(clientX, clientY);
    const w = Math.min(Math.max(b.w * factor, this.fit.w / 40), this.fit.w * 4);
    const k = w / b.w;
    this.box = { x: p.x - (p.x - b.x) * k, y: p.y - (p.y - b.y) * k, w: b.w * k, h: b.h * k };
    this.applyBox();
    return rect;
  }

  reset() {
    if (!this.svg) return;
    this.box = { ...this.fit };
    this.applyBox();
  }

  bind() {
    this.container.addEventListener('wheel', (event) => {
      event.preventDefault();
      const scale = event.deltaMode === 1 ? 16 : 1;
      this.zoom(Math.exp(event.deltaY * scale * 0.0018), event.clientX, event.clientY);
    }, { passive: false });
    let drag = null;
    this.container.addEventListener('mousedown', (event) => {
      if (event.button !== 0) return;
      drag = { x: event.clientX, y: event.clientY, moved: false };
      event.preventDefault();
    });
    window.addEventListener('mousemove', (event) => {
      if (!drag) return;
      const dx = event.clientX - drag.x;
      const dy = event.clientY - drag.y;
      if (!drag.moved && Math.hypot(dx, dy) < 3) return;
      drag.moved = true;
      this.container.classList.add('dragging');
      const matrix = this.svg.getScreenCTM();
      const scale = matrix ? matrix.a : 1;
      this.box.x -= dx / scale;
      this.box.y -= dy / scale;
      drag.x = event.clientX;
      drag.y = event.clientY;
      this.applyBox();
    });
    window.addEventListener('mouseup', (event) => {
      if (!drag) return;
      const moved = drag.moved;
      drag = null;
      this.container.classList.remove('dragging');
      if (moved) return;
      const index = this.nodeAt(event.target);
      if (index >= 0 && this.callbacks.onNode) this.callbacks.onNode(index);
    });
    this.container.addEventListener('mousemove', (event) => {
      const index = this.nodeAt(event.target);
      if (this.callbacks.onHover) this.callbacks.onHover(index, event);
    });
    this.container.addEventListener('mouseleave', () => {
      if (this.callbacks.onHover) this.callbacks.onHover(-1, null);
    });
  }

  nodeAt(target) {
    const g = target && target.closest ? target.closest('g[id^="node-"]') : null;
    if (!g) return -1;
    const index = Number(g.id.slice(5));
    return this.elements.has(index) ? index : -1;
  }

  // Marks a node and brings it into view.
  select(index) {
    if (!this.svg) return;
    const old = this.elements.get(this.selected);
    if (old) old.classList.remove('mvt-selected');
    this.selected = index;
    const g = this.elements.get(index);
    if (!g) return;
    g.classList.add('mvt-selected');
    const box = g.getBBox();
    const matrix = g.getCTM();
    const root = this.svg.getCTM();
    if (!matrix || !root) return;
    // The node's centre in the drawing's coordinates.
    const toRoot = root.inverse().multiply(matrix);
    const centre = new DOMPoint(box.x + box.width / 2, box.y + box.height / 2).matrixTransform(toRoot);
    const b = this.box;
    if (centre.x < b.x || centre.x > b.x + b.w || centre.y < b.y || centre.y > b.y + b.h) {
      this.box = { x: centre.x - b.w / 2, y: centre.y - b.h / 2, w: b.w, h: b.h };
      this.applyBox();
    }
  }

  legend() {
    if (!this.svg) return [];
    const max = this.nodes.reduce((m, n) => Math.max(m, n.total_ns || 0), 0);
    const items = [];
    if (max > 0) {
      items.push(el('span', null, 'total time: 0',
        el('i', { class: 'swatch gradient', style: 'background:linear-gradient(90deg,' + heatColour(0) + ',' + heatColour(0.5) + ',' + heatColour(1) + ')' }),
        formatDuration(max)));
    }
    if (this.critical && this.critical.size) {
      items.push(el('span', null, el('i', { class: 'swatch', style: 'background:#fff;border:3px solid #e8590c' }), 'critical path'));
    }
    return items;
  }
}

// The critical path as positions in analysis.nodes, matched by identifier
// and process.
function criticalIndexes(analysis) {
  const graph = analysis && analysis.dependency_graph;
  if (!graph || !graph.critical_path) return [];
  const byKey = new Map();
  (analysis.nodes || []).forEach((n, i) => byKey.set(n.process + ':' + n.id, i));
  return graph.critical_path.map((step) => byKey.get(step.process + ':' + step.id)).filter((i) => i !== undefined);
}

'use strict';
// The graph: Graphviz's SVG drawings, inline, with pan and zoom. A large run
// comes with two: its constructs (one box per construct, <g id="construct-K">
// tied to analysis.constructs[K], edges labelled with how many edges they
// stand for) and its task nodes, capped (<g id="node-K"> tied to
// analysis.nodes[K]); a small run with the task nodes only. Boxes are
// coloured by total time and the critical path is outlined.

// One drawing: its elements found by id, coloured, and moved about.
class GraphDrawing {
  constructor(svgText, kind, model) {
    this.kind = kind; // 'constructs' or 'nodes'
    this.model = model;
    this.rows = kind === 'constructs' ? model.constructs : model.nodes;
    this.elements = new Map(); // row -> <g>
    this.selected = [];
    this.svg = GraphDrawing.parse(svgText);
    if (!this.svg) return;
    this.findElements();
  }

  // The drawing as an element of this document, with anything that could
  // run a script taken out: the page shows it, nothing more.
  static parse(text) {
    const doc = new DOMParser().parseFromString(text, 'image/svg+xml');
    const root = doc.documentElement;
    if (!root || root.nodeName.toLowerCase() !== 'svg' || doc.getElementsByTagName('parsererror').length) return null;
    for (const script of [...root.getElementsByTagName('script')]) script.remove();
    for (const node of root.querySelectorAll('*')) {
      for (const attribute of [...node.attributes]) {
        if (/^on/i.test(attribute.name) || /^(xlink:)?href$/i.test(attribute.name)) node.removeAttribute(attribute.name);
      }
    }
    const svg = document.importNode(root, true);
    svg.removeAttribute('width');
    svg.removeAttribute('height');
    svg.setAttribute('preserveAspectRatio', 'xMidYMid meet');
    return svg;
  }

  findElements() {
    const prefix = this.kind === 'constructs' ? 'construct-' : 'node-';
    this.titles = new Map(); // Graphviz's own name of a vertex -> row
    for (const g of this.svg.querySelectorAll('g[id^="' + prefix + '"]')) {
      const index = Number(g.id.slice(prefix.length));
      if (!Number.isInteger(index) || !this.rows[index]) continue;
      this.elements.set(index, g);
      g.classList.add('node', 'mvt-item');
      const title = g.querySelector(':scope > title');
      if (title) this.titles.set(title.textContent.trim(), index);
    }
  }

  indexAt(target) {
    const prefix = this.kind === 'constructs' ? 'construct-' : 'node-';
    const g = target && target.closest ? target.closest('g[id^="' + prefix + '"]') : null;
    if (!g) return -1;
    const index = Number(g.id.slice(prefix.length));
    return this.elements.has(index) ? index : -1;
  }

  // Pale for little time, deep blue for the most; the square root keeps
  // small ones apart when one dominates.
  colour() {
    this.max = 0;
    for (const index of this.elements.keys()) this.max = Math.max(this.max, this.rows[index].total_ns || 0);
    if (this.max <= 0) return;
    for (const [index, g] of this.elements) {
      const fill = heatColour(Math.sqrt((this.rows[index].total_ns || 0) / this.max));
      const shape = g.querySelector(':scope > :is(ellipse, polygon, path, rect)');
      if (shape) shape.style.fill = fill;
      for (const text of g.querySelectorAll(':scope > text')) text.style.fill = textColourOn(fill);
    }
  }

  // The critical path as a sequence of this drawing's rows: its steps'
  // nodes, or their constructs with repeats folded. The edges between
  // consecutive ones are outlined too: an edge names its ends in its
  // <title> as "A->B".
  markCriticalPath() {
    const sequence = [];
    if (this.kind === 'constructs') {
      for (const group of this.model.criticalGroups()) if (group.construct >= 0) sequence.push(group.construct);
    } else {
      for (const index of this.model.criticalNodes()) if (index >= 0) sequence.push(index);
    }
    this.critical = new Set(sequence);
    for (const index of this.critical) {
      const g = this.elements.get(index);
      if (g) g.classList.add('mvt-critical');
    }
    const steps = new Set();
    for (let k = 0; k + 1 < sequence.length; k++) steps.add(sequence[k] + '>' + sequence[k + 1]);
    // A construct's own edges (a stencil's steps) lie on the path when two
    // steps in a row are of that construct.
    if (this.kind === 'constructs') {
      for (const group of this.model.criticalGroups()) if (group.steps.length > 1) steps.add(group.construct + '>' + group.construct);
    }
    for (const edge of this.svg.querySelectorAll('g.edge')) {
      const title = edge.querySelector(':scope > title');
      const ends = title ? title.textContent.split(/->|--/) : [];
      if (ends.length !== 2) continue;
      const from = this.titles.get(ends[0].trim().split(':')[0]);
      const to = this.titles.get(ends[1].trim().split(':')[0]);
      if (from !== undefined && to !== undefined && steps.has(from + '>' + to)) edge.classList.add('mvt-critical');
    }
  }

  // Marks the given rows; returns the first one drawn, or undefined.
  mark(indexes) {
    for (const g of this.selected) g.classList.remove('mvt-selected');
    this.selected = indexes.map((i) => this.elements.get(i)).filter(Boolean);
    for (const g of this.selected) g.classList.add('mvt-selected');
    return this.selected[0];
  }
}

class GraphView {
  constructor(container, graph, model, callbacks) {
    this.container = container;
    this.model = model;
    this.callbacks = callbacks || {};
    this.graph = graph || {};
    this.drawings = {};
    this.sources = {};
    const main = this.graph.svg;
    if (main) {
      // The construct drawing is the one whose boxes are constructs.
      const kind = /id="construct-\d/.test(main) ? 'constructs' : 'nodes';
      this.sources[kind] = main;
      if (this.graph.instances_svg) this.sources.nodes = this.graph.instances_svg;
    }
    this.current = null;
    this.drawing = null;
    this.bind();
    const first = this.sources.constructs ? 'constructs' : this.sources.nodes ? 'nodes' : null;
    if (!first || !this.show(first)) {
      const why = main ? 'The graph drawing could not be read.' : this.graph.note || 'No graph drawing in this report.';
      container.replaceChildren(el('div', { class: 'graph-empty', text: why }));
      container.classList.add('empty');
    }
  }

  get svg() {
    return this.drawing ? this.drawing.svg : null;
  }

  kinds() {
    return Object.keys(this.sources);
  }

  // Puts one drawing in the box; the other keeps its state for a later
  // toggle. The instance drawing is parsed on its first showing.
  show(kind) {
    if (!this.sources[kind]) return false;
    let drawing = this.drawings[kind];
    if (!drawing) {
      drawing = new GraphDrawing(this.sources[kind], kind, this.model);
      if (!drawing.svg) return false;
      this.drawings[kind] = drawing;
      this.current = kind;
      this.drawing = drawing;
      this.container.classList.remove('empty');
      this.container.replaceChildren(drawing.svg);
      drawing.colour();
      drawing.markCriticalPath();
      this.natural = this.initialBox();
      this.sizeContainer();
      drawing.fit = this.fit;
      drawing.box = { ...this.fit };
    } else {
      this.current = kind;
      this.drawing = drawing;
      this.container.replaceChildren(drawing.svg);
      this.natural = this.initialBox();
      this.sizeContainer();
    }
    this.applyBox();
    if (this.callbacks.onShow) this.callbacks.onShow(kind);
    return true;
  }

  initialBox() {
    const svg = this.drawing.svg;
    if (this.drawing.natural) return this.drawing.natural;
    const view = svg.viewBox && svg.viewBox.baseVal;
    let box;
    if (view && view.width > 0 && view.height > 0) box = { x: view.x, y: view.y, w: view.width, h: view.height };
    else {
      const b = svg.getBBox();
      box = { x: b.x, y: b.y, w: Math.max(b.width, 1), h: Math.max(b.height, 1) };
    }
    this.drawing.natural = box;
    return box;
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
    const b = this.drawing.box;
    this.drawing.svg.setAttribute('viewBox', b.x + ' ' + b.y + ' ' + b.w + ' ' + b.h);
  }

  // The point of the drawing under the pointer.
  toDrawing(clientX, clientY) {
    const matrix = this.svg.getScreenCTM();
    const b = this.drawing.box;
    if (!matrix) return { x: b.x + b.w / 2, y: b.y + b.h / 2 };
    const point = new DOMPoint(clientX, clientY).matrixTransform(matrix.inverse());
    return { x: point.x, y: point.y };
  }

  zoom(factor, clientX, clientY) {
    if (!this.drawing) return;
    const b = this.drawing.box;
    const fit = this.drawing.fit;
    const p = clientX === undefined ? { x: b.x + b.w / 2, y: b.y + b.h / 2 } : this.toDrawing(clientX, clientY);
    // A drawing of hundreds of nodes fits the box only very small: let the
    // reader zoom in until a box is readable.
    const w = Math.min(Math.max(b.w * factor, Math.min(fit.w / 40, 200)), fit.w * 4);
    const k = w / b.w;
    this.drawing.box = { x: p.x - (p.x - b.x) * k, y: p.y - (p.y - b.y) * k, w: b.w * k, h: b.h * k };
    this.applyBox();
  }

  reset() {
    if (!this.drawing) return;
    this.drawing.box = { ...this.drawing.fit };
    this.applyBox();
  }

  bind() {
    this.container.addEventListener('wheel', (event) => {
      if (!this.drawing) return;
      event.preventDefault();
      const scale = event.deltaMode === 1 ? 16 : 1;
      this.zoom(Math.exp(event.deltaY * scale * 0.0018), event.clientX, event.clientY);
    }, { passive: false });
    let drag = null;
    this.container.addEventListener('mousedown', (event) => {
      if (event.button !== 0 || !this.drawing) return;
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
      this.drawing.box.x -= dx / scale;
      this.drawing.box.y -= dy / scale;
      drag.x = event.clientX;
      drag.y = event.clientY;
      this.applyBox();
    });
    window.addEventListener('mouseup', (event) => {
      if (!drag) return;
      const moved = drag.moved;
      drag = null;
      this.container.classList.remove('dragging');
      if (moved || !this.drawing) return;
      const index = this.drawing.indexAt(event.target);
      if (index < 0) return;
      if (this.current === 'constructs') {
        if (this.callbacks.onConstruct) this.callbacks.onConstruct(index);
      } else if (this.callbacks.onNode) {
        this.callbacks.onNode(index);
      }
    });
    this.container.addEventListener('mousemove', (event) => {
      if (!this.drawing || !this.callbacks.onHover) return;
      this.callbacks.onHover(this.current, this.drawing.indexAt(event.target), event);
    });
    this.container.addEventListener('mouseleave', () => {
      if (this.callbacks.onHover) this.callbacks.onHover(this.current, -1, null);
    });
  }

  // Marks a node: in the construct drawing, its construct's box; in the
  // instance drawing, the node when it is among those drawn. Says whether
  // something was marked.
  selectNode(index) {
    if (!this.drawing) return false;
    if (this.current === 'constructs') return this.bringIntoView(this.drawing.mark([this.model.constructOfNode(index)]));
    return this.bringIntoView(this.drawing.mark([index]));
  }

  // Marks a construct: its box, or every drawn node of it.
  selectConstruct(k) {
    if (!this.drawing) return false;
    if (this.current === 'constructs') return this.bringIntoView(this.drawing.mark([k]));
    const nodes = [];
    for (const index of this.drawing.elements.keys()) if (this.model.constructOfNode(index) === k) nodes.push(index);
    return this.bringIntoView(this.drawing.mark(nodes));
  }

  clearSelection() {
    if (this.drawing) this.drawing.mark([]);
  }

  // Pans so that the element's centre is in view, when it is not.
  bringIntoView(g) {
    if (!g) return false;
    const box = g.getBBox();
    const matrix = g.getCTM();
    const root = this.svg.getCTM();
    if (!matrix || !root) return true;
    const toRoot = root.inverse().multiply(matrix);
    const centre = new DOMPoint(box.x + box.width / 2, box.y + box.height / 2).matrixTransform(toRoot);
    const b = this.drawing.box;
    if (centre.x < b.x || centre.x > b.x + b.w || centre.y < b.y || centre.y > b.y + b.h) {
      this.drawing.box = { x: centre.x - b.w / 2, y: centre.y - b.h / 2, w: b.w, h: b.h };
      this.applyBox();
    }
    return true;
  }

  legend() {
    if (!this.drawing) return [];
    const items = [];
    if (this.drawing.max > 0) {
      items.push(el('span', null, 'total time: 0',
        el('i', { class: 'swatch gradient', style: 'background:linear-gradient(90deg,' + heatColour(0) + ',' + heatColour(0.5) + ',' + heatColour(1) + ')' }),
        formatDuration(this.drawing.max)));
    }
    if (this.drawing.critical && this.drawing.critical.size) {
      items.push(el('span', null, el('i', { class: 'swatch', style: 'background:#fff;border:3px solid #e8590c' }), 'critical path'));
    }
    if (this.current === 'constructs') {
      items.push(el('span', { class: 'muted', text: 'one box per construct; an edge\u2019s number is how many task-to-task edges it stands for' }));
    }
    return items;
  }
}

'use strict';
// What the views share about the analysis: where a node or a construct sits
// in the lists, which construct a node belongs to, and the critical path
// grouped by construct. Built once; every view asks it instead of scanning
// the lists again.

class ReportModel {
  constructor(data) {
    this.data = data;
    this.run = data.run || {};
    const analysis = data.analysis || null;
    this.analysis = analysis;
    // Past the page's cap the lists keep each entry's place and hold null in
    // the places they left out: a drawing's node-K is always nodes[K].
    this.nodes = (analysis && analysis.nodes) || [];
    this.constructs = (analysis && analysis.constructs) || [];
    this.graph = (analysis && analysis.dependency_graph) || null;
    this.nodeByKey = new Map();
    this.nodes.forEach((n, i) => {
      if (n) this.nodeByKey.set(n.process + ':' + n.id, i);
    });
    // A construct is the task nodes of one label, so a node finds its
    // construct by its label.
    this.constructByLabel = new Map();
    this.constructs.forEach((c, k) => {
      if (c && !this.constructByLabel.has(c.label)) this.constructByLabel.set(c.label, k);
    });
    this.nodeConstruct = new Int32Array(this.nodes.length).fill(-1);
    this.nodes.forEach((n, i) => {
      if (!n) return;
      const k = this.constructByLabel.get(n.label);
      if (k !== undefined) this.nodeConstruct[i] = k;
    });
  }

  node(index) {
    return index >= 0 && index < this.nodes.length ? this.nodes[index] : null;
  }

  construct(index) {
    return index >= 0 && index < this.constructs.length ? this.constructs[index] : null;
  }

  constructOfNode(index) {
    return index >= 0 && index < this.nodeConstruct.length ? this.nodeConstruct[index] : -1;
  }

  constructOfLabel(label) {
    const k = this.constructByLabel.get(label);
    return k === undefined ? -1 : k;
  }

  // The row of a node named by process and identifier, -1 when the page
  // does not list it.
  nodeIndex(process, id) {
    const i = this.nodeByKey.get(process + ':' + id);
    return i === undefined ? -1 : i;
  }

  // What a node is called everywhere on the page: its label, else its name.
  static nodeLabel(node) {
    return (node && (node.label || node.name)) || '';
  }

  // The critical path as rows of analysis.nodes, one per step.
  criticalNodes() {
    if (this.criticalNodeList) return this.criticalNodeList;
    const path = (this.graph && this.graph.critical_path) || [];
    this.criticalNodeList = path.map((step) => this.nodeIndex(step.process, step.id));
    return this.criticalNodeList;
  }

  // Consecutive steps of one construct (one label) are one group: a chain
  // of 50 stencil sweeps reads as "50 × sweep", not as 50 lines.
  criticalGroups() {
    if (this.groups) return this.groups;
    const path = (this.graph && this.graph.critical_path) || [];
    const nodes = this.criticalNodes();
    const groups = [];
    path.forEach((step, k) => {
      const label = step.label || step.name || '';
      let group = groups[groups.length - 1];
      if (!group || group.label !== label) {
        group = { label, construct: this.constructOfLabel(label), first: k, steps: [], time: 0 };
        groups.push(group);
      }
      group.steps.push({ step, position: k, node: nodes[k] });
      group.time += step.duration_ns || 0;
    });
    this.groups = groups;
    return groups;
  }
}

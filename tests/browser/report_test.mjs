// Opens pages written by `mvt-trace report` in the system's Chromium, headless,
// and checks what a reader would: no script error, every part in place, a
// click on a bar shows its record and finds its task, the graph toggles
// between constructs and tasks, the critical path reads by construct, the
// tables sort, and the timeline stays quick with 100,000 bars. Screenshots
// land in the output directory to be looked at. The sample data comes from
// make_sample_data.py, run with python3 (it needs Graphviz's dot).
//
// usage: node report_test.mjs   with the environment:
//   MVT_TRACE_EXE    the mvt-trace binary
//   MVT_TOOL_DATA    tests/tool/data (hand-written traces)
//   MVT_BROWSER_OUT  where reports and screenshots go
//   MVT_OMP_EXAMPLE  optional: an OpenMP program to record and report afresh
//   MVT_CHROMIUM     optional: the browser (default /usr/bin/chromium)
//   MVT_CLANG, MVT_CXX  optional: the compilers for the programs this test
//                    records (default clang and c++ from PATH); without
//                    them, or without oneTBB, those checks say so and pass
// Exits 0 when every check passes, 1 when one fails, 77 when Chromium or
// playwright-core is missing (the test is then skipped).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const tool = process.env.MVT_TRACE_EXE;
const data = process.env.MVT_TOOL_DATA;
const out = process.env.MVT_BROWSER_OUT;
const ompExample = process.env.MVT_OMP_EXAMPLE;
const browserPath = process.env.MVT_CHROMIUM || '/usr/bin/chromium';
// The report lays its graph out with Graphviz when it is there.
const onPath = (name) => (process.env.PATH || '').split(':').map((dir) => dir && path.join(dir, name)).find((p) => p && fs.existsSync(p));
const haveGraphviz = Boolean(onPath('dot'));

function skip(why) {
  console.log('SKIP: ' + why);
  process.exit(77);
}

if (!tool || !data || !out) {
  console.error('MVT_TRACE_EXE, MVT_TOOL_DATA and MVT_BROWSER_OUT must be set');
  process.exit(2);
}
if (!fs.existsSync(browserPath)) skip(browserPath + ' is not installed (scripts/setup.sh installs chromium)');
let chromium;
try {
  ({ chromium } = createRequire(import.meta.url)('playwright-core'));
} catch {
  skip('playwright-core is not installed (scripts/setup.sh runs npm ci in tests/browser)');
}
fs.mkdirSync(out, { recursive: true });

function report(args, file, cwd = data) {
  execFileSync(tool, ['report', ...args, '-o', file], { cwd, stdio: ['ignore', 'ignore', 'pipe'] });
  return file;
}

// The page of a real report with the data object replaced: the same
// template and scripts, shown with other data.
function pageWithData(templatePage, object, file) {
  const html = fs.readFileSync(templatePage, 'utf8');
  const json = JSON.stringify(object).replace(/<\//g, '<\\/').replace(/<!--/g, '\\u003c!--');
  const open = '<script type="application/json" id="mvt-data">';
  const start = html.indexOf(open);
  const end = html.indexOf('</script>', start);
  assert.ok(start > 0 && end > start, 'the page has its data element');
  fs.writeFileSync(file, html.slice(0, start + open.length) + json + html.slice(end));
  return file;
}

// The report of the hand-written OpenMP trace, written once: the template
// for pages shown with other data.
let openmpRun;
const openmpRunPage = () => openmpRun || (openmpRun = report(['openmp_run'], path.join(out, 'report_openmp_run.html')));
const samplePage = (object, name) => pageWithData(openmpRunPage(), object, path.join(out, name));

// The data object of a small stencil run with every member the page can
// draw, written by make_sample_data.py once and read afresh for each use.
const sampleFile = path.join(out, 'sample_report_data.json');
let sampleWritten = false;
function sample() {
  if (!sampleWritten) execFileSync('python3', [path.join(here, 'make_sample_data.py'), sampleFile]);
  sampleWritten = true;
  return JSON.parse(fs.readFileSync(sampleFile, 'utf8'));
}

const checks = [];
function check(name, run) {
  checks.push({ name, run });
}

// Opens the page from disk and returns it with the errors it reported and
// how long it took to be ready, as the page measures it.
async function open(browser, file) {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push('console: ' + message.text());
  });
  page.on('pageerror', (error) => errors.push('page error: ' + error.message));
  page.on('request', (request) => {
    if (!request.url().startsWith('file:') && !request.url().startsWith('data:')) errors.push('fetched ' + request.url());
  });
  await page.goto(pathToFileURL(file).href, { timeout: 60000 });
  await page.waitForFunction(() => window.mvtReport !== undefined, null, { timeout: 60000 });
  const readyMs = await page.evaluate(() => window.mvtReport.readyMs);
  return { page, errors, readyMs };
}

// The timeline, both tables and the concurrency chart are there; the graph
// is drawn, or a note stands in for it.
async function assertParts(page, graph = haveGraphviz) {
  const canvas = await page.locator('#timeline-canvas').boundingBox();
  assert.ok(canvas && canvas.width > 300 && canvas.height > 20, 'the timeline canvas is drawn: ' + JSON.stringify(canvas));
  assert.equal(await page.locator('#graph svg').count(), graph ? 1 : 0, 'graph drawing');
  if (!graph) assert.match(await page.locator('#graph').innerText(), /\w/, 'a note stands in for the graph');
  for (const id of ['node-table', 'construct-table', 'concurrency-chart']) assert.equal(await page.locator('#' + id).count(), 1, id);
  // The runtime's own executions come after the program's tasks.
  const order = await page.evaluate(() => ['tasks-section', 'constructs-section', 'runtime-section']
    .map((id) => document.getElementById(id).getBoundingClientRect().top));
  assert.ok(order[0] < order[1] && order[1] < order[2], 'tasks, then constructs, then the runtime: ' + order);
}

// Clicks the middle of bar `index` of a lane's tasks and returns the
// details panel's text.
async function clickBar(page, lane, index) {
  await settle(page);
  const point = await page.evaluate(([l, i]) => window.mvtReport.timeline.locate(l, 'task', i), [lane, index]);
  await page.mouse.click(point.x, point.y);
  return page.locator('#details').innerText();
}

// Waits for a smooth scroll that a link started to end, so that positions
// taken next stay where they are.
async function settle(page) {
  // A smooth scroll may wait a few frames before it moves: still for a
  // quarter of a second is still.
  await page.waitForFunction(() => new Promise((resolve) => {
    const y = window.scrollY;
    setTimeout(() => resolve(window.scrollY === y), 250);
  }), null, { timeout: 5000 });
}

async function taskIndex(page, lane, name) {
  return page.evaluate(([l, n]) => {
    const t = window.mvtReport.data.timeline;
    return t.lanes[l].tasks.n.findIndex((k) => t.names[k] === n);
  }, [lane, name]);
}

async function view(page) {
  return page.evaluate(() => [window.mvtReport.timeline.t0, window.mvtReport.timeline.t1]);
}

const selectedNode = (page) => page.locator('#node-table tr.selected').getAttribute('data-node');
const selectedConstruct = (page) => page.locator('#construct-table tr.selected').getAttribute('data-construct');

// Zoom keys, arrows and the wheel change the view; 0 shows the whole run.
async function assertZoomAndPan(page) {
  const [t0, t1] = await view(page);
  await page.focus('#timeline-canvas');
  await page.keyboard.press('+');
  const [z0, z1] = await view(page);
  assert.ok(z1 - z0 < (t1 - t0) * 0.8, 'the + key zooms in');
  await page.keyboard.press('ArrowRight');
  const [p0] = await view(page);
  assert.ok(p0 > z0, 'the right arrow pans');
  await page.keyboard.press('0');
  assert.deepEqual(await view(page), [t0, t1], '0 shows the whole run again');
  const box = await page.locator('#timeline-canvas').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + 10);
  await page.mouse.wheel(0, -400);
  // The wheel event arrives in its own time.
  await page.waitForFunction((span) => window.mvtReport.timeline.t1 - window.mvtReport.timeline.t0 < span, t1 - t0,
    { timeout: 5000 });
  await page.keyboard.press('0');
}

check('report of a hand-written OpenMP trace: a bar shows its record and finds its task', async (browser) => {
  const { page, errors } = await open(browser, openmpRunPage());
  await assertParts(page);
  assert.equal(await page.locator('#run-title').innerText(), 'openmp_run');
  assert.equal(await page.locator('#run-problems').count(), 0, 'the runtime\u2019s habits are notes, not problems');
  assert.match(await page.locator('#run-notes summary').innerText(), /4 notes on the run/);
  assert.equal(await page.locator('#node-table tbody tr').count(), 2);
  assert.deepEqual((await page.locator('#runtime-table td.name').allInnerTexts()).sort(),
    ['omp_barrier', 'omp_implicit', 'parallel region at 0x563b382e0800']);
  const note = 'first line\nsecond <b> & "q"';
  const details = await clickBar(page, 1, await taskIndex(page, 1, note));
  assert.match(details, /Identifier\s+7\.0\.0/, 'the identifier');
  assert.match(details, /Busy\s+400 \u00b5s/, 'its busy time');
  assert.match(details, /Name\s+omp_explicit/, 'the name the runtime gave it');
  assert.match(details, /note\s+first line\nsecond <b> & "q"/, 'metadata text, shown as text');
  assert.match(details, /0x563b382e3839/, 'the code address in hex');
  // The click marked the bar's task node in the table, where it is.
  assert.equal(await selectedNode(page), '1');
  if (haveGraphviz) {
    assert.equal(await page.locator('#graph-switch').isHidden(), true, 'a small run has one drawing');
    await page.locator('#details dd a').first().click();
    assert.equal(await page.locator('#graph #node-1.mvt-selected').count(), 1, 'the task link selects node 7.1');
    assert.equal(await page.locator('#graph .node.mvt-critical').count(), 2, 'the critical path is outlined');
    assert.equal(await page.locator('#graph .edge.mvt-critical').count(), 1, 'and the edge along it');
  }
  await assertZoomAndPan(page);
  await page.screenshot({ path: path.join(out, 'report_openmp_run.png'), fullPage: true });
  assert.deepEqual(errors, []);
});

check('sample data with every member: each part drawn and linked', async (browser) => {
  const { page, errors } = await open(browser, samplePage(sample(), 'report_sample.html'));
  await assertParts(page, true);
  assert.match(await page.locator('#run-problems summary').innerText(), /1 problem/);
  assert.match(await page.locator('#run-notes').innerText(), /runtime habit/);
  assert.match(await page.locator('#timeline-note').innerText(), /1,200 of the shortest executions/);

  // A bar's record: markup stays text, and the links find its task and
  // construct.
  const sweep = await page.evaluate(() => {
    const t = window.mvtReport.data.timeline;
    return t.lanes[0].tasks.x.findIndex((x) => x >= 0 && t.details[x].metadata.note);
  });
  let details = await clickBar(page, 0, sweep);
  assert.match(details, /second <b> & "q" <\/script><!-- x/, 'text that looks like markup stays text');
  assert.match(details, /Construct\s+sweep \(jacobi\.c:57\) \u00b7 12 task nodes/);
  const sweepNode = await selectedNode(page);
  await page.locator('#details a', { hasText: 'sweep (jacobi.c:57)' }).last().click();
  assert.equal(await selectedConstruct(page), '0', 'the construct link selects its row');
  assert.equal(await page.locator('#graph #construct-0.mvt-selected').count(), 1, 'and its box');
  await page.locator('#details a', { hasText: 'sweep (jacobi.c:57)' }).first().click();
  assert.equal(await selectedNode(page), sweepNode, 'the task link selects the task\u2019s row');

  // The untied reduce ran in two pieces, one on each thread.
  details = await clickBar(page, 0, await taskIndex(page, 0, 'reduce (jacobi.c:71)'));
  assert.match(details, /Busy\s+14\.0 ms in 2 pieces/);
  assert.match(details, /Pieces\s+thread 0 \+60\.0 ms, 6\.00 ms \(this one\)\s+thread 1 \+70\.0 ms, 8\.00 ms/);
  await page.locator('#details ol.pieces a').click();
  assert.equal(await page.evaluate(() => window.mvtReport.timeline.selected.lane), 1, 'the other piece is selected');
  assert.match(await page.locator('#details').innerText(), /thread 1 \+70\.0 ms, 8\.00 ms \(this one\)/);

  // The construct drawing first, the tasks one click away.
  assert.equal(await page.locator('#graph g.node[id^="construct-"]').count(), 3);
  assert.equal(await page.locator('#graph .edge text', { hasText: '28' }).count(), 1, 'edges say how many they stand for');
  assert.equal(await page.locator('#graph .node.mvt-critical').count(), 3, 'every construct is on the critical path');
  await page.locator('#graph #construct-2').click();
  assert.equal(await selectedConstruct(page), '2', 'a construct box selects its row');
  await page.locator('#graph-show-nodes').click();
  assert.equal(await page.locator('#graph-show-nodes').getAttribute('aria-pressed'), 'true');
  assert.equal(await page.locator('#graph g.node[id^="node-"]').count(), 17);
  assert.equal(await page.locator('#graph .node.mvt-critical').count(), 5, 'the critical path is outlined');
  assert.equal(await page.locator('#graph .edge.mvt-critical').count(), 4, 'and its edges');
  await page.locator('#node-table tbody tr').nth(3).click();
  const index = await page.locator('#node-table tbody tr').nth(3).getAttribute('data-node');
  assert.equal(await page.locator('#graph g.node.mvt-selected').getAttribute('id'), 'node-' + index);
  await settle(page);
  const graphBox = await page.locator('#graph').boundingBox();
  const before = await page.locator('#graph svg').getAttribute('viewBox');
  await page.mouse.move(graphBox.x + graphBox.width / 2, graphBox.y + graphBox.height / 2);
  await page.mouse.wheel(0, -300);
  await page.waitForFunction((old) => document.querySelector('#graph svg').getAttribute('viewBox') !== old, before,
    { timeout: 5000 });
  await page.locator('#graph-show-constructs').click();
  assert.equal(await page.locator('#graph g.node[id^="construct-"]').count(), 3);

  // The critical path by construct: 1 fill, 3 sweeps, 1 reduce; each step
  // still finds its task and shows when it ran.
  const groups = page.locator('#critical-path > li');
  assert.deepEqual(await groups.evaluateAll((lis) => lis.map((li) => li.getAttribute('data-steps'))), ['1', '3', '1']);
  assert.match(await groups.nth(1).innerText(), /3 \u00d7 sweep \(jacobi\.c:57\)\s+13\.9 ms/);
  await groups.nth(1).locator('summary').click({ position: { x: 4, y: 6 } });
  const steps = groups.nth(1).locator('ol.steps a');
  assert.equal(await steps.count(), 3);
  await steps.nth(1).click();
  const step = await page.evaluate(() => window.mvtReport.data.analysis.dependency_graph.critical_path[2]);
  assert.equal(await selectedNode(page), String(await page.evaluate((s) => window.mvtReport.model.nodeIndex(s.process, s.id), step)));
  const [v0, v1] = await view(page);
  assert.ok(v0 <= step.begin_ns && step.begin_ns + step.duration_ns <= v1 && v1 - v0 < 20 * step.duration_ns,
    'the timeline shows the step: ' + [v0, v1]);
  assert.deepEqual(await page.locator('#span-holders a').allInnerTexts(),
    ['reduce (jacobi.c:71)', 'sweep (jacobi.c:57)', 'fill (jacobi.c:40)'], 'the constructs that hold the span');

  // Tables: tasks by total time, a click on a header sorts; tasks without
  // dependences summed up; the runtime's apart.
  assert.equal(await page.locator('#node-table tbody tr').count(), 17);
  const firstName = () => page.locator('#node-table tbody tr:first-child td:first-child').innerText();
  assert.match(await firstName(), /^reduce/, 'sorted by total time, largest first');
  const total = page.locator('#node-table th', { hasText: /^Total$/ });
  await total.click();
  assert.equal(await total.getAttribute('aria-sort'), 'ascending');
  assert.match(await firstName(), /^fill/, 'a click on Total sorts smallest first');
  assert.equal(await page.locator('#construct-table tbody tr').count(), 3);
  assert.match(await page.locator('#without-dependences-summary').innerText(), /^120 executions of tasks that declared no dependence took 3\.60 ms/);
  assert.equal(await page.locator('#runtime-table tbody tr').count(), 3);

  // Concurrency: the tasks beside all executions, and why they differ.
  assert.match(await page.locator('#concurrency-legend').innerText(),
    /all executions[\s\S]*the program\u2019s tasks[\s\S]*(less than one task|fewer than (?!1 )[\d.]+ tasks) running/);
  assert.match(await page.locator('#concurrency-summary').innerText(), /implicit task counts as running while it waits at a barrier/);

  // Predictions: time and speedup against P, the bounds, the recorded run;
  // the what-if box.
  assert.equal(await page.locator('#scalability-section').isVisible(), true);
  assert.equal(await page.locator('#scalability-time circle.point').count(), 6);
  assert.equal(await page.locator('#scalability-speedup circle.point').count(), 6);
  assert.equal(await page.locator('#scalability-chart polygon.band').count(), 2, 'bounds on both panels');
  assert.equal(await page.locator('#scalability-chart circle.recorded').count(), 2, 'the recorded run on both');
  assert.deepEqual(await page.locator('#scalability-time .tick[text-anchor="middle"]').allTextContents(), ['1', '2', '4', '8', '16', '32']);
  assert.match(await page.locator('#scalability-summary').innerText(), /Recorded with 2 workers: 100 ms\..*Past 8 workers/);
  assert.deepEqual(await page.locator('#what-if-list .saved').allInnerTexts(), ['\u221212.0 ms', '\u22123.12 ms', '\u2212777 \u00b5s']);
  await page.locator('#what-if-list a').nth(1).click();
  assert.equal(await selectedConstruct(page), '2', 'a what-if line leads to its construct');

  // The comparison: figures, the regression flagged, what one run lacks.
  assert.equal(await page.locator('#comparison-section').isVisible(), true);
  assert.deepEqual(await page.locator('#comparison-run td.change').allInnerTexts(), ['+22 %', '+42 %', '+31 %', '+8.6 %']);
  assert.match(await page.locator('#comparison-summary').innerText(), /^1 of 3 constructs regressed: sweep \(jacobi\.c:57\) \(\+35 %\)/);
  assert.deepEqual(await page.locator('#comparison-table tr.regressed td.name').allInnerTexts(), ['sweep (jacobi.c:57)']);
  assert.equal(await page.locator('#comparison-table .tag.faster').count(), 1);
  assert.match(await page.locator('#comparison-added').innerText(), /reduce \(jacobi\.c:71\)/);
  assert.match(await page.locator('#comparison-removed').innerText(), /checksum \(jacobi\.c:88\)/);

  // Shift+drag zooms to a range; a click on the chart moves the timeline.
  await page.locator('#timeline-reset').click();
  await settle(page);
  const lanes = await page.locator('#timeline-canvas').boundingBox();
  await page.keyboard.down('Shift');
  await page.mouse.move(lanes.x + 400, lanes.y + 20);
  await page.mouse.down();
  await page.mouse.move(lanes.x + 600, lanes.y + 20, { steps: 4 });
  await page.mouse.up();
  await page.keyboard.up('Shift');
  const [s0, s1] = await view(page);
  assert.ok(s1 - s0 < 30e6 && s0 > 0, 'Shift+drag zooms to the range: ' + [s0, s1]);
  await page.locator('#concurrency-chart').click({ position: { x: 600, y: 80 } });
  const [c0, c1] = await view(page);
  assert.ok(c1 - c0 < 100e6, 'a click on the chart moves the timeline there');

  await page.locator('#timeline-reset').click();
  await page.screenshot({ path: path.join(out, 'report_sample.png'), fullPage: true });
  for (const [id, name] of [['timeline-section', 'timeline'], ['prediction-pair', 'predictions'], ['comparison-section', 'comparison']])
    await page.locator('#' + id).screenshot({ path: path.join(out, 'report_sample_' + name + '.png') });
  assert.deepEqual(errors, []);
});

check('sample data without the members that arrive later: their parts stay hidden', async (browser) => {
  const object = sample();
  delete object.analysis.scalability;
  delete object.analysis.what_if;
  object.comparison = null;
  object.graph.instances_svg = null;
  const { page, errors } = await open(browser, samplePage(object, 'report_sample_plain.html'));
  for (const id of ['prediction-pair', 'comparison-section', 'graph-switch']) {
    assert.equal(await page.locator('#' + id).isHidden(), true, id + ' is hidden');
  }
  assert.equal(await page.locator('nav a:visible').count(), 7, 'and so are their links');
  assert.equal(await page.locator('#graph g.node[id^="construct-"]').count(), 3);
  assert.deepEqual(errors, []);
});

// Four threads of 25,000 bars each, on two rows, every bar with a record
// tied to one of 50 task nodes: what a large OpenMP run embeds.
function hundredThousandBars(object) {
  const labels = Array.from({ length: 50 }, (_, k) => 'task ' + k + ' (big.c:' + (10 + k) + ')');
  const span = 2e9;
  const details = [];
  const lanes = [];
  for (let l = 0; l < 4; l++) {
    const tasks = { b: [], e: [], d: [], n: [], x: [] };
    for (let row = 0; row < 2; row++) {
      for (let k = 0; k < 12500; k++) {
        const begin = Math.round((k * span) / 12500 + ((l * 7919 + row * 104729) % 50000));
        tasks.b.push(begin);
        tasks.e.push(begin + 20000 + ((k * 31) % 90000));
        tasks.d.push(row);
        tasks.n.push((k + l) % 50);
        tasks.x.push(details.length);
        details.push({ id: (1000 + details.length) + '.0.0', parent: '1.0.0', node: (k + l) % 17, name: 'omp_explicit',
          busy_ns: 20000, pieces: 1, metadata: {} });
      }
    }
    lanes.push({ label: 'thread ' + l, file: 'big/_mvt.' + l, process: 0, rows: 2, region_rows: 0, records: 50000, tasks,
      regions: { b: [], e: [], d: [], n: [], x: [] }, open: [], open_regions: [], blocks: { b: [], e: [], d: [], c: [] } });
  }
  object.timeline = { span_ns: span, names: labels, lanes, details, elided: 0 };
  object.run.wall_ns = span;
  return object;
}

check('100,000 bars: the page opens, and a frame draws what the pixels show, not every bar', async (browser) => {
  const { page, errors, readyMs } = await open(browser, samplePage(hundredThousandBars(sample()), 'report_100k.html'));
  const frames = await page.evaluate(() => {
    const t = window.mvtReport.timeline;
    // The most shapes any frame drew: what a frame costs.
    let most = 0;
    const draw = (f) => {
      f();
      t.draw();
      most = Math.max(most, t.shapesDrawn);
    };
    draw(() => t.reset());
    for (let k = 0; k < 12; k++) draw(() => t.zoom(0.6));
    for (let k = 0; k < 12; k++) draw(() => t.pan(150));
    t.reset();
    t.setView(t.fullSpan * 0.45, t.fullSpan * 0.46);
    for (let k = 0; k < 8; k++) draw(() => t.zoom(1.8));
    const rows = t.lanes.reduce((sum, lane) => sum + Math.ceil(lane.height / 10), 0);
    return { most, bound: rows * t.plotWidth() };
  });
  console.log('     100,000 bars: ready in ' + Math.round(readyMs) + ' ms; at most ' + frames.most +
    ' shapes a frame');
  // Drawing every bar would be 100,000 shapes; merging narrow ones keeps a
  // frame to what the pixels in view can show.
  assert.ok(frames.most > 0 && frames.most < Math.min(20000, frames.bound), JSON.stringify(frames));
  // A click still finds its bar's record among all of them.
  const details = await clickBar(page, 2, 20000);
  assert.match(details, /Identifier\s+\d+\.0\.0/);
  await page.locator('#timeline-section').screenshot({ path: path.join(out, 'report_100k_timeline.png') });
  assert.deepEqual(errors, []);
});

check('the standalone SVG timeline renders to a picture', async () => {
  const svg = path.join(out, 'timeline_openmp_run.svg');
  execFileSync(tool, ['timeline', 'openmp_run', '-o', svg], { cwd: data });
  const converter = ['/usr/bin/rsvg-convert', '/usr/local/bin/rsvg-convert'].find((p) => fs.existsSync(p));
  if (!converter) return;
  execFileSync(converter, [svg, '-o', path.join(out, 'timeline_openmp_run.png')]);
  assert.ok(fs.statSync(path.join(out, 'timeline_openmp_run.png')).size > 1000);
});

// Builds a program once into the output directory; null when the compiler
// or its libraries are missing here.
function build(name, compiler, args) {
  const exe = path.join(out, name);
  const source = args.find((a) => /\.(c|cpp)$/.test(a));
  if (fs.existsSync(exe) && fs.statSync(exe).mtimeMs > fs.statSync(source).mtimeMs) return exe;
  const found = compiler.includes('/') ? (fs.existsSync(compiler) ? compiler : null) : onPath(compiler);
  if (!found) return null;
  try {
    execFileSync(found, [...args, '-o', exe], { stdio: ['ignore', 'ignore', 'pipe'] });
  } catch (error) {
    console.log('     could not build ' + name + ': ' + String(error.stderr || error).split('\n')[0]);
    return null;
  }
  return exe;
}

// Records a program with mvt-trace and writes its report.
function recordAndReport(program, name) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'mvt_report_'));
  try {
    const trace = path.join(work, name);
    execFileSync(tool, ['record', '-o', trace, '--', program], { stdio: 'ignore' });
    return report([trace], path.join(out, 'report_' + name + '.html'), work);
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
}

check('a 2,500-task OpenMP stencil, recorded and reported: loads in seconds, its constructs drawn', async (browser) => {
  const program = build('blocked_stencil', process.env.MVT_CLANG || 'clang',
    ['-fopenmp', '-g', '-O2', path.join(here, 'programs', 'blocked_stencil.c')]);
  if (!program) return console.log('     no clang with OpenMP here: not checked');
  const { page, errors, readyMs } = await open(browser, recordAndReport(program, 'stencil'));
  console.log('     2,551 tasks: ready in ' + Math.round(readyMs) + ' ms');
  await assertParts(page);
  assert.match(await page.locator('#run-facts').innerText(), /Task nodes\s+2,550\s+Constructs\s+2\b/);
  const sweeps = page.locator('#critical-path > li[data-steps="50"]');
  assert.equal(await sweeps.count(), 1, 'fifty sweeps in a row on the critical path are one line');
  assert.match(await sweeps.innerText(), /50 \u00d7 .*blocked_stencil\.c:\d+/);
  assert.match(await page.locator('#without-dependences-summary').innerText(), /^1 execution of tasks that declared no dependence/);
  const runtime = await page.locator('#runtime-table td.name').allInnerTexts();
  assert.ok(runtime.includes('omp_implicit') && runtime.some((r) => /^parallel region at main \(blocked_stencil\.c:\d+\)$/.test(r)), runtime);
  await page.screenshot({ path: path.join(out, 'report_stencil.png'), fullPage: true });
  // The timeline over the last steps of the critical path, bars one by one.
  await page.evaluate(() => {
    const path = window.mvtReport.data.analysis.dependency_graph.critical_path;
    const last = path[path.length - 1];
    window.mvtReport.timeline.setView(path[Math.max(0, path.length - 6)].begin_ns, last.begin_ns + last.duration_ns);
  });
  await page.locator('#timeline-section').screenshot({ path: path.join(out, 'report_stencil_timeline.png') });
  if (haveGraphviz) {
    assert.equal(await page.locator('#graph g.node[id^="construct-"]').count(), 2, 'one box per construct');
    await page.locator('#graph-section').screenshot({ path: path.join(out, 'report_stencil_constructs.png') });
    const big = await page.evaluate(() => window.mvtReport.data.analysis.constructs.findIndex((c) => c.nodes === 2500));
    await page.locator('#graph #construct-' + big).click();
    assert.equal(await selectedConstruct(page), String(big), 'its box selects its row');
    await page.locator('#graph-show-nodes').click();
    assert.equal(await page.locator('#graph g.node[id^="node-"]').count(), 400, 'the instance drawing, capped');
    assert.ok(await page.locator('#graph .node.mvt-critical').count() >= 51, 'with the critical path');
    await page.locator('#graph-section').screenshot({ path: path.join(out, 'report_stencil_tasks.png') });
  }
  assert.deepEqual(errors, []);
});

check('a oneTBB flow graph, recorded and reported', async (browser) => {
  const program = build('tbb_flow_pipeline', process.env.MVT_CXX || 'c++',
    ['-std=c++17', '-O1', '-DTBB_USE_PROFILING_TOOLS=1', '-DTBB_PREVIEW_FLOW_GRAPH_TRACE=1',
      path.join(here, '..', 'runtimes', 'programs', 'tbb_flow_pipeline.cpp'), '-ltbb', '-lpthread']);
  if (!program) return console.log('     no C++ compiler with oneTBB here: not checked');
  const { page, errors } = await open(browser, recordAndReport(program, 'flow'));
  await assertParts(page);
  const constructs = await page.locator('#construct-table tbody td.name').allInnerTexts();
  assert.deepEqual(constructs.sort(), ['offload', 'read', 'transform', 'write']);
  assert.match(await page.locator('#runtime-table').innerText(), /tbb_flow_graph/);
  assert.doesNotMatch(await page.locator('#concurrency-summary').innerText(), /OpenMP/);
  if (haveGraphviz) {
    assert.equal(await page.locator('#graph-switch').isHidden(), true);
    await page.locator('#span-holders a').first().click();
    assert.equal(await page.locator('#graph g.node.mvt-selected').count(), 1, 'a construct of one node marks that node');
  }
  await page.screenshot({ path: path.join(out, 'report_flow.png'), fullPage: true });
  assert.deepEqual(errors, []);
});

if (ompExample && fs.existsSync(ompExample)) {
  check('a fresh libomp run of the OpenMP example, recorded and reported', async (browser) => {
    const { page, errors } = await open(browser, recordAndReport(ompExample, 'omp_example'));
    await assertParts(page);
    assert.match(await page.locator('#run-title').innerText(), /omp_example$/, 'the recorded command is the title');
    assert.match(await page.locator('#run-outcome').innerText(), /exited with status 0/);
    const lane = (await taskIndex(page, 0, 'omp_implicit')) >= 0 ? 0 : 1;
    const details = await clickBar(page, lane, Math.max(0, await taskIndex(page, lane, 'omp_implicit')));
    assert.match(details, /Identifier/);
    assert.equal(await page.locator('#construct-table tbody tr').count(), 3, 'three task constructs');
    if (haveGraphviz) {
      // The tasks with dependences are in the second parallel region, a box
      // of its own.
      const boxes = await page.locator('#graph g.cluster > text').allTextContents();
      assert.deepEqual(boxes.map((t) => t.replace(/:.*/, '')), ['region 2'], boxes.join(' | '));
      assert.equal(await page.locator('#graph g.node[id^="node-"]').count(), 12);
      await page.locator('#graph-section').screenshot({ path: path.join(out, 'report_omp_example_graph.png') });
    }
    await page.screenshot({ path: path.join(out, 'report_omp_example.png'), fullPage: true });
    assert.deepEqual(errors, []);
  });
}

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'mvt_chromium_'));
let failed = 0;
const context = await chromium.launchPersistentContext(profile, {
  executablePath: browserPath,
  headless: true,
  // Links scroll at once: a smooth scroll still under way would move a bar
  // between finding where it is and clicking it.
  reducedMotion: 'reduce',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const pages = [];
  const browser = { newPage: async (options) => {
    const page = await context.newPage();
    pages.push(page);
    if (options && options.viewport) await page.setViewportSize(options.viewport);
    return page;
  } };
  for (const { name, run } of checks) {
    try {
      await run(browser);
      console.log('ok   ' + name);
    } catch (error) {
      failed++;
      console.log('FAIL ' + name + '\n     ' + String(error && error.stack || error).split('\n').slice(0, 6).join('\n     '));
    }
    // A page of 100,000 bars holds on to its memory until it is closed.
    for (const page of pages.splice(0)) await page.close();
  }
} finally {
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
console.log((checks.length - failed) + ' passed, ' + failed + ' failed');
process.exit(failed ? 1 : 0);

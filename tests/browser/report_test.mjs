// Opens pages written by `mvt-trace report` in the system's Chromium, headless,
// and checks what a reader would: no script error, the timeline, graph,
// table and chart in place, a click on a bar shows its record, a click on a
// column header sorts, zoom keys and the wheel change the view. Screenshots
// land in the output directory to be looked at.
//
// usage: node report_test.mjs   with the environment:
//   MVT_TRACE_EXE    the mvt-trace binary
//   MVT_TOOL_DATA    tests/tool/data (hand-written traces)
//   MVT_BROWSER_OUT  where reports and screenshots go
//   MVT_OMP_EXAMPLE  optional: an OpenMP program to record and report afresh
//   MVT_CHROMIUM     optional: the browser (default /usr/bin/chromium)
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
const haveGraphviz = (process.env.PATH || '').split(':').some((dir) => dir && fs.existsSync(path.join(dir, 'dot')));

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

function report(args, file) {
  execFileSync(tool, ['report', ...args, '-o', file], { cwd: data, stdio: ['ignore', 'ignore', 'pipe'] });
  return file;
}

// The page of a real report with the data object replaced: the same
// template and scripts, shown with data that has an analysis and a graph.
function pageWithData(templatePage, dataFile, file) {
  const html = fs.readFileSync(templatePage, 'utf8');
  const json = fs.readFileSync(dataFile, 'utf8').trim().replace(/<\//g, '<\\/').replace(/<!--/g, '\\u003c!--');
  const start = html.indexOf('<script type="application/json" id="mvt-data">');
  const end = html.indexOf('</script>', start);
  assert.ok(start > 0 && end > start, 'the page has its data element');
  const open = '<script type="application/json" id="mvt-data">';
  fs.writeFileSync(file, html.slice(0, start + open.length) + json + html.slice(end));
  return file;
}

const checks = [];
function check(name, run) {
  checks.push({ name, run });
}

// Opens the page from disk and returns it with the errors it reported.
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
  await page.goto(pathToFileURL(file).href);
  await page.waitForFunction(() => window.mvtReport !== undefined);
  return { page, errors };
}

async function assertParts(page, { graph, table, chart }) {
  const canvas = await page.locator('#timeline-canvas').boundingBox();
  assert.ok(canvas && canvas.width > 300 && canvas.height > 20, 'the timeline canvas is drawn: ' + JSON.stringify(canvas));
  assert.equal(await page.locator('#graph svg').count(), graph ? 1 : 0, 'graph drawing');
  if (!graph) assert.match(await page.locator('#graph').innerText(), /\w/, 'a note stands in for the graph');
  assert.equal(await page.locator('#node-table').count(), table ? 1 : 0, 'node table');
  assert.equal(await page.locator('#concurrency-chart').count(), chart ? 1 : 0, 'concurrency chart');
}

// Clicks the middle of bar `index` of a lane's tasks and returns the
// details panel's text.
async function clickBar(page, lane, index) {
  const point = await page.evaluate(([l, i]) => window.mvtReport.timeline.locate(l, 'task', i), [lane, index]);
  await page.mouse.click(point.x, point.y);
  return page.locator('#details').innerText();
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

// The drawing Graphviz made of a real run: a <g id="node-K"> for every node
// that ran, the critical path outlined, and a click on a table row selects
// the row's node in the drawing.
async function assertGraphLinked(page) {
  const nodes = await page.evaluate(() => window.mvtReport.data.analysis.nodes.length);
  const ids = await page.locator('#graph g.node[id^="node-"]').evaluateAll((gs) => gs.map((g) => g.id).sort());
  assert.deepEqual(ids, [...Array(nodes).keys()].map((k) => 'node-' + k).sort(), 'one drawn node per analysed node');
  const path = await page.evaluate(() => window.mvtReport.data.analysis.dependency_graph.critical_path.length);
  assert.equal(await page.locator('#graph .node.mvt-critical').count(), path, 'the critical path is outlined');
  assert.equal(await page.locator('#graph .edge.mvt-critical').count(), path - 1, 'and the edges along it');
  assert.equal(await page.locator('#critical-path li').count(), path);
  // The last row of the table, whichever node it is.
  const row = page.locator('#node-table tbody tr').last();
  const index = await row.getAttribute('data-node');
  await row.click();
  assert.equal(await page.locator('#graph g.node.mvt-selected').getAttribute('id'), 'node-' + index,
    'a click on a table row selects its node in the graph');
  assert.equal(await page.locator('#node-table tr.selected').getAttribute('data-node'), index);
}

check('report of a hand-written OpenMP trace: bars show their records and lead to their nodes', async (browser) => {
  const file = report(['openmp_run'], path.join(out, 'report_openmp_run.html'));
  const { page, errors } = await open(browser, file);
  await assertParts(page, { graph: haveGraphviz, table: true, chart: true });
  assert.equal(await page.locator('#run-title').innerText(), 'openmp_run');
  assert.match(await page.locator('#run-messages').innerText(), /2 problems/);
  assert.equal(await page.locator('#node-table tbody tr').count(), 5);
  const explicit = await taskIndex(page, 1, 'omp_explicit');
  const details = await clickBar(page, 1, explicit);
  assert.match(details, /omp_explicit/);
  assert.match(details, /7\.0\.0/, 'the identifier');
  assert.match(details, /first line\nsecond <b> & "q"/, 'metadata text, shown as text');
  assert.match(details, /0x563b382e3839/, 'the code address in hex');
  if (haveGraphviz) {
    // The bar's record leads to its node in the graph.
    await page.locator('#details dd a').first().click();
    assert.equal(await page.locator('#graph #node-4.mvt-selected').count(), 1, 'the node link selects node 7.1');
    await assertGraphLinked(page);
  }

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
  await page.screenshot({ path: path.join(out, 'report_openmp_run.png'), fullPage: true });
  assert.deepEqual(errors, []);
});

check('sample data with analysis and graph: every view, linked', async (browser) => {
  const base = report(['openmp_run'], path.join(out, 'report_openmp_run.html'));
  const file = pageWithData(base, path.join(here, 'sample_report_data.json'), path.join(out, 'report_sample.html'));
  const { page, errors } = await open(browser, file);
  await assertParts(page, { graph: true, table: true, chart: true });
  assert.equal(await page.locator('#graph .node.mvt-critical').count(), 4, 'the critical path is outlined');
  assert.ok(await page.locator('#graph .edge.mvt-critical').count() >= 3, 'and its edges');
  assert.equal(await page.locator('#node-table tbody tr').count(), 6);
  assert.equal(await page.locator('#critical-path li').count(), 4);
  assert.match(await page.locator('#timeline-note').innerText(), /1,200 of the shortest executions/);
  assert.match(await page.locator('#run-messages').innerText(), /1 problem/);

  const firstName = () => page.locator('#node-table tbody tr:first-child td:first-child').innerText();
  assert.match(await firstName(), /^omp_parallel/, 'sorted by total time, largest first');
  const total = page.locator('#node-table th', { hasText: /^Total$/ });
  await total.click();
  assert.equal(await total.getAttribute('aria-sort'), 'ascending');
  assert.match(await firstName(), /^combine/, 'a click on Total sorts smallest first');
  await page.locator('#node-table th', { hasText: /^Node$/ }).click();
  assert.match(await firstName(), /^combine/, 'by name, A to Z');

  const left = await taskIndex(page, 0, 'left');
  const details = await clickBar(page, 0, left);
  assert.match(details, /second <b> & "q" <\/script><!-- x/, 'text that looks like markup stays text');
  await page.locator('#details a', { hasText: 'left' }).click();
  assert.equal(await page.locator('#graph #node-1.mvt-selected').count(), 1, 'the node link selects the graph node');
  assert.equal(await page.locator('#node-table tr.selected').getAttribute('data-node'), '1', 'and its table row');

  const graphBox = await page.locator('#graph').boundingBox();
  const before = await page.locator('#graph svg').getAttribute('viewBox');
  await page.mouse.move(graphBox.x + graphBox.width / 2, graphBox.y + graphBox.height / 2);
  await page.mouse.wheel(0, -300);
  await page.waitForFunction((old) => document.querySelector('#graph svg').getAttribute('viewBox') !== old, before,
    { timeout: 5000 });

  await page.locator('#timeline-reset').click();
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
  await page.screenshot({ path: path.join(out, 'report_sample.png'), fullPage: true });
  await page.locator('#timeline-reset').click();
  await page.locator('#timeline-section').screenshot({ path: path.join(out, 'report_sample_timeline.png') });
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

if (ompExample && fs.existsSync(ompExample)) {
  check('a fresh libomp run of the OpenMP example, recorded and reported', async (browser) => {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'mvt_report_'));
    try {
      const trace = path.join(work, 'omp_trace');
      execFileSync(tool, ['record', '-o', trace, '--', ompExample], { stdio: 'ignore' });
      const file = path.join(out, 'report_omp_example.html');
      execFileSync(tool, ['report', trace, '-o', file], { stdio: ['ignore', 'ignore', 'pipe'] });
      const { page, errors } = await open(browser, file);
      await assertParts(page, { graph: haveGraphviz, table: true, chart: true });
      assert.match(await page.locator('#run-title').innerText(), /omp_example$/, 'the recorded command is the title');
      assert.match(await page.locator('#run-outcome').innerText(), /exited with status 0/);
      const explicit = await taskIndex(page, 0, 'omp_explicit');
      const lane = explicit >= 0 ? 0 : 1;
      const details = await clickBar(page, lane, Math.max(0, await taskIndex(page, lane, 'omp_explicit')));
      assert.match(details, /Identifier/);
      // Three parallel regions, each a box; the tasks with dependences in the
      // second, told apart by their code addresses.
      if (haveGraphviz) {
        const boxes = await page.locator('#graph g.cluster > text').allTextContents();
        assert.deepEqual(boxes.map((t) => t.replace(/ \u00b7 .*/, '')),
          ['parallel region 1', 'parallel region 2', 'parallel region 3'], boxes.join(' | '));
        assert.ok(await page.locator('#graph g.node text', { hasText: /^0x[0-9a-f]+$/ }).count() >= 12, 'task nodes show their code address');
        await assertGraphLinked(page);
        await page.locator('#graph-section').screenshot({ path: path.join(out, 'report_omp_example_graph.png') });
      }
      assert.match(await page.locator('#node-table').innerText(), /node\s*0x[0-9a-f]+/, 'the table shows code addresses');
      await page.screenshot({ path: path.join(out, 'report_omp_example.png'), fullPage: true });
      assert.deepEqual(errors, []);
    } finally {
      fs.rmSync(work, { recursive: true, force: true });
    }
  });
}

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'mvt_chromium_'));
let failed = 0;
const context = await chromium.launchPersistentContext(profile, {
  executablePath: browserPath,
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const browser = { newPage: async (options) => {
    const page = await context.newPage();
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
  }
} finally {
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
console.log((checks.length - failed) + ' passed, ' + failed + ' failed');
process.exit(failed ? 1 : 0);

// Opens a Trace Event JSON file in the speedscope flame-graph viewer, in headless Chromium, and
// checks that the viewer imported it: no import error, the profile's name shown, one profile
// per thread of the file named by its metadata events, and frames named by function alone.
// Saves a screenshot of the flame chart.
//
//   node view_trace.js VIEWER_DIR CHROMIUM TRACE.json SCREENSHOT.png
//
// VIEWER_DIR holds node_modules with speedscope and playwright-core. Everything is served on
// 127.0.0.1 from a port the system picks; every wait has a bound.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const { createRequire } = require('module');

const [viewerDir, chromiumPath, tracePath, screenshotPath] = process.argv.slice(2);
if (!screenshotPath) {
  console.error('usage: node view_trace.js VIEWER_DIR CHROMIUM TRACE.json SCREENSHOT.png');
  process.exit(2);
}
const { chromium } = createRequire(path.join(viewerDir, 'package.json'))('playwright-core');
const releaseDir = path.join(viewerDir, 'node_modules', 'speedscope', 'dist', 'release');
const profileName = path.basename(tracePath);

function fail(message) {
  console.error(`FAIL: ${message}`);
  process.exitCode = 1;
}

// What the file says: the threads (pid, tid) with events, the names of the metadata events and
// the functions entered.
function readTrace() {
  const events = JSON.parse(fs.readFileSync(tracePath, 'utf8'));
  const processNames = new Map();
  const threadNames = new Map();
  const threads = new Set();
  const functions = new Set();
  for (const e of events) {
    if (e.ph === 'M' && e.name === 'process_name') processNames.set(e.pid, e.args.name);
    else if (e.ph === 'M' && e.name === 'thread_name') threadNames.set(`${e.pid}:${e.tid}`, e.args.name);
    else if (e.ph === 'B' || e.ph === 'E') {
      threads.add(`${e.pid}:${e.tid}`);
      if (e.ph === 'B') functions.add(e.name);
    }
  }
  // The viewer names a thread's profile "<process name> (pid P), <thread name> (tid T)".
  const profiles = [...threads].map((key) => {
    const [pid, tid] = key.split(':');
    return `${processNames.get(Number(pid))} (pid ${pid}), ${threadNames.get(key)} (tid ${tid})`;
  });
  return { events: events.length, profiles, functions: [...functions] };
}

function serve() {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
                  '.json': 'application/json', '.wasm': 'application/wasm', '.png': 'image/png',
                  '.woff2': 'font/woff2', '.ico': 'image/x-icon', '.txt': 'text/plain' };
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(req.url.split(/[?#]/)[0]);
    // The trace under its own name; the rest from the viewer's folder, never outside it.
    const file = url === `/${profileName}` ? tracePath : path.join(releaseDir, path.normalize(url));
    if (file !== tracePath && !file.startsWith(releaseDir + path.sep)) {
      res.writeHead(403).end();
      return;
    }
    fs.readFile(file, (err, data) => {
      if (err) {
        res.writeHead(404).end();
        return;
      }
      res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
      res.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function main() {
  const trace = readTrace();
  console.log(`${profileName}: ${trace.events} events, ${trace.profiles.length} threads, ` +
              `${trace.functions.length} functions`);
  if (trace.profiles.length === 0) return fail('the trace has no B/E events');

  const server = await serve();
  const base = `http://127.0.0.1:${server.address().port}`;
  const browser = await chromium.launch({ executablePath: chromiumPath, headless: true, timeout: 60000 });
  try {
    const page = await browser.newPage({ viewport: { width: 1600, height: 900 } });
    page.setDefaultTimeout(30000);
    const consoleErrors = [];
    const endWarnings = [];
    page.on('console', (m) => {
      if (m.type() === 'error') consoleErrors.push(m.text());
      else if (m.type() === 'warning' && /Tried to end|still open/.test(m.text())) endWarnings.push(m.text());
    });
    page.on('pageerror', (e) => consoleErrors.push(String(e)));
    const profileURL = encodeURIComponent(`${base}/${profileName}`);
    await page.goto(`${base}/index.html#profileURL=${profileURL}`);

    // Loaded: the toolbar names the profile it shows, "(1/N)" after it.
    await page.getByText(`(1/${trace.profiles.length})`, { exact: false }).filter({ visible: true }).first()
      .waitFor({ state: 'visible', timeout: 30000 }).catch(() => {});
    const body = await page.locator('body').innerText();
    if (/Something went wrong|Unrecognized format|Failed to/i.test(body)) fail(`import error shown: ${body.slice(0, 300)}`);
    // The import's name (the file's) is the page title; the toolbar shows the thread's.
    const title = await page.title();
    if (!title.includes(profileName)) fail(`the profile's name ${profileName} is not the page title: ${title}`);
    if (!body.includes(`(1/${trace.profiles.length})`)) fail(`the toolbar does not count ${trace.profiles.length} profiles: ${body.slice(0, 300)}`);

    // The flame chart of the first thread, zoomed in on its start until the names fit
    // (the viewer zooms with the mouse wheel over the chart while Ctrl is held).
    await page.mouse.move(20, 400);
    await page.keyboard.down('Control');
    await page.mouse.wheel(0, -25);
    await page.keyboard.up('Control');
    await page.waitForTimeout(300);  // the next frame is drawn; only the picture depends on it
    await page.screenshot({ path: screenshotPath });
    console.log(`screenshot: ${screenshotPath}`);
    // Clicking the shown profile's name lists every thread, by the names the metadata events
    // give. The viewer need not show the JSON's first thread first, and the other names are in
    // the page but hidden: click the one that is visible.
    let shown = null;
    for (const p of trace.profiles) {
      const name = page.getByText(p, { exact: false }).filter({ visible: true }).first();
      if (await name.count()) { shown = name; break; }
    }
    if (!shown) fail('no thread of the trace is named in the toolbar');
    await shown.click({ timeout: 10000 });
    const list = await page.locator('body').innerText();
    console.log(`page title: ${title}`);
    for (const p of trace.profiles) if (!list.includes(p)) fail(`thread "${p}" is not listed`);
    await page.keyboard.press('Escape');

    // Frames by function name alone: the sandwich view's table lists them.
    const functionsShown = [];
    await page.getByText(/Sandwich/).first().click();
    const table = await page.locator('body').innerText();
    for (const f of trace.functions) if (table.includes(f)) functionsShown.push(f);
    if (/\{"/.test(table)) fail('a frame name carries arguments');

    console.log(`viewer: ${trace.profiles.length} thread profiles listed, ` +
                `${functionsShown.length} functions named in this thread's table, ` +
                `${consoleErrors.length} console errors, ${endWarnings.length} frame-end warnings`);
    if (consoleErrors.length) fail(`console errors: ${consoleErrors.slice(0, 3).join(' | ')}`);
    if (functionsShown.length === 0) fail('no function of the trace is named in the viewer');
    // The viewer keys a frame by its name and arguments: an "E" that does not carry exactly
    // its "B"'s (none) is closed by name after a warning, and frames would split by arguments.
    if (endWarnings.length) fail(`frame-end warnings, the first: ${endWarnings[0]}`);
  } finally {
    await browser.close();
    server.close();
  }
}

main().catch((e) => fail(e.stack || String(e)));

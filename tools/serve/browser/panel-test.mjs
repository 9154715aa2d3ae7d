// The front panel in a real browser: Debian's headless chromium driven through
// puppeteer-core against `zugen4 serve --sim` on a loopback port.
//   node panel-test.mjs ZUGEN4_PROGRAM SCREENSHOT.png
import {spawn} from 'node:child_process';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [program, screenshot] = process.argv.slice(2);
if (!program || !screenshot) {
  console.error('usage: node panel-test.mjs ZUGEN4_PROGRAM SCREENSHOT.png');
  process.exit(2);
}

// A state file of its own, so that the user's simulated setup stays as it is.
const stateDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zugen4-panel-'));

function startServer() {
  const args = ['--sim', '--state', path.join(stateDir, 'sim.zg4'), 'serve', '--port', '0'];
  const server = spawn(program, args, {stdio: ['ignore', 'pipe', 'inherit']});
  return new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error('the panel printed no address: ' + out)), 20000);
    server.stdout.on('data', chunk => {
      out += chunk;
      const m = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (m) {
        clearTimeout(timer);
        resolve({server, url: m[0]});
      }
    });
    server.on('exit', code => reject(new Error('the panel ended early with ' + code + ': ' + out)));
  });
}

const {server, url} = await startServer();
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
let failed = false;
try {
  const page = await browser.newPage();
  page.on('pageerror', e => { console.error('page error:', e.message); failed = true; });
  await page.setViewport({width: 1280, height: 800});
  await page.goto(url, {waitUntil: 'load'});
  await page.waitForSelector('body[data-ready="yes"]');
  await page.waitForSelector('#stream-state.ok');

  const frames = async () => (await (await fetch(url + 'api/frames')).json()).frames;
  const posted = () => page.waitForResponse(r => r.url().endsWith('/api/setup') && r.request().method() === 'POST');
  const before = (await frames()).at(-1)?.seq ?? 0;

  // Channel A to amplitude modulation at 30 % depth, through the page's controls.
  let done = posted();
  await page.select('select[data-path="ChA.Mode"]', 'ZGMdC_IntModulation');
  await done;
  await page.waitForSelector('fieldset[data-engine="IntModulation"]:not([hidden]) select[data-path="ChA.IntModulation.Type"]');
  done = posted();
  await page.select('select[data-path="ChA.IntModulation.Type"]', 'ZGAFPms_ampl');
  await done;
  done = posted();
  await page.click('input[data-path="ChA.IntModulation.dA"]', {clickCount: 3});
  await page.type('input[data-path="ChA.IntModulation.dA"]', '30');
  await page.keyboard.press('Tab');
  assert.equal((await done).status(), 200);

  // What the simulated instrument received since: the table, then the start
  // of amplitude modulation on channel A (type code 1).
  const sent = (await frames()).filter(f => f.seq > before);
  const last = sent.slice(sent.findLastIndex(f => f.hex.startsWith('F0 ')));
  const table = last.findIndex(f => f.meaning.startsWith('A intmod table'));
  assert.ok(table >= 0, 'no table announced: ' + JSON.stringify(last));
  assert.equal(last[table + 1].kind, 'block');
  const start = last.find(f => f.meaning.startsWith('A intmod start'));
  assert.ok(start, 'no modulation start');
  assert.match(start.hex, /^87 .. .. 08 01 00$/);
  // The table swings the amplitude by 30 % of full scale either way.
  const t = await (await fetch(url + 'api/table/ChA.IntModulation')).json();
  const swing = (Math.max(...t.codes) - Math.min(...t.codes)) / 2 / 16384 * 100;
  assert.ok(Math.abs(swing - 30) < 0.1, 'depth ' + swing);
  await page.waitForSelector('#table-ChA canvas');

  // An out-of-range frequency is refused at its field with the range.
  done = posted();
  await page.click('input[data-path="ChA.Frequency"]', {clickCount: 3});
  await page.type('input[data-path="ChA.Frequency"]', '250000');
  await page.keyboard.press('Tab');
  assert.equal((await done).status(), 422);
  const message = await page.$eval('.field[data-path="ChA.Frequency"] .error', e => (e.hidden ? '' : e.textContent));
  assert.match(message, /250000 refused: the range is 400 to 200000 kHz/);

  // A decimal comma is the decimal point: 1000,5 goes out as 1000.5.
  done = posted();
  await page.click('input[data-path="ChA.Frequency"]', {clickCount: 3});
  await page.type('input[data-path="ChA.Frequency"]', '1000,5');
  await page.keyboard.press('Tab');
  const comma = await done;
  assert.equal(comma.status(), 200);
  assert.deepEqual(JSON.parse(comma.request().postData()), {'ChA.Frequency': 1000.5});
  // Text that is no number is not sent at all; the reason stands at the field.
  let requests = 0;
  const count = r => { if (r.url().endsWith('/api/setup') && r.method() === 'POST') requests++; };
  page.on('request', count);
  for (const typed of ['10005x', '1 000', '1,500']) {
    await page.click('input[data-path="ChA.Frequency"]', {clickCount: 3});
    await page.type('input[data-path="ChA.Frequency"]', typed);
    await page.keyboard.press('Tab');
    const why = await page.$eval('.field[data-path="ChA.Frequency"] .error', e => (e.hidden ? '' : e.textContent));
    assert.match(why, typed === '1,500' ? /could mean either/ : /is no number/, typed);
  }
  await new Promise(r => setTimeout(r, 300));
  page.off('request', count);
  assert.equal(requests, 0, 'text that is no number was sent');
  assert.equal((await (await fetch(url + 'api/setup')).json()).properties.find(p => p.path === 'ChA.Frequency').value, 1000.5);

  await page.evaluate(() => document.activeElement.blur());
  await page.screenshot({path: screenshot, fullPage: false});
  // A phone's width: one column, nothing wider than the screen.
  await page.setViewport({width: 390, height: 844});
  await page.waitForFunction(() => getComputedStyle(document.querySelector('.channels')).gridTemplateColumns.split(' ').length === 1);
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  assert.ok(overflow <= 0, 'the page is wider than a phone by ' + overflow + ' px');
  await page.screenshot({path: screenshot.replace(/\.png$/, '-phone.png')});
  console.log('panel browser test: passed; screenshot ' + screenshot);
} catch (e) {
  console.error(e);
  failed = true;
} finally {
  await browser.close();
  server.kill('SIGTERM');
}
const code = server.exitCode ?? (await new Promise(resolve => server.on('exit', c => resolve(c))));
fs.rmSync(stateDir, {recursive: true, force: true});
if (code !== 0) {
  console.error('the panel ended with ' + code);
  failed = true;
}
process.exit(failed ? 1 : 0);

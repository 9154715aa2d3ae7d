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
  for (const typed of ['1 000', '1,500', '1 000 kHz']) {
    await page.click('input[data-path="ChA.Frequency"]', {clickCount: 3});
    await page.type('input[data-path="ChA.Frequency"]', typed);
    await page.keyboard.press('Tab');
    const why = await page.$eval('.field[data-path="ChA.Frequency"] .error', e => (e.hidden ? '' : e.textContent));
    assert.match(why, typed === '1,500' ? /could mean either/ : /is no number/, typed);
  }
  await new Promise(r => setTimeout(r, 300));
  page.off('request', count);
  assert.equal(requests, 0, 'text that is no number was sent');
  const setup = async () => (await (await fetch(url + 'api/setup')).json()).properties;
  const valueOf = async path => (await setup()).find(p => p.path === path).value;
  assert.equal(await valueOf('ChA.Frequency'), 1000.5);

  // A number with a unit goes to the library as typed (a decimal comma made
  // a point), which converts it to the property's unit or refuses it naming
  // that unit; a refusal sends nothing to the instrument.
  const units = [
    {path: 'ChA.Frequency', typed: '2 MHz', value: 2000},
    {path: 'ChA.Frequency', typed: '1500kHz', value: 1500},
    {path: 'ChA.Frequency', typed: '1,25 MHz', sent: '1.25 MHz', value: 1250},
    {path: 'ChA.IntModulation.dF', typed: '2 MHz', value: 2000000},
    {path: 'ChA.Amplitude', typed: '50 %', value: 50},
    {path: 'ChA.Phase', typed: '90°', value: 90},
    {path: 'ChA.Frequency', typed: '10005x', status: 400, why: /unknown unit "x"; expected a number in kHz/},
    {path: 'ChA.Frequency', typed: '2 mHz', status: 422, why: /refused: the range is 400 to 200000 kHz/},
    {path: 'ChA.Phase', typed: '45 Hz', status: 400, why: /Hz does not convert to deg/},
  ];
  for (const u of units) {
    const was = await valueOf(u.path);
    const seq = (await frames()).at(-1)?.seq ?? 0;
    done = posted();
    await page.click(`input[data-path="${u.path}"]`, {clickCount: 3});
    await page.type(`input[data-path="${u.path}"]`, u.typed);
    await page.keyboard.press('Tab');
    const answer = await done;
    assert.deepEqual(JSON.parse(answer.request().postData()), {[u.path]: u.sent ?? u.typed}, u.typed);
    assert.equal(answer.status(), u.status ?? 200, u.typed);
    if (u.why) {
      const why = await page.$eval(`.field[data-path="${u.path}"] .error`, e => (e.hidden ? '' : e.textContent));
      assert.match(why, u.why, u.typed);
      assert.equal(await valueOf(u.path), was, u.typed);
      assert.deepEqual((await frames()).filter(f => f.seq > seq), [], u.typed + ' sent frames');
    } else {
      assert.equal(await valueOf(u.path), u.value, u.typed);
      await page.waitForFunction((path, v) => document.querySelector(`input[data-path="${path}"]`).value === v, {},
                                 u.path, String(u.value));
    }
  }

  // Modes and ranges read as words with units, and what a user does not set
  // is a reading or absent: the registry's flags decide, no list of names.
  const texts = await page.evaluate(() => ({
    modes: [...document.querySelectorAll('select[data-path="ChA.Mode"] option')].map(o => o.textContent),
    ranges: Object.fromEntries([...document.querySelectorAll('.field[data-path]')]
      .map(f => [f.dataset.path, f.querySelector('.range')?.textContent ?? ''])),
  }));
  for (const mode of ['sweep (LFM)', 'keying (DDSMod)', 'tuning', 'sine (gen)'])
    assert.ok(texts.modes.some(t => t.startsWith(mode)), mode + ' not among ' + texts.modes);
  for (const [path, range] of [['ChA.Frequency', '400 kHz … 200 MHz'], ['ChA.IntModulation.Fm', '1 Hz … 20 kHz'],
                               ['ChA.IntModulation.dF', '0 Hz … 2 MHz'], ['ChA.Amplitude', 'above 0 % … 100 %'],
                               ['ChA.Phase', '0 deg … below 360 deg'], ['ChA.Tuner.ADCTimerInterval', 'at least 0 ms'],
                               ['ChA.Mode', 'extmodA12 (ExtModulationA12) on channel A only']])
    assert.equal(texts.ranges[path], range, path);
  assert.ok(!JSON.stringify(texts).match(/ZG\w*_/), 'an enumerator name on the page: ' + JSON.stringify(texts));
  for (const p of await setup()) {
    const control = await page.$(`:is(input, select)[data-path="${p.path}"]`);
    const field = await page.$(`.field[data-path="${p.path}"]`);
    if (p.path === 'Active') continue;  // the header's switch
    if (p.readOnly) assert.ok(field && !control, p.path + ' is read-only but offered');
    else if (p.hostOption) assert.ok(!field, p.path + ' is the program\'s option but shown');
    else assert.ok(control, p.path + ' cannot be set');
  }
  assert.equal(await page.$eval('.field[data-path="ChB.ChannelType"] output', e => e.value), 'B');

  // No label breaks inside a word or runs out of its column, on a desktop
  // and on a phone; every engine's fields are measured, shown or not.
  const brokenLabels = () => page.evaluate(() => {
    const hidden = [...document.querySelectorAll('fieldset.engine[hidden]')];
    hidden.forEach(f => { f.hidden = false; });
    const bad = [];
    for (const label of document.querySelectorAll('.field label, .field .label, fieldset.engine legend')) {
      for (const node of label.childNodes) {
        if (node.nodeType !== Node.TEXT_NODE) continue;
        const range = document.createRange();
        range.selectNodeContents(node);
        const lines = new Set([...range.getClientRects()].map(r => Math.round(r.top)));
        if (lines.size > 1) bad.push(`"${node.textContent}" of ${label.textContent} breaks`);
        if (range.getBoundingClientRect().right > label.getBoundingClientRect().right + 1)
          bad.push(`"${node.textContent}" of ${label.textContent} runs out of its column`);
      }
    }
    hidden.forEach(f => { f.hidden = true; });
    return bad;
  });
  assert.deepEqual(await brokenLabels(), []);

  await page.evaluate(() => document.activeElement.blur());
  await page.screenshot({path: screenshot, fullPage: false});
  // A phone's width: one column, nothing wider than the screen, the frames'
  // meaning in sight.
  await page.setViewport({width: 375, height: 812});
  await page.waitForFunction(() => getComputedStyle(document.querySelector('.channels')).gridTemplateColumns.split(' ').length === 1);
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  assert.ok(overflow <= 0, 'the page is wider than a phone by ' + overflow + ' px');
  assert.deepEqual(await brokenLabels(), []);
  const meaning = await page.$eval('#frames tbody tr td:last-child', td => {
    const box = td.closest('.scroll').getBoundingClientRect();
    return {left: td.getBoundingClientRect().left, right: box.right};
  });
  assert.ok(meaning.left < meaning.right - 40, 'the frames\' meaning is out of sight: ' + JSON.stringify(meaning));
  await page.screenshot({path: screenshot.replace(/\.png$/, '-phone.png')});
  await page.setViewport({width: 1280, height: 800});

  // A sweep whose times were never set is refused at the mode, naming the
  // value, its range and what to set first; nothing is sent; the person may
  // send it anyway.
  let seq = (await frames()).at(-1).seq;
  done = posted();
  await page.select('select[data-path="ChB.Mode"]', 'ZGMdC_LFM');
  assert.equal((await done).status(), 422);
  const sweepWhy = await page.$eval('.field[data-path="ChB.Mode"] .error', e => (e.hidden ? '' : e.textContent));
  assert.match(sweepWhy, /^ChB\.Mode: sweep \(LFM\) refused: ChB\.LFM\.FreqTop is 0, outside its range 1000 to 200000 kHz.*: set it first/);
  assert.deepEqual((await frames()).filter(f => f.seq > seq), []);
  assert.equal(await page.$eval('select[data-path="ChB.Mode"]', e => e.value), 'ZGMdC_off');
  done = posted();
  await page.click('.field[data-path="ChB.Mode"] .error button');
  const forced = await done;
  assert.equal(forced.status(), 200);
  assert.deepEqual(JSON.parse(forced.request().postData()), {'ChB.Mode': 'ZGMdC_LFM', Force: true});
  await page.waitForFunction(() => document.querySelector('select[data-path="ChB.Mode"]').value === 'ZGMdC_LFM');

  // Switching the link off says what the instrument was left doing.
  done = posted();
  await page.click('#active');
  assert.equal((await done).status(), 200);
  await page.waitForSelector('#instrument:not([hidden])');
  const left = await page.$eval('#instrument', e => e.textContent);
  assert.match(left, /The link is closed; sent on closing: reset\./);
  assert.match(left, /channel A: output off/);
  await page.screenshot({path: screenshot.replace(/\.png$/, '-off.png')});
  // A page loaded while the link stays closed shows it too.
  await page.reload();
  await page.waitForSelector('#instrument:not([hidden])');
  assert.equal(await page.$eval('#instrument', e => e.textContent), left);
  done = posted();
  await page.click('#active');
  assert.equal((await done).status(), 200);
  await page.waitForSelector('#instrument', {hidden: true});

  // Reset asks first; cancelled, nothing happens; confirmed, the instrument
  // gets the reset command and every value its default.
  const resets = () => page.waitForResponse(r => r.url().endsWith('/api/reset'));
  let reset = 0;
  const countReset = r => { if (r.url().endsWith('/api/reset')) reset++; };
  page.on('request', countReset);
  await page.click('#reset');
  await page.waitForSelector('#reset-confirm:not([hidden])');
  await page.click('#reset-no');
  await page.waitForSelector('#reset-confirm', {hidden: true});
  assert.equal(reset, 0, 'reset without confirmation');
  seq = (await frames()).at(-1).seq;
  await page.click('#reset');
  done = resets();
  await page.click('#reset-yes');
  assert.equal((await done).status(), 200);
  page.off('request', countReset);
  assert.ok((await frames()).some(f => f.seq > seq && f.hex.startsWith('F0 ')), 'no reset command sent');
  for (const [path, value] of [['ChA.Frequency', 1000], ['ChA.Mode', 'ZGMdC_off'], ['ChB.Mode', 'ZGMdC_off'],
                               ['ChA.IntModulation.dF', 100]]) {
    assert.equal(await valueOf(path), value, path);
    await page.waitForFunction((p, v) => document.querySelector(`[data-path="${p}"]:is(input, select)`).value === v, {},
                               path, String(value));
  }
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

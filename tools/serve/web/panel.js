// The front panel. Everything on it is built from the registry's metadata as
// GET /api/setup gives it; no property is named here.
'use strict';

const token = (() => {
  const embedded = document.querySelector('meta[name="zugen4-token"]').content;
  if (embedded && !embedded.startsWith('%%')) return embedded;
  const fromUrl = new URLSearchParams(location.search).get('token');
  if (fromUrl) sessionStorage.setItem('zugen4-token', fromUrl);
  return sessionStorage.getItem('zugen4-token') || '';
})();

const state = {
  props: new Map(),   // path -> metadata and value
  fields: new Map(),  // path -> {root, input, error}
  modes: {},          // "ChA" -> [{name, available, rule}]
  engines: {},        // mode name -> engine sub-object ("IntModulation")
  adc: {A: [], B: []},
  frames: [],
};

const $ = (sel, root = document) => root.querySelector(sel);
function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v);
  }
  for (const c of children) if (c) e.append(c);
  return e;
}

function withToken(url) {
  return token ? url + (url.includes('?') ? '&' : '?') + 'token=' + encodeURIComponent(token) : url;
}

async function api(method, path, body, type = 'application/json') {
  const opts = {method, headers: {'X-ZuGen4-Token': token}};
  if (body !== undefined) {
    opts.body = typeof body === 'string' || body instanceof ArrayBuffer ? body : JSON.stringify(body);
    opts.headers['Content-Type'] = type;
  }
  const res = await fetch(path, opts);
  const text = await res.text();
  let data = {};
  try { data = JSON.parse(text); } catch { data = {message: text}; }
  return {status: res.status, data};
}

// --- layout from metadata ---

// "ChA.IntModulation.Fm" -> {group: "ChA", engine: "IntModulation", name: "Fm"}
function split(path) {
  const parts = path.split('.');
  const channel = /^Ch[A-Z]$/.test(parts[0]) ? parts[0] : null;
  if (!channel) return {group: 'general', engine: parts.length > 1 ? parts[0] : null, name: parts.at(-1)};
  return {group: channel, engine: parts.length > 2 ? parts[1] : null, name: parts.at(-1)};
}

function fmt(v) {
  if (typeof v !== 'number') return String(v);
  return Number.isInteger(v) ? String(v) : String(+v.toPrecision(10));
}

// What the person sets: the setup's values. What the registry marks read-only
// (readings, the channel's name) is shown as a reading; an option of the
// program driving the generator (AutoUpdate) is the panel's to decide (every
// accepted change is sent at once), so it is not offered.
function shown(p) { return !p.hostOption; }

// A label that wraps only between the parts of a name (ADC|Timer|Interval),
// never inside a word.
function nameLabel(tag, name, attrs) {
  const label = el(tag, attrs);
  name.split(/(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])/).forEach((part, i) => {
    if (i) label.append(el('wbr'));
    label.append(part);
  });
  return label;
}

// An enumerator as people read it: the registry's alias first, the
// protocol's name beside it ("sweep (LFM)").
function enumWords(e) {
  return e.aliases && e.aliases.length ? `${e.aliases[0]} (${e.short})` : e.short;
}

// A text of the library's with every enumerator's full name in words.
function words(text) {
  if (!text) return text;
  return text.replace(/\b[A-Za-z]+_[A-Za-z0-9_]+\b/g, full => {
    for (const p of state.props.values())
      for (const e of p.enumerators || []) if (e.name === full) return enumWords(e);
    return full;
  });
}

// A quantity with its unit, the unit's prefix chosen so that the number
// stays short: 200000 kHz reads "200 MHz", 20000 Hz "20 kHz".
const prefixed = {Hz: ['Hz', 0], kHz: ['Hz', 3], MHz: ['Hz', 6], GHz: ['Hz', 9], s: ['s', 0], ms: ['s', -3], us: ['s', -6]};
const prefixes = {'-6': 'u', '-3': 'm', 0: '', 3: 'k', 6: 'M', 9: 'G'};
function quantity(v, unit) {
  const base = prefixed[unit];
  if (!unit) return fmt(v);
  if (!base || v === 0) return `${fmt(v)} ${unit}`;
  let exp = base[1];
  let shown = v;
  while (Math.abs(shown) >= 1000 && prefixes[exp + 3] !== undefined) { shown /= 1000; exp += 3; }
  while (Math.abs(shown) < 1 && prefixes[exp - 3] !== undefined) { shown *= 1000; exp -= 3; }
  return `${fmt(+shown.toPrecision(9))} ${prefixes[exp]}${base[0]}`;
}

// The range in words with units ("400 kHz … 200 MHz", "above 0 % … 100 %").
function rangeWords(p) {
  const lo = 'min' in p ? (p.minExcluded ? 'above ' : '') + quantity(p.min, p.unit) : null;
  const hi = 'max' in p ? (p.maxExcluded ? 'below ' : '') + quantity(p.max, p.unit) : null;
  let text = lo && hi ? `${lo} … ${hi}` : lo ? (p.minExcluded ? lo : 'at least ' + lo)
           : hi ? (p.maxExcluded ? hi : 'at most ' + hi) : '';
  if (p.rangeNote) text += (text ? '; ' : '') + words(p.rangeNote);
  return text;
}

function makeReading(p) {
  const {name} = split(p.path);
  const out = el('output', {class: 'reading', 'data-path': p.path, title: p.description || p.path});
  const root = el('div', {class: 'field readonly ' + p.kind, 'data-path': p.path},
                  nameLabel('span', name, {class: 'label', title: (p.description || p.path) + ' (read-only)'}),
                  el('div', {class: 'control'}, out, el('span', {class: 'unit', text: p.unit || ''})));
  state.fields.set(p.path, {root, input: out, error: null, reading: true});
  return root;
}

function makeField(p) {
  if (p.readOnly) return makeReading(p);
  const {name} = split(p.path);
  let input;
  if (p.kind === 'bool') {
    input = el('input', {type: 'checkbox'});
  } else if (p.kind === 'enum') {
    input = el('select');
    for (const e of p.enumerators) input.append(el('option', {value: e.name, text: enumWords(e)}));
  } else {
    // Text, not a number field: a number field drops what it cannot read (the
    // comma of "1000,5") and sends the rest; here the panel reads the text.
    input = el('input', {type: 'text', inputmode: p.kind === 'int' ? 'numeric' : 'decimal', autocomplete: 'off',
                         spellcheck: 'false'});
  }
  input.dataset.path = p.path;
  input.id = 'f-' + p.path.replaceAll('.', '-');
  const label = nameLabel('label', name, {for: input.id, title: p.description || p.path});
  const unit = el('span', {class: 'unit', text: p.unit || ''});
  const range = el('span', {class: 'range', text: rangeWords(p)});
  const error = el('div', {class: 'error', role: 'alert'});
  error.hidden = true;
  const root = el('div', {class: 'field ' + p.kind, 'data-path': p.path}, label,
                  el('div', {class: 'control'}, input, unit), range, error);
  input.addEventListener('change', () => submit(p.path));
  // While a number is being typed, what it would send (nothing is sent yet).
  if (p.kind === 'double' || p.kind === 'int') input.addEventListener('input', () => schedulePreview(p.path));
  state.fields.set(p.path, {root, input, error});
  return root;
}

function buildChannel(ch, props) {
  const card = el('section', {class: 'card channel', id: ch});
  card.append(el('h2', {text: 'Channel ' + ch.slice(2)}));
  const main = el('div', {class: 'fields'});
  const engines = new Map();
  for (const p of props) {
    if (!shown(p)) continue;
    const {engine} = split(p.path);
    if (!engine) { main.append(makeField(p)); continue; }
    if (!engines.has(engine)) {
      const box = el('fieldset', {class: 'engine', 'data-engine': engine}, nameLabel('legend', engine),
                     el('div', {class: 'fields'}));
      engines.set(engine, box);
    }
    $('.fields', engines.get(engine)).append(makeField(p));
  }
  card.append(main);
  const forced = el('p', {class: 'forced'});
  forced.hidden = true;
  card.append(forced);
  for (const box of engines.values()) card.append(box);
  return card;
}

function build(setup) {
  state.props.clear();
  state.fields.clear();
  const groups = new Map();
  for (const p of setup.properties) {
    state.props.set(p.path, p);
    const {group} = split(p.path);
    if (!groups.has(group)) groups.set(group, []);
    groups.get(group).push(p);
  }
  const channels = $('#channels');
  channels.replaceChildren();
  for (const [group, props] of groups) if (group !== 'general') channels.append(buildChannel(group, props));
  const general = $('#general-fields');
  general.replaceChildren();
  for (const p of groups.get('general') || []) {
    // Active has its own switch in the header.
    if (p.path === 'Active' || !shown(p)) continue;
    general.append(makeField(p));
  }
  applySetup(setup);
}

// --- values ---

function showValue(path, value) {
  const p = state.props.get(path);
  const f = state.fields.get(path);
  if (!p) return;
  p.value = value;
  if (!f) return;
  if (f.reading) {
    const e = p.kind === 'enum' && p.enumerators.find(x => x.name === value);
    f.input.value = e ? enumWords(e) : p.kind === 'bool' ? (value ? 'yes' : 'no') : fmt(value);
  } else if (p.kind === 'bool') f.input.checked = !!value;
  else if (p.kind === 'enum') f.input.value = value;
  else if (document.activeElement !== f.input || !f.root.classList.contains('refused')) f.input.value = fmt(value);
}

function modeOf(ch) {
  const p = state.props.get(ch + '.Mode');
  return p ? p.value : null;
}

// Shows the engine the mode plays, and marks the modes that would force the
// other channel off, or that this channel cannot take, with their rule.
function refreshModes() {
  for (const ch of Object.keys(state.modes)) {
    const card = $('#' + ch);
    if (!card) continue;
    const engine = state.engines[modeOf(ch)] || '';
    for (const box of card.querySelectorAll('fieldset.engine')) box.hidden = box.dataset.engine !== engine;
    const select = state.fields.get(ch + '.Mode')?.input;
    if (!select) continue;
    const other = ch === 'ChA' ? 'channel B' : 'channel A';
    const effect = {forceOff: ` (turns ${other} off)`, pullIn: ` (takes ${other} along)`, refuse: ' (not here)'};
    for (const opt of select.options) {
      const m = state.modes[ch].find(x => x.name === opt.value);
      opt.disabled = m ? !m.available : false;
      opt.textContent = shortMode(ch, opt.value) + (m && opt.value !== modeOf(ch) ? effect[m.action] || '' : '');
      opt.title = m && m.rule ? words(m.rule) : '';
    }
    // The modes the other channel's mode limits, each with its rule.
    const rules = state.modes[ch].filter(m => m.rule && m.name !== modeOf(ch));
    let list = $('.rules', card);
    if (!list) {
      list = el('details', {class: 'rules', open: ''}, el('summary'), el('ul'));
      $('.fields', card).after(list);
    }
    $('summary', list).textContent = `${rules.length} mode${rules.length === 1 ? '' : 's'} limited by ${other}'s mode`;
    list.hidden = rules.length === 0;
    $('ul', list).replaceChildren(...rules.map(m => el('li', {class: m.action}, el('b', {text: shortMode(ch, m.name)}),
                                                      ' ' + words(m.rule))));
  }
  refreshTables();
  refreshAdc();
}

function shortMode(ch, name) {
  const e = state.props.get(ch + '.Mode')?.enumerators.find(x => x.name === name);
  return e ? enumWords(e) : name;
}

function applyValues(values, modes) {
  if (modes) state.modes = modes;
  for (const [path, value] of Object.entries(values)) showValue(path, value);
  refreshModes();
}

function applySetup(setup) {
  state.modes = setup.modes || {};
  state.engines = setup.engines || {};
  for (const p of setup.properties) showValue(p.path, p.value);
  showLink(setup.link);
  refreshModes();
}

function showLink(link) {
  if (!link) return;
  $('#active').checked = link.active;
  const badge = $('#link-state');
  badge.textContent = link.active ? 'linked' : (link.lastFailure ? 'link failed' : 'not linked');
  badge.className = 'badge ' + (link.active ? 'ok' : (link.lastFailure ? 'bad' : ''));
  badge.title = link.lastFailure || '';
}

function clearError(path) {
  const f = state.fields.get(path);
  if (!f || !f.error) return;
  f.root.classList.remove('refused');
  f.error.hidden = true;
  f.error.textContent = '';
}

// The reason at the field, and the buttons that go with it.
function showError(path, message, ...actions) {
  const f = state.fields.get(path);
  if (!f || !f.error) { notice(message, true); return; }
  f.root.classList.add('refused');
  f.error.replaceChildren(message, ...actions);
  f.error.hidden = false;
}

// A refusal as the person reads it: a value outside its range says the
// range; a setup that cannot be sent, or values that cannot all be kept, say
// why in the library's words.
function refusalText(data) {
  const plain = !data.message || data.message.endsWith(`(range ${data.range})`);
  return plain ? `${fmt(data.value)} refused: the range is ${data.range}` : words(data.message);
}

// The number the person typed, with a point or a comma as the decimal mark:
// {value}; a number with a unit ("2 MHz", "50 %") is {text} for the
// registry, which converts it to the property's unit or refuses it naming
// that unit; {error} when the text is anything else, so that nothing is sent
// for it.
function parseNumber(text, kind) {
  const withUnit = /^(.*?\d[.,]?)(\s*[^\d\s.,+-][^\d\s]*)$/.exec(text.trim());
  if (withUnit) {
    const number = parseNumber(withUnit[1], 'double');
    if ('error' in number) return number;
    return {text: withUnit[1].replace(',', '.') + withUnit[2]};
  }
  const t = text.trim();
  const m = /^([+-]?)(\d*)(?:[.,](\d*))?(?:[eE]([+-]?\d+))?$/.exec(t);
  if (!m || (m[2] === '' && !m[3])) {
    const why = /\d[\s'\u00a0\u202f]\d/.test(t) ? ' (no spaces or thousands separators)'
              : /[.,].*[.,]/.test(t) ? ' (one decimal point or comma, no thousands separators)' : '';
    return {error: `"${t}" is no number${why}; e.g. 1000.5 or 1000,5`};
  }
  // "1,500" is 1.5 to some and 1500 to others: neither is sent.
  if (/^[+-]?\d{1,3},\d{3}$/.test(t)) return {error: `"${t}" could mean either number; write ${t.replace(',', '')} or ${Number(t.replace(',', '.'))}`};
  const v = Number(m[1] + (m[2] || '0') + (m[3] !== undefined ? '.' + (m[3] || '0') : '') + (m[4] ? 'e' + m[4] : ''));
  if (!Number.isFinite(v)) return {error: `"${t}" is too large`};
  if (kind === 'int' && !Number.isInteger(v)) return {error: `"${t}" is no whole number`};
  return {value: v};
}

function valueOf(path) {
  const p = state.props.get(path);
  const input = state.fields.get(path).input;
  if (p.kind === 'bool') return {value: input.checked};
  if (p.kind === 'enum') return {value: input.value};
  return parseNumber(input.value, p.kind);
}

// What goes into a request for a typed value, and how it reads.
const sent = typed => ('text' in typed ? typed.text : typed.value);
const typedText = typed => ('text' in typed ? typed.text : fmt(typed.value));

// The plan of a pending change: its frames and total time, before it is applied.
function schedulePreview(path) {
  clearTimeout(schedulePreview.timer);
  schedulePreview.timer = setTimeout(() => preview(path), 300);
}

async function preview(path) {
  const box = $('#preview');
  const typed = valueOf(path);
  if ('error' in typed) { box.hidden = true; return; }
  const {status, data} = await api('POST', '/api/preview', {[path]: sent(typed)});
  const summary = $('summary', box);
  if (status === 200) {
    const frames = data.steps.filter(s => s.kind === 'frame').length;
    summary.textContent = `Pending ${path} = ${typedText(typed)}: would send ${frames} frames` +
                          ` and ${data.steps.length - frames} data blocks, ${fmt(data.durationMs)} ms (Enter applies it)`;
    $('pre', box).textContent = data.text;
  } else {
    summary.textContent = `Pending ${path} = ${typedText(typed)} would be refused: ${words(data.message) || status}`;
    $('pre', box).textContent = '';
  }
  box.hidden = false;
}

async function submit(path) {
  clearTimeout(schedulePreview.timer);
  $('#preview').hidden = true;
  const typed = valueOf(path);
  if ('error' in typed) {
    // Stays as typed beside its reason until it is mended.
    showError(path, typed.error);
    return;
  }
  await send(path, {[path]: sent(typed)});
}

async function send(path, body) {
  const {status, data} = await api('POST', '/api/setup', body);
  if (status === 200) {
    clearError(path);
    $('#instrument').hidden = true;
    applyValues(data.values, data.modes);
    return;
  }
  const where = data.property || path;
  if (status === 422) {
    // A mode refused for a value outside its engine's range may be sent as
    // it is, when the person asks for that.
    const anyway = data.forceable && el('button', {class: 'button small', type: 'button', text: 'Send anyway',
                                                   onclick: () => { clearError(where); send(path, {...body, Force: true}); }});
    showError(where, refusalText(data), ...(anyway ? [' ', anyway] : []));
  } else {
    showError(where, words(data.message) || ('error ' + status));
  }
  showValue(path, state.props.get(path).value);
  if (status === 502) notice(data.message, true);
}

function notice(text, bad) {
  const n = $('#notice');
  n.textContent = text;
  n.className = 'notice' + (bad ? ' bad' : '');
  n.hidden = false;
  clearTimeout(notice.timer);
  notice.timer = setTimeout(() => { n.hidden = true; }, 8000);
}

function logEvent(text, cls = '') {
  const list = $('#events');
  list.prepend(el('li', {class: cls, text: new Date().toLocaleTimeString() + '  ' + text}));
  while (list.children.length > 50) list.lastChild.remove();
}

// --- drawings ---

function sizeCanvas(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const w = canvas.clientWidth || 300;
  const h = canvas.clientHeight || 150;
  canvas.width = Math.round(w * ratio);
  canvas.height = Math.round(h * ratio);
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  return {g, w, h};
}

function drawSeries(canvas, ys, color, label) {
  const {g, w, h} = sizeCanvas(canvas);
  g.clearRect(0, 0, w, h);
  g.strokeStyle = '#d0d6de';
  g.strokeRect(0.5, 0.5, w - 1, h - 1);
  if (!ys.length) return;
  let lo = Math.min(...ys), hi = Math.max(...ys);
  if (lo === hi) { lo -= 1; hi += 1; }
  const pad = 6;
  const x = i => pad + (w - 2 * pad) * (ys.length > 1 ? i / (ys.length - 1) : 0.5);
  const y = v => h - pad - (h - 2 * pad) * (v - lo) / (hi - lo);
  g.strokeStyle = color;
  g.lineWidth = 1.5;
  g.beginPath();
  ys.forEach((v, i) => (i ? g.lineTo(x(i), y(v)) : g.moveTo(x(i), y(v))));
  g.stroke();
  g.fillStyle = '#3b4652';
  g.font = '11px system-ui, sans-serif';
  // Six significant digits are plenty for an axis.
  g.fillText(fmt(+hi.toPrecision(6)), 4, 12);
  g.fillText(fmt(+lo.toPrecision(6)), 4, h - 4);
  if (label) g.fillText(label, w - g.measureText(label).width - 6, 12);
}

function plotBox(container, id, title) {
  let box = document.getElementById(id);
  if (!box) {
    box = el('figure', {id, class: 'plot'}, el('figcaption'), el('canvas'));
    container.append(box);
  }
  $('figcaption', box).textContent = title;
  return box;
}

async function refreshTables() {
  clearTimeout(refreshTables.timer);
  refreshTables.timer = setTimeout(drawTables, 150);
}

async function drawTables() {
  const container = $('#table-plots');
  const wanted = [];
  for (const ch of Object.keys(state.modes)) {
    const engine = state.engines[modeOf(ch)];
    if (engine !== 'IntModulation' && engine !== 'DDSMod') continue;
    const {status, data} = await api('GET', '/api/table/' + ch + '.' + engine);
    if (status !== 200 || !data.length) continue;
    const id = 'table-' + ch;
    wanted.push(id);
    const title = `${ch}.${engine}: ${data.length} readings of ${data.quantity}, ` +
                  `step ${fmt(+data.stepTimeUs.toFixed(3))} µs` +
                  ('divider' in data ? `, divider 0x${data.divider.toString(16).toUpperCase()}` : '');
    const box = plotBox(container, id, title);
    // Plotted in the quantity's own unit (kHz, %, deg); the codes on a toggle.
    const codes = box.dataset.codes === '1';
    drawSeries($('canvas', box), codes ? data.codes : data.values, '#1f6feb',
               codes ? data.quantity + ' codes' : data.unit);
    if (!box.dataset.toggle) {
      box.dataset.toggle = '1';
      box.addEventListener('click', () => { box.dataset.codes = box.dataset.codes === '1' ? '0' : '1'; refreshTables(); });
      box.title = 'click: register codes / values';
    }
  }
  for (const fig of container.querySelectorAll('figure')) if (!wanted.includes(fig.id)) fig.remove();
  $('.hint', container).hidden = wanted.length > 0;
}

function tuningChannels() {
  return Object.keys(state.modes).filter(ch => state.engines[modeOf(ch)] === 'Tuner');
}

function refreshAdc() {
  const container = $('#adc-plots');
  const live = tuningChannels();
  for (const fig of container.querySelectorAll('figure'))
    if (!live.includes(fig.id.slice(4))) fig.remove();
  for (const ch of live) {
    const readings = state.adc[ch.slice(2)] || [];
    const last = readings.length ? readings.at(-1) : '—';
    const box = plotBox(container, 'adc-' + ch, `${ch}: ${readings.length} readings, last ${last}`);
    drawSeries($('canvas', box), readings, '#c2410c', 'ADC');
  }
  $('.hint', container).hidden = live.length > 0;
}

function addFrames(frames) {
  const body = $('#frames tbody');
  for (const f of frames) {
    body.prepend(el('tr', {class: f.ok ? f.kind : f.kind + ' failed'},
                    el('td', {text: fmt(f.ms)}), el('td', {class: 'hex', text: f.hex}),
                    el('td', {text: f.meaning + (f.ok ? '' : ' (failed)')})));
  }
  while (body.children.length > 200) body.lastChild.remove();
}

// --- live updates ---

function listen() {
  const stream = new EventSource(withToken('/api/events'));
  const badge = $('#stream-state');
  stream.addEventListener('hello', () => { badge.textContent = 'live'; badge.className = 'badge ok'; });
  stream.onerror = () => { badge.textContent = 'reconnecting'; badge.className = 'badge bad'; };
  const on = (type, fn) => stream.addEventListener(type, e => fn(JSON.parse(e.data)));
  on('setup', d => applyValues(d.values, d.modes));
  on('mode', d => {
    const text = d.forced
      ? `Channel ${d.channel} went to ${shortMode('Ch' + d.channel, d.mode)}: ${d.rule || 'forced by ' + d.by}`
      : `Channel ${d.channel} is now in ${shortMode('Ch' + d.channel, d.mode)}`;
    logEvent(text, d.forced ? 'forced' : '');
    if (d.forced) {
      const p = $('#Ch' + d.channel + ' .forced');
      if (p) { p.textContent = text; p.hidden = false; }
    }
  });
  on('refused', d => {
    logEvent(words(d.message), 'bad');
    // This page's own refusal stands at its field already, with its buttons.
    const shownNow = state.fields.get(d.property)?.error?.textContent || '';
    if (!shownNow.startsWith(refusalText(d))) showError(d.property, refusalText(d));
  });
  on('link', d => {
    showLink(d.link);
    if (d.failure) { logEvent('Link failure: ' + (d.link.lastFailure || 'the instrument did not answer'), 'bad'); }
  });
  on('overmodulation', d => logEvent(`Channel ${d.channel} over-modulates: amplitude above ${fmt(d.limit)} %`, 'bad'));
  on('adc', d => {
    const list = state.adc[d.channel] || (state.adc[d.channel] = []);
    list.push(d.value);
    showValue(d.path, d.value);
    if (list.length > 240) list.shift();
    refreshAdc();
  });
  on('frames', d => addFrames(d.frames));
  // The link switched, from this page or another.
  on('instrument', d => showInstrument(d.active ? null : d));
}

// --- files ---

async function upload(file) {
  const bytes = await file.arrayBuffer();
  const head = new TextDecoder().decode(bytes.slice(0, 4));
  const isFile = head === 'ZuG4';
  const {status, data} = await api('PUT', isFile ? '/api/settings' : '/api/settings?form', bytes,
                                   isFile ? 'application/octet-stream' : 'text/plain');
  const err = $('#load-error');
  if (status === 200) {
    err.hidden = true;
    applyValues(data.values, data.modes);
    notice(`Loaded ${file.name}`);
  } else {
    err.textContent = `${file.name}: ${data.message}` + (data.line ? ` (line ${data.line})` : '');
    err.hidden = false;
  }
}

// What the instrument does now, as the panel's server tells it: what was
// sent, and the simulated instrument's state where there is one.
function showInstrument(info) {
  const box = $('#instrument');
  box.hidden = !info;
  if (!info) return;
  $('p', box).textContent = info.summary;
  $('pre', box).textContent = info.state || '';
  $('pre', box).hidden = !info.state;
}

async function reset() {
  $('#reset-confirm').hidden = true;
  const {status, data} = await api('POST', '/api/reset');
  if (status !== 200) { notice(data.message || 'error ' + status, true); return; }
  for (const path of state.fields.keys()) clearError(path);
  applyValues(data.values, data.modes);
  showInstrument(data.instrument);
  notice('Reset: every value is back to its default');
}

async function start() {
  $('#save-file').href = withToken('/api/settings');
  $('#save-form').href = withToken('/api/settings?form');
  $('#load').addEventListener('change', e => { if (e.target.files[0]) upload(e.target.files[0]); e.target.value = ''; });
  $('#active').addEventListener('change', async e => {
    const {status, data} = await api('POST', '/api/setup', {Active: e.target.checked});
    if (status !== 200) notice(data.message, true);
    // Once the link is closed, what the instrument was left doing.
    showInstrument(status === 200 && data.instrument && !data.instrument.active ? data.instrument : null);
    const setup = await api('GET', '/api/setup');
    if (setup.status === 200) applySetup(setup.data);
  });
  $('#reset').addEventListener('click', () => { $('#reset-confirm').hidden = false; $('#reset-yes').focus(); });
  $('#reset-no').addEventListener('click', () => { $('#reset-confirm').hidden = true; });
  $('#reset-yes').addEventListener('click', reset);
  $('#instrument-close').addEventListener('click', () => { $('#instrument').hidden = true; });
  const {status, data} = await api('GET', '/api/setup');
  if (status !== 200) { notice(data.message || 'the panel did not answer', true); return; }
  // Opened (or reloaded) while the link is closed: what its closing left.
  showInstrument(data.instrument || null);
  build(data);
  const frames = await api('GET', '/api/frames');
  if (frames.status === 200) addFrames(frames.data.frames);
  listen();
  window.addEventListener('resize', () => { refreshTables(); refreshAdc(); });
  document.body.dataset.ready = 'yes';
}

start();

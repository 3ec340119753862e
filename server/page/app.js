// The instrument's page: the live state from the server, the capture settings and the run
// buttons, the history of captures, the view with its cursors, the measurements, decoding,
// the files and the hardware IO panel.

import { get, post, put, live } from './api.js';
import { Capture, seconds, withPrefix } from './capture.js';
import { View } from './view.js';
import { ScopePage } from './scope_page.js';
import { make } from './dom.js';

const $ = (id) => document.getElementById(id);

let state = null;            // the newest state from the server
let liveMessages = 0;        // the messages the live link has brought
let shownId = null;          // the capture in the view
let settingsDirty = false;   // the user has changed the form since it last showed the server's settings
let appliedSettings = '';    // the server's settings (the draft every page shares) the form last showed
let decodedStack = '';     // the decoder stack whose rows are shown
const timing = { id: null, readyMs: 0, shownMs: 0 };  // when the newest capture reached the screen

const view = new View($('view'), {
  onRange: (v) => rangeShown(v),
  onError: (message) => { $('view-error').textContent = message; },
  onHover: (text) => { $('hover').textContent = text; },
  onCursors: (v) => cursorsMoved(v),
});
window.korvaneView = view;  // for scripts driving the page
const scope = new ScopePage({
  onChoose: (chosen) => viewChosen(chosen),
  onSpan: () => { if ($('measure-view').checked) measurementsSoon(); },
});

// ---- The live state ----

function statusWords(s) {
  const status = s.status;
  if (status.state === 'waiting') {
    let text = `Waiting For Trigger ${status.seconds.toFixed(1)} s`;
    if (status.untriggered) text += ' (Auto: no trigger, capturing without one)';
    return { text, cls: 'waiting' };
  }
  if (status.state === 'downloading') return { text: `Downloading Captured Data ${status.percent} %`, cls: 'downloading' };
  // A run that ended on its condition says which, and what the capture showed.
  const by = s.stopped_by;
  if (s.run === 'stopped' && by) return { text: `Stopped by ${by.condition} at capture #${by.capture}: ${by.detail}`, cls: 'stopped-by' };
  return { text: s.run === 'stopped' ? 'Stopped' : 'Idle', cls: '' };
}

function showState(s) {
  // A run begun or ended: its statistics afresh (the last capture of a run may come after its end);
  // a channel switched on or off: its figures shown or left out.
  const onKey = (x) => JSON.stringify((x.channels?.analogue || []).map((c) => c.on));
  if (state && (state.run !== s.run || onKey(state) !== onKey(s))) statisticsSoon();
  state = s;
  const words = statusWords(s);
  const line = $('status');
  line.textContent = words.text;
  line.className = `status ${words.cls}`;
  line.dataset.run = s.run;
  line.dataset.state = s.status.state;
  document.title = `Korvane · ${words.text}`;

  let counts = `${s.taken} capture${s.taken === 1 ? '' : 's'} taken`;
  if (s.run !== 'stopped' && s.per_minute) counts += ` · ${s.per_minute.toFixed(1)} a minute`;
  const newest = s.captures[0];
  if (newest && !newest.triggered && newest.origin !== 'upload') counts += ' · newest without a trigger (Auto)';
  $('counts').textContent = counts;
  document.body.dataset.latest = s.latest === null ? '' : String(s.latest);
  document.body.dataset.taken = String(s.taken);

  const error = $('error');
  if (s.error) {
    const e = s.error;
    error.textContent = `${e.text} (error ${e.code}, level ${e.level}${e.function ? `, ${e.function}` : ''})${e.info ? `: ${e.info}` : ''}`;
    error.hidden = false;
  } else {
    error.hidden = true;
  }

  for (const mode of ['single', 'normal', 'auto']) $(mode).classList.toggle('active', s.run === mode);
  $('stop').disabled = s.run === 'stopped' && s.status.state === 'idle';
  $('autoset').disabled = autosetting || s.run !== 'stopped' || s.status.state !== 'idle';

  fillChoices(s.choices);
  // The form shows the settings as any page last edited them; the run's own settings where
  // the server keeps no draft.
  const shared = s.draft || s.settings;
  const settings = JSON.stringify(shared);
  if (settings !== appliedSettings && !settingsDirty) applySettings(shared);
  appliedSettings = settings;

  const firstScreen = s.taken === 0 && !s.captures.length;
  $('hint').hidden = !firstScreen;

  showHistory(s.captures);
  scope.setState(s);
  for (const id of ['io-read', 'io-set-data', 'io-set-control', 'io-set-reg', 'io-set-icr', 'io-reset-read'])
    $(id).disabled = !s.io_available;
  $('io-form').classList.toggle('disabled', !s.io_available);
  $('io-form').title = s.io_available ? '' : 'The port is the capture\'s while it runs';

  if (shownId === null && s.latest !== null) {
    if (view.id === 'startup') landed(s.latest, entry(s.latest)?.ready_ms);  // the first, new to this page
    showCapture(s.latest, false);
  } else if (shownId === null && view.id === null) view.show('startup');  // the window's start-up view
  else if (shownId !== null && !s.captures.some((c) => c.id === shownId)) {
    // The capture shown has left the history: the page goes on showing it from its bytes
    // only where it has them; the newest takes its place.
    if (s.latest !== null) showCapture(s.latest, false);
  } else if (s.latest !== null && s.latest !== shownId && $('follow').checked) {
    // A new capture whose message this page never had (the link was down, or the message
    // came late): the state names it, and the page follows it from there.
    follow(s.latest, entry(s.latest)?.ready_ms);
  }
}

// A state asked for by a request: shown unless the live link spoke while the request was on
// its way; what it brought is as new, and its next message follows any change.
function requestedState(s, liveBefore) {
  if (liveMessages === liveBefore) showState(s);
}

let catchingUp = false;

// The state fetched afresh, for a page that may have missed messages: shown again after its
// timers were held back, reconnected, or refused the live link.
async function catchUp() {
  if (catchingUp) return;
  catchingUp = true;
  const before = liveMessages;
  try {
    requestedState(await get('/api/state'), before);
  } catch (error) {
    unanswered(error);
  }
  catchingUp = false;
}

function unanswered(error) {
  $('status').textContent = 'Not connected';
  $('status').className = 'status';
  offline(true, error.message);
}

// A banner while the instrument cannot be reached, shown after a moment (a link that drops
// and comes straight back is not worth one) and gone when it answers again.
let offlineTimer = null;

function offline(down, message) {
  clearTimeout(offlineTimer);
  const banner = $('offline');
  if (!down) {
    banner.hidden = true;
    return;
  }
  offlineTimer = setTimeout(() => {
    banner.textContent = `${message || 'The instrument cannot be reached.'} The page reconnects by itself; `
      + 'what it shows may be out of date until then.';
    banner.hidden = false;
    $('status').textContent = 'Not connected';
    $('status').className = 'status';
  }, 1500);
}

// A new capture: when it was ready, for the time it takes to reach the screen.
function landed(id, readyMs) {
  if (timing.id !== id) Object.assign(timing, { id, readyMs, shownMs: 0 });
}

// A new capture, shown when the page follows them.
function follow(id, readyMs) {
  landed(id, readyMs);
  if ($('follow').checked && id !== shownId) showCapture(id, true);
}

// How the live link stands, where the user sees it: a refusal in words under the bar.
let everUp = false;
let refused = false;

function linkChanged(link) {
  const dot = $('link');
  dot.classList.toggle('up', link.up);
  dot.classList.toggle('refused', Boolean(link.refused));
  dot.title = link.up ? 'Live: connected to the instrument'
    : link.refused ? 'Not live: the instrument refused the connection; trying again now and then'
      : 'The live connection is down; reconnecting';
  document.body.dataset.link = link.up ? 'up' : link.refused ? 'refused' : 'down';
  const box = $('link-error');
  box.textContent = link.refused ? `${link.refused} The page shows no live updates and tries again every 10 to 15 s; `
    + 'captures, views and downloads still work.' : '';
  box.hidden = !link.refused;
  refused = Boolean(link.refused);
  offline(!link.up && !link.refused, 'The instrument cannot be reached: it has stopped or the network is down.');
  // What came while the link was down; while refused, the state at the calm pace of the retries.
  if ((link.up && everUp) || link.refused) catchUp();
  if (link.up) everUp = true;
}

// ---- The settings ----

let choicesFilled = false;

function fillChoices(choices) {
  if (choicesFilled) return;
  choicesFilled = true;
  const mode = $('mode');
  const viewMode = $('view-mode');
  for (const m of choices.modes) {
    mode.append(make('option', { value: m.value, textContent: m.title }));
    viewMode.append(make('option', { value: m.value, textContent: m.title }));
  }
  $('level').min = choices.level.min;
  $('level').max = choices.level.max;
  $('pretrigger').max = choices.pretrigger.max;
  modeLists(mode.value);
}

// The rates and trigger sources of a mode, keeping what was chosen where the mode has it.
function modeLists(mode) {
  const choices = state.choices;
  const rate = $('rate');
  const trigger = $('trigger');
  const rateIndex = rate.selectedIndex;
  const source = trigger.value;
  rate.replaceChildren(...choices.rates[mode].map((r) => make('option', { value: r.value, textContent: r.text })));
  rate.selectedIndex = Math.max(0, rateIndex);
  trigger.replaceChildren(...choices.sources[mode].map((s) => make('option', { value: s.value, textContent: s.title })));
  trigger.value = choices.sources[mode].some((s) => s.value === source) ? source : choices.sources[mode][0].value;
  triggerFields();
}

function takes() {
  const list = state.choices.sources[$('mode').value];
  const source = list.find((s) => s.value === $('trigger').value);
  return source ? source.takes : 'nothing';
}

function triggerFields() {
  const t = takes();
  $('level-field').hidden = t !== 'level';
  $('pattern-field').hidden = t !== 'pattern';
  $('edge-field').hidden = t !== 'level' && t !== 'edge';
}

function applySettings(settings) {
  $('mode').value = settings.mode;
  modeLists(settings.mode);
  const rates = state.choices.rates[settings.mode];
  const rate = rates.find((r) => r.value === settings.rate || String(r.index) === String(settings.rate));
  if (rate) $('rate').value = rate.value;
  $('trigger').value = settings.trigger;
  triggerFields();
  $('level').value = settings.level;
  $('pattern').value = settings.pattern;
  $('edge').value = settings.edge;
  $('pretrigger').value = settings.pretrigger;
  clearFieldErrors();
}

function formSettings() {
  const t = takes();
  const settings = { mode: $('mode').value, rate: $('rate').value, trigger: $('trigger').value, pretrigger: $('pretrigger').value.trim() };
  if (t === 'level') settings.level = $('level').value.trim();
  if (t === 'pattern') settings.pattern = $('pattern').value.trim();
  if (t === 'level' || t === 'edge') settings.edge = $('edge').value;
  return settings;
}

function clearFieldErrors() {
  $('settings-error').textContent = '';
  for (const field of document.querySelectorAll('#settings .has-error')) field.classList.remove('has-error');
}

// A refusal names the setting it refuses ({"error": "Level: ...", "field": "level"}): that
// field is marked.
// A typed text refused at a character ("at", from 1) has that character selected.
function fieldError(message, field, focus = true, at = null) {
  clearFieldErrors();
  $('settings-error').textContent = message;
  const input = field && $(field);
  if (input && input.closest('#settings')) {
    input.closest('label').classList.add('has-error');
    if (focus) input.focus();
    if (at !== null && input.type === 'text') {
      const k = Math.max(0, Math.min(input.value.length, at - 1));
      input.setSelectionRange(k, Math.min(input.value.length, k + 1));
    }
  }
}

// The form's settings as they are edited: checked by the instrument and, when it takes them,
// shared with every page; a refusal is shown at its field as the user types.
let draftTimer = null;
let draftSequence = 0;

function draftSoon() {
  clearTimeout(draftTimer);
  draftTimer = setTimeout(sendDraft, 250);
}

async function sendDraft() {
  const number = ++draftSequence;
  try {
    const answer = await put('/api/settings', formSettings());
    if (number !== draftSequence) return;
    clearFieldErrors();
    appliedSettings = JSON.stringify(answer.draft);
    settingsDirty = false;
  } catch (error) {
    if (number !== draftSequence) return;
    if (error.status === 400) fieldError(error.message, error.field, false);
    else if (error.status !== 404) $('settings-error').textContent = error.message;
  }
}

async function run(mode) {
  clearTimeout(draftTimer);
  ++draftSequence;
  clearFieldErrors();
  const holdoff = Number($('holdoff').value);
  const body = { mode, settings: formSettings() };
  if (mode === 'auto' && Number.isFinite(holdoff) && holdoff > 0) body.holdoff = holdoff;
  // A condition and the math channel are of runs that go on: Normal and Auto.
  if (mode !== 'single') {
    const stopWhen = $('stop_when').value.trim();
    const math = $('math').value.trim();
    if (stopWhen) body.stop_when = stopWhen;
    if (math) body.math = math;
  }
  const before = liveMessages;
  try {
    const answer = await post('/api/run', body);
    settingsDirty = false;
    requestedState(answer, before);
    followRun();
  } catch (error) {
    if (error.status === 400) fieldError(error.message, error.field, true, error.at);
    else $('settings-error').textContent = error.message;
  }
}

// Autoset: the instrument proposes settings from a short capture; they become the draft of every
// page, and the settings they replaced can be taken back.
let beforeAutoset = null;
let autosetting = false;

async function autoset() {
  autosetting = true;
  $('autoset').disabled = true;
  $('autoset-said').textContent = 'Autoset: capturing…';
  clearFieldErrors();
  try {
    const answer = await post('/api/autoset', {});
    const f = answer.found;
    const d = answer.draft;
    beforeAutoset = answer.previous;
    settingsDirty = false;
    appliedSettings = '';
    applySettings(d);
    appliedSettings = JSON.stringify(d);
    const rate = $('rate').selectedOptions[0]?.textContent || d.rate;
    $('autoset-said').textContent = `Autoset found channel ${f.channel} at ${withPrefix(f.frequency, 'Hz')}, codes ${f.low} to ${f.high}: `
      + `${rate}, trigger on ${f.channel} at level ${d.level}, ${d.edge} edge, pre-trigger ${d.pretrigger}.`;
    $('autoset-undo').hidden = false;
  } catch (error) {
    $('autoset-said').textContent = '';
    $('settings-error').textContent = error.message;
  } finally {
    autosetting = false;
    $('autoset').disabled = false;
  }
}

async function autosetUndo() {
  if (!beforeAutoset) return;
  try {
    const answer = await put('/api/settings', beforeAutoset);
    settingsDirty = false;
    applySettings(answer.draft);
    appliedSettings = JSON.stringify(answer.draft);
    $('autoset-said').textContent = 'The settings from before Autoset are back.';
    $('autoset-undo').hidden = true;
    beforeAutoset = null;
  } catch (error) {
    $('settings-error').textContent = error.message;
  }
}

let followingRun = false;

// Refused the live link, the page follows a run it started by asking for the state every 2 s
// until the run ends.
async function followRun() {
  if (followingRun) return;
  followingRun = true;
  while (refused && state && !(state.run === 'stopped' && state.status.state === 'idle')) {
    await new Promise((resolve) => { setTimeout(resolve, 2000); });
    await catchUp();
  }
  followingRun = false;
}

// ---- Captures: the history, the view, the files ----

function captureWords(c) {
  const rate = c.rate_hz ? withPrefix(c.rate_hz, 'Hz') : 'unknown rate';
  const time = new Date(c.time).toLocaleTimeString([], { hour12: false });
  let text = `#${c.id}  ${time}  ${c.mode_title || 'unknown mode'}, ${rate}`;
  if (c.origin === 'upload') text += `  ${c.name || 'opened file'}`;
  else if (!c.triggered) text += '  (no trigger)';
  return text;
}

let historyShown = '';

function showHistory(captures) {
  const key = JSON.stringify(captures.map((c) => c.id)) + shownId;
  if (key === historyShown) return;
  historyShown = key;
  $('history').replaceChildren(...captures.map((c) => {
    const button = make('button', { type: 'button', textContent: captureWords(c) });
    button.dataset.id = c.id;
    if (c.id === shownId) {
      button.classList.add('current');
      button.setAttribute('aria-current', 'true');
    }
    button.addEventListener('click', () => {
      $('follow').checked = c.id === state.latest;
      showCapture(c.id, false);
    });
    return make('li', {}, [button]);
  }));
}

function entry(id) {
  return state && state.captures.find((c) => c.id === id);
}

// Shows a capture: its picture at once, then its bytes for the readouts. A new capture of the
// same mode keeps the view's range, as a scope keeps its time base from trigger to trigger.
async function showCapture(id, following) {
  const before = entry(shownId);
  const after = entry(id);
  const keepRange = following && before && after && before.mode === after.mode;
  shownId = id;
  if (scope.chosen) return showInScope(id);
  const placed = new Promise((resolve) => { pictureWaiter = { id, resolve }; setTimeout(resolve, 1000); });
  view.show(id, keepRange);
  historyShown = '';
  if (state) showHistory(state.captures);
  downloads();
  // The picture first: the bytes, the figures and the decoding would slow it down.
  await placed;
  if (id !== shownId) return;
  measurements();
  if (decodedStack) decode(decodedStack, true);
  try {
    const capture = await Capture.load(id, get);
    if (id === shownId) view.setCapture(capture);
  } catch (error) {
    if (id === shownId) $('view-error').textContent = error.message;
  }
}

let pictureWaiter = null;  // showCapture waiting for the capture's first picture

function rangeShown(v) {
  if (pictureWaiter && pictureWaiter.id === v.id) {
    pictureWaiter.resolve();
    pictureWaiter = null;
  }
  if (document.activeElement !== $('range-first') && document.activeElement !== $('range-last')) {
    $('range-first').value = v.shown.start;
    $('range-last').value = v.shown.end;
  }
  if (v.id === timing.id && !timing.shownMs) {
    timing.shownMs = Date.now();
    document.body.dataset.shownId = String(v.id);
    document.body.dataset.readyToScreenMs = String(timing.shownMs - timing.readyMs);
  }
  downloads();
  if ($('measure-view').checked) measurementsSoon();
}

function downloads() {
  const box = $('downloads');
  if (shownId === null) {
    box.replaceChildren();
    return;
  }
  const links = [];
  // A WAV holds the analogue channels: a capture of logic inputs only has none to give.
  const shown = entry(shownId);
  const analogue = !shown || shown.mode !== 'logic16';
  for (const format of ['dso', 'csv', 'vcd', 'wav', 'sr']) {
    if (format === 'wav' && !analogue) continue;
    links.push(make('a', { href: `/api/captures/${shownId}.${format}`, download: `korvane-${shownId}.${format}`, textContent: `.${format}` }));
  }
  const query = view.shown ? view.currentQuery() : '';
  for (const format of ['png', 'svg', 'pdf'])
    links.push(make('a', { href: `/api/captures/${shownId}.${format}${query ? `?${query}` : ''}`, download: `korvane-${shownId}-view.${format}`,
      textContent: `picture .${format}`, title: 'The view as it stands, at its size' }));
  for (const link of links) link.addEventListener('click', fetchDownload);
  box.replaceChildren(make('span', { textContent: 'Download:' }), ...links);
}

// A download fetched by the page, so that a refusal is shown in words instead of a browser
// download that fails with no reason.
async function fetchDownload(event) {
  event.preventDefault();
  const link = event.currentTarget;
  $('files-error').textContent = '';
  try {
    const response = await get(link.href);
    const url = URL.createObjectURL(await response.blob());
    const save = make('a', { href: url, download: link.download });
    document.body.append(save);
    save.click();
    save.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (error) {
    $('files-error').textContent = `${link.download}: ${error.message}`;
  }
}

async function upload(file) {
  $('files-error').textContent = '';
  try {
    const answer = await post(`/api/captures?name=${encodeURIComponent(file.name)}`, file);
    $('follow').checked = false;
    showCapture(answer.id, false);
  } catch (error) {
    $('files-error').textContent = `${file.name}: ${error.message}`;
  }
}

// ---- The scope view (scope_page.js), the default: drawn in the page from the bytes ----

async function showInScope(id) {
  historyShown = '';
  if (state) showHistory(state.captures);
  downloads();
  await scope.show(id);
  if (id !== shownId) return;
  measurements();
  if (decodedStack) decode(decodedStack, true);
}

// The Window view chosen: the window's picture of the capture shown, and its bytes for the
// readouts; the scope view chosen: the capture drawn there.
async function viewChosen(scopeChosen) {
  if (shownId === null) {
    if (!scopeChosen && view.id === null) view.show('startup');
    return;
  }
  if (scopeChosen) {
    showInScope(shownId);
    return;
  }
  const id = shownId;
  view.show(id);
  try {
    const capture = await Capture.load(id, get);
    if (id === shownId) view.setCapture(capture);
  } catch (error) {
    if (id === shownId) $('view-error').textContent = error.message;
  }
}

// ---- Cursors ----

function cursorsMoved(v) {
  for (const name of ['t1', 't2', 'v1', 'v2']) {
    const input = $(name);
    if (document.activeElement !== input) input.value = v.cursors[name] === null ? '' : v.cursors[name];
  }
  const readout = $('readout');
  const parts = v.readout();
  readout.replaceChildren(...parts.map((p) => {
    const line = make('div', { textContent: p.text });
    line.dataset.name = p.name;
    if (p.value !== null) line.dataset.value = String(p.value);
    return line;
  }));
  if (!parts.length) readout.textContent = 'Drag a cursor, or type its sample or code and press Place.';
}

function placeCursors() {
  const read = (name, low, high) => {
    const text = $(name).value.trim();
    if (text === '') return null;
    const value = Math.round(Number(text));
    return Number.isFinite(value) ? Math.max(low, Math.min(high, value)) : null;
  };
  const last = view.layout ? view.layout.samples - 1 : 393215;
  const shown = view.shown || { start: 0, end: last };
  const span = shown.end - shown.start;
  const t1 = read('t1', 0, last);
  const t2 = read('t2', 0, last);
  view.cursors.t1 = t1 !== null ? t1 : Math.round(shown.start + span / 3);
  view.cursors.t2 = t2 !== null ? t2 : Math.round(shown.start + (2 * span) / 3);
  if (view.analogueArea()) {
    const v1 = read('v1', 0, 255);
    const v2 = read('v2', 0, 255);
    view.cursors.v1 = v1 !== null ? v1 : 160;
    view.cursors.v2 = v2 !== null ? v2 : 96;
  }
  view.draw();
}

// ---- Measurements ----

let measureTimer = null;
let measureSequence = 0;

function measurementsSoon() {
  clearTimeout(measureTimer);
  measureTimer = setTimeout(measurements, 150);
}

function figure(value, unit) {
  return value === null || value === undefined ? '—' : withPrefix(value, unit);
}

function cell(id, text, value) {
  const td = make('td', { className: 'num', textContent: text });
  td.id = id;
  if (value !== null && value !== undefined) td.dataset.value = String(value);
  return td;
}

async function measurements() {
  const box = $('measurements');
  if (shownId === null) {
    box.replaceChildren();
    return;
  }
  const number = ++measureSequence;
  const id = shownId;
  let query = '';
  if ($('measure-view').checked && scope.chosen) query = scope.rangeQuery();
  else if ($('measure-view').checked && view.shown && view.id === id) query = `?range=${view.shown.start}:${view.shown.end}`;
  // The math channel of the Math field, measured by the server too; an expression it refuses, or
  // one the capture's mode cannot give, leaves the other channels' figures.
  const math = $('math').value.trim();
  let mathRefusal = '';
  try {
    let m;
    try {
      m = await get(`/api/captures/${id}/measurements${query}${math ? `${query ? '&' : '?'}math=${encodeURIComponent(math)}` : ''}`);
    } catch (error) {
      if (!math || (error.field !== 'math' && error.status !== 422)) throw error;
      mathRefusal = error.message;
      m = await get(`/api/captures/${id}/measurements${query}`);
    }
    if (number !== measureSequence) return;
    const parts = [];
    const range = m.range ? `samples ${m.range.first} to ${m.range.last} (${m.range.samples})` : `all ${m.samples} samples`;
    parts.push(make('p', { className: 'note', textContent: `${m.mode_title || 'Unknown mode'}, ${figure(m.sample_rate_hz, 'Hz')}; ${range}; ${m.trigger.description}` }));
    for (const a of m.analogue) {
      const rows = [
        ['min', 'Minimum', `${a.codes.min} (${a.relative.min})`, a.codes.min],
        ['max', 'Maximum', `${a.codes.max} (${a.relative.max})`, a.codes.max],
        ['pp', 'Peak to peak', `${a.codes.peak_to_peak}`, a.codes.peak_to_peak],
        ['mean', 'Mean', `${a.codes.mean.toFixed(2)} (${a.relative.mean.toFixed(2)})`, a.codes.mean],
        ['rms', 'RMS about 0x80', a.relative.rms.toFixed(2), a.relative.rms],
        ['frequency', 'Frequency', figure(a.frequency_hz, 'Hz'), a.frequency_hz],
        ['period', 'Period', figure(a.period_s, 's'), a.period_s],
        ['duty', 'Duty cycle', a.duty_cycle === null ? '—' : `${(a.duty_cycle * 100).toFixed(1)} %`, a.duty_cycle],
        ...pulseRows(a.pulse),
      ];
      parts.push(make('h3', { textContent: `Channel ${a.channel} (codes; relative to 0x80 in brackets)` }));
      parts.push(make('table', {}, [make('tbody', {}, rows.map(([key, name, text, value, why]) => {
        const td = cell(`meas-${a.channel}-${key}`, text, value);
        if (why) td.title = why;   // why the figure cannot be had
        return make('tr', {}, [make('th', { textContent: name }), td]);
      }))]));
    }
    if (m.math) {
      const x = m.math;
      const rows = [
        ['min', 'Minimum', x.min], ['max', 'Maximum', x.max], ['pp', 'Peak to peak', x.peak_to_peak], ['mean', 'Mean', x.mean],
        ['rms', 'RMS', x.rms], ['frequency', 'Frequency', x.frequency_hz, 'Hz'], ['period', 'Period', x.period_s, 's'],
      ];
      parts.push(make('h3', { textContent: `Math M = ${x.expression} (${x.unit})` }));
      parts.push(make('table', {}, [make('tbody', {}, rows.map(([key, name, value, unit]) =>
        make('tr', {}, [make('th', { textContent: name }), cell(`math-${key}`, unit ? figure(value, unit) : statisticFigure(value, ''), value)])))]));
      if (x.note) parts.push(make('p', { className: 'note', textContent: x.note }));
    }
    if (mathRefusal) parts.push(make('p', { className: 'field-error', textContent: mathRefusal }));
    if (m.logic.length) {
      parts.push(make('h3', { textContent: 'Logic inputs' }));
      const head = make('tr', {}, ['Input', 'Edges', 'Frequency', 'Duty', 'High', 'Low'].map((t) => make('th', { textContent: t })));
      // The shortest and longest high and low pulse, both edges inside the capture.
      const pulses = (l, high) => {
        const p = l.pulse || {}, shortest = p[`shortest_${high}_s`], longest = p[`longest_${high}_s`];
        const td = cell(`meas-${l.name}-${high}`, shortest === null || shortest === undefined ? '—'
          : shortest === longest ? figure(shortest, 's') : `${figure(shortest, 's')} to ${figure(longest, 's')}`, shortest);
        const why = p.missing?.[`shortest_${high}_s`];
        if (why) td.title = why;
        return td;
      };
      const body = m.logic.map((l) => make('tr', {}, [
        make('th', { textContent: l.name }),
        cell(`meas-${l.name}-transitions`, String(l.transitions), l.transitions),
        cell(`meas-${l.name}-frequency`, figure(l.frequency_hz, 'Hz'), l.frequency_hz),
        cell(`meas-${l.name}-duty`, l.duty_cycle === null ? '—' : `${(l.duty_cycle * 100).toFixed(1)} %`, l.duty_cycle),
        pulses(l, 'high'), pulses(l, 'low'),
      ]));
      parts.push(make('table', {}, [make('thead', {}, [head]), make('tbody', {}, body)]));
    }
    box.replaceChildren(...parts);
  } catch (error) {
    if (number === measureSequence) box.replaceChildren(make('p', { className: 'field-error', textContent: error.message }));
  }
}

// A channel's pulse figures as the table's rows: [key, name, text, value, why it cannot be had].
function pulseRows(p) {
  if (!p) return [];
  const why = (k) => (p[k] === null || p[k] === undefined ? p.missing?.[k] || 'cannot be had' : '');
  const code = (k) => (why(k) ? '—' : p[k].toFixed(1));
  const percent = (k) => (why(k) ? '—' : `${p[k].toFixed(1)} %`);
  const time = (k) => (why(k) ? '—' : figure(p[k], 's'));
  const slew = (k) => (why(k) ? '—' : `${withPrefix(p[k], 'codes/s')}`);
  return [
    ['top', 'Top', code('top'), p.top, why('top')],
    ['base', 'Base', code('base'), p.base, why('base')],
    ['amplitude', 'Amplitude', code('amplitude'), p.amplitude, why('amplitude')],
    ['overshoot', 'Overshoot', percent('overshoot_percent'), p.overshoot_percent, why('overshoot_percent')],
    ['undershoot', 'Undershoot', percent('undershoot_percent'), p.undershoot_percent, why('undershoot_percent')],
    ['rise', 'Rise time 10–90 %', time('rise_time_s'), p.rise_time_s, why('rise_time_s')],
    ['fall', 'Fall time 90–10 %', time('fall_time_s'), p.fall_time_s, why('fall_time_s')],
    ['pwidth', 'Positive width', time('positive_width_s'), p.positive_width_s, why('positive_width_s')],
    ['nwidth', 'Negative width', time('negative_width_s'), p.negative_width_s, why('negative_width_s')],
    ['slew', 'Slew rate (rising)', slew('rise_slew_per_s'), p.rise_slew_per_s, why('rise_slew_per_s')],
  ];
}

// ---- Statistics over the captures of Normal and Auto runs (GET /api/statistics) ----

// The figures shown unless every figure is asked for.
const MAIN_FIGURES = new Set(['peak_to_peak', 'mean', 'rms', 'frequency', 'duty_cycle', 'rise_time']);
const MAIN_LOGIC_FIGURES = new Set(['frequency', 'duty_cycle']);
const SHORT_FIGURES = { peak_to_peak: 'p-p', frequency: 'freq', duty_cycle: 'duty', rise_time: 'rise', fall_time: 'fall',
  positive_width: '+width', negative_width: '−width', rising_edges: 'rising', falling_edges: 'falling', slew_rate: 'slew' };
let statisticsTimer = null;
let statisticsSequence = 0;

function statisticsSoon() {
  if (statisticsTimer) return;
  statisticsTimer = setTimeout(() => { statisticsTimer = null; statistics(); }, 200);
}

// A figure in few characters: seconds and hertz with their prefix, the rest as a number whose
// unit the name's title gives.
function statisticFigure(value, unit) {
  if (value === null || value === undefined) return '—';
  if (unit === 'Hz' || unit === 's') return withPrefix(value, unit).replace(' ', '\u2009');
  if (Math.abs(value) >= 1e5) return value.toExponential(2);
  return Math.abs(value) >= 1000 || value === Math.round(value) ? String(Math.round(value * 10) / 10) : value.toPrecision(4);
}

// The channels on the screen: the analogue channels switched on, the math channel, the logic inputs.
function channelShown(name) {
  const analogue = state && state.channels && state.channels.analogue;
  const c = analogue && analogue.find((a) => a.id === name);
  return c ? c.on !== false : true;
}

async function statistics(body) {
  const number = ++statisticsSequence;
  try {
    const s = body ? await post('/api/statistics/reset') : await get('/api/statistics');
    if (number !== statisticsSequence) return;
    const every = $('statistics-every').checked;
    const shown = s.figures.filter((f) => channelShown(f.channel)
      && (every || (/^D\d+$/.test(f.channel) ? MAIN_LOGIC_FIGURES : MAIN_FIGURES).has(f.figure)));
    $('statistics-note').textContent = s.captures ? `${s.captures} capture${s.captures === 1 ? '' : 's'} of ${s.mode} runs`
      : 'No capture of a Normal or Auto run since the settings changed.';
    if (!shown.length) {
      $('statistics').replaceChildren();
      return;
    }
    const head = make('tr', {}, ['', 'n', 'Mean', 'Min', 'Max', 'σ'].map((t) => make('th', { textContent: t })));
    const rows = shown.map((f) => {
      const unit = f.unit && f.unit !== 'Hz' && f.unit !== 's' ? ` ${f.unit === 'codes' ? '' : f.unit}`.trimEnd() : '';
      const short = `${f.channel} ${SHORT_FIGURES[f.figure] || f.figure.replace(/_/g, ' ')}${unit}`;
      const row = make('tr', {}, [make('th', { textContent: short, title: f.unit ? `${f.name} in ${f.unit}` : f.name }),
        make('td', { className: 'num', textContent: String(f.count) }),
        ...['mean', 'min', 'max', 'std_dev'].map((key) => {
          const td = make('td', { className: 'num', textContent: statisticFigure(f[key], f.unit) });
          if (f[key] !== null && f[key] !== undefined) td.dataset.value = String(f[key]);
          return td;
        })]);
      row.dataset.name = f.name;
      row.dataset.count = String(f.count);
      return row;
    });
    $('statistics').replaceChildren(make('table', {}, [make('thead', {}, [head]), make('tbody', {}, rows)]));
  } catch (error) {
    if (number === statisticsSequence) $('statistics-note').textContent = error.message;
  }
}

// ---- Decoding ----

let decoderInfo = null;

async function listDecoders() {
  try {
    const list = await get('/api/decoders');
    const select = $('decoder');
    for (const d of list) {
      const option = make('option', { value: d.id, textContent: `${d.longname} (${d.id})`, title: d.description });
      if (d.inputs.length && d.inputs[0] !== 'logic') option.textContent += ` on ${d.inputs[0]}`;
      select.append(option);
    }
  } catch (error) {
    $('decode-error').textContent = error.message;
  }
}

async function chooseDecoder(id, writeStack = true) {
  const fields = $('decoder-fields');
  fields.replaceChildren();
  decoderInfo = null;
  $('decode-custom').hidden = true;
  if (!id || id === 'custom') {
    if (writeStack) setStack('');
    return;
  }
  try {
    decoderInfo = await get(`/api/decoders/${encodeURIComponent(id)}`);
  } catch (error) {
    $('decode-error').textContent = error.message;
    return;
  }
  const inputs = view.layout ? view.layout.inputs : 16;
  decoderInfo.channels.forEach((c, n) => {
    const select = make('select', { name: c.id });
    select.dataset.kind = 'channel';
    select.append(make('option', { value: '', textContent: c.required ? 'choose' : 'not used' }));
    for (let b = 0; b < Math.max(inputs, 8); ++b) select.append(make('option', { value: `D${b}`, textContent: `D${b}` }));
    if (c.required || n < inputs) select.value = `D${Math.min(n, inputs - 1)}`;
    if (!c.required) select.value = '';
    fields.append(make('label', { title: c.description }, [`${c.name}${c.required ? '' : ' (optional)'}`, select]));
  });
  for (const o of decoderInfo.options) {
    let input;
    if (o.values.length) {
      input = make('select', { name: o.id });
      for (const v of o.values) input.append(make('option', { value: v, textContent: v }));
      input.value = o.default;
    } else {
      input = make('input', { name: o.id, type: 'text', value: o.default, spellcheck: false });
    }
    input.dataset.kind = 'option';
    input.dataset.default = o.default;
    fields.append(make('label', { title: `${o.description} (${o.type})` }, [o.description, input]));
  }
  for (const input of fields.querySelectorAll('select, input')) input.addEventListener('change', () => setStack(formStack()));
  if (writeStack) setStack(formStack());
}

// The form and the typed stack are one: the form writes the stack, and a typed stack sets the
// form, or, where the form cannot say it, shows "custom stack".
let stackFromForm = '';

function setStack(stack) {
  stackFromForm = stack;
  $('decode-stack').value = stack;
}

function formChannels() {
  return Array.from($('decoder-fields').querySelectorAll('select'))
    .filter((input) => input.dataset.kind === 'channel' && input.value).length;
}

let typedCheck = null;

function stackTyped() {
  if (!typedCheck) typedCheck = formFromStack().finally(() => { typedCheck = null; });
  return typedCheck;
}

async function formFromStack() {
  const text = $('decode-stack').value.trim();
  if (text === stackFromForm) return;
  const parts = text.split(',').map((p) => p.trim()).filter(Boolean);
  const top = parts.length ? parts[parts.length - 1].split(':') : [''];
  const id = top[0];
  let same = false;
  if (id && Array.from($('decoder').options).some((o) => o.value === id && id !== 'custom')) {
    $('decoder').value = id;
    if (!decoderInfo || decoderInfo.id !== id) await chooseDecoder(id, false);
    if ($('decode-stack').value.trim() !== text) return;  // typed on while the decoder loaded
    const fields = $('decoder-fields');
    for (const input of fields.querySelectorAll('select, input'))
      input.value = input.dataset.kind === 'channel' ? '' : input.dataset.default;
    same = Boolean(decoderInfo);
    const meant = [id];  // the typed stack without options at their defaults, as the form writes it
    for (const pair of top.slice(1)) {
      const at = pair.indexOf('=');
      const input = at > 0 ? fields.querySelector(`[name="${CSS.escape(pair.slice(0, at))}"]`) : null;
      if (!input) { same = false; continue; }
      input.value = pair.slice(at + 1);
      if (input.value !== pair.slice(at + 1)) same = false;  // a value the form's list lacks
      if (input.dataset.kind === 'channel' || input.value !== input.dataset.default) meant.push(pair);
    }
    const typed = [...parts.slice(0, -1), meant.join(':')].join(',');
    same = same && formStack() === typed;
  }
  if (same) {
    stackFromForm = text;
    $('decode-custom').hidden = true;
  } else {
    $('decoder').value = text ? 'custom' : '';
    $('decoder-fields').replaceChildren();
    decoderInfo = null;
    stackFromForm = '';
    $('decode-custom').hidden = !text;
  }
}

// The stack as sigrok-cli's -P writes it: id, channels, then options that differ from
// their defaults; a stacked decoder goes on the decoder it takes its input from.
function formStack() {
  if (!decoderInfo) return '';
  let stack = decoderInfo.id;
  for (const input of $('decoder-fields').querySelectorAll('select, input')) {
    const value = input.value.trim();
    if (input.dataset.kind === 'channel' && value) stack += `:${input.name}=${value}`;
    if (input.dataset.kind === 'option' && value && value !== input.dataset.default) stack += `:${input.name}=${value}`;
  }
  const below = decoderInfo.inputs.length ? decoderInfo.inputs[0] : 'logic';
  if (below !== 'logic') stack = `${below},${stack}`;
  return stack;
}

const SHOWN_ANNOTATIONS = 2000;

// Dual and Single Channel captures have no logic inputs: a chosen decoder waits for a capture
// that has them, and says so once rather than at every capture of a run.
let waitingSaid = false;

function hasLogic(id) {
  const c = entry(id);
  return !c || (c.mode !== 'dual' && c.mode !== 'single');
}

async function decode(stack, following = false) {
  if (!following) waitingSaid = false;
  if (shownId === null || !stack) return;
  if (!hasLogic(shownId)) {
    showAnnotations(null);
    view.setRows(null);
    scope.view.setDecoded(null);
    if (!waitingSaid) $('decode-error').textContent = `${entry(shownId).mode_title} captures have no logic inputs: `
      + 'the decoder waits for a capture that has them.';
    waitingSaid = true;
    return;
  }
  $('decode-error').textContent = '';
  if (decoderInfo && decoderInfo.channels.length && !formChannels() && stackFromForm === stack) {
    $('decode-error').textContent = 'Choose the input of at least one of the decoder\'s channels.';
    return;
  }
  const id = shownId;
  const q = new URLSearchParams();
  for (const part of stack.split(/\s+-P\s+|;/)) if (part.trim()) q.append('P', part.trim());
  const filter = $('decode-filter').value.trim();
  if (filter) q.append('A', filter);
  $('decode').disabled = true;
  try {
    const result = await get(`/api/captures/${id}/decode?${q}`);
    if (id === shownId) {
      decodedStack = stack;
      waitingSaid = false;
      view.setRows(q.toString());
      scope.view.setDecoded(result);
      showAnnotations(result);
    }
  } catch (error) {
    // No table of another capture under the refusal.
    if (id === shownId) {
      $('decode-error').textContent = error.message;
      showAnnotations(null);
      view.setRows(null);
      scope.view.setDecoded(null);
    }
  } finally {
    $('decode').disabled = false;
  }
}

// The decoded table in time order: the decoders of a stack and their rows each answer in their
// own order, and the table reads as the bus went.
function showAnnotations(result) {
  if (!result) {
    $('annotations').tBodies[0].replaceChildren();
    $('decode-count').textContent = '';
    $('decode-bytes').replaceChildren();
    return;
  }
  const ordered = result.annotations.slice().sort((a, b) => a.start - b.start || a.end - b.end);
  const several = new Set(result.annotations.map((a) => a.decoder)).size > 1;
  const rows = ordered.slice(0, SHOWN_ANNOTATIONS).map((a) => {
    const row = make('tr', { tabIndex: 0, title: `samples ${a.start} to ${a.end}` }, [
      make('td', { className: 'num', textContent: String(a.start) }),
      make('td', { className: 'num', textContent: seconds(a.start_s) }),
      make('td', { textContent: several ? `${a.decoder} ${a.class}` : a.class }),
      make('td', { textContent: a.texts[0] || '' }),
    ]);
    row.dataset.start = a.start;
    row.dataset.end = a.end;
    // The annotation in the middle; from a view far wider than it, zoomed in to show it
    // with its neighbours.
    const centre = () => {
      const middle = Math.round((a.start + a.end) / 2);
      if (scope.chosen) {
        // The scope view zooms to the annotation with its neighbours about it.
        const vp = scope.view.viewport;
        const wanted = Math.max(200, (a.end - a.start + 1) * 12);
        const width = vp.width > wanted * 4 ? wanted : vp.width;
        vp.set(middle - width / 2, width);
        return;
      }
      const span = view.shown ? view.shown.end - view.shown.start : 0;
      const wanted = Math.max(200, (a.end - a.start + 1) * 12);
      view.ask({ range: view.centredOn(middle, span > wanted * 4 ? wanted : 0) });
    };
    row.addEventListener('click', centre);
    row.addEventListener('keydown', (event) => { if (event.key === 'Enter') centre(); });
    return row;
  });
  $('annotations').tBodies[0].replaceChildren(...rows);
  const count = result.annotations.length;
  $('decode-count').textContent = count > SHOWN_ANNOTATIONS ? `the first ${SHOWN_ANNOTATIONS} of ${count} annotations`
    : `${count} annotation${count === 1 ? '' : 's'}`;
  // What each decoder passed on as bytes: the payload as text.
  $('decode-bytes').replaceChildren(...(result.bytes || []).map((b) =>
    make('div', { textContent: `${b.decoder} ${b.class}: ${b.text}`, title: `${b.description}, ${b.count} bytes` })));
}

function clearDecode() {
  decodedStack = '';
  view.setRows(null);
  scope.view.setDecoded(null);
  showAnnotations(null);
  $('decode-error').textContent = '';
}

// ---- Hardware IO ----

async function io(body) {
  $('io-error').textContent = '';
  try {
    const r = body ? await post('/api/io', body) : await get('/api/io');
    $('io-registers').textContent = `Data ${r.data}   Status ${r.status}   Control ${r.control}`;
  } catch (error) {
    $('io-error').textContent = error.message;
  }
}

// ---- Wiring ----

function wire() {
  $('mode').addEventListener('change', () => { settingsDirty = true; modeLists($('mode').value); draftSoon(); });
  $('trigger').addEventListener('change', () => { settingsDirty = true; triggerFields(); draftSoon(); });
  $('settings').addEventListener('input', (event) => {
    settingsDirty = true;
    if (!['holdoff', 'stop_when', 'math'].includes(event.target.id)) draftSoon();
  });
  $('settings').addEventListener('submit', (event) => { event.preventDefault(); run('single'); });
  for (const mode of ['single', 'normal', 'auto']) $(mode).addEventListener('click', () => run(mode));
  $('autoset').addEventListener('click', autoset);
  $('autoset-undo').addEventListener('click', autosetUndo);
  $('stop').addEventListener('click', () => post('/api/stop').catch((error) => { $('settings-error').textContent = error.message; }));

  $('follow').addEventListener('change', () => {
    if ($('follow').checked && state && state.latest !== null) showCapture(state.latest, false);
  });
  $('open').addEventListener('click', () => $('open-file').click());
  $('open-file').addEventListener('change', () => {
    const file = $('open-file').files[0];
    if (file) upload(file);
    $('open-file').value = '';
  });
  let dragDepth = 0;
  const dropping = (event) => event.dataTransfer && Array.from(event.dataTransfer.types).includes('Files');
  document.addEventListener('dragenter', (event) => { if (dropping(event)) { ++dragDepth; $('drop').hidden = false; } });
  document.addEventListener('dragleave', () => { if (dragDepth && --dragDepth === 0) $('drop').hidden = true; });
  document.addEventListener('dragover', (event) => { if (dropping(event)) event.preventDefault(); });
  document.addEventListener('drop', (event) => {
    if (!dropping(event)) return;
    event.preventDefault();
    dragDepth = 0;
    $('drop').hidden = true;
    const file = event.dataTransfer.files[0];
    if (file) upload(file);
  });

  $('zoom-in').addEventListener('click', () => view.step('zoom_in'));
  $('zoom-out').addEventListener('click', () => view.step('zoom_out'));
  $('pan-left').addEventListener('click', () => view.step('pan_left'));
  $('pan-right').addEventListener('click', () => view.step('pan_right'));
  $('whole').addEventListener('click', () => view.ask({ range: null }));
  $('range-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const first = $('range-first').value.trim();
    const last = $('range-last').value.trim();
    view.ask({ range: `${first}:${last}` });
  });
  $('view-mode').addEventListener('change', () => {
    view.mode = $('view-mode').value;
    if (view.capture) view.layout = view.capture.under(view.mode);
    view.ask({ range: null });
  });
  const prefs = { 'time-axis': 'time_axis', 'pretrigger-marker': 'pretrigger_marker', 'trigger-level': 'trigger_level',
                  'zoom-while-panning': 'zoom_while_panning' };
  for (const [id, name] of Object.entries(prefs)) {
    $(id).addEventListener('change', () => {
      view.prefs[name] = $(id).checked;
      view.ask({});
    });
  }

  $('place-cursors').addEventListener('click', placeCursors);
  for (const name of ['t1', 't2', 'v1', 'v2'])
    $(name).addEventListener('keydown', (event) => { if (event.key === 'Enter') placeCursors(); });
  $('clear-cursors').addEventListener('click', () => {
    view.cursors = { t1: null, t2: null, v1: null, v2: null };
    view.draw();
  });
  $('measure-view').addEventListener('change', measurements);
  $('statistics-every').addEventListener('change', () => statistics());
  $('math').addEventListener('change', () => measurements());
  $('statistics-reset').addEventListener('click', () => statistics(true));

  $('decoder').addEventListener('change', () => chooseDecoder($('decoder').value));
  $('decode').addEventListener('click', async () => { await stackTyped(); decode($('decode-stack').value.trim()); });
  $('decode-stack').addEventListener('change', stackTyped);
  $('decode-stack').addEventListener('keydown', async (event) => {
    if (event.key !== 'Enter') return;
    await stackTyped();
    decode($('decode-stack').value.trim());
  });
  $('decode-clear').addEventListener('click', clearDecode);

  $('io-read').addEventListener('click', () => io(null));
  $('io-panel').addEventListener('toggle', () => { if ($('io-panel').open && !$('io-read').disabled) io(null); });
  const field = (id) => $(id).value.trim();
  $('io-set-data').addEventListener('click', () => io({ data: field('io-data') }));
  $('io-set-control').addEventListener('click', () => io({ control: field('io-control') }));
  $('io-set-reg').addEventListener('click', () => io({ register: field('io-register'), value: field('io-value') }));
  $('io-set-icr').addEventListener('click', () => io({ icr: field('io-icr') }));
  $('io-reset-read').addEventListener('click', () => io({ reset_read: true }));
  $('io-form').addEventListener('submit', (event) => event.preventDefault());
}

async function start() {
  wire();
  cursorsMoved(view);
  try {
    showState(await get('/api/state'));
  } catch (error) {
    unanswered(error);
  }
  const link = live((message) => {
    ++liveMessages;
    if (message.type === 'state') showState(message.state);
    else if (message.type === 'capture') {
      follow(message.id, message.ready_ms);
      if (state && state.run !== 'single') statisticsSoon();
    }
  }, linkChanged);
  // A hidden page's timers are held back by the browser: shown again, it reconnects at once
  // and shows what it missed.
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState !== 'visible') return;
    link.now();
    catchUp();
  });
  listDecoders();
  statistics();
}

start();

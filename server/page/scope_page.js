// The scope view on the page: its toolbar, the plot, the cursor readouts, the channel panel,
// persistence, averaging, reference traces, "Save picture", and the choice between it and the
// Window view (the window's own picture, drawn by the server). The page (app.js) hands it the
// state and the capture to show; it loads the capture's bytes and layout itself.

import { Capture } from './capture.js';
import { Sampler } from './sampler.js';
import { ScopeView } from './scope_view.js';
import { ChannelPanel } from './channel_panel.js';
import { time } from './units.js';
import { valueOf, formatValue } from './channels.js';
import { MOST_PERSISTED, MOST_AVERAGED } from './persistence.js';
import { convertMeasurements } from './measure_units.js';
import { SpectrumPane } from './spectrum_pane.js';
import { XyPane } from './xy_pane.js';
import { LinearityPane } from './linearity_pane.js';
import { make } from './dom.js';

const $ = (id) => document.getElementById(id);
const button = (id, text, title) => make('button', { type: 'button', id, textContent: text, title });
const KEPT = 6;   // captures whose samplers the page keeps (the shown, references, the last few)

export class ScopePage {
  // host: {onChoose(scopeChosen), onSpan()}
  constructor(host) {
    this.host = host;
    this.state = null;
    this.id = null;                // the capture shown
    this.loaded = new Map();       // id -> {capture, sampler}, the newest last
    this.loading = null;           // the id being loaded
    this.wanted = null;            // the id to load when that ends
    this.timed = new Set();        // captures whose time to the screen is told
    this.drawnAt = new Map();      // captures drawn whose end of download the state has not told yet
    this.screenTimes = [];         // {id, ms}: from the end of the download to the capture drawn
    this.settingsApi = true;       // false after PUT /api/settings answered 404
    this.steps = [];               // for the bench: each capture's wait for the page and its load
    const asked = new URLSearchParams(location.search).get('view');
    this.chosen = (asked || localStorage.getItem('korvane.view') || 'scope') !== 'window';
    this.build();
    this.view = new ScopeView(this.plot, {
      triggerSettings: () => this.triggerSettings(),
      triggerTakes: (s) => this.takes(s),
      setTrigger: async (change) => {
        const refusal = await this.setTrigger(change);
        this.plot.dataset.triggerRefusal = refusal || '';
        return refusal;
      },
      onFrame: (v) => this.framed(v),
      onCursors: () => this.showReadout(),
      onSpan: () => {
        this.showReadout();
        this.host.onSpan?.();
      },
      onHover: (v, p) => this.hover(p),
    });
    this.panel = new ChannelPanel(this.panelRoot, (channels) => {
      this.view.setChannels(channels);
      this.measurementUnits();
      this.showReadout();
    });
    this.choose(this.chosen, false);
    this.mathChanged();
    new MutationObserver(() => this.measurementUnits()).observe($('measurements'), { childList: true });
    $('settings').addEventListener('input', () => this.view.invalidate());
    $('settings').addEventListener('change', () => this.view.invalidate());
    // For tests and scripts: read only.
    window.__scope = {
      span: () => ({ start: this.view.viewport.start, width: this.view.viewport.width, total: this.view.viewport.total }),
      plot: () => { const p = this.view.plot, s = this.view.ratio; return { left: p.left / s, top: p.top / s, right: p.right / s, bottom: p.bottom / s }; },
      column: (x) => this.view.columnAt(x),
      yOfCode: (name, code) => this.view.yOfCode(name, code) / this.view.ratio,
      xOf: (k) => this.view.xOf(k) / this.view.ratio,
      levelY: () => { const m = this.view.markers, t = m.shown(this.view); return t && t.channel ? m.levelY(this.view, t) / this.view.ratio : null; },
      trigger: () => this.view.trigger,
      show: (start, width) => this.view.viewport.set(start, width),
      // The decoded rows drawn under the traces, and the top of the first (CSS pixels).
      rows: () => ({ shown: this.view.decoded.shown, top: this.view.rowsTop / this.view.ratio }),
      // The rows (CSS pixels) of lane n's high and low lines.
      laneRows: (n) => {
        const a = this.view.lanesArea, s = this.view.ratio;
        if (!a || !this.view.layout) return null;
        const lane = (a.bottom - a.top) / this.view.layout.inputs, top = Math.round(a.top + n * lane);
        return { high: Math.round(top + lane * 0.2) / s, low: (Math.round(top + lane * 0.8) - Math.max(1, Math.round(s))) / s };
      },
      frames: () => this.view.frames,
      frameMs: () => this.view.frameMs,
      frameLog: () => this.view.log.slice(),
      loads: () => this.steps.slice(),
      screenTimes: () => this.screenTimes.slice(),
      shown: () => this.id,
    };
  }

  build() {
    const centre = document.querySelector('.centre');
    this.switcher = make('div', { className: 'view-switch', role: 'group', ariaLabel: 'The view' }, [
      button('show-scope', 'Scope', 'The scope screen, drawn in the page'),
      button('show-window', 'Window', 'The window\'s own picture, drawn by the server'),
    ]);
    this.persist = make('select', { id: 'persistence', title: 'Persistence: earlier captures drawn under the newest, fading' },
      [['0', 'Off'], ['10', '10'], ['100', '100'], ['inf', '∞']].map(([value, text]) => make('option', { value, textContent: text })));
    this.average = make('select', { id: 'averaging', title: `Averaging: the mean of the last captures (up to ${MOST_AVERAGED})` },
      [['0', 'Off'], ['4', '4'], ['16', '16'], [String(MOST_AVERAGED), String(MOST_AVERAGED)]].map(([value, text]) => make('option', { value, textContent: text })));
    this.reference = make('select', { id: 'reference', title: 'A capture of the history drawn dim behind the one shown' },
      [make('option', { value: '', textContent: 'None' })]);
    this.plot = make('div', { id: 'scope-plot', className: 'scope-plot' }, [
      make('canvas', { tabIndex: 0, ariaLabel: 'The scope view: wheel zooms at the pointer, drag pans, Shift-drag zooms to a box, double click shows the whole capture' }),
      make('div', { id: 'scope-empty', className: 'empty', textContent: 'No capture yet: press Single or Normal to capture.' }),
    ]);
    this.error = make('p', { id: 'scope-error', className: 'field-error', role: 'alert' });
    this.readout = make('div', { id: 'scope-readout', className: 'scope-readout', ariaLive: 'off' });
    this.pointer = make('div', { id: 'scope-pointer', className: 'scope-pointer' });
    this.root = make('section', { id: 'scope', className: 'scope', ariaLabel: 'The scope view' }, [
      make('div', { className: 'toolbar scope-tools' }, [
        button('scope-zoom-in', 'Zoom In', 'Zoom In (+)'), button('scope-zoom-out', 'Zoom Out', 'Zoom Out (−): undoes Zoom In'),
        button('scope-whole', 'Whole', 'The whole capture (double click or double tap)'),
        button('scope-cursors', 'Cursors', 'Two time and two level cursors'), button('scope-clear-cursors', 'Clear', 'Take the cursors away'),
        make('label', {}, ['Persist', this.persist]), button('scope-clear-persistence', 'Clear', 'Clear the persistence'),
        make('label', {}, ['Average', this.average]), make('label', {}, ['Reference', this.reference]),
        button('save-picture', 'Save picture', 'A PNG of the scope view as shown, with the readouts'),
        button('scope-spectrum', 'Spectrum', 'The spectrum of a channel of the capture, under the view'),
        button('scope-xy', 'XY', 'One channel against another, under the view'),
        button('scope-linearity', 'Linearity', 'The converter\'s DNL and INL by the code-density test of a channel, under the view'),
      ]),
      this.plot, this.pointer, this.readout, this.error,
    ]);
    this.spectrum = new SpectrumPane({
      math: () => $('math').value.trim(),
      colour: (name) => this.view?.channel(name)?.colour,
    });
    this.xy = new XyPane({
      math: () => $('math').value.trim(),
      colour: (name) => this.view?.channel(name)?.colour,
    });
    this.linearity = new LinearityPane();
    this.root.append(this.spectrum.root, this.xy.root, this.linearity.root);
    this.panelRoot = make('details', { id: 'channel-panel', className: 'panel channels' });
    centre.prepend(this.root);
    document.querySelector('.bar .run').after(this.switcher);
    $('settings').after(this.panelRoot);
    $('show-scope').addEventListener('click', () => this.choose(true));
    $('show-window').addEventListener('click', () => this.choose(false));
    $('scope-zoom-in').addEventListener('click', () => this.view.viewport.zoomIn());
    $('scope-zoom-out').addEventListener('click', () => this.view.viewport.zoomOut());
    $('scope-whole').addEventListener('click', () => this.view.viewport.whole());
    $('scope-cursors').addEventListener('click', () => this.view.cursors.place(this.view));
    $('scope-clear-cursors').addEventListener('click', () => this.view.cursors.clear());
    this.persist.addEventListener('change', () => {
      const v = this.persist.value;
      this.view.persistence.setCount(v === 'inf' ? Infinity : Math.min(MOST_PERSISTED, Number(v)));
      this.view.persist();
      this.view.invalidate();
    });
    $('scope-clear-persistence').addEventListener('click', () => {
      this.view.persistence.clear();
      this.view.persist();
      this.view.invalidate();
    });
    this.average.addEventListener('change', () => {
      this.view.averager.setCount(Number(this.average.value));
      if (this.view.sampler) this.view.averager.add(this.view.sampler, this.view.capture.id);
      this.view.computeMath();
      this.view.invalidate();
      this.showReadout();
    });
    this.reference.addEventListener('change', () => this.chooseReference(this.reference.value));
    $('save-picture').addEventListener('click', () => this.savePicture());
    $('scope-spectrum').addEventListener('click', () => {
      const on = this.spectrum.toggle();
      $('scope-spectrum').classList.toggle('active', on);
      $('scope-spectrum').setAttribute('aria-pressed', String(on));
    });
    $('scope-xy').addEventListener('click', () => {
      const on = this.xy.toggle();
      $('scope-xy').classList.toggle('active', on);
      $('scope-xy').setAttribute('aria-pressed', String(on));
    });
    $('scope-linearity').addEventListener('click', () => {
      const on = this.linearity.toggle();
      $('scope-linearity').classList.toggle('active', on);
      $('scope-linearity').setAttribute('aria-pressed', String(on));
    });
    $('math').addEventListener('change', () => {
      this.mathChanged();
      this.spectrum.load();
      if (this.xy.sampler) this.xy.setCapture(this.xy.id, this.xy.sampler);
    });
  }

  // The math channel M drawn in the view from the Math field's expression; one the page cannot
  // compute is said under the view.
  mathChanged() {
    const why = this.view.setMath($('math').value);
    this.plot.dataset.math = this.view.math ? this.view.math.op : '';
    this.error.textContent = why || '';
    this.showReadout();
  }

  // The scope view or the Window view; the choice is kept in the browser.
  choose(scope, tell = true) {
    this.chosen = scope;
    if (tell) localStorage.setItem('korvane.view', scope ? 'scope' : 'window');
    this.root.hidden = !scope;
    document.body.classList.toggle('scope-chosen', scope);
    $('show-scope').classList.toggle('active', scope);
    $('show-window').classList.toggle('active', !scope);
    $('show-scope').setAttribute('aria-pressed', String(scope));
    $('show-window').setAttribute('aria-pressed', String(!scope));
    if (tell) this.host.onChoose(scope);
    if (scope) this.view.resize();
  }

  setState(s) {
    if (!this.state) this.panel.start(s.channels);
    this.state = s;
    this.panel.fromServer(s.channels);
    const ids = s.captures.map((c) => c.id).join(',');
    if (ids !== this.historyIds) {
      this.historyIds = ids;
      const chosen = this.reference.value;
      this.reference.replaceChildren(make('option', { value: '', textContent: 'None' }),
        ...s.captures.map((c) => make('option', { value: String(c.id), textContent: `#${c.id}` })));
      this.reference.value = s.captures.some((c) => String(c.id) === chosen) ? chosen : '';
    }
    this.view.invalidate();
    this.timeCaptures();
  }

  // ---- Captures ----

  async load(id) {
    const kept = this.loaded.get(id);
    if (kept) {
      this.loaded.delete(id);
      this.loaded.set(id, kept);
      return kept;
    }
    const get = async (path) => {
      const response = await fetch(path, { cache: 'no-store' });
      if (!response.ok) throw new Error(`${path}: ${response.status} ${response.statusText}`);
      return response;
    };
    const [bytes, layout] = await Promise.all([get(`/api/captures/${id}.dso`).then((r) => r.arrayBuffer()),
      get(`/api/captures/${id}/layout`).then((r) => r.json())]);
    const fetched = performance.now();
    const capture = new Capture(id, bytes, { '': layout });
    const entry = { capture, sampler: new Sampler(capture, capture.under('')), decimatedMs: performance.now() - fetched };
    this.loaded.set(id, entry);
    const keep = new Set([this.id, id, Number(this.reference.value)]);
    for (const old of this.loaded.keys()) if (this.loaded.size > KEPT && !keep.has(old)) this.loaded.delete(old);
    return entry;
  }

  // Shows a capture; a capture asked for while one loads waits, and only the newest is loaded.
  // Answers the capture once drawn, or null.
  async show(id) {
    this.id = id;
    $('scope-empty').hidden = true;
    if (this.loading !== null) {
      this.wanted = id;
      return null;
    }
    this.loading = id;
    let entry = null;
    const asked = performance.now(), askedAt = Date.now();
    try {
      entry = await this.load(id);
      this.steps.push({ id, askedAt, loaded: performance.now() - asked, decimated: entry.decimatedMs });
      if (this.steps.length > 200) this.steps.shift();
      this.error.textContent = '';
      // Drawn even when another was asked for meanwhile: that one is loaded next, and while
      // captures come faster than they load, the screen shows each it gets.
      this.view.setCapture(entry.capture, entry.sampler);
      this.plot.dataset.capture = String(id);
      this.plot.dataset.math = this.view.math ? this.view.math.op : '';
      this.spectrum.setCapture(id, entry.sampler.layout.analogue);
      this.xy.setCapture(id, entry.sampler);
      this.linearity.setCapture(id, entry.sampler.layout.analogue);
    } catch (error) {
      this.error.textContent = error.message;
    }
    this.loading = null;
    if (this.wanted !== null && this.wanted !== id) {
      const next = this.wanted;
      this.wanted = null;
      this.show(next);
    }
    this.wanted = null;
    this.showReadout();
    return entry ? entry.capture : null;
  }

  async chooseReference(value) {
    this.view.references = [];
    if (value !== '') {
      try {
        const entry = await this.load(Number(value));
        if (this.reference.value === value) this.view.references = [{ id: Number(value), sampler: entry.sampler }];
      } catch (error) {
        this.error.textContent = error.message;
      }
    }
    this.view.invalidate();
  }

  // Each frame: the first frame of a new capture tells the time from the end of its download,
  // once the state has told when that was.
  framed(v) {
    this.plot.dataset.frames = String(v.frames);
    const vp = v.viewport;
    this.plot.dataset.span = `${vp.start}:${vp.width}`;
    const id = v.capture?.id;
    if (id === undefined || this.drawnAt.has(id) || this.timed.has(id)) return;
    this.drawnAt.set(id, Date.now());
    this.timeCaptures();
  }

  timeCaptures() {
    for (const [id, at] of this.drawnAt) {
      const entry = this.state?.captures.find((c) => c.id === id);
      if (!entry || !entry.ready_ms) continue;
      this.drawnAt.delete(id);
      this.timed.add(id);
      this.screenTimes.push({ id, ms: at - entry.ready_ms });
      if (this.screenTimes.length > 500) this.screenTimes.shift();
      document.body.dataset.shownId = String(id);
      document.body.dataset.readyToScreenMs = String(at - entry.ready_ms);
    }
    if (this.drawnAt.size > 100) this.drawnAt.delete(this.drawnAt.keys().next().value);
  }

  // ---- The trigger ----

  // The settings the screen shows: those of the run that is armed while one is on, else the
  // draft every page edits, else (a server without drafts) this page's form.
  triggerSettings() {
    const s = this.state;
    if (!s) return null;
    if (s.run !== 'stopped') return s.settings;
    if (s.draft) return s.draft;
    return { mode: $('mode').value || s.settings.mode, trigger: $('trigger').value || s.settings.trigger,
      level: $('level').value, pretrigger: $('pretrigger').value };
  }

  takes(settings) {
    const sources = this.state?.choices?.sources?.[settings.mode];
    const source = sources && sources.find((x) => x.value === settings.trigger);
    return source ? source.takes : 'nothing';
  }

  // A marker dropped: the setting through the server's checks (PUT /api/settings), or, where
  // the server has no drafts, through the form's field and its limits. Answers refusal words or null.
  async setTrigger(change) {
    const [name, value] = Object.entries(change)[0];
    const input = $(name);
    const base = this.state?.draft || null;
    if (this.settingsApi && base) {
      try {
        const response = await fetch('/api/settings', { method: 'PUT', cache: 'no-store', headers: { 'Content-Type': 'application/json' },
          body: JSON.stringify({ ...base, ...change }) });
        if (response.ok) {
          input.value = String(value);
          return null;
        }
        if (response.status !== 404 && response.status !== 405) {
          try { return (await response.json()).error || `${response.status}`; } catch (_) { return `${response.status} ${response.statusText}`; }
        }
        this.settingsApi = false;
      } catch (error) {
        return error.message;
      }
    }
    const settings = this.triggerSettings();
    if (name === 'pretrigger' && this.takes(settings) === 'nothing' && value !== 0) return 'Pre-trigger must be 0 with no trigger';
    const min = Number(input.min), max = Number(input.max);
    if (!(value >= min && value <= max)) return `${name === 'level' ? 'Level' : 'Pre-trigger'}: ${value} is not in ${min}..${max}`;
    input.value = String(value);
    input.dispatchEvent(new Event('input', { bubbles: true }));
    return null;
  }

  // The samples shown, for the measurements of the view only: "?range=first:last".
  rangeQuery() {
    const vp = this.view.viewport;
    if (!vp.total) return '';
    const first = Math.floor(vp.start), last = Math.min(vp.total - 1, Math.ceil(vp.start + vp.width) - 1);
    return last > first ? `?range=${first}:${last}` : '';
  }

  // ---- Readouts ----

  showReadout() {
    const rows = this.view.cursors.readout(this.view);
    this.readout.replaceChildren(...rows.map((r) => {
      const span = make('span', { textContent: r.text });
      span.dataset.name = r.name;
      if (r.value !== null && r.value !== undefined) span.dataset.value = String(r.value);
      if (r.value2 !== undefined) span.dataset.value2 = String(r.value2);
      if (r.colour) span.style.borderColor = r.colour;
      return span;
    }));
  }

  hover(p) {
    const v = this.view;
    if (!p || !v.sampler) {
      this.pointer.textContent = '';
      return;
    }
    const k = Math.floor(v.sampleAtX(p.x * v.ratio));
    let text = `t ${time((k - v.trigger) / (v.rate || 1))}`;
    for (const name of v.analogueNames()) {
      const c = v.channel(name), s = v.shownSamples(name);
      if (c.on && s) text += `   ${c.label} ${formatValue(c, valueOf(c, s.values[k]))}`;
    }
    if (v.sampler.logic) {
      const w = v.sampler.logic.words[k];
      text += `   D${v.sampler.logic.inputs - 1}..D0 ${w.toString(2).padStart(v.sampler.logic.inputs, '0').replace(/(....)(?=.)/g, '$1 ')}`;
    }
    this.pointer.textContent = text;
    this.pointer.dataset.sample = String(k);
  }

  measurementUnits() {
    convertMeasurements($('measurements'), (name) => this.view.channel(name));
  }

  // The view as shown, with the readouts under it, as a PNG.
  savePicture() {
    const v = this.view;
    const s = v.ratio;
    const lines = [this.pointer.textContent, ...[...this.readout.children].map((e) => e.textContent)].filter(Boolean);
    const picture = document.createElement('canvas');
    const line = 16 * s;
    picture.width = v.canvas.width;
    picture.height = v.canvas.height + Math.round(lines.length * line + (lines.length ? 8 * s : 0));
    const g = picture.getContext('2d');
    g.fillStyle = '#161b22';
    g.fillRect(0, 0, picture.width, picture.height);
    g.drawImage(v.canvas, 0, 0);
    g.fillStyle = '#e6edf3';
    g.font = `${12 * s}px "Liberation Mono", monospace`;
    g.textBaseline = 'top';
    lines.forEach((text, i) => g.fillText(text, 8 * s, v.canvas.height + 4 * s + i * line));
    picture.toBlob((blob) => {
      const a = make('a', { href: URL.createObjectURL(blob), download: `korvane-${this.id ?? 'scope'}-scope.png` });
      document.body.append(a);
      a.click();
      a.remove();
      setTimeout(() => URL.revokeObjectURL(a.href), 10000);
    }, 'image/png');
  }
}

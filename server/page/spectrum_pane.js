// The spectrum pane under the scope view: the server's spectrum of a channel of the capture shown
// (GET /api/captures/N/spectrum), drawn as levels in dB against frequency, min and max of the bins
// under each pixel column, on a linear or logarithmic frequency axis, with the largest peaks
// marked, the converter figures beside it and two frequency cursors placed by click and drag.
// The page draws the spectrum; the server computes it.

import { withPrefix } from './capture.js';
import { MATH_COLOUR } from './math.js';
import { make } from './dom.js';

const MARGIN = { left: 46, right: 14, top: 12, bottom: 22 };   // CSS pixels
const WINDOWS = [['hann', 'Hann'], ['rectangular', 'Rectangular'], ['hamming', 'Hamming'], ['blackman', 'Blackman'],
  ['blackman-harris', 'Blackman-Harris'], ['flat-top', 'Flat-top']];
const GRID = '#30363d';
const TEXT = '#c9d1d9';
const CURSOR = '#7ee787';

const select = (id, title, options) => make('select', { id, title },
  options.map(([value, text]) => make('option', { value, textContent: text })));
const db = (value) => (value === null || value === undefined ? '—' : `${value.toFixed(2)} dB`);

export class SpectrumPane {
  // host: {math() -> the math expression or '', colour(name) -> the channel's colour}
  constructor(host) {
    this.host = host;
    this.id = null;
    this.names = [];             // the analogue channels of the capture shown
    this.data = null;            // the server's answer shown
    this.asked = '';             // the query of the answer shown or on its way
    this.cursors = [null, null]; // frequencies in Hz
    this.dragging = null;
    this.ratio = 1;
    this.channel = select('spectrum-channel', 'The channel whose spectrum is shown', []);
    this.window = select('spectrum-window', 'The window applied to the samples before the transform', WINDOWS);
    this.axis = select('spectrum-axis', 'The frequency axis', [['linear', 'Linear'], ['log', 'Log']]);
    this.average = select('spectrum-average', 'The power average of this capture\'s spectrum and those of the captures before it (of the same mode and rate)',
      [['1', 'Off'], ['4', '4'], ['16', '16'], ['32', '32']]);
    this.canvas = make('canvas', { tabIndex: 0, ariaLabel: 'The spectrum: click or drag to place the two frequency cursors' });
    this.plotBox = make('div', { id: 'spectrum-plot', className: 'spectrum-plot' }, [this.canvas]);
    this.figures = make('div', { id: 'spectrum-figures', className: 'spectrum-figures' });
    this.readout = make('div', { id: 'spectrum-readout', className: 'scope-readout' });
    this.error = make('p', { id: 'spectrum-error', className: 'field-error', role: 'alert' });
    this.root = make('section', { id: 'spectrum', className: 'spectrum', ariaLabel: 'The spectrum', hidden: true }, [
      make('div', { className: 'toolbar scope-tools' }, [
        make('label', {}, ['Channel', this.channel]), make('label', {}, ['Window', this.window]),
        make('label', {}, ['Frequency', this.axis]), make('label', {}, ['Average', this.average]),
        make('button', { type: 'button', id: 'spectrum-clear-cursors', textContent: 'Clear cursors' }),
      ]),
      make('div', { className: 'spectrum-body' }, [this.plotBox, this.figures]),
      this.readout, this.error,
    ]);
    this.channel.addEventListener('change', () => this.load());
    this.window.addEventListener('change', () => this.load());
    this.average.addEventListener('change', () => this.load());
    this.axis.addEventListener('change', () => this.draw());
    this.root.querySelector('#spectrum-clear-cursors').addEventListener('click', () => {
      this.cursors = [null, null];
      this.draw();
    });
    this.listen();
    new ResizeObserver(() => this.draw()).observe(this.plotBox);
    window.__spectrum = {
      xOf: (f) => this.xOf(f) / this.ratio,
      plot: () => { const p = this.plot(); return { left: p.left / this.ratio, top: p.top / this.ratio, right: p.right / this.ratio, bottom: p.bottom / this.ratio }; },
      query: () => this.asked,
      data: () => this.data && { peaks: this.data.peaks, figures: this.data.figures, channel: this.data.name },
      cursors: () => this.cursors.slice(),
    };
  }

  get shown() { return !this.root.hidden; }

  toggle(on = this.root.hidden) {
    this.root.hidden = !on;
    if (on) this.load();
    return on;
  }

  // The capture shown in the scope view: its analogue channels, and M where a math expression is set.
  setCapture(id, names) {
    this.id = id;
    this.names = names.slice();
    this.channels();
    if (this.shown) this.load();
  }

  channels() {
    const chosen = this.channel.value;
    const names = this.host.math() ? [...this.names, 'M'] : this.names;
    if (names.join() !== Array.from(this.channel.options, (o) => o.value).join())
      this.channel.replaceChildren(...names.map((n) => make('option', { value: n, textContent: n === 'M' ? `M (${this.host.math()})` : n })));
    if (names.includes(chosen)) this.channel.value = chosen;
  }

  async load() {
    this.channels();
    if (this.id === null || !this.shown) return;
    if (!this.channel.value) {
      // A capture of logic inputs only: no spectrum, rather than the last one's.
      this.data = null;
      this.asked = '';
      this.figures.replaceChildren();
      this.error.textContent = 'This capture has no analogue channel to take the spectrum of.';
      this.draw();
      return;
    }
    const q = new URLSearchParams({ channel: this.channel.value, window: this.window.value, peaks: '5', average: this.average.value });
    if (this.channel.value === 'M') q.set('math', this.host.math());
    const query = `/api/captures/${this.id}/spectrum?${q}`;
    const name = this.channel.value;
    if (query === this.asked && this.data) return;
    this.asked = query;
    try {
      const response = await fetch(query, { cache: 'no-store' });
      const answer = await response.json();
      if (query !== this.asked) return;
      if (!response.ok) throw new Error(answer.error || `${response.status}`);
      this.data = answer;
      this.data.name = name;   // A, B or M: the answer names M by its expression
      this.error.textContent = '';
      this.root.dataset.capture = String(this.id);
      this.showFigures();
    } catch (error) {
      if (query !== this.asked) return;
      this.data = null;
      this.error.textContent = error.message;
      this.figures.replaceChildren();
    }
    this.draw();
  }

  showFigures() {
    const d = this.data;
    const f = d.figures || {};
    const rows = [];
    const row = (name, text, value) => {
      const tr = make('tr', {}, [make('th', { textContent: name }), make('td', { className: 'num', textContent: text })]);
      tr.dataset.name = name;
      if (value !== null && value !== undefined) tr.dataset.value = String(value);
      rows.push(tr);
    };
    if (f.fundamental) {
      row('Fundamental', `${withPrefix(f.fundamental.frequency_hz, 'Hz')}, ${db(f.fundamental.level_dbfs)}FS`, f.fundamental.frequency_hz);
      row('THD', db(f.thd_db), f.thd_db);
      row('SNR', db(f.snr_db), f.snr_db);
      row('SINAD', db(f.sinad_db), f.sinad_db);
      row('ENOB', f.enob_bits === null ? '—' : `${f.enob_bits.toFixed(2)} bits`, f.enob_bits);
      row('SFDR', db(f.sfdr_db), f.sfdr_db);
    }
    const peaks = (d.peaks || []).map((p, n) => {
      const li = make('li', { textContent: `${withPrefix(p.frequency_hz, 'Hz')}  ${p.level_dbfs.toFixed(2)} dB` });
      li.dataset.rank = String(n);
      li.dataset.frequency = String(p.frequency_hz);
      li.dataset.level = String(p.level_dbfs);
      return li;
    });
    const note = d.figures_unavailable ? [make('p', { className: 'note', textContent: String(d.figures_unavailable) })] : [];
    this.figures.replaceChildren(make('table', {}, [make('tbody', {}, rows)]), ...note,
      ...(d.averaged > 1 ? [make('p', { className: 'note', textContent: `the power average of ${d.averaged} captures` })] : []),
      make('h3', { textContent: `Peaks (${d.window}, ${d.levels.unit || 'dBFS'})` }), make('ol', { className: 'spectrum-peaks' }, peaks));
  }

  // ---- Geometry ----

  plot() {
    const s = this.ratio;
    return { left: MARGIN.left * s, top: MARGIN.top * s, right: this.canvas.width - MARGIN.right * s, bottom: this.canvas.height - MARGIN.bottom * s };
  }

  span() {
    const l = this.data.levels;
    const high = l.first_hz + (l.db.length - 1) * l.step_hz;
    const log = this.axis.value === 'log';
    return { low: log ? Math.max(l.first_hz, l.step_hz) : l.first_hz, high, log };
  }

  // The x (canvas pixels) of a frequency, and the frequency at an x.
  xOf(f) {
    if (!this.data) return null;
    const p = this.plot(), s = this.span();
    const at = s.log ? Math.log(Math.max(f, s.low) / s.low) / Math.log(s.high / s.low) : (f - s.low) / (s.high - s.low);
    return p.left + at * (p.right - p.left);
  }

  frequencyAt(x) {
    const p = this.plot(), s = this.span();
    const at = Math.max(0, Math.min(1, (x - p.left) / (p.right - p.left)));
    return s.log ? s.low * Math.pow(s.high / s.low, at) : s.low + at * (s.high - s.low);
  }

  // The dB range: from the highest level rounded up to 10 dB, 10 dB steps down to the lowest (at most 160 dB).
  levelRange() {
    let lo = Infinity, hi = -Infinity;
    for (const v of this.data.levels.db) { if (v < lo) lo = v; if (v > hi) hi = v; }
    const top = Math.max(0, Math.ceil(hi / 10) * 10);
    return { top, bottom: Math.max(top - 160, Math.floor(lo / 10) * 10) };
  }

  yOf(level) {
    const p = this.plot(), r = this.range;
    const at = (r.top - Math.max(r.bottom, Math.min(r.top, level))) / (r.top - r.bottom);
    return p.top + at * (p.bottom - p.top);
  }

  levelAt(f) {
    const l = this.data.levels;
    const k = Math.max(0, Math.min(l.db.length - 1, Math.round((f - l.first_hz) / l.step_hz)));
    return l.db[k];
  }

  // ---- Drawing ----

  draw() {
    const box = this.plotBox.getBoundingClientRect();
    if (!box.width || !box.height) return;
    this.ratio = window.devicePixelRatio || 1;
    const w = Math.round(box.width * this.ratio), h = Math.round(box.height * this.ratio);
    if (this.canvas.width !== w || this.canvas.height !== h) {
      this.canvas.width = w;
      this.canvas.height = h;
      this.canvas.style.width = `${box.width}px`;
      this.canvas.style.height = `${box.height}px`;
    }
    const g = this.canvas.getContext('2d');
    const s = this.ratio;
    g.fillStyle = '#161b22';
    g.fillRect(0, 0, w, h);
    if (!this.data) return;
    const p = this.plot();
    this.range = this.levelRange();
    g.font = `${11 * s}px "Liberation Sans", Arial, sans-serif`;
    g.lineWidth = Math.max(1, Math.round(s));
    // The grid: every 10 dB (20 dB where space is short), and frequencies along the bottom.
    const r = this.range;
    const stepDb = (p.bottom - p.top) / ((r.top - r.bottom) / 10) < 14 * s ? 20 : 10;
    g.strokeStyle = GRID;
    g.fillStyle = TEXT;
    g.textAlign = 'right';
    g.textBaseline = 'middle';
    for (let level = r.top; level >= r.bottom; level -= stepDb) {
      const y = Math.round(this.yOf(level)) + 0.5;
      g.beginPath(); g.moveTo(p.left, y); g.lineTo(p.right, y); g.stroke();
      g.fillText(`${level}`, p.left - 4 * s, y);
    }
    g.textAlign = 'center';
    g.textBaseline = 'top';
    let lastRight = -Infinity;
    for (const f of this.ticks()) {
      const x = Math.round(this.xOf(f)) + 0.5;
      g.beginPath(); g.moveTo(x, p.top); g.lineTo(x, p.bottom); g.stroke();
      const text = f === 0 ? '0 Hz' : withPrefix(f, 'Hz').replace(/\.0+ /, ' ');
      const width = g.measureText(text).width;
      const left = Math.max(p.left, Math.min(p.right - width, x - width / 2));
      if (left > lastRight + 6 * s) {
        g.fillText(text, left + width / 2, p.bottom + 4 * s);
        lastRight = left + width;
      }
    }
    g.textAlign = 'left';
    g.fillText(this.data.levels.unit || 'dBFS', 2 * s, 2 * s);
    // The levels: the least and greatest of the bins under each column, joined column to column.
    const l = this.data.levels;
    const colour = this.data.name === 'M' ? MATH_COLOUR : this.host.colour(this.data.name) || '#f2c200';
    g.strokeStyle = colour;
    g.beginPath();
    const columns = Math.round(p.right - p.left);
    let previous = null;
    for (let c = 0; c < columns; ++c) {
      const f0 = this.frequencyAt(p.left + c), f1 = this.frequencyAt(p.left + c + 1);
      let a = Math.ceil((f0 - l.first_hz) / l.step_hz), b = Math.ceil((f1 - l.first_hz) / l.step_hz);
      if (c === columns - 1) b = l.db.length;
      if (b <= a) { a = Math.round((f0 - l.first_hz) / l.step_hz); b = a + 1; }
      a = Math.max(0, a);
      b = Math.min(l.db.length, b);
      if (a >= b) continue;
      let lo = Infinity, hi = -Infinity;
      for (let k = a; k < b; ++k) { const v = l.db[k]; if (v < lo) lo = v; if (v > hi) hi = v; }
      const x = p.left + c + 0.5;
      let top = this.yOf(hi), bottom = this.yOf(lo);
      if (previous) { top = Math.min(top, previous.bottom); bottom = Math.max(bottom, previous.top); }
      g.moveTo(x, top);
      g.lineTo(x, Math.max(bottom, top + 1));
      previous = { top: this.yOf(hi), bottom: this.yOf(lo) };
    }
    g.stroke();
    // The peaks: a mark above each, numbered from the strongest.
    g.fillStyle = '#ffffff';
    g.textAlign = 'center';
    g.textBaseline = 'bottom';
    (this.data.peaks || []).forEach((peak, n) => {
      const x = this.xOf(peak.frequency_hz), y = this.yOf(peak.level_dbfs) - 3 * s;
      if (x < p.left || x > p.right) return;
      g.beginPath();
      g.moveTo(x, y); g.lineTo(x - 4 * s, y - 7 * s); g.lineTo(x + 4 * s, y - 7 * s);
      g.closePath();
      g.fill();
      g.fillText(String(n + 1), x, y - 8 * s);
    });
    // The cursors.
    g.strokeStyle = CURSOR;
    g.setLineDash([4 * s, 3 * s]);
    for (const f of this.cursors) {
      if (f === null) continue;
      const x = Math.round(this.xOf(f)) + 0.5;
      g.beginPath(); g.moveTo(x, p.top); g.lineTo(x, p.bottom); g.stroke();
    }
    g.setLineDash([]);
    this.showReadout();
  }

  // Frequencies for the axis: 1-2-5 steps on a linear axis, decades (and 2, 5) on a log one.
  ticks() {
    const s = this.span();
    const out = [];
    if (s.log) {
      for (let decade = Math.pow(10, Math.floor(Math.log10(s.low))); decade <= s.high; decade *= 10)
        for (const m of [1, 2, 5]) if (decade * m >= s.low && decade * m <= s.high) out.push(decade * m);
      return out;
    }
    const raw = (s.high - s.low) / 8;
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const step = [1, 2, 5, 10].map((m) => m * power).find((v) => v >= raw);
    for (let n = Math.ceil(s.low / step); n * step <= s.high; ++n) out.push(n * step);
    return out;
  }

  showReadout() {
    const rows = [];
    const text = (name, words, value) => {
      const span = make('span', { textContent: words });
      span.dataset.name = name;
      if (value !== undefined) span.dataset.value = String(value);
      rows.push(span);
    };
    this.cursors.forEach((f, n) => {
      if (f === null || !this.data) return;
      const level = this.levelAt(f);
      text(`f${n + 1}`, `f${n + 1} ${withPrefix(f, 'Hz')}  ${level.toFixed(2)} dB`, f);
      rows[rows.length - 1].dataset.level = String(level);
    });
    const [a, b] = this.cursors;
    if (a !== null && b !== null && this.data) text('df', `Δf ${withPrefix(b - a, 'Hz')}  Δ ${(this.levelAt(b) - this.levelAt(a)).toFixed(2)} dB`, b - a);
    this.readout.replaceChildren(...rows);
  }

  // ---- The cursors: a click places the first, then the second; a drag moves the nearer ----

  listen() {
    const xAt = (event) => (event.clientX - this.canvas.getBoundingClientRect().left) * this.ratio;
    this.canvas.addEventListener('pointerdown', (event) => {
      if (!this.data) return;
      const x = xAt(event);
      const p = this.plot();
      if (x < p.left || x > p.right) return;
      let n = this.cursors[0] === null ? 0 : this.cursors[1] === null ? 1 : null;
      if (n === null) {
        const d = this.cursors.map((f) => Math.abs(this.xOf(f) - x));
        n = d[0] <= d[1] ? 0 : 1;
      }
      this.dragging = n;
      this.cursors[n] = this.frequencyAt(x);
      this.canvas.setPointerCapture(event.pointerId);
      this.draw();
    });
    this.canvas.addEventListener('pointermove', (event) => {
      if (this.dragging === null) return;
      this.cursors[this.dragging] = this.frequencyAt(xAt(event));
      this.draw();
    });
    const end = () => { this.dragging = null; };
    this.canvas.addEventListener('pointerup', end);
    this.canvas.addEventListener('pointercancel', end);
  }
}

// XY: one channel against another as a square figure, drawn in the page from the capture's codes
// (A against B, or the math channel M against A or B), with the figures of the last few captures
// fading under the newest.

import { parseMath, computeMath, mathUses, mathReach, MATH_COLOUR } from './math.js';
import { make } from './dom.js';

const KEPT = 8;                 // the captures drawn, the newest brightest
const BACKGROUND = [22, 27, 34];
const GRID = [48, 54, 61];

export class XyPane {
  // host: {math() -> the expression or '', colour(name)}
  constructor(host) {
    this.host = host;
    this.sampler = null;
    this.id = null;
    this.figures = [];          // [{id, key, hits: Uint8Array}] the oldest first
    this.axes = make('select', { id: 'xy-axes', title: 'The channel across (X) and the one up (Y)' });
    this.size = 0;
    this.canvas = make('canvas', { id: 'xy-canvas', ariaLabel: 'XY: one channel against another' });
    this.note = make('p', { id: 'xy-note', className: 'note' });
    this.root = make('section', { id: 'xy', className: 'xy', ariaLabel: 'XY', hidden: true }, [
      make('div', { className: 'toolbar scope-tools' }, [make('label', {}, ['XY', this.axes]),
        make('button', { type: 'button', id: 'xy-clear', textContent: 'Clear', title: 'Forget the earlier captures\' figures' })]),
      make('div', { className: 'xy-square' }, [this.canvas]), this.note,
    ]);
    this.axes.addEventListener('change', () => { this.figures = []; this.add(); this.draw(); });
    this.root.querySelector('#xy-clear').addEventListener('click', () => { this.figures = this.figures.slice(-1); this.draw(); });
    new ResizeObserver(() => { this.figures = []; this.add(); this.draw(); }).observe(this.root.querySelector('.xy-square'));
    window.__xy = {
      // The canvas pixel where the point (x, y) of the chosen axes falls, and the pairs drawn.
      pixelOf: (x, y) => this.pixelOf(x, y),
      axes: () => this.axes.value,
      figures: () => this.figures.length,
    };
  }

  get shown() { return !this.root.hidden; }

  toggle(on = this.root.hidden) {
    this.root.hidden = !on;
    if (on) { this.figures = []; this.add(); this.draw(); }
    return on;
  }

  setCapture(id, sampler) {
    this.id = id;
    this.sampler = sampler;
    this.choices();
    if (this.shown) { this.add(); this.draw(); }
  }

  // A against B in Dual Channel; M against A or B while a math expression is set.
  choices() {
    const names = this.sampler ? Object.keys(this.sampler.analogue) : [];
    const list = [];
    if (names.includes('A') && names.includes('B')) list.push(['A:B', 'B against A']);
    const op = parseMath(this.host.math());
    if (op) {
      const uses = mathUses(op);
      if ((!uses.a || names.includes('A')) && (!uses.b || names.includes('B'))) {
        if (names.includes('A')) list.push(['A:M', `M (${op}) against A`]);
        if (names.includes('B')) list.push(['B:M', `M (${op}) against B`]);
      }
    }
    const chosen = this.axes.value;
    if (list.map(([v]) => v).join() !== Array.from(this.axes.options, (o) => o.value).join())
      this.axes.replaceChildren(...list.map(([value, text]) => make('option', { value, textContent: text })));
    if (list.some(([v]) => v === chosen)) this.axes.value = chosen;
    this.note.textContent = list.length ? '' : 'XY needs channels A and B (Dual Channel), or a math expression with the channel it takes.';
  }

  // An axis's values and their reach either side of 0: codes about 0x80, or M's values.
  values(name) {
    const s = this.sampler;
    if (name !== 'M') return { values: s.analogue[name].values, zero: 128, reach: 128 };
    const op = parseMath(this.host.math());
    return { values: computeMath(op, s.analogue.A?.values, s.analogue.B?.values), zero: 0, reach: mathReach(op) };
  }

  pixelOf(x, y) {
    const [across, up] = this.axes.value.split(':').map((n) => (n === 'M' ? this.values('M') : { zero: 128, reach: 128 }));
    return this.place(across, up, x, y);
  }

  // The pixel of a pair, across and up each over their whole reach; null off the square.
  place(across, up, x, y) {
    const n = this.size;
    const px = Math.floor(((x - across.zero) / across.reach + 1) / 2 * n);
    const py = Math.floor((1 - ((y - up.zero) / up.reach + 1) / 2) * n);
    return { x: Math.max(0, Math.min(n - 1, px)), y: Math.max(0, Math.min(n - 1, py)) };
  }

  // The capture shown, into the figures: the pixels its pairs fall on.
  add() {
    this.resize();
    if (!this.axes.value) this.figures = [];
    if (!this.sampler || !this.axes.value || !this.size) return;
    const key = `${this.axes.value}/${this.size}/${this.host.math()}`;
    this.figures = this.figures.filter((f) => f.key === key && f.id !== this.id);
    const [a, b] = this.axes.value.split(':').map((name) => this.values(name));
    const n = this.size;
    const hits = new Uint8Array(n * n);
    for (let k = 0; k < a.values.length; ++k) {
      const p = this.place(a, b, a.values[k], b.values[k]);
      hits[p.y * n + p.x] = 1;
    }
    this.figures.push({ id: this.id, key, hits });
    if (this.figures.length > KEPT) this.figures.shift();
  }

  resize() {
    const box = this.canvas.parentElement.getBoundingClientRect();
    const ratio = window.devicePixelRatio || 1;
    const side = Math.floor(Math.min(box.width, 360) * ratio);
    if (side > 0 && side !== this.size) {
      this.size = side;
      this.canvas.width = side;
      this.canvas.height = side;
      this.canvas.style.width = `${side / ratio}px`;
      this.canvas.style.height = `${side / ratio}px`;
      this.figures = [];
    }
  }

  draw() {
    const n = this.size;
    if (!n) return;
    const g = this.canvas.getContext('2d');
    const image = g.createImageData(n, n);
    const d = image.data;
    for (let i = 0; i < n * n; ++i) { d[4 * i] = BACKGROUND[0]; d[4 * i + 1] = BACKGROUND[1]; d[4 * i + 2] = BACKGROUND[2]; d[4 * i + 3] = 255; }
    // The graticule under the figures: eight divisions each way, the axes through the middle.
    for (let i = 1; i < 8; ++i) {
      const at = Math.round((i * n) / 8);
      for (let j = 0; j < n; ++j)
        for (const p of [at * n + j, j * n + at]) { d[4 * p] = GRID[0]; d[4 * p + 1] = GRID[1]; d[4 * p + 2] = GRID[2]; }
    }
    const up = this.axes.value.split(':')[1];
    const hex = (up === 'M' ? MATH_COLOUR : this.host.colour(up)) || '#22d3ee';
    const ink = [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
    // The oldest first, each brighter than the one before; the newest at full strength.
    this.figures.forEach((f, index) => {
      const strength = (index + 1) / this.figures.length;
      const level = index === this.figures.length - 1 ? 1 : 0.15 + 0.45 * strength;
      for (let i = 0; i < n * n; ++i) {
        if (!f.hits[i]) continue;
        for (let c = 0; c < 3; ++c) d[4 * i + c] = Math.round(BACKGROUND[c] + (ink[c] - BACKGROUND[c]) * level);
      }
    });
    g.putImageData(image, 0, 0);
    this.root.dataset.capture = String(this.id ?? '');
  }
}

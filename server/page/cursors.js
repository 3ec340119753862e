// Two time cursors and two level cursors, dragged on the plot, and their readouts: t1, t2, Δt,
// 1/Δt, each visible channel's value at t1 and t2 in its unit, and the level cursors in the
// unit of each analogue channel shown.

import { time, si } from './units.js';
import { valueAtDivisions, formatValue, valueOf, scaled } from './channels.js';

const COLOURS = { t1: '#ff9a3c', t2: '#ff5fd2', v1: '#4be3a0', v2: '#4be3a0' };
const NEAR = 6;   // CSS pixels within which a cursor is taken

export class Cursors {
  constructor(onChange) {
    this.onChange = onChange;
    this.t1 = null;   // sample positions (fractional)
    this.t2 = null;
    this.v1 = null;   // divisions above the graticule's centre
    this.v2 = null;
  }

  // Cursors placed in the view: time at a third and two thirds, levels at ±2 divisions.
  place(v) {
    const vp = v.viewport;
    this.t1 = vp.sampleAt(1 / 3);
    this.t2 = vp.sampleAt(2 / 3);
    if (v.analogueArea) {
      this.v1 = 2;
      this.v2 = -2;
    }
    this.onChange();
  }

  clear() {
    this.t1 = this.t2 = this.v1 = this.v2 = null;
    this.onChange();
  }

  get shown() {
    return this.t1 !== null || this.v1 !== null;
  }

  draw(g, v) {
    const p = v.plot;
    const s = v.ratio;
    g.save();
    g.lineWidth = Math.max(1, Math.round(s));
    g.font = `bold ${11 * s}px "Liberation Sans", sans-serif`;
    for (const name of ['t1', 't2']) {
      if (this[name] === null) continue;
      const x = Math.round(v.xOf(this[name])) + 0.5;
      if (x < p.left || x > p.right) continue;
      g.strokeStyle = g.fillStyle = COLOURS[name];
      g.setLineDash(name === 't2' ? [6 * s, 3 * s] : []);
      g.beginPath();
      g.moveTo(x, p.top);
      g.lineTo(x, p.bottom);
      g.stroke();
      g.textAlign = x > p.right - 30 * s ? 'right' : 'left';
      g.textBaseline = 'top';
      g.fillText(name, x + (g.textAlign === 'left' ? 3 : -3) * s, p.top + (name === 't1' ? 3 : 16) * s);
    }
    const a = v.analogueArea;
    if (a) {
      for (const name of ['v1', 'v2']) {
        if (this[name] === null) continue;
        const y = Math.round((a.top + a.bottom) / 2 - this[name] * a.division) + 0.5;
        g.strokeStyle = g.fillStyle = COLOURS[name];
        g.setLineDash(name === 'v2' ? [6 * s, 3 * s] : []);
        g.beginPath();
        g.moveTo(p.left, y);
        g.lineTo(p.right, y);
        g.stroke();
        g.textAlign = 'left';
        g.textBaseline = y < a.top + 14 * s ? 'top' : 'bottom';
        g.fillText(name.toUpperCase(), p.left + (name === 'v1' ? 4 : 28) * s, y + (g.textBaseline === 'top' ? 2 : -2) * s);
      }
    }
    g.restore();
  }

  // A drag that moves the cursor under the pointer (CSS pixels), or null.
  grab(v, x, y) {
    const s = v.ratio;
    for (const name of ['t1', 't2']) {
      if (this[name] !== null && Math.abs(v.xOf(this[name]) / s - x) <= NEAR && y * s >= v.plot.top && y * s <= v.plot.bottom) {
        return { cursor: 'ew-resize', move: (px) => { this[name] = v.sampleAtX(px * s); this.onChange(); } };
      }
    }
    const a = v.analogueArea;
    if (a) {
      for (const name of ['v1', 'v2']) {
        if (this[name] === null) continue;
        const ly = ((a.top + a.bottom) / 2 - this[name] * a.division) / s;
        if (Math.abs(ly - y) <= NEAR) {
          return { cursor: 'ns-resize', move: (px, py) => {
            this[name] = Math.max(-4, Math.min(4, ((a.top + a.bottom) / 2 - py * s) / a.division));
            this.onChange();
          } };
        }
      }
    }
    return null;
  }

  // The readouts as rows of {name, text, value}, value being a number for scripts and tests.
  readout(v) {
    const rows = [];
    if (this.t1 !== null && this.t2 !== null) {
      const k1 = Math.floor(this.t1), k2 = Math.floor(this.t2);
      const at = (k) => (k - v.trigger) / (v.rate || 1);
      const dt = (k2 - k1) / (v.rate || 1);
      rows.push({ name: 't1', text: `t1 ${time(at(k1))}`, value: at(k1) });
      rows.push({ name: 't2', text: `t2 ${time(at(k2))}`, value: at(k2) });
      rows.push({ name: 'dt', text: `Δt ${time(dt)}`, value: dt });
      rows.push({ name: 'f', text: `1/Δt ${dt ? si(1 / Math.abs(dt), 'Hz') : '—'}`, value: dt ? 1 / Math.abs(dt) : null });
      for (const name of v.analogueNames()) {
        const c = v.channel(name);
        const samples = v.shownSamples(name);
        if (!c.on || !samples) continue;
        const y1 = valueOf(c, samples.values[k1]), y2 = valueOf(c, samples.values[k2]);
        rows.push({ name: `${name}-t`, text: `${c.label} ${formatValue(c, y1)} → ${formatValue(c, y2)} Δ ${formatValue(c, y2 - y1)}`,
          value: y1, value2: y2, colour: c.colour });
      }
      const logic = v.sampler?.logic;
      if (logic) {
        const w1 = logic.words[k1], w2 = logic.words[k2];
        const bits = (w) => Array.from({ length: logic.inputs }, (_, n) => (w >> n) & 1);
        const names = Array.from({ length: logic.inputs }, (_, n) => `${v.logicChannel(n).label}`);
        const b1 = bits(w1), b2 = bits(w2);
        rows.push({ name: 'logic-t', text: names.map((n, i) => `${n} ${b1[i]}→${b2[i]}`).join('  '), value: w1, value2: w2 });
      }
    }
    if (this.v1 !== null && this.v2 !== null) {
      for (const name of v.analogueNames()) {
        const c = v.channel(name);
        if (!c.on) continue;
        const y1 = valueAtDivisions(c, this.v1), y2 = valueAtDivisions(c, this.v2);
        rows.push({ name: `${name}-v`, text: `${c.label} V1 ${formatValue(c, y1)}  V2 ${formatValue(c, y2)}  ΔV ${formatValue(c, y1 - y2)}`,
          value: y1 - y2, colour: c.colour, unit: scaled(c) ? c.unit : 'codes' });
      }
    }
    return rows;
  }
}

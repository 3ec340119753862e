// The graticule and the time axis: 10 divisions across the plot, 8 down the analogue area,
// the time from the trigger under each division, the time base in s/div above. Labels that
// would run into their neighbour or out of the plot are moved in or left out.

import { si, stepLabeller, step125 } from './units.js';

export const DIVISIONS_ACROSS = 10;
export const DIVISIONS_DOWN = 8;

export class Ruler {
  // The time base of the span shown, in seconds a division (or samples where the rate is unknown).
  perDivision(v) {
    return v.viewport.width / DIVISIONS_ACROSS / (v.rate || 1);
  }

  timeBaseText(v) {
    const d = this.perDivision(v);
    return v.rate ? `${si(d, 's', 3)}/div` : `${+d.toPrecision(3)} samples/div`;
  }

  draw(g, v) {
    const p = v.plot;
    const s = v.ratio;
    const w = p.right - p.left;
    g.save();
    g.fillStyle = '#0d1117';
    g.fillRect(p.left, p.top, w, p.bottom - p.top);
    const lines = new Path2D();
    const centre = new Path2D();
    for (let i = 0; i <= DIVISIONS_ACROSS; ++i) {
      const x = Math.round(p.left + (i * w) / DIVISIONS_ACROSS) + 0.5;
      (i === DIVISIONS_ACROSS / 2 ? centre : lines).moveTo(x, p.top);
      (i === DIVISIONS_ACROSS / 2 ? centre : lines).lineTo(x, p.bottom);
    }
    const a = v.analogueArea;
    if (a) {
      for (let i = 0; i <= DIVISIONS_DOWN; ++i) {
        const y = Math.round(a.top + i * a.division) + 0.5;
        (i === DIVISIONS_DOWN / 2 ? centre : lines).moveTo(p.left, y);
        (i === DIVISIONS_DOWN / 2 ? centre : lines).lineTo(p.right, y);
      }
      // Ticks of a fifth of a division on the centre lines.
      const cy = Math.round((a.top + a.bottom) / 2) + 0.5;
      for (let i = 0; i <= DIVISIONS_ACROSS * 5; ++i) {
        const x = Math.round(p.left + (i * w) / (DIVISIONS_ACROSS * 5)) + 0.5;
        centre.moveTo(x, cy - 3 * s);
        centre.lineTo(x, cy + 3 * s);
      }
    }
    const lanes = v.lanesArea;
    if (lanes && a) {
      lines.moveTo(p.left, Math.round(lanes.top) - 0.5);
      lines.lineTo(p.right, Math.round(lanes.top) - 0.5);
    }
    g.lineWidth = 1;
    g.strokeStyle = '#2b333d';
    g.setLineDash([2 * s, 3 * s]);
    g.stroke(lines);
    g.setLineDash([]);
    g.strokeStyle = '#46515e';
    g.stroke(centre);
    g.strokeStyle = '#5b6470';
    g.strokeRect(p.left + 0.5, p.top + 0.5, w - 1, p.bottom - p.top - 1);
    this.drawLabels(g, v);
    g.restore();
  }

  // Times from the trigger at a 1-2-5 step wide enough for the labels, each with a tick on
  // the plot's lower edge. The labels share the step's prefix and decimals; one that would
  // leave the plot is moved in, one that would touch its neighbour is left out.
  drawLabels(g, v) {
    const p = v.plot;
    const s = v.ratio;
    const w = p.right - p.left;
    const unit = v.rate || 1;
    g.font = `${11 * s}px "Liberation Sans", sans-serif`;
    const widest = 72 * s;
    const spanTime = v.viewport.width / unit;
    const step = step125((spanTime * widest) / w);
    const label = stepLabeller(step, v.rate ? 's' : '');
    const t0 = (v.viewport.start - v.trigger) / unit;
    const first = Math.ceil(t0 / step - 1e-9);
    const last = Math.floor((t0 + spanTime) / step + 1e-9);
    g.fillStyle = '#9aa4b1';
    g.strokeStyle = '#9aa4b1';
    g.textBaseline = 'top';
    g.textAlign = 'left';
    const placed = [];
    let right = -Infinity;
    const ticks = new Path2D();
    for (let i = first; i <= last && i - first < 200; ++i) {
      const t = i * step;
      const x = v.xOf(t * unit + v.trigger);
      ticks.moveTo(Math.round(x) + 0.5, p.bottom);
      ticks.lineTo(Math.round(x) + 0.5, p.bottom - 5 * s);
      const text = label(t);
      const width = g.measureText(text).width;
      const left = Math.max(p.left, Math.min(p.right - width, x - width / 2));
      if (left < right + 8 * s) continue;
      placed.push([text, left]);
      right = left + width;
    }
    g.stroke(ticks);
    for (const [text, x] of placed) g.fillText(text, x, p.bottom + 3 * s);
    this.placed = placed.map(([text, x]) => ({ text, x: x / s }));
  }
}

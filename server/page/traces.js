// The traces of the scope view: an analogue channel on the shared graticule, and the logic
// inputs as lanes with their names. Each draws from a sampler (sampler.js): min and max per
// pixel column while a column holds a sample or more, the samples joined by lines (analogue)
// or steps (logic) below that.

import { divisionsOf, valueOf, formatValue } from './channels.js';

const extent = [0, 0];

// The samples that column c of the plot covers: first..last, inclusive, the last being the
// first sample of the next column, so that the trace stays joined from column to column.
export function columnSamples(viewport, columns, c, total) {
  const perColumn = viewport.width / columns;
  const first = Math.floor(viewport.start + c * perColumn);
  let last = Math.floor(viewport.start + (c + 1) * perColumn);
  if (last <= first) last = first + 1;
  return [Math.min(first, total - 1), Math.min(last, total - 1)];
}

export class AnalogueTrace {
  constructor(name) {
    this.name = name;
  }

  // y (device pixels) of a code of this channel.
  static y(v, channel, code) {
    const a = v.analogueArea;
    return (a.top + a.bottom) / 2 - divisionsOf(channel, valueOf(channel, code)) * a.division;
  }

  // Draws `samples` (AnalogueSamples) in `colour`; `alpha` for the dim reference traces.
  draw(g, v, samples = v.sampler?.analogue[this.name], colour = null, alpha = 1) {
    const channel = v.channel(this.name);
    const a = v.analogueArea;
    if (!samples || !channel || !channel.on || !a) return;
    const p = v.plot;
    const columns = p.right - p.left;
    const vp = v.viewport;
    const total = samples.length;
    g.save();
    g.beginPath();
    g.rect(p.left, a.top, columns, a.bottom - a.top);
    g.clip();
    g.globalAlpha = alpha;
    g.fillStyle = colour || channel.colour;
    g.strokeStyle = colour || channel.colour;
    const centre = (a.top + a.bottom) / 2;
    // y = centre - (value(code) - zero) / per_div * division: linear in the code.
    const y0 = AnalogueTrace.y(v, channel, 0);
    const slope = AnalogueTrace.y(v, channel, 1) - y0;
    if (vp.width / columns >= 1) {
      let runTop = 0, runBottom = 0, runStart = 0;
      for (let c = 0; c <= columns; ++c) {
        let top = -1, bottom = -1;
        if (c < columns) {
          const [first, last] = columnSamples(vp, columns, c, total);
          samples.extent(first, last + 1, extent);
          const ya = Math.round(y0 + slope * extent[0]), yb = Math.round(y0 + slope * extent[1]);
          top = Math.min(ya, yb);
          bottom = Math.max(ya, yb);
        }
        if (c === columns || top !== runTop || bottom !== runBottom) {
          if (c > runStart) g.fillRect(p.left + runStart, runTop, c - runStart, runBottom - runTop + 1);
          runStart = c;
          runTop = top;
          runBottom = bottom;
        }
      }
    } else {
      const perPixel = columns / vp.width;
      const first = Math.max(0, Math.floor(vp.start) - 1);
      const last = Math.min(total - 1, Math.ceil(vp.start + vp.width) + 1);
      g.lineWidth = v.ratio;
      g.beginPath();
      for (let k = first; k <= last; ++k) {
        const x = p.left + (k + 0.5 - vp.start) * perPixel;
        const y = y0 + slope * samples.values[k];
        if (k === first) g.moveTo(x, y); else g.lineTo(x, y);
      }
      g.stroke();
      if (perPixel >= 6) {
        const r = 1.5 * v.ratio;
        for (let k = first; k <= last; ++k) g.fillRect(p.left + (k + 0.5 - vp.start) * perPixel - r, y0 + slope * samples.values[k] - r, 2 * r, 2 * r);
      }
    }
    g.restore();
    void centre;
  }

  // The channel's name and scale at the left of the plot, at its zero.
  // labels: the heights of the labels drawn before, kept apart from this one.
  drawLabel(g, v, labels = []) {
    const channel = v.channel(this.name);
    const a = v.analogueArea;
    if (!channel || !channel.on || !a) return;
    const s = v.ratio;
    let y = Math.min(a.bottom - 6 * s, Math.max(a.top + 6 * s, AnalogueTrace.y(v, channel, channel.zero_code)));
    for (let n = 0; n < 8 && labels.some((other) => Math.abs(other - y) < 13 * s); ++n) y += y + 13 * s < a.bottom ? 13 * s : -13 * s;
    labels.push(y);
    const x = v.plot.left;
    g.fillStyle = channel.colour;
    g.beginPath();
    g.moveTo(x - 1 * s, y);
    g.lineTo(x - 9 * s, y - 6 * s);
    g.lineTo(x - 9 * s, y + 6 * s);
    g.fill();
    g.font = `bold ${11 * s}px "Liberation Sans", sans-serif`;
    g.textAlign = 'right';
    g.textBaseline = 'middle';
    g.fillText(channel.label.slice(0, 2), x - 11 * s, y);
  }

  scaleText(v) {
    const channel = v.channel(this.name);
    if (!channel || !channel.on) return null;
    const per = channel.volts_per_code === null ? `${+channel.per_div.toPrecision(4)} codes` : formatValue(channel, channel.per_div, 3);
    return { text: `${channel.label} ${per}/div`, colour: channel.colour };
  }
}

export class LogicLanes {
  // The lanes' top and height in device pixels for `inputs` lanes in the area given.
  draw(g, v, samples = v.sampler?.logic, alpha = 1) {
    const area = v.lanesArea;
    if (!samples || !area) return;
    const p = v.plot;
    const columns = p.right - p.left;
    const vp = v.viewport;
    const lanes = samples.inputs;
    const lane = (area.bottom - area.top) / lanes;
    const total = samples.length;
    const lw = Math.max(1, Math.round(v.ratio));
    // Segments of the plot, each with the inputs high somewhere in it and those high throughout.
    const xs = [], anys = [], alls = [];
    if (vp.width / columns >= 1) {
      for (let c = 0; c < columns; ++c) {
        const [first, last] = columnSamples(vp, columns, c, total);
        samples.extent(first, last + 1, extent);
        xs.push(p.left + c);
        anys.push(extent[0]);
        alls.push(extent[1]);
      }
      xs.push(p.right);
    } else {
      const perPixel = columns / vp.width;
      const first = Math.max(0, Math.floor(vp.start));
      const last = Math.min(total - 1, Math.ceil(vp.start + vp.width));
      for (let k = first; k <= last; ++k) {
        xs.push(Math.max(p.left, Math.round(p.left + (k - vp.start) * perPixel)));
        anys.push(samples.words[k]);
        alls.push(samples.words[k]);
      }
      xs.push(Math.min(p.right, Math.round(p.left + (last + 1 - vp.start) * perPixel)));
    }
    g.save();
    // Each lane's runs as four paths (high, low, changing, edges), filled once each.
    for (let n = 0; n < lanes; ++n) {
      const top = Math.round(area.top + n * lane);
      const high = Math.round(top + lane * 0.2), low = Math.round(top + lane * 0.8) - lw;
      const bit = 1 << n;
      const lines = new Path2D(), changing = new Path2D();
      let state = -1, start = 0;
      const flush = (end) => {
        if (end <= start || state < 0) return;
        const w = xs[end] - xs[start];
        if (state !== 0) lines.rect(xs[start], high, w, lw);
        if (state !== 1) lines.rect(xs[start], low, w, lw);
        if (state === 2) changing.rect(xs[start], high, w, low - high + lw);
      };
      for (let i = 0; i < anys.length; ++i) {
        const s = (alls[i] & bit) ? 1 : (anys[i] & bit) ? 2 : 0;
        if (s !== state) {
          flush(i);
          if (state >= 0) lines.rect(xs[i], high, lw, low - high + lw);   // the edge between
          state = s;
          start = i;
        }
      }
      flush(anys.length);
      g.fillStyle = v.logicChannel(n).colour;
      g.globalAlpha = alpha * 0.45;
      g.fill(changing);
      g.globalAlpha = alpha;
      g.fill(lines);
    }
    g.restore();
  }

  drawLabels(g, v, inputs) {
    const area = v.lanesArea;
    if (!area) return;
    const lane = (area.bottom - area.top) / inputs;
    const s = v.ratio;
    g.font = `${Math.min(12, Math.max(9, lane / s - 4)) * s}px "Liberation Sans", sans-serif`;
    g.textAlign = 'right';
    g.textBaseline = 'middle';
    for (let n = 0; n < inputs; ++n) {
      const c = v.logicChannel(n);
      g.fillStyle = c.colour;
      g.fillText(c.label.slice(0, 8), v.plot.left - 4 * s, area.top + (n + 0.5) * lane);
    }
  }
}

// What the scope view keeps of earlier captures, for the view only (no capture is made or
// changed): persistence, the last N captures' traces drawn over each other with the older
// fainter, or every capture since it was cleared; and averaging, the mean of the last N
// captures drawn as the trace.

import { AnalogueSamples } from './sampler.js';
import { columnSamples } from './traces.js';

export const MOST_PERSISTED = 1000;
export const MOST_AVERAGED = 32;

// Persistence keeps, for each capture, the top and bottom pixel of each column of each
// analogue trace in the view as it was drawn; a change of the view (span, size, scales) starts
// it again, as a scope's persistence clears when its time base changes.
export class Persistence {
  constructor() {
    this.count = 0;          // captures to keep; 0 off, Infinity until cleared
    this.entries = [];       // [{channel index: {top: Int16Array, bottom: Int16Array}}]
    this.key = '';
    this.hits = null;        // Infinity: Float32Array per channel of the columns' pixels hit
    this.image = null;       // the layer drawn, a canvas; null when it must be made again
    this.added = new Set();  // the captures already in it
  }

  clear() {
    this.entries = [];
    this.hits = null;
    this.image = null;
    this.added = new Set();
  }

  setCount(count) {
    this.count = count;
    this.clear();
  }

  // The columns of each trace of a capture in view v.
  add(v, id) {
    if (!this.count || !v.sampler || this.added.has(id)) return;
    const key = v.layerKey();
    if (key !== this.key) {
      this.clear();
      this.key = key;
    }
    this.added.add(id);
    const p = v.plot, a = v.analogueArea;
    if (!a) return;
    const columns = p.right - p.left;
    const entry = [];
    const out = [0, 0];
    v.analogueNames().forEach((name, i) => {
      const c = v.channel(name), samples = v.sampler.analogue[name];
      if (!c.on || !samples) return;
      const top = new Int16Array(columns), bottom = new Int16Array(columns);
      const y0 = v.yOfCode(name, 0), slope = v.yOfCode(name, 1) - y0;
      for (let x = 0; x < columns; ++x) {
        const [first, last] = columnSamples(v.viewport, columns, x, samples.length);
        samples.extent(first, last + 1, out);
        const ya = Math.round(y0 + slope * out[0]) - a.top, yb = Math.round(y0 + slope * out[1]) - a.top;
        top[x] = Math.min(ya, yb);
        bottom[x] = Math.max(ya, yb);
      }
      entry[i] = { top, bottom, colour: c.colour };
    });
    const height = Math.round(a.bottom - a.top);
    if (this.count === Infinity) {
      if (!this.hits) this.hits = [];
      entry.forEach((e, i) => {
        if (!e) return;
        const hits = this.hits[i] || (this.hits[i] = { counts: new Float32Array(columns * (height + 1)), colour: e.colour });
        this.spread(hits.counts, e, 1, height);
      });
    } else {
      this.entries.push(entry);
      while (this.entries.length > this.count) this.entries.shift();
    }
    this.image = null;
  }

  // Adds weight w to each column's span of pixels, as differences down the column.
  spread(counts, e, w, height) {
    const columns = e.top.length;
    for (let x = 0; x < columns; ++x) {
      const t = Math.max(0, Math.min(height, e.top[x])), b = Math.max(-1, Math.min(height - 1, e.bottom[x]));
      if (b < t) continue;
      counts[x * (height + 1) + t] += w;
      counts[x * (height + 1) + b + 1] -= w;
    }
  }

  // The layer over the analogue area: each channel's colour, as bright as the captures that
  // passed through the pixel, the newest counting most.
  draw(g, v) {
    if (!this.count || (!this.entries.length && !this.hits) || this.key !== v.layerKey()) return;
    const p = v.plot, a = v.analogueArea;
    const columns = p.right - p.left, height = Math.round(a.bottom - a.top);
    if (!this.image) {
      const layers = [];
      if (this.hits) {
        for (const h of this.hits) if (h) layers.push({ counts: h.counts.slice(), colour: h.colour, scale: 0.5 });
      } else {
        const n = this.entries.length;
        for (let age = 0; age < n; ++age) {
          const entry = this.entries[n - 1 - age];
          const w = (this.count - age) / this.count;   // the newest 1, fading to 1/N
          entry.forEach((e, i) => {
            if (!e) return;
            const layer = layers[i] || (layers[i] = { counts: new Float32Array(columns * (height + 1)), colour: e.colour, scale: 0.6 });
            this.spread(layer.counts, e, w, height);
          });
        }
      }
      const image = new ImageData(columns, height);
      const data = image.data;
      for (const layer of layers) {
        if (!layer) continue;
        const rgb = [1, 3, 5].map((i) => parseInt(layer.colour.slice(i, i + 2), 16));
        const counts = layer.counts;
        for (let x = 0; x < columns; ++x) {
          let sum = 0;
          const base = x * (height + 1);
          for (let y = 0; y < height; ++y) {
            sum += counts[base + y];
            if (sum <= 1e-6) continue;
            const level = Math.min(1, 0.15 + sum * layer.scale);
            const at = (y * columns + x) * 4;
            data[at] = Math.max(data[at], rgb[0] * level);
            data[at + 1] = Math.max(data[at + 1], rgb[1] * level);
            data[at + 2] = Math.max(data[at + 2], rgb[2] * level);
            data[at + 3] = 255;
          }
        }
      }
      this.image = document.createElement('canvas');
      this.image.width = columns;
      this.image.height = height;
      this.image.getContext('2d').putImageData(image, 0, 0);
    }
    g.drawImage(this.image, p.left, a.top);
  }
}

// The mean of the last N captures of the same mode, per analogue channel.
export class Averager {
  constructor() {
    this.count = 0;          // 0: off
    this.kept = [];          // [{id, codes: {name: Uint8Array}}]
    this.key = '';
    this.mean = null;        // {name: AnalogueSamples}
    this.meanOf = '';
  }

  setCount(count) {
    this.count = count;
    this.kept = [];
    this.mean = null;
    this.meanOf = '';
  }

  add(sampler, id) {
    if (!this.count || !sampler) return;
    const key = `${sampler.layout.mode}:${sampler.length}`;
    if (key !== this.key) {
      this.kept = [];
      this.key = key;
    }
    if (this.kept.some((k) => k.id === id)) return;
    const codes = {};
    for (const [name, s] of Object.entries(sampler.analogue)) codes[name] = s.values;
    this.kept.push({ id, codes });
    while (this.kept.length > this.count) this.kept.shift();
    this.mean = null;
  }

  // The averaged samples of each channel, or null while off.
  samples() {
    if (!this.count || !this.kept.length) return null;
    const of = this.kept.map((k) => k.id).join(',');
    if (this.mean && this.meanOf === of) return this.mean;
    const mean = {};
    for (const name of Object.keys(this.kept[0].codes)) {
      const n = this.kept[0].codes[name].length;
      const sum = new Float32Array(n);
      for (const k of this.kept) {
        const c = k.codes[name];
        for (let i = 0; i < n; ++i) sum[i] += c[i];
      }
      const share = 1 / this.kept.length;
      for (let i = 0; i < n; ++i) sum[i] *= share;
      mean[name] = new AnalogueSamples(sum);
    }
    this.mean = mean;
    this.meanOf = of;
    return mean;
  }
}

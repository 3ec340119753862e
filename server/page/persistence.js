// What the scope view keeps of earlier captures, for the view only (no capture is made or
// changed): persistence, the last N captures' traces drawn over each other with the older
// fainter, or every capture since it was cleared; and averaging, the mean of the last N
// captures drawn as the trace.

import { AnalogueSamples } from './sampler.js';

export const MOST_PERSISTED = 1000;
export const MOST_AVERAGED = 32;

// Persistence draws each capture's traces, as the view shows them, into layers kept over the
// analogue area; a change of the view (span, size, scales) starts it again, as a scope's
// persistence clears when its time base changes. The last N captures are kept in up to five
// layers of N/5 captures each: the newest layer at full strength, the older ones fainter, the
// oldest dropped whole when a new one begins; so the last N to N + N/5 captures show, fading
// in five steps. Every capture since the last clear, when N is infinite. Drawing a frame costs
// two layers, whatever N is.
const LAYERS = 5;
const EACH = 0.3;        // the strength of one capture in a layer; captures over one another add up

export class Persistence {
  constructor() {
    this.count = 0;          // captures to keep; 0 off, Infinity until cleared
    this.key = '';
    this.layers = [];        // canvases, the newest last
    this.inNewest = 0;       // captures in the newest layer
    this.older = null;       // the layers before the newest, faded and drawn together; null: to be made
    this.added = new Set();  // the captures in it
    this.captures = 0;       // captures shown, for the figures
  }

  clear() {
    this.layers = [];
    this.inNewest = 0;
    this.older = null;
    this.added = new Set();
    this.captures = 0;
  }

  setCount(count) {
    this.count = count;
    this.clear();
  }

  perLayer() {
    return this.count === Infinity ? Infinity : Math.ceil(this.count / Math.min(LAYERS, this.count));
  }

  newLayer(width, height) {
    const kept = this.count === Infinity ? 1 : Math.min(LAYERS, this.count);
    const layer = this.layers.length >= kept ? this.layers.shift() : document.createElement('canvas');
    layer.width = width;    // also clears it
    layer.height = height;
    this.layers.push(layer);
    this.inNewest = 0;
    this.older = null;
  }

  // Adds a capture's traces in view v (drawTraces(g, alpha) draws them in plot coordinates).
  add(v, id, drawTraces) {
    if (!this.count || !v.sampler || this.added.has(id) || !v.analogueArea) return;
    const key = v.layerKey();
    if (key !== this.key) {
      this.clear();
      this.key = key;
    }
    this.added.add(id);
    if (this.added.size > 4 * this.count + 10) this.added = new Set([id]);
    const p = v.plot, a = v.analogueArea;
    const width = p.right - p.left, height = Math.round(a.bottom - a.top);
    if (!this.layers.length || this.inNewest >= this.perLayer()) this.newLayer(width, height);
    const g = this.layers[this.layers.length - 1].getContext('2d');
    g.setTransform(1, 0, 0, 1, -p.left, -Math.round(a.top));
    drawTraces(g, this.count === Infinity ? 0.12 : EACH);
    ++this.inNewest;
    this.captures = Math.min(this.count, this.captures + 1);
  }

  draw(g, v) {
    if (!this.count || !this.layers.length || this.key !== v.layerKey()) return;
    const p = v.plot, top = Math.round(v.analogueArea.top);
    const newest = this.layers[this.layers.length - 1];
    if (this.layers.length > 1) {
      if (!this.older) {
        this.older = document.createElement('canvas');
        this.older.width = newest.width;
        this.older.height = newest.height;
        const o = this.older.getContext('2d');
        const n = this.layers.length;
        this.layers.slice(0, -1).forEach((layer, i) => {
          o.globalAlpha = (i + 1) / n;   // the oldest faintest
          o.drawImage(layer, 0, 0);
        });
      }
      g.drawImage(this.older, p.left, top);
    }
    g.drawImage(newest, p.left, top);
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

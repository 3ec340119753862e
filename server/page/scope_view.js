// The scope view: a canvas at the screen's pixel ratio, drawn in the page from a capture's
// bytes. It lays out the plot, holds the items that draw themselves (the ruler and graticule,
// the traces, the logic lanes, the trigger markers, the cursors), hands the pointer to the item
// under it, and otherwise to the viewport: drag pans, the wheel zooms at the pointer, two
// fingers pinch, Shift-drag draws a box to zoom to, a double click or double tap shows the
// whole capture. Every change asks for one frame.

import { Viewport } from './viewport.js';
import { Ruler, DIVISIONS_DOWN } from './ruler.js';
import { AnalogueTrace, LogicLanes, columnSamples } from './traces.js';
import { Cursors } from './cursors.js';
import { TriggerMarkers } from './trigger_markers.js';
import { Persistence, Averager } from './persistence.js';
import { complete, scaled } from './channels.js';
import { DecodeRows } from './decode_rows.js';
import { AnalogueSamples } from './sampler.js';
import { parseMath, computeMath, mathUses, mathReach, MATH_COLOUR } from './math.js';

const MARGIN = { left: 58, narrow: 30, right: 20, top: 32, bottom: 18 };   // CSS pixels

export class ScopeView {
  // host: {triggerSettings(), triggerTakes(settings), setTrigger(change) -> refusal, onFrame(view), onCursors(view)}
  constructor(root, host) {
    this.root = root;
    this.host = host;
    this.canvas = root.querySelector('canvas');
    this.g = this.canvas.getContext('2d');
    this.ratio = 1;
    this.capture = null;
    this.sampler = null;
    this.layout = null;
    this.rate = 0;
    this.trigger = 0;              // the sample at t = 0: the capture's pre-trigger samples
    this.channels = complete(null);
    this.references = [];          // [{id, sampler}] drawn dim behind
    this.frames = 0;
    this.frameMs = 0;
    this.inputAt = null;           // the time stamp of the input the next frame answers
    this.captureAt = null;         // when the capture the next frame draws was handed over
    this.log = [];                 // the last frames: {ms: drawing, input: from the input, persisted}
    this.viewport = new Viewport(() => this.changed());
    this.ruler = new Ruler();
    this.traces = { A: new AnalogueTrace('A'), B: new AnalogueTrace('B'), M: new AnalogueTrace('M') };
    this.mathText = '';            // the math expression asked for
    this.math = null;              // {channel, samples} of M for the capture shown, or null
    this.lanes = new LogicLanes();
    this.cursors = new Cursors(() => { this.invalidate(); this.host.onCursors(this); });
    this.markers = new TriggerMarkers((change) => this.host.setTrigger(change), () => this.invalidate());
    this.persistence = new Persistence();
    this.averager = new Averager();
    this.decoded = new DecodeRows();
    this.box = null;
    this.pending = false;
    this.listen();
    new ResizeObserver(() => this.resize()).observe(root);
    this.resize();
  }

  // ---- What is shown ----

  setCapture(capture, sampler) {
    this.captureAt = performance.now();
    this.capture = capture;
    this.sampler = sampler;
    this.layout = sampler.layout;
    this.rate = this.layout.rate;
    const pretrigger = Number(this.layout.header?.pretrigger) || 0;
    this.trigger = Math.max(0, Math.min(this.layout.samples - 1, pretrigger));
    const total = this.layout.samples;
    if (total !== this.viewport.total) this.persistence.clear();
    this.viewport.setTotal(total);
    this.layoutPlot();
    this.averager.add(sampler, capture.id);
    this.computeMath();
    this.persist();
    this.invalidate();
    this.drawNow();
  }

  // The capture shown, into the persistence layers.
  persist() {
    if (!this.capture) return;
    this.persistence.add(this, this.capture.id, (g, alpha) => {
      for (const name of this.analogueNames()) this.traces[name].draw(g, this, this.sampler.analogue[name], null, alpha);
    });
  }

  // The decoded annotations shown in rows under the plot (the answer of /decode), or null.
  setDecoded(result) {
    this.decoded.set(result);
    this.layoutPlot();
    this.invalidate();
  }

  setChannels(channels) {
    this.channels = complete(channels);
    this.computeMath();
    this.invalidate();
  }

  channel(name) {
    if (name === 'M') return this.math?.channel;
    return this.channels.analogue.find((c) => c.id === name);
  }

  // The math channel M of an expression ('' for none): answers why it cannot be had, or null.
  setMath(text) {
    this.mathText = text.trim();
    const why = this.computeMath();
    this.layoutPlot();
    this.invalidate();
    return why;
  }

  // M from the samples shown (the average while averaging), as the server computes it: on values
  // relative to each channel's zero, in the channels' unit where every channel it takes has a scale.
  computeMath() {
    this.math = null;
    if (!this.mathText) return null;
    const op = parseMath(this.mathText);
    if (!op) return `Math: '${this.mathText}' is not a math expression; use one of A+B, A-B, B-A, A*B, -A, -B, (A+B)/2`;
    if (!this.sampler) return null;
    const uses = mathUses(op);
    const a = this.shownSamples('A'), b = this.shownSamples('B');
    if ((uses.a && !a) || (uses.b && !b)) return `Math: ${op} needs channel${uses.a && uses.b ? 's A and B' : uses.a ? ' A' : ' B'}`;
    const ca = this.channel('A'), cb = this.channel('B');
    const units = [uses.a && ca, uses.b && cb].filter(Boolean);
    const inUnits = units.every((c) => scaled(c));
    const scale = (c) => (inUnits && scaled(c) ? { perCode: c.volts_per_code * c.probe, zero: c.zero_code } : { perCode: 1, zero: 128 });
    const values = computeMath(op, a?.values, b?.values, scale(ca), scale(cb));
    const reach = mathReach(op, scale(ca).perCode, scale(cb).perCode);
    this.math = {
      op,
      samples: new AnalogueSamples(values),
      channel: { id: 'M', label: 'M', colour: MATH_COLOUR, on: true, volts_per_code: inUnits ? 1 : null, zero_code: 0, probe: 1,
        unit: inUnits ? (op === 'A*B' ? `${units[0].unit}²` : units[0].unit) : 'codes', per_div: reach / 4, position: 0 },
    };
    return null;
  }

  logicChannel(n) {
    return this.channels.logic[n] || { label: `D${n}`, colour: '#e8e8e8' };
  }

  analogueNames() {
    if (!this.layout) return [];
    const names = this.layout.analogue.filter((n) => this.traces[n]);
    return this.math ? [...names, 'M'] : names;
  }

  // The samples a channel's trace and readouts show: the average while averaging, else the capture's.
  shownSamples(name) {
    if (name === 'M') return this.math?.samples;
    const mean = this.averager.samples();
    return (mean && mean[name] && mean[name].length === this.sampler?.analogue[name]?.length) ? mean[name] : this.sampler?.analogue[name];
  }

  triggerSettings() { return this.host.triggerSettings(); }

  triggerTakes(s) { return this.host.triggerTakes(s); }

  // Whatever decides where persisted columns fall: a change starts persistence again.
  layerKey() {
    const vp = this.viewport;
    const scales = this.channels.analogue.map((c) => `${c.on}${c.per_div}/${c.position}/${c.volts_per_code}/${c.zero_code}/${c.probe}/${c.colour}`);
    return `${vp.start},${vp.width},${this.canvas.width}x${this.canvas.height},${scales}`;
  }

  // ---- Geometry, in device pixels ----

  resize() {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(200, this.root.clientWidth);
    const height = Math.max(160, this.root.clientHeight);
    this.ratio = ratio;
    this.canvas.width = Math.round(width * ratio);
    this.canvas.height = Math.round(height * ratio);
    this.canvas.style.width = `${width}px`;
    this.canvas.style.height = `${height}px`;
    this.layoutPlot();
    this.invalidate();
  }

  layoutPlot() {
    const s = this.ratio;
    const inputs = this.layout ? this.layout.inputs : 0;
    const plot = {
      left: Math.round((inputs ? MARGIN.left : MARGIN.narrow) * s), top: Math.round(MARGIN.top * s),
      right: this.canvas.width - Math.round(MARGIN.right * s),
      bottom: this.canvas.height - Math.round(MARGIN.bottom * s) - this.decoded.height(s, this.canvas.height),
    };
    this.rowsTop = plot.bottom + Math.round(MARGIN.bottom * s);
    this.plot = plot;
    const analogue = this.analogueNames().some((n) => this.channel(n)?.on);
    const height = plot.bottom - plot.top;
    let split = plot.bottom;
    if (inputs && analogue) split = plot.top + Math.round(height * 0.58);
    else if (inputs) split = plot.top;
    this.analogueArea = analogue ? { top: plot.top, bottom: split, division: (split - plot.top) / DIVISIONS_DOWN } : null;
    this.lanesArea = inputs ? { top: split + (analogue ? 2 * s : 0), bottom: plot.bottom } : null;
  }

  xOf(k) {
    return this.plot.left + this.viewport.fraction(k) * (this.plot.right - this.plot.left);
  }

  sampleAtX(x) {
    const f = (x - this.plot.left) / (this.plot.right - this.plot.left);
    return Math.max(0, Math.min(this.viewport.total - 1e-9, this.viewport.sampleAt(f)));
  }

  yOfCode(name, code) {
    return AnalogueTrace.y(this, this.channel(name), code);
  }

  // ---- Frames ----

  changed() {
    this.invalidate();
    this.host.onSpan?.(this);
  }

  invalidate() {
    this.dirty = true;
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      if (this.dirty) this.frame();
    });
  }

  // What the user's input changed, drawn at once rather than at the next animation frame:
  // the browser delivers continuous input once a frame, so this is still a frame each.
  drawNow() {
    if (this.dirty) this.frame();
  }

  frame() {
    if (this.root.closest('[hidden]')) return;   // drawn when shown again (resize)
    this.dirty = false;
    const started = performance.now();
    this.draw(this.g);
    const ended = performance.now();
    this.frameMs = ended - started;
    ++this.frames;
    this.log.push({ ms: this.frameMs, input: this.inputAt === null ? null : ended - this.inputAt,
      handled: this.inputAt === null ? null : ended - this.handledAt,
      persisted: this.persistence.captures, capture: this.captureAt === null ? null : ended - this.captureAt });
    this.captureAt = null;
    if (this.log.length > 2000) this.log.splice(0, 1000);
    this.inputAt = null;
    this.host.onFrame?.(this);
  }

  draw(g) {
    const s = this.ratio;
    this.layoutPlot();
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.fillStyle = '#161b22';
    g.fillRect(0, 0, this.canvas.width, this.canvas.height);
    this.ruler.draw(g, this);
    if (!this.sampler) return;
    if (this.analogueArea) this.persistence.draw(g, this);
    const names = this.analogueNames();
    for (const ref of this.references) {
      if (ref.sampler.length !== this.sampler.length) continue;
      for (const name of names) this.traces[name].draw(g, this, ref.sampler.analogue[name], '#9aa4b1', 0.45);
      if (ref.sampler.logic && this.lanesArea) this.lanes.draw(g, this, ref.sampler.logic, 0.3);
    }
    for (const name of names) this.traces[name].draw(g, this, this.shownSamples(name));
    if (this.lanesArea) {
      this.lanes.draw(g, this);
      this.lanes.drawLabels(g, this, this.layout.inputs);
    }
    const labels = [];
    for (const name of names) this.traces[name].drawLabel(g, this, labels);
    this.drawScales(g, s);
    this.decoded.draw(g, this, this.rowsTop);
    this.markers.draw(g, this);
    this.cursors.draw(g, this);
    if (this.box) {
      g.fillStyle = 'rgba(110,168,255,0.18)';
      g.strokeStyle = '#6ea8ff';
      const x = Math.min(this.box.x0, this.box.x1) * s, w = Math.abs(this.box.x1 - this.box.x0) * s;
      g.fillRect(x, this.plot.top, w, this.plot.bottom - this.plot.top);
      g.strokeRect(x + 0.5, this.plot.top + 0.5, w, this.plot.bottom - this.plot.top - 1);
    }
  }

  // The time base and each channel's scale, along the top.
  drawScales(g, s) {
    const parts = [{ text: this.ruler.timeBaseText(this), colour: '#e6edf3' }];
    for (const name of this.analogueNames()) {
      const t = this.traces[name].scaleText(this);
      if (t) parts.push(t);
    }
    if (this.averager.count && this.averager.kept.length) parts.push({ text: `average of ${this.averager.kept.length}`, colour: '#9aa4b1' });
    g.font = `${12 * s}px "Liberation Sans", sans-serif`;
    g.textBaseline = 'top';
    g.textAlign = 'left';
    let x = this.plot.left;
    for (const p of parts) {
      const w = g.measureText(p.text).width;
      if (x + w > this.canvas.width - 4 * s) break;
      g.fillStyle = p.colour;
      g.fillText(p.text, x, 3 * s);
      x += w + 14 * s;
    }
  }

  // ---- Pointer, wheel and keys ----

  point(event) {
    const box = this.canvas.getBoundingClientRect();
    return { x: event.clientX - box.left, y: event.clientY - box.top };
  }

  fractionAt(x) {
    return (x * this.ratio - this.plot.left) / (this.plot.right - this.plot.left);
  }

  // The wheel's steps fall on a grid of spans (the whole capture over 2^(n/4)), so that a
  // step in and a step out at the same place come back to the same span.
  wheelZoom(f, inwards) {
    const vp = this.viewport;
    const n = 4 * Math.log2(vp.total / vp.width);
    const next = inwards ? Math.floor(n + 1e-6) + 1 : Math.ceil(n - 1e-6) - 1;
    vp.zoomAt(Math.max(0, Math.min(1, f)), vp.width / (vp.total / 2 ** (next / 4)));
  }

  listen() {
    const c = this.canvas;
    const stamp = (event) => {
      if (this.inputAt !== null) return;
      this.inputAt = event.timeStamp;
      this.handledAt = performance.now();
    };
    const kinds = ['pointerdown', 'pointermove', 'pointerup', 'wheel', 'keydown'];
    for (const kind of kinds) c.addEventListener(kind, stamp, { capture: true });
    // Listened to after every handler below: the input's frame drawn at once.
    queueMicrotask(() => {
      for (const kind of kinds) {
        c.addEventListener(kind, () => {
          if (this.dirty) this.drawNow();
          else this.inputAt = null;   // an input that changed nothing: no frame answers it
        });
      }
    });
    const pointers = new Map();
    let gesture = null;
    let lastTap = null;
    c.addEventListener('pointerdown', (event) => {
      if (!this.sampler) return;
      c.focus();
      const p = this.point(event);
      pointers.set(event.pointerId, p);
      c.setPointerCapture(event.pointerId);
      event.preventDefault();
      if (pointers.size === 2) {
        const [a, b] = [...pointers.values()];
        gesture = { kind: 'pinch', from: { start: this.viewport.start, width: this.viewport.width },
          ids: [...pointers.keys()], a0: this.fractionAt(a.x), b0: this.fractionAt(b.x) };
        return;
      }
      if (pointers.size > 2 || event.button !== 0) return;
      const item = this.markers.grab(this, p.x, p.y) || this.cursors.grab(this, p.x, p.y);
      if (item) gesture = { kind: 'item', item };
      else if (event.shiftKey) gesture = { kind: 'box', x0: p.x };
      else gesture = { kind: 'pan', x: p.x, moved: 0, down: p, time: performance.now() };
    });
    c.addEventListener('pointermove', (event) => {
      const p = this.point(event);
      if (pointers.has(event.pointerId)) pointers.set(event.pointerId, p);
      if (!gesture) {
        const over = this.sampler && (this.markers.grab(this, p.x, p.y) || this.cursors.grab(this, p.x, p.y));
        c.style.cursor = over ? over.cursor : '';
        this.host.onHover?.(this, p);
        return;
      }
      if (gesture.kind === 'pinch') {
        const [a, b] = gesture.ids.map((id) => pointers.get(id));
        if (a && b) this.viewport.pinch(gesture.from, gesture.a0, gesture.b0, this.fractionAt(a.x), this.fractionAt(b.x));
      } else if (gesture.kind === 'item') {
        gesture.item.move(p.x, p.y);
      } else if (gesture.kind === 'box') {
        this.box = { x0: gesture.x0, x1: p.x };
        this.invalidate();
      } else if (gesture.kind === 'pan') {
        const dx = p.x - gesture.x;
        gesture.moved += Math.abs(dx);
        gesture.x = p.x;
        if (dx) this.viewport.panBy(dx * this.ratio, this.plot.right - this.plot.left);
      }
    });
    const end = (event) => {
      const p = this.point(event);
      pointers.delete(event.pointerId);
      if (!gesture) return;
      if (gesture.kind === 'pinch') {
        if (pointers.size === 0) gesture = null;
        return;
      }
      if (gesture.kind === 'item') gesture.item.end?.(p.x, p.y);
      if (gesture.kind === 'box' && this.box) {
        const f1 = this.fractionAt(this.box.x0), f2 = this.fractionAt(this.box.x1);
        this.box = null;
        if (Math.abs(f2 - f1) * (this.plot.right - this.plot.left) > 4) this.viewport.zoomTo(Math.max(0, f1), Math.min(1, f2));
        this.invalidate();
      }
      if (gesture.kind === 'pan' && gesture.moved < 4 && event.type === 'pointerup') {
        // A double tap (fingers, pen or mouse) shows everything.
        const now = performance.now();
        if (lastTap && now - lastTap.time < 350 && Math.hypot(p.x - lastTap.x, p.y - lastTap.y) < 24) {
          this.viewport.whole();
          lastTap = null;
        } else lastTap = { time: now, x: p.x, y: p.y };
      }
      gesture = null;
    };
    c.addEventListener('pointerup', end);
    c.addEventListener('pointercancel', end);
    c.addEventListener('pointerleave', () => this.host.onHover?.(this, null));
    c.addEventListener('wheel', (event) => {
      if (!this.sampler) return;
      event.preventDefault();
      const p = this.point(event);
      if (event.shiftKey || Math.abs(event.deltaX) > Math.abs(event.deltaY)) {
        const d = event.deltaX || event.deltaY;
        this.viewport.panBy(-d * this.ratio, this.plot.right - this.plot.left);
      } else if (event.deltaY) {
        this.wheelZoom(this.fractionAt(p.x), event.deltaY < 0);
      }
    }, { passive: false });
    c.addEventListener('keydown', (event) => {
      const vp = this.viewport, w = this.plot.right - this.plot.left;
      const keys = {
        '+': () => vp.zoomIn(), '=': () => vp.zoomIn(), '-': () => vp.zoomOut(),
        ArrowLeft: () => vp.panBy(w / 10, w), ArrowRight: () => vp.panBy(-w / 10, w), Home: () => vp.whole(),
      };
      const action = keys[event.key] || (event.code === 'NumpadAdd' ? keys['+'] : event.code === 'NumpadSubtract' ? keys['-'] : null);
      if (action && this.sampler) {
        event.preventDefault();
        action();
      }
    });
  }

  // ---- For tests (read only) ----

  // The samples column x (CSS pixels from the canvas's left) covers, inclusive.
  columnAt(x) {
    const c = Math.floor(x * this.ratio) - this.plot.left;
    return columnSamples(this.viewport, this.plot.right - this.plot.left, c, this.viewport.total);
  }
}

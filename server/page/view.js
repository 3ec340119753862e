// The view: the window's own paint of a capture, drawn by the server at the size of the
// browser's area, with zoom and pan as the window steps them, a typed range, View Mode and the
// preferences; over it the cursors and the readout under the mouse; under it the rows of
// decoded annotations, drawn by the server as render --decode draws them. Only the newest
// picture asked for is shown.

import { seconds, withPrefix } from './capture.js';

const CURSOR_COLOURS = { t1: '#e07000', t2: '#b0108a', v1: '#00808a', v2: '#00808a' };

// A canvas of width x height CSS pixels at the screen's pixel ratio, cleared; its context
// draws in CSS pixels.
function fitCanvas(c, width, height) {
  const ratio = window.devicePixelRatio || 1;
  c.width = Math.round(width * ratio);
  c.height = Math.round(height * ratio);
  c.style.width = `${width}px`;
  c.style.height = `${height}px`;
  const g = c.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, width, height);
  return g;
}

export class View {
  constructor(root, callbacks) {
    this.root = root;                 // the element the picture fills
    this.picture = root.querySelector('img');
    this.overlay = root.querySelector('canvas');
    this.empty = root.querySelector('.empty');
    this.rowsImage = document.getElementById('rows');
    this.callbacks = callbacks;       // onRange(view), onError(message), onHover(text), onCursors(view)
    this.id = null;                   // the capture shown
    this.capture = null;              // its bytes, once loaded (for readouts)
    this.layout = null;               // the capture's layout under the view mode (capture.js)
    this.stored = null;               // the range as the server keeps it ("a:b"), null: the whole capture
    this.shown = null;                // {start, end}: the samples the picture shows
    this.areas = [];                  // the plot areas, in CSS pixels
    this.mode = '';                   // View Mode; '' as captured
    this.prefs = { time_axis: false, pretrigger_marker: true, trigger_level: true, zoom_while_panning: true };
    this.cursors = { t1: null, t2: null, v1: null, v2: null };
    this.rowsQuery = null;            // the decoders of the rows under the view (?P=...&A=...), or null
    this.rowsSequence = 0;
    this.sequence = 0;                // of the requests; older answers are dropped
    this.wanted = null;               // the request to make when the one in flight ends
    this.busy = false;
    this.url = null;
    this.size = { width: 0, height: 0, scale: 1 };
    this.listen();
  }

  // ---- Pictures ----

  show(id, keepRange) {
    if (id !== this.id) {
      this.id = id;
      this.capture = null;
      this.setRows(null);
      if (!keepRange) this.stored = null;
    }
    this.empty.hidden = id !== null;
    this.root.dataset.capture = id === null ? '' : String(id);
    if (id !== null) this.ask({});
  }

  setCapture(capture) {
    if (capture && capture.id === this.id) {
      this.capture = capture;
      this.layout = capture.under(this.mode);
      this.draw();
    }
  }

  // Asks for a picture: {range: "a:b" or null for the whole capture, step: "zoom_in"...}.
  ask(change) {
    if (this.id === null) return;
    this.wanted = {
      range: 'range' in change ? change.range : this.stored,
      step: change.step || null,
      preview: change.preview || null,
    };
    this.preview(this.wanted.preview);
    if (!this.busy) this.fetchWanted();
  }

  measure() {
    // The area inside the frame's border: the picture fills it and no more.
    const box = { width: this.root.clientWidth, height: this.root.clientHeight };
    const ratio = window.devicePixelRatio || 1;
    // Sharper pictures on screens of up to 1.5 device pixels a CSS pixel; above that the
    // window's labels would be too small to read, and the picture is scaled instead.
    const scale = ratio <= 1.5 ? ratio : 1;
    const width = Math.max(300, Math.round(box.width));
    const height = Math.max(400, Math.round(box.height));
    return { width, height, scale, pixelsWide: Math.round(width * scale), pixelsHigh: Math.round(height * scale) };
  }

  query(request, size) {
    const q = new URLSearchParams();
    q.set('size', `${size.pixelsWide}x${size.pixelsHigh}`);
    if (request.range) q.set('range', request.range);
    if (request.step) q.set('step', request.step);
    if (this.mode) q.set('mode', this.mode);
    if (this.prefs.time_axis) q.set('time_axis', '1');
    if (!this.prefs.pretrigger_marker) q.set('pretrigger_marker', '0');
    if (!this.prefs.trigger_level) q.set('trigger_level', '0');
    if (!this.prefs.zoom_while_panning) q.set('zoom_while_panning', '0');
    return q;
  }

  // The query of the picture as it stands, for the downloads.
  currentQuery() {
    const q = this.query({ range: this.stored }, this.size.pixelsWide ? this.size : this.measure());
    return q.toString();
  }

  async fetchWanted() {
    const request = this.wanted;
    this.wanted = null;
    if (!request || this.id === null) return;
    this.busy = true;
    this.root.dataset.pending = '1';
    const number = ++this.sequence;
    const size = this.measure();
    const id = this.id;
    try {
      const response = await fetch(`/api/captures/${id}/view?${this.query(request, size)}`, { cache: 'no-store' });
      if (!response.ok) {
        let message = `${response.status}`;
        try { message = (await response.json()).error; } catch (_) { /* the status says it */ }
        this.preview(null);
        this.callbacks.onError(message);
      } else if (number === this.sequence && id === this.id) {
        const blob = await response.blob();
        const range = response.headers.get('X-Korvane-Range').split(':').map(Number);
        const areas = response.headers.get('X-Korvane-Areas');
        await this.place(blob, size);
        this.size = size;
        this.shown = { start: range[0], end: range[1] };
        this.stored = response.headers.get('X-Korvane-Stored-Range');
        this.areas = areas ? areas.split(';').map((a) => {
          const [l, t, r, b] = a.split(',').map((v) => Number(v) / size.scale);
          return { left: l, top: t, right: r, bottom: b };
        }) : [];
        this.root.dataset.range = `${this.shown.start}:${this.shown.end}`;
        this.root.dataset.size = `${size.pixelsWide}x${size.pixelsHigh}`;
        this.callbacks.onError('');
        if (this.capture) this.layout = this.capture.under(this.mode);
        this.draw();
        this.fetchRows();
        this.callbacks.onRange(this);
      }
    } catch (error) {
      this.preview(null);
      this.callbacks.onError(String(error.message || error));
    }
    this.busy = false;
    delete this.root.dataset.pending;
    if (this.wanted) this.fetchWanted();
    else this.root.dataset.ready = String(this.sequence);
  }

  place(blob, size) {
    return new Promise((resolve) => {
      const url = URL.createObjectURL(blob);
      const image = this.picture;
      image.onload = () => {
        if (this.url) URL.revokeObjectURL(this.url);
        this.url = url;
        image.style.width = `${size.width}px`;
        image.style.height = `${size.height}px`;
        image.style.transform = '';
        resolve();
      };
      image.onerror = () => resolve();
      image.src = url;
    });
  }

  // While a picture is on its way: the last one stretched or shifted as the new one will be.
  preview(p) {
    let transform = '';
    if (p && p.shift !== undefined) transform = `translateX(${p.shift}px)`;
    if (p && p.zoom !== undefined && this.areas.length) {
      const a = this.areas[0];
      const centre = (a.left + a.right) / 2;
      transform = `translateX(${centre * (1 - p.zoom)}px) scaleX(${p.zoom})`;
    }
    this.picture.style.transform = transform;
    this.rowsImage.style.transform = transform;
  }

  // ---- Samples and pixels ----

  sampleAt(x) {
    if (!this.shown || !this.areas.length) return null;
    const a = this.areas[0];
    const span = this.shown.end - this.shown.start + 1;
    const k = this.shown.start + Math.floor(((x - a.left) / (a.right - a.left)) * span);
    return Math.min(this.shown.end, Math.max(this.shown.start, k));
  }

  xOf(k) {
    const a = this.areas[0];
    const span = this.shown.end - this.shown.start + 1;
    return a.left + ((k - this.shown.start + 0.5) / span) * (a.right - a.left);
  }

  // The area that shows an analogue channel (level cursors and readouts), or null.
  analogueArea() {
    if (!this.layout || !this.layout.analogue.length || !this.areas.length) return null;
    return this.areas[0];
  }

  yOfCode(area, code) {
    const h = area.bottom - area.top;
    return (area.top + area.bottom) / 2 + (h / 256) * (128 - code);
  }

  codeAtY(area, y) {
    const h = area.bottom - area.top;
    return Math.round(128 - (y - (area.top + area.bottom) / 2) / (h / 256));
  }

  rate() {
    return this.layout ? this.layout.rate : 0;
  }

  // ---- The overlay ----

  draw() {
    const width = this.size.width || this.root.clientWidth;
    const height = this.size.height || this.root.clientHeight;
    const g = fitCanvas(this.overlay, width, height);
    if (this.shown && this.areas.length) {
      const top = this.areas[0].top;
      const bottom = this.areas[this.areas.length - 1].bottom;
      for (const name of ['t1', 't2']) {
        const k = this.cursors[name];
        if (k === null || k < this.shown.start || k > this.shown.end) continue;
        const x = Math.round(this.xOf(k)) + 0.5;
        g.strokeStyle = CURSOR_COLOURS[name];
        g.setLineDash(name === 't2' ? [6, 3] : []);
        g.lineWidth = 1;
        g.beginPath();
        g.moveTo(x, top);
        g.lineTo(x, bottom);
        g.stroke();
        g.fillStyle = CURSOR_COLOURS[name];
        g.font = 'bold 11px "Liberation Sans", sans-serif';
        g.fillText(name, x + 3, top + 11);
      }
      const area = this.analogueArea();
      if (area) {
        for (const name of ['v1', 'v2']) {
          const v = this.cursors[name];
          if (v === null) continue;
          const y = Math.round(this.yOfCode(area, v)) + 0.5;
          g.strokeStyle = CURSOR_COLOURS[name];
          g.setLineDash(name === 'v2' ? [6, 3] : []);
          g.beginPath();
          g.moveTo(area.left, y);
          g.lineTo(area.right, y);
          g.stroke();
          g.fillStyle = CURSOR_COLOURS[name];
          g.fillText(name.toUpperCase(), area.right - 22, y - 3);
        }
      }
      g.setLineDash([]);
    }
    this.callbacks.onCursors(this);
  }

  // The cursors' readout: Δt, 1/Δt, ΔV.
  readout() {
    const parts = [];
    const { t1, t2, v1, v2 } = this.cursors;
    const rate = this.rate();
    if (t1 !== null && t2 !== null && rate > 0) {
      const dt = Math.abs(t2 - t1) / rate;
      parts.push({ name: 'dt', text: `Δt = ${seconds(dt)} (${Math.abs(t2 - t1)} samples)`, value: dt });
      parts.push({ name: 'f', text: `1/Δt = ${dt > 0 ? withPrefix(1 / dt, 'Hz') : '—'}`, value: dt > 0 ? 1 / dt : null });
    }
    if (v1 !== null && v2 !== null) {
      const sign = (v) => (v >= 0 ? `+${v}` : `${v}`);
      parts.push({ name: 'dv', text: `ΔV = ${Math.abs(v2 - v1)} codes (V1 ${v1} = ${sign(v1 - 128)}, V2 ${v2} = ${sign(v2 - 128)} relative to 0x80)`, value: Math.abs(v2 - v1) });
    }
    return parts;
  }

  hoverText(x, y) {
    const k = this.sampleAt(x);
    if (k === null || !this.capture || !this.layout) return '';
    const rate = this.rate();
    let text = `sample ${k}   t = ${rate > 0 ? seconds(k / rate) : '—'}`;
    for (const channel of this.layout.analogue) {
      const code = this.capture.code(this.layout, channel, k);
      text += `   ${channel} = ${code} (${code - 128 >= 0 ? '+' : ''}${code - 128})`;
    }
    if (this.layout.inputs) {
      const word = this.capture.word(this.layout, k);
      let bits = '';
      for (let b = this.layout.inputs - 1; b >= 0; --b) bits += ((word >> b) & 1) + (b % 4 === 0 && b ? ' ' : '');
      text += `   D${this.layout.inputs - 1}..D0 = ${bits}`;
    }
    const area = this.analogueArea();
    if (area && y >= area.top && y <= area.bottom) text += `   level at the pointer ${this.codeAtY(area, y)}`;
    return text;
  }

  // ---- Decoded rows ----

  setRows(query) {
    this.rowsQuery = query;
    this.fetchRows();
  }

  // The rows for the picture shown: its size, range, mode and preferences.
  async fetchRows() {
    const number = ++this.rowsSequence;
    const image = this.rowsImage;
    if (!this.rowsQuery || !this.shown || this.id === null) {
      image.hidden = true;
      return;
    }
    const size = this.size;
    const path = `/api/captures/${this.id}/rows?${this.rowsQuery}&${this.query({ range: this.stored }, size)}`;
    try {
      const response = await fetch(path, { cache: 'no-store' });
      if (number !== this.rowsSequence) return;
      if (response.status !== 200) {
        image.hidden = true;
        if (response.status !== 204) this.callbacks.onError((await response.json()).error);
        return;
      }
      const url = URL.createObjectURL(await response.blob());
      image.onload = () => {
        URL.revokeObjectURL(url);
        if (number !== this.rowsSequence) return;
        image.style.width = `${size.width}px`;
        image.style.height = `${image.naturalHeight / size.scale}px`;
        image.style.transform = '';
        image.hidden = false;
        this.root.dataset.rows = String(number);
      };
      image.src = url;
    } catch (error) {
      if (number === this.rowsSequence) this.callbacks.onError(String(error.message || error));
    }
  }

  // The range that puts sample k in the middle, at the span shown or the one given.
  centredOn(k, wanted) {
    const span = wanted || (this.shown ? this.shown.end - this.shown.start : 1000);
    const last = (this.layout ? this.layout.samples : 393216) - 1;
    let start = Math.round(k - span / 2);
    start = Math.max(0, Math.min(start, last - span));
    return `${start}:${start + span}`;
  }

  // ---- Mouse, wheel and keys ----

  nearCursor(x, y) {
    for (const name of ['t1', 't2']) {
      const k = this.cursors[name];
      if (k !== null && this.shown && k >= this.shown.start && k <= this.shown.end && Math.abs(this.xOf(k) - x) <= 5) return name;
    }
    const area = this.analogueArea();
    if (area) {
      for (const name of ['v1', 'v2']) {
        const v = this.cursors[name];
        if (v !== null && Math.abs(this.yOfCode(area, v) - y) <= 5) return name;
      }
    }
    return null;
  }

  point(event) {
    const box = this.overlay.getBoundingClientRect();
    return { x: event.clientX - box.left, y: event.clientY - box.top };
  }

  listen() {
    let drag = null;
    const root = this.root;
    root.addEventListener('pointerdown', (event) => {
      if (event.button !== 0 || !this.shown) return;
      root.focus();
      const p = this.point(event);
      const cursor = this.nearCursor(p.x, p.y);
      drag = { cursor, startX: p.x, shift: 0 };
      root.setPointerCapture(event.pointerId);
      if (!cursor) root.classList.add('dragging');
      event.preventDefault();
    });
    root.addEventListener('pointermove', (event) => {
      const p = this.point(event);
      if (!drag) {
        this.callbacks.onHover(this.hoverText(p.x, p.y));
        root.style.cursor = this.nearCursor(p.x, p.y) ? 'ew-resize' : '';
        return;
      }
      if (drag.cursor) {
        if (drag.cursor[0] === 't') this.cursors[drag.cursor] = this.sampleAt(p.x);
        else {
          const area = this.analogueArea();
          if (area) this.cursors[drag.cursor] = Math.max(0, Math.min(255, this.codeAtY(area, p.y)));
        }
        this.draw();
      } else {
        drag.shift = p.x - drag.startX;
        this.preview({ shift: drag.shift });
      }
    });
    const end = () => {
      if (!drag) return;
      root.classList.remove('dragging');
      if (!drag.cursor && Math.abs(drag.shift) > 2) this.panBy(drag.shift);
      else if (!drag.cursor) this.preview(null);
      drag = null;
    };
    root.addEventListener('pointerup', end);
    root.addEventListener('pointercancel', end);
    root.addEventListener('pointerleave', () => { if (!drag) this.callbacks.onHover(''); });
    root.addEventListener('wheel', (event) => {
      if (!this.shown) return;
      event.preventDefault();
      this.step(event.deltaY < 0 ? 'zoom_in' : 'zoom_out');
    }, { passive: false });
    root.addEventListener('keydown', (event) => {
      const keys = { NumpadAdd: 'zoom_in', NumpadSubtract: 'zoom_out', '+': 'zoom_in', '=': 'zoom_in', '-': 'zoom_out',
                     ArrowLeft: 'pan_left', ArrowRight: 'pan_right' };
      const step = keys[event.code] || keys[event.key];
      if (step) {
        event.preventDefault();
        this.step(step);
      }
    });
    new ResizeObserver(() => {
      const size = this.measure();
      if (size.pixelsWide !== this.size.pixelsWide || size.pixelsHigh !== this.size.pixelsHigh) this.ask({});
    }).observe(root);
  }

  step(step) {
    const preview = step === 'zoom_in' ? { zoom: 1 / 0.6 } : step === 'zoom_out' ? { zoom: 0.6 } : null;
    this.ask({ step, preview });
  }

  // The samples a drag of dx CSS pixels brings into view, the span kept.
  panBy(dx) {
    if (!this.shown || !this.areas.length) return;
    const a = this.areas[0];
    const span = this.shown.end - this.shown.start + 1;
    const shift = Math.round((-dx * span) / (a.right - a.left));
    const last = (this.layout ? this.layout.samples : 393216) - 1;
    let start = this.shown.start + shift;
    start = Math.max(0, Math.min(start, last - span + 1));
    this.ask({ range: `${start}:${start + span - 1}`, preview: { shift: dx } });
  }
}

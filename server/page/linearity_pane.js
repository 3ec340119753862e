// The converters' linearity, under the scope view: the server's code-density test of a channel
// of the capture shown (GET /api/captures/N/linearity), its DNL and INL drawn against the code,
// with the missing codes and the worst of each; in Single Channel each of the two converters,
// and the offset and gain between them. The page draws the figures; it computes none.

import { make } from './dom.js';

const lsb = (v) => `${v >= 0 ? '+' : ''}${v.toFixed(3)} LSB`;

export class LinearityPane {
  constructor() {
    this.id = null;
    this.names = [];
    this.data = null;
    this.asked = '';
    this.channel = make('select', { id: 'linearity-channel', title: 'The channel whose converter is tested' });
    this.signal = make('select', { id: 'linearity-signal', title: 'The signal the capture holds: a triangle or a sine that overdrives the range a little' });
    for (const [value, text] of [['detect', 'Detect'], ['triangle', 'Triangle'], ['sine', 'Sine']])
      this.signal.append(make('option', { value, textContent: text }));
    this.canvas = make('canvas', { id: 'linearity-canvas', ariaLabel: 'DNL and INL against the code' });
    this.figures = make('div', { id: 'linearity-figures', className: 'spectrum-figures' });
    this.error = make('p', { id: 'linearity-error', className: 'field-error', role: 'alert' });
    this.root = make('section', { id: 'linearity', className: 'spectrum', ariaLabel: 'Linearity', hidden: true }, [
      make('div', { className: 'toolbar scope-tools' }, [make('label', {}, ['Channel', this.channel]),
        make('label', {}, ['Signal', this.signal])]),
      make('div', { className: 'spectrum-body' }, [make('div', { className: 'spectrum-plot' }, [this.canvas]), this.figures]),
      this.error,
    ]);
    this.channel.addEventListener('change', () => this.load());
    this.signal.addEventListener('change', () => this.load());
    new ResizeObserver(() => this.draw()).observe(this.canvas.parentElement);
  }

  toggle(on = this.root.hidden) {
    this.root.hidden = !on;
    if (on) this.load();
    return on;
  }

  setCapture(id, names) {
    this.id = id;
    if (names.join() !== this.names.join()) {
      const kept = this.channel.value;
      this.names = names;
      this.channel.replaceChildren(...names.map((n) => make('option', { value: n, textContent: n })));
      // The simulated triangle is on B: it is the first choice where there is one.
      this.channel.value = names.includes(kept) ? kept : names.includes('B') ? 'B' : names[0] || '';
    }
    if (!this.root.hidden) this.load();
  }

  async load() {
    if (this.root.hidden || this.id === null) return;
    if (!this.names.length) {
      this.data = null;
      this.figures.replaceChildren();
      this.error.textContent = 'This capture has no analogue channel to test.';
      this.draw();
      return;
    }
    const query = `/api/captures/${this.id}/linearity?channel=${this.channel.value}&signal=${this.signal.value}`;
    if (query === this.asked && this.data) return;
    this.asked = query;
    try {
      const response = await fetch(query, { cache: 'no-store' });
      const answer = await response.json();
      if (query !== this.asked) return;
      if (!response.ok) throw new Error(answer.error || `${response.status}`);
      this.data = answer.channels[0];
      this.error.textContent = '';
      this.root.dataset.capture = String(this.id);
      this.showFigures();
    } catch (error) {
      if (query !== this.asked) return;
      this.data = null;
      this.figures.replaceChildren();
      this.error.textContent = error.message;
    }
    this.draw();
  }

  // The tests shown: the whole channel, and in Single Channel each converter.
  tests() {
    if (!this.data) return [];
    const list = [['', this.data.whole]];
    if (this.data.converters) list.push(['even samples', this.data.converters.even], ['odd samples', this.data.converters.odd]);
    return list.filter(([, t]) => t);
  }

  showFigures() {
    const rows = [];
    for (const [name, t] of this.tests()) {
      const missing = t.missing_codes.length ? t.missing_codes.join(', ') : 'none';
      const head = name ? `${name}: ` : '';
      rows.push(make('p', { className: 'note', textContent: `${head}${t.signal}${t.signal_detected ? ' (detected)' : ''}, `
        + `codes ${t.first_judged_code} to ${t.last_judged_code} judged` }));
      const table = [['Missing codes', missing], ['Worst DNL', t.worst_dnl ? `${lsb(t.worst_dnl.lsb)} at ${t.worst_dnl.code}` : '—'],
        ['Worst INL', t.worst_inl ? `${lsb(t.worst_inl.lsb)} at ${t.worst_inl.code}` : '—']];
      rows.push(make('table', {}, [make('tbody', {}, table.map(([k, v]) =>
        make('tr', {}, [make('th', { textContent: k }), make('td', { className: 'num', textContent: v })])))]));
    }
    const d = this.data;
    if (d.converters && typeof d.offset_codes === 'number' && typeof d.gain === 'number')
      rows.push(make('p', { className: 'note', textContent: `between the converters: offset ${d.offset_codes >= 0 ? '+' : ''}`
        + `${d.offset_codes.toFixed(3)} codes (odd − even), gain ${d.gain.toFixed(5)}` }));
    this.figures.replaceChildren(...rows);
  }

  // DNL above, INL below, against the code; a missing code marked in red.
  draw() {
    const box = this.canvas.parentElement;
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(200, box.clientWidth), height = Math.max(160, box.clientHeight || 240);
    this.canvas.width = Math.round(width * ratio);
    this.canvas.height = Math.round(height * ratio);
    this.canvas.style.width = `${width}px`;
    this.canvas.style.height = `${height}px`;
    const g = this.canvas.getContext('2d');
    const s = ratio;
    g.fillStyle = '#161b22';
    g.fillRect(0, 0, this.canvas.width, this.canvas.height);
    const tests = this.tests();
    if (!tests.length) return;
    const colours = ['#6ea8ff', '#f2cc60', '#7ee787'];
    const left = 48 * s, right = this.canvas.width - 10 * s, x = (code) => left + (code / 255) * (right - left);
    const halves = [['DNL', 'dnl_lsb', 6 * s, this.canvas.height / 2 - 10 * s], ['INL', 'inl_lsb', this.canvas.height / 2 + 6 * s, this.canvas.height - 18 * s]];
    g.font = `${11 * s}px "Liberation Sans", sans-serif`;
    for (const [title, key, top, bottom] of halves) {
      let most = 0.05;
      for (const [, t] of tests) for (const v of t[key]) most = Math.max(most, Math.abs(v));
      most *= 1.15;
      const y = (v) => (top + bottom) / 2 - (v / most) * ((bottom - top) / 2);
      g.strokeStyle = '#30363d';
      g.lineWidth = 1;
      g.strokeRect(left + 0.5, top + 0.5, right - left, bottom - top);
      g.beginPath();
      g.moveTo(left, Math.round(y(0)) + 0.5);
      g.lineTo(right, Math.round(y(0)) + 0.5);
      g.stroke();
      g.fillStyle = '#9aa4b1';
      g.textAlign = 'right';
      g.textBaseline = 'middle';
      g.fillText(`+${most.toFixed(2)}`, left - 4 * s, top + 6 * s);
      g.fillText(`−${most.toFixed(2)}`, left - 4 * s, bottom - 6 * s);
      g.fillText(title, left - 4 * s, (top + bottom) / 2);
      tests.forEach(([, t], n) => {
        g.strokeStyle = colours[n % colours.length];
        g.beginPath();
        t[key].forEach((v, i) => {
          const px = x(t.first_judged_code + i), py = y(v);
          if (i === 0) g.moveTo(px, py); else g.lineTo(px, py);
        });
        g.stroke();
        g.fillStyle = '#ff6b6b';
        for (const code of t.missing_codes) g.fillRect(x(code) - s, top, 2 * s, bottom - top);
      });
    }
    g.fillStyle = '#9aa4b1';
    g.textAlign = 'center';
    g.textBaseline = 'top';
    for (const code of [0, 64, 128, 192, 255]) g.fillText(String(code), x(code), this.canvas.height - 14 * s);
  }
}

// The channel panel: each analogue channel's label, colour, on/off, volts per code, zero code,
// probe, unit, scale per division and position, and each logic input's name and colour. An
// edit is checked as the server checks it, drawn at once, and saved with PUT /api/channels;
// where the server keeps no channel settings (404), the page keeps them in the browser.

import { check, complete } from './channels.js';
import { make } from './dom.js';

const STORED = 'korvane.channels';

export class ChannelPanel {
  constructor(root, onChange) {
    this.root = root;
    this.onChange = onChange;       // (channels) on every accepted edit and every pushed change
    this.channels = complete(null);
    this.serverKeeps = true;        // false after a 404: the browser keeps them
    this.saving = null;
    this.shown = '';
    this.pushed = '';               // the settings the server last pushed, as it wrote them
    this.build();
  }

  // The settings the server pushed (state.channels), unless the user is editing.
  fromServer(channels) {
    if (!channels) return;
    const text = JSON.stringify(channels);
    if (text === this.pushed || this.root.contains(document.activeElement)) return;
    this.pushed = text;
    this.channels = complete(channels);
    this.fill();
    this.onChange(this.channels);
  }

  // The first state: a server that gives no channel settings keeps none, and the browser
  // keeps those of its pages.
  start(channels) {
    if (channels) return;
    this.serverKeeps = false;
    try {
      const kept = JSON.parse(localStorage.getItem(STORED) || 'null');
      if (kept && !check(complete(kept))) {
        this.channels = complete(kept);
        this.fill();
        this.onChange(this.channels);
      }
    } catch (_) { /* nothing kept */ }
  }

  build() {
    const analogue = this.channels.analogue.map((c, i) => {
      const f = (name, input, words) => {
        input.dataset.field = `analogue.${i}.${name}`;
        return make('label', { title: words[1] || '' }, [words[0], input]);
      };
      const probe = make('select', {}, [1, 10, 100].map((p) => make('option', { value: String(p), textContent: `${p}x` })));
      return make('fieldset', { className: 'channel' }, [
        make('legend', {}, [f('on', make('input', { type: 'checkbox' }), [`Channel ${c.id}`, 'Shown on the screen'])]),
        f('label', make('input', { type: 'text', maxLength: 32, spellcheck: false }), ['Label']),
        f('colour', make('input', { type: 'color' }), ['Colour']),
        f('per_div', make('input', { type: 'number', step: 'any', min: '0' }), ['Per div', 'The scale: units (or codes) per vertical division']),
        f('position', make('input', { type: 'number', step: '0.1', min: '-5', max: '5' }), ['Position', 'Divisions the zero sits above the centre, -5 to 5']),
        f('volts_per_code', make('input', { type: 'number', step: 'any', min: '0', placeholder: 'codes' }), ['Per code', 'Volts (or the unit) per converter code at the input; empty: show codes']),
        f('zero_code', make('input', { type: 'number', step: '1', min: '0', max: '255' }), ['Zero', 'The code that reads 0 (0x80 = 128)']),
        f('probe', probe, ['Probe']),
        f('unit', make('input', { type: 'text', maxLength: 8, spellcheck: false }), ['Unit']),
      ]);
    });
    const logic = this.channels.logic.map((c, i) => {
      const label = make('input', { type: 'text', maxLength: 32, spellcheck: false, title: `The name of input D${i}` });
      label.dataset.field = `logic.${i}.label`;
      const colour = make('input', { type: 'color', title: `The colour of ${c.id}` });
      colour.dataset.field = `logic.${i}.colour`;
      return make('div', { className: 'lane' }, [make('span', { textContent: c.id }), label, colour]);
    });
    this.error = make('p', { className: 'field-error', role: 'alert' });
    this.root.replaceChildren(
      make('summary', { textContent: 'Channels' }),
      make('div', { className: 'analogue-channels' }, analogue),
      make('details', { className: 'logic-names' }, [make('summary', { textContent: 'Logic input names and colours' }), make('div', { className: 'lanes' }, logic)]),
      this.error,
    );
    this.root.addEventListener('change', () => this.edited());
    this.root.addEventListener('input', (event) => { if (event.target.type === 'color') this.edited(); });
    this.fill();
  }

  inputs() {
    return this.root.querySelectorAll('[data-field]');
  }

  fill() {
    for (const input of this.inputs()) {
      const [list, i, name] = input.dataset.field.split('.');
      const value = this.channels[list][Number(i)][name];
      if (input.type === 'checkbox') input.checked = Boolean(value);
      else input.value = value === null || value === undefined ? '' : String(value);
    }
    this.shown = JSON.stringify(this.channels);
  }

  read() {
    const channels = JSON.parse(JSON.stringify(this.channels));
    for (const input of this.inputs()) {
      const [list, i, name] = input.dataset.field.split('.');
      const text = input.value.trim();
      let value = text;
      if (input.type === 'checkbox') value = input.checked;
      else if (name === 'volts_per_code') value = text === '' ? null : Number(text);
      else if (['zero_code', 'probe', 'per_div', 'position'].includes(name)) value = text === '' ? NaN : Number(text);
      channels[list][Number(i)][name] = value;
    }
    return channels;
  }

  mark(refusal) {
    for (const input of this.inputs()) input.closest('label')?.classList.toggle('has-error', Boolean(refusal) && input.dataset.field === refusal.field);
    this.error.textContent = refusal ? refusal.error : '';
  }

  edited() {
    const channels = this.read();
    const refusal = check(channels);
    this.mark(refusal);
    if (refusal) return;
    this.channels = channels;
    this.shown = JSON.stringify(channels);
    this.onChange(channels);
    clearTimeout(this.saving);
    this.saving = setTimeout(() => this.save(), 250);
  }

  async save() {
    const channels = this.channels;
    if (!this.serverKeeps) {
      localStorage.setItem(STORED, JSON.stringify(channels));
      return;
    }
    try {
      const response = await fetch('/api/channels', { method: 'PUT', cache: 'no-store', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(channels) });
      if (response.status === 404 || response.status === 405) {
        this.serverKeeps = false;
        localStorage.setItem(STORED, JSON.stringify(channels));
      } else if (!response.ok) {
        let refusal = { field: '', error: `${response.status} ${response.statusText}` };
        try { refusal = await response.json(); } catch (_) { /* the status says it */ }
        this.mark(refusal);
      }
    } catch (error) {
      this.mark({ field: '', error: `The channels were not saved: ${error.message}` });
    }
  }
}

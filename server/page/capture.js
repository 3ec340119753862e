// A capture as its .dso file holds it, read through the layout the server describes for it
// (GET /api/captures/N/layout): where each channel's samples lie in the bytes, under the
// capture's own mode and, for View Mode, under each of the others.

export const MODES = ['dual', 'single', 'logic16', 'mixed'];

export class Capture {
  // bytes: the .dso file; layouts: the server's layout under each mode, by mode name, the
  // capture's own under '' too.
  constructor(id, bytes, layouts) {
    this.id = id;
    this.bytes = new Uint8Array(bytes);
    this.layouts = {};
    for (const [mode, layout] of Object.entries(layouts)) this.layouts[mode] = readLayout(layout);
  }

  // The bytes and every layout of a capture, from the server.
  static async load(id, get) {
    const json = async (mode) => get(`/api/captures/${id}/layout${mode ? `?mode=${mode}` : ''}`);
    const [bytes, own, ...others] = await Promise.all([
      get(`/api/captures/${id}.dso`).then((response) => response.arrayBuffer()), json(''), ...MODES.map(json)]);
    const layouts = { '': own };
    MODES.forEach((mode, i) => { layouts[mode] = others[i]; });
    return new Capture(id, bytes, layouts);
  }

  // The record read under a mode (View Mode; '' or null: its own): its name, samples, rate
  // and channels.
  under(mode) {
    return this.layouts[mode || ''] || this.layouts[''];
  }

  // The code of an analogue channel at sample k, under a layout.
  code(layout, channel, k) {
    const c = layout.byName[channel];
    return c ? this.bytes[c.offset + k * c.stride] : undefined;
  }

  // The logic word at sample k (inputs 0..15 or 0..7).
  word(layout, k) {
    let word = 0;
    layout.logic.forEach((c, input) => { word |= ((this.bytes[c.offset + k * c.stride] >> c.bit) & 1) << input; });
    return word;
  }
}

// The server's layout as the page reads it.
function readLayout(layout) {
  const logic = layout.channels.filter((c) => c.kind === 'logic');
  const analogue = layout.channels.filter((c) => c.kind === 'analogue');
  return {
    mode: layout.mode,
    samples: layout.samples,
    rate: layout.rate_hz || 0,
    header: layout.header || {},
    analogue: analogue.map((c) => c.name),
    inputs: logic.length,
    logic,
    byName: Object.fromEntries(layout.channels.map((c) => [c.name, c])),
  };
}

// A number of seconds with an SI prefix and four significant digits: "1.000 ms".
export function seconds(value) {
  return withPrefix(value, 's');
}

export function withPrefix(value, unit) {
  if (!Number.isFinite(value)) return '—';
  const magnitude = Math.abs(value);
  const prefixes = [[1e9, 'G'], [1e6, 'M'], [1e3, 'k'], [1, ''], [1e-3, 'm'], [1e-6, 'µ'], [1e-9, 'n'], [1e-12, 'p']];
  for (const [scale, prefix] of prefixes) {
    if (magnitude >= scale * 0.99995 || scale === 1e-12) {
      const scaled = value / scale;
      const digits = Math.abs(scaled) >= 100 ? 1 : Math.abs(scaled) >= 10 ? 2 : 3;
      return `${scaled.toFixed(digits)} ${prefix}${unit}`;
    }
  }
  return `0 ${unit}`;
}

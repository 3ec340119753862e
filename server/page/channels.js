// The channel settings the server keeps for every page (GET and PUT /api/channels): each
// analogue channel's label, colour, scale and place on the screen, each logic input's name and
// colour. Values are in the channel's unit where it has volts per code, else in codes.

const LOGIC_COLOURS = ['#e8e8e8', '#ff7a59', '#ffb347', '#f4e04d', '#7ed957', '#3ddbd9', '#6ea8ff', '#c58cff',
  '#ff8ad8', '#b0b0b0', '#ff9f80', '#ffd27f', '#d8f27a', '#7ff2b8', '#8ac4ff', '#d9b3ff'];

export function defaultChannels() {
  const analogue = (id, colour) => ({ id, label: id, colour, on: true, volts_per_code: null, zero_code: 128, probe: 1,
    unit: 'V', per_div: 32, position: 0 });
  return {
    analogue: [analogue('A', '#f2c200'), analogue('B', '#22d3ee')],
    logic: LOGIC_COLOURS.map((colour, n) => ({ id: `D${n}`, label: `D${n}`, colour })),
  };
}

const COLOUR = /^#[0-9a-fA-F]{6}$/;
const printable = (text) => typeof text === 'string' && !/[\u0000-\u001f\u007f]/.test(text);
const bytes = (text) => new TextEncoder().encode(text).length;

// The first thing wrong with a channel settings object, as the server words a refusal:
// {field: "analogue.0.colour", error: "..."}, or null.
export function check(channels) {
  const wrong = (field, error) => ({ field, error });
  if (!channels || !Array.isArray(channels.analogue) || !Array.isArray(channels.logic)) return wrong('', 'Channels: analogue and logic lists');
  for (const [i, c] of channels.analogue.entries()) {
    const f = (name) => `analogue.${i}.${name}`;
    if (!printable(c.label) || bytes(c.label) < 1 || bytes(c.label) > 32) return wrong(f('label'), 'A label is 1 to 32 printable characters');
    if (!COLOUR.test(c.colour)) return wrong(f('colour'), 'A colour is written #rrggbb');
    if (c.volts_per_code !== null && !(Number.isFinite(c.volts_per_code) && c.volts_per_code > 0))
      return wrong(f('volts_per_code'), 'Volts per code must be a number above 0, or empty for codes');
    if (!Number.isInteger(c.zero_code) || c.zero_code < 0 || c.zero_code > 255) return wrong(f('zero_code'), 'The zero code must be 0 to 255');
    if (![1, 10, 100].includes(c.probe)) return wrong(f('probe'), 'The probe is 1x, 10x or 100x');
    if (!printable(c.unit) || c.unit.length < 1 || c.unit.length > 8) return wrong(f('unit'), 'A unit is 1 to 8 printable characters');
    if (!(Number.isFinite(c.per_div) && c.per_div > 0)) return wrong(f('per_div'), 'The scale must be a number above 0');
    if (!(Number.isFinite(c.position) && c.position >= -5 && c.position <= 5)) return wrong(f('position'), 'The position must be -5 to 5 divisions');
  }
  for (const [i, c] of channels.logic.entries()) {
    if (!printable(c.label) || bytes(c.label) < 1 || bytes(c.label) > 32) return wrong(`logic.${i}.label`, 'A name is 1 to 32 printable characters');
    if (!COLOUR.test(c.colour)) return wrong(`logic.${i}.colour`, 'A colour is written #rrggbb');
  }
  return null;
}

// The settings as the server gave them, anything missing taken from the defaults.
export function complete(channels) {
  const d = defaultChannels();
  if (!channels || typeof channels !== 'object') return d;
  const merge = (list, defaults) => defaults.map((c, i) => ({ ...c, ...((Array.isArray(list) && list.find((x) => x && x.id === c.id)) || list?.[i] || {}), id: c.id }));
  return { analogue: merge(channels.analogue, d.analogue), logic: merge(channels.logic, d.logic) };
}

export const scaled = (c) => c.volts_per_code !== null && c.volts_per_code !== undefined;
export const unitOf = (c) => (scaled(c) ? c.unit : 'codes');

// What a code reads as on the screen: the value in the channel's unit, or the code itself.
export function valueOf(c, code) {
  return scaled(c) ? (code - c.zero_code) * c.volts_per_code * c.probe : code;
}

// The code a value stands for (the inverse of valueOf), unrounded.
export function codeOf(c, value) {
  return scaled(c) ? c.zero_code + value / (c.volts_per_code * c.probe) : value;
}

// Divisions above the centre of the graticule where a value lies.
export function divisionsOf(c, value) {
  const zero = scaled(c) ? 0 : c.zero_code;
  return (value - zero) / c.per_div + c.position;
}

export function valueAtDivisions(c, divisions) {
  const zero = scaled(c) ? 0 : c.zero_code;
  return zero + (divisions - c.position) * c.per_div;
}

// A value for the readouts: "1.234 V", or "167" in codes.
export function formatValue(c, value, digits = 4) {
  if (!Number.isFinite(value)) return '—';
  if (!scaled(c)) return Number.isInteger(value) ? String(value) : value.toFixed(1);
  const magnitude = Math.abs(value);
  if (magnitude === 0) return `0 ${c.unit}`;
  const prefixes = [[1e3, 'k'], [1, ''], [1e-3, 'm'], [1e-6, 'µ'], [1e-9, 'n']];
  const [scale, prefix] = prefixes.find(([s]) => magnitude >= s * 0.9999995) || prefixes[prefixes.length - 1];
  const v = value / scale;
  const whole = Math.abs(v) >= 100 ? 3 : Math.abs(v) >= 10 ? 2 : 1;
  return `${v.toFixed(Math.max(0, digits - whole))} ${prefix}${c.unit}`;
}

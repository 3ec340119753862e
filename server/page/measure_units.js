// The server measures in converter codes; where a channel has a scale, the page's
// measurements are shown in its unit. The cells keep the code in data-code.

import { scaled, valueOf, formatValue } from './channels.js';

export function convertMeasurements(box, channelOf) {
  for (const h3 of box.querySelectorAll('h3')) {
    const table = h3.nextElementSibling;
    const cell = table && table.querySelector('td[id^="meas-"]');
    if (!cell) continue;
    const name = cell.id.split('-')[1];
    const c = channelOf(name);
    const key = c && scaled(c) ? `${c.volts_per_code}/${c.zero_code}/${c.probe}/${c.unit}/${c.label}` : '';
    if (!key || h3.dataset.scale === key) continue;
    const read = (key) => {
      const td = box.querySelector(`#meas-${name}-${key}`);
      if (!td) return null;
      if (td.dataset.code === undefined) td.dataset.code = td.dataset.value ?? '';
      return { td, code: Number(td.dataset.code) };
    };
    const per = c.volts_per_code * c.probe;
    const show = (cellOf, value) => {
      if (!cellOf || cellOf.td.dataset.code === '' || !Number.isFinite(value)) return;
      cellOf.td.textContent = formatValue(c, value);
      cellOf.td.dataset.value = String(value);
      cellOf.td.dataset.unit = c.unit;
    };
    const min = read('min'), max = read('max'), pp = read('pp'), mean = read('mean'), rms = read('rms');
    show(min, min && valueOf(c, min.code));
    show(max, max && valueOf(c, max.code));
    show(pp, pp && pp.code * per);
    show(mean, mean && valueOf(c, mean.code));
    const top = read('top'), base = read('base'), amplitude = read('amplitude');
    show(top, top && valueOf(c, top.code));
    show(base, base && valueOf(c, base.code));
    show(amplitude, amplitude && amplitude.code * per);
    const slew = read('slew');
    if (slew && slew.td.dataset.code !== '' && Number.isFinite(slew.code * per)) {
      slew.td.textContent = `${formatValue(c, slew.code * per)}/s`;
      slew.td.dataset.value = String(slew.code * per);
      slew.td.dataset.unit = `${c.unit}/s`;
    }
    if (rms && mean) {
      // The server's RMS is about code 0x80; about the channel's zero code instead:
      // E[(x - z)^2] = E[(x - 128)^2] + 2 (128 - z) E[x - 128] + (128 - z)^2.
      const d = 128 - c.zero_code;
      show(rms, Math.sqrt(Math.max(0, rms.code ** 2 + 2 * d * (mean.code - 128) + d * d)) * per);
      const th = rms.td.parentElement.querySelector('th');
      if (th) th.textContent = 'RMS';
    }
    h3.textContent = `Channel ${c.label} (${c.unit}, from ${c.volts_per_code} ${c.unit} a code × ${c.probe})`;
    h3.dataset.scale = key;
  }
}

// Numbers as the scope view writes them: times in s, ms, µs and ns, values in a channel's
// unit with an SI prefix, and the 1-2-5 steps of a scale.

const PREFIXES = [[1e9, 'G'], [1e6, 'M'], [1e3, 'k'], [1, ''], [1e-3, 'm'], [1e-6, 'µ'], [1e-9, 'n'], [1e-12, 'p']];

function prefixFor(magnitude) {
  for (const p of PREFIXES) if (magnitude >= p[0] * 0.9999995) return p;
  return PREFIXES[PREFIXES.length - 1];
}

// A value with an SI prefix and `digits` significant digits: "1.25 ms", "-40.0 µs".
export function si(value, unit, digits = 4) {
  if (!Number.isFinite(value)) return '—';
  if (value === 0) return `0 ${unit}`;
  const [scale, prefix] = prefixFor(Math.abs(value));
  const scaled = value / scale;
  const whole = Math.abs(scaled) >= 100 ? 3 : Math.abs(scaled) >= 10 ? 2 : 1;
  return `${scaled.toFixed(Math.max(0, digits - whole))} ${prefix}${unit}`;
}

export const time = (seconds, digits = 4) => si(seconds, 's', digits);

// Labels of values a step apart, all with the prefix of the step and as many decimals as the
// step needs: "-2.5 µs", "0 µs", "2.5 µs".
export function stepLabeller(step, unit) {
  const [scale, prefix] = prefixFor(Math.abs(step) || 1);
  const scaled = Math.abs(step / scale);
  let decimals = 0;
  while (decimals < 6 && Math.abs(Math.round(scaled * 10 ** decimals) - scaled * 10 ** decimals) > 1e-6 * 10 ** decimals) ++decimals;
  return (value) => {
    const v = value / scale;
    const text = Math.abs(v) < 0.5 * 10 ** -decimals ? '0' : v.toFixed(decimals);
    return `${text.replace('-', '−')} ${prefix}${unit}`;
  };
}

// The 1-2-5 step nearest above a value: 0.0123 -> 0.02.
export function step125(value) {
  if (!(value > 0)) return 1;
  const decade = 10 ** Math.floor(Math.log10(value));
  for (const m of [1, 2, 5, 10]) if (m * decade >= value * 0.9999) return m * decade;
  return 10 * decade;
}

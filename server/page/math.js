// The math channel M in the page, as the server computes it: an operation on the values of A and
// B relative to their zero codes (0x80 unless told), in the channels' units where they have a scale.

export const MATH_COLOUR = '#d46bff';   // M's own colour wherever it is drawn

const OPS = {
  'A+B': (a, b) => a + b, 'A-B': (a, b) => a - b, 'B-A': (a, b) => b - a, 'A*B': (a, b) => a * b,
  '-A': (a) => -a, '-B': (a, b) => -b, '(A+B)/2': (a, b) => (a + b) / 2,
};
const SAME = { 'B+A': 'A+B', 'B*A': 'A*B', '(B+A)/2': '(A+B)/2' };

// The operation of an expression ("a - b", "AxB"), in its own spelling ("A-B"), or null.
export function parseMath(text) {
  let compact = '';
  for (let c of String(text || '')) {
    if (c === ' ' || c === '\t') continue;
    if (c === 'a' || c === 'b') c = c.toUpperCase();
    if (c === 'x' || c === 'X') c = '*';
    compact += c;
  }
  compact = SAME[compact] || compact;
  return OPS[compact] ? compact : null;
}

export const mathUses = (op) => ({ a: op !== '-B', b: op !== '-A' });

// The greatest magnitude M can take: each channel reaches 128 codes (times its scale) either way.
export function mathReach(op, perCodeA = 1, perCodeB = 1) {
  const fa = 128 * perCodeA, fb = 128 * perCodeB;
  if (op === '-A') return fa;
  if (op === '-B') return fb;
  if (op === 'A*B') return fa * fb;
  if (op === '(A+B)/2') return Math.max(fa, fb);
  return fa + fb;
}

// M sample by sample from the codes of A and B (Uint8Array; either may be missing where the
// operation does not use it), with each operand's scale {perCode, zero}.
export function computeMath(op, codesA, codesB, scaleA = { perCode: 1, zero: 128 }, scaleB = { perCode: 1, zero: 128 }) {
  const f = OPS[op];
  const n = (codesA || codesB).length;
  const out = new Float32Array(n);
  const ka = scaleA.perCode, za = scaleA.zero, kb = scaleB.perCode, zb = scaleB.zero;
  for (let i = 0; i < n; ++i) out[i] = f(codesA ? (codesA[i] - za) * ka : 0, codesB ? (codesB[i] - zb) * kb : 0);
  return out;
}

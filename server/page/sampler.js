// The samples under the scope view's traces, with their min/max decimation made once per
// capture: level L holds, for each block of 2^L samples that starts at a multiple of 2^L, the
// least and the greatest value (analogue) or the inputs high anywhere and high throughout
// (logic). Any run of samples is then read exactly from at most two blocks of each level, so a
// column of the screen costs the same at every zoom.

// log2 of the largest power of two that divides a (a > 0), or 31 for 0.
const trailingZeros = (a) => (a === 0 ? 31 : 31 - Math.clz32(a & -a));
const floorLog2 = (n) => 31 - Math.clz32(n);

// An analogue channel: codes (Uint8Array) or averaged values (Float32Array).
export class AnalogueSamples {
  constructor(values) {
    this.values = values;
    this.length = values.length;
    const Kind = values instanceof Float32Array ? Float32Array : Uint8Array;
    this.mins = [values];
    this.maxs = [values];
    for (let below = values, belowMax = values, n = values.length; n > 1;) {
      const m = (n + 1) >> 1;
      const mins = new Kind(m);
      const maxs = new Kind(m);
      const pairs = n >> 1;
      for (let i = 0; i < pairs; ++i) {
        const a = below[2 * i], b = below[2 * i + 1];
        mins[i] = a < b ? a : b;
        const c = belowMax[2 * i], d = belowMax[2 * i + 1];
        maxs[i] = c > d ? c : d;
      }
      if (n & 1) { mins[pairs] = below[n - 1]; maxs[pairs] = belowMax[n - 1]; }
      this.mins.push(mins);
      this.maxs.push(maxs);
      below = mins;
      belowMax = maxs;
      n = m;
    }
  }

  // The least and greatest value of samples a..b-1 (a < b), into out[0], out[1].
  extent(a, b, out) {
    let lo = Infinity, hi = -Infinity;
    while (a < b) {
      const level = Math.min(trailingZeros(a), floorLog2(b - a), this.mins.length - 1);
      const i = a >> level;
      const l = this.mins[level][i], h = this.maxs[level][i];
      if (l < lo) lo = l;
      if (h > hi) hi = h;
      a += 1 << level;
    }
    out[0] = lo;
    out[1] = hi;
  }
}

// The logic inputs as words (Uint16Array, or Uint8Array for 8 inputs), bit n the input Dn.
export class LogicSamples {
  constructor(words, inputs) {
    this.words = words;
    this.inputs = inputs;
    this.length = words.length;
    this.anyHigh = [words];
    this.allHigh = [words];
    for (let or = words, and = words, n = words.length; n > 1;) {
      const m = (n + 1) >> 1;
      const ors = new Uint16Array(m);
      const ands = new Uint16Array(m);
      const pairs = n >> 1;
      for (let i = 0; i < pairs; ++i) {
        ors[i] = or[2 * i] | or[2 * i + 1];
        ands[i] = and[2 * i] & and[2 * i + 1];
      }
      if (n & 1) { ors[pairs] = or[n - 1]; ands[pairs] = and[n - 1]; }
      this.anyHigh.push(ors);
      this.allHigh.push(ands);
      or = ors;
      and = ands;
      n = m;
    }
  }

  // The inputs high in any of samples a..b-1, and those high in all of them.
  extent(a, b, out) {
    let any = 0, all = 0xFFFF;
    while (a < b) {
      const level = Math.min(trailingZeros(a), floorLog2(b - a), this.anyHigh.length - 1);
      const i = a >> level;
      any |= this.anyHigh[level][i];
      all &= this.allHigh[level][i];
      a += 1 << level;
    }
    out[0] = any;
    out[1] = all;
  }
}

// The samples of one capture under its own layout (capture.js): each analogue channel by
// name, and the logic inputs.
export class Sampler {
  constructor(capture, layout) {
    this.capture = capture;
    this.layout = layout;
    this.length = layout.samples;
    this.analogue = {};
    const bytes = capture.bytes;
    const fits = (c, size) => c.offset + layout.samples * size <= bytes.length;
    for (const name of layout.analogue) {
      const c = layout.byName[name];
      let codes;
      if (c.stride === 1 && fits(c, 1)) {
        codes = bytes.subarray(c.offset, c.offset + layout.samples);   // the file's own bytes, not a copy
      } else {
        codes = new Uint8Array(layout.samples);
        const last = Math.min(layout.samples, Math.floor((bytes.length - 1 - c.offset) / c.stride) + 1);
        for (let k = 0, at = c.offset; k < last; ++k, at += c.stride) codes[k] = bytes[at];
      }
      this.analogue[name] = new AnalogueSamples(codes);
    }
    this.logic = null;
    if (layout.inputs) {
      const l = layout.logic;
      // The inputs lie in one byte (Mixed Mode) or two (16 Bit Logic, low byte first), a bit each.
      const contiguous = l.every((c, n) => c.stride === l[0].stride && c.offset === l[0].offset + (n >> 3) && c.bit === (n & 7));
      let words;
      if (contiguous && l.length === 16 && l[0].stride === 2 && (bytes.byteOffset + l[0].offset) % 2 === 0 && fits(l[0], 2)) {
        words = new Uint16Array(bytes.buffer, bytes.byteOffset + l[0].offset, layout.samples);   // little-endian, as every browser's host
      } else if (contiguous && l.length === 8 && l[0].stride === 1 && fits(l[0], 1)) {
        words = bytes.subarray(l[0].offset, l[0].offset + layout.samples);
      } else {
        words = new Uint16Array(layout.samples);
        for (let k = 0; k < layout.samples; ++k) words[k] = capture.word(layout, k);
      }
      this.logic = new LogicSamples(words, layout.inputs);
    }
  }
}

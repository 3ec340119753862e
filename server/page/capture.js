// A capture as its .dso file holds it: the header, and the samples of each channel under the
// record's mode, for the readouts under the mouse.

export const MODES = ['dual', 'single', 'logic16', 'mixed'];
export const IMAGE_SIZE = 0xC0010;
const FIFO = 0x60000;

export class Capture {
  constructor(id, bytes) {
    this.id = id;
    this.bytes = new Uint8Array(bytes);
    const view = new DataView(bytes);
    this.pretrigger = view.getInt32(0, true);
    this.triggerSource = view.getInt8(4);
    this.triggerValue = view.getUint16(6, true);
    this.triggerEdge = view.getInt32(8, true);
    this.rateIndex = view.getInt8(12);
    this.modeCode = view.getInt8(13);
    this.a = this.bytes.subarray(14, 14 + FIFO);
    this.b = this.bytes.subarray(14 + FIFO, 14 + 2 * FIFO);
    this.area = this.bytes.subarray(14, 14 + 2 * FIFO);
  }

  // The record read under a mode (View Mode): its name, samples, rate and channels.
  under(mode) {
    const code = mode ? MODES.indexOf(mode) : this.modeCode;
    const index = this.rateIndex < 0 ? 0 : this.rateIndex;
    const converter = 50e6 / 2 ** index;
    switch (code) {
      case 0: return { mode: 'dual', samples: FIFO, rate: converter, analogue: ['A', 'B'], inputs: 0 };
      case 1: return { mode: 'single', samples: 2 * FIFO, rate: 2 * converter, analogue: ['A'], inputs: 0 };
      case 2: return { mode: 'logic16', samples: FIFO, rate: converter, analogue: [], inputs: 16 };
      case 3: return { mode: 'mixed', samples: FIFO, rate: converter, analogue: ['B'], inputs: 8 };
      default: return { mode: null, samples: 0, rate: 0, analogue: [], inputs: 0 };
    }
  }

  // The code of an analogue channel at sample k, under a mode.
  code(layout, channel, k) {
    if (layout.mode === 'single') return this.area[k];
    return channel === 'A' ? this.a[k] : this.b[k];
  }

  // The logic word at sample k (inputs 0..15 or 0..7).
  word(layout, k) {
    if (layout.mode === 'logic16') return this.area[2 * k] | (this.area[2 * k + 1] << 8);
    return this.a[k];
  }
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

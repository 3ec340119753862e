// Decoded annotations as rows under the scope's traces: a row for each row of each decoder, in
// the order the decoding first gives them, each annotation a box from its first sample to its
// last holding the longest of its texts that fits. Only what lies in the span is looked at, so
// a decoding of many thousands of annotations costs a frame no more than the screen shows.

const ROW = 32;        // CSS pixels a row: its name, and under it the boxes
const MOST_ROWS = 8;   // rows beyond these are left to the table
const MOST_SHARE = 0.4;  // of the view's height: the traces keep the rest
const COLOURS = ['#6ea8ff', '#7ee787', '#f2cc60', '#ff9bce', '#a5d6ff', '#ffa657', '#d2a8ff', '#56d4dd'];

export class DecodeRows {
  constructor() {
    this.rows = [];
    this.shown = 0;   // the rows that fit
  }

  // result: the answer of /decode, or null to show none.
  set(result) {
    const rows = new Map();
    for (const a of result ? result.annotations : []) {
      const key = `${a.decoder}: ${a.row || a.class}`;
      if (!rows.has(key)) {
        if (rows.size === MOST_ROWS) continue;
        rows.set(key, { label: key, items: [], colour: COLOURS[rows.size % COLOURS.length] });
      }
      rows.get(key).items.push(a);
    }
    this.rows = [...rows.values()];
    for (const row of this.rows) {
      row.items.sort((a, b) => a.start - b.start);
      // reach[i]: the furthest end among the first i + 1, so that the first annotation reaching
      // into the span is found by halving.
      row.reach = new Float64Array(row.items.length);
      let far = -Infinity;
      row.items.forEach((a, i) => { far = Math.max(far, a.end); row.reach[i] = far; });
    }
  }

  // The height the rows take in a view of that height, in device pixels.
  height(ratio, viewHeight) {
    this.shown = Math.min(this.rows.length, Math.floor((viewHeight * MOST_SHARE) / (ROW * ratio)));
    return this.shown * ROW * ratio;
  }

  draw(g, view, top) {
    if (!this.shown) return;
    const s = view.ratio, left = view.plot.left, right = view.plot.right;
    const first = view.viewport.start, last = view.viewport.start + view.viewport.width;
    const font = `${11 * s}px "Liberation Sans", sans-serif`;
    this.rows.slice(0, this.shown).forEach((row, r) => {
      // The row's name on its first line, the boxes under it.
      const y = top + r * ROW * s, boxTop = y + 13 * s, boxHeight = (ROW - 15) * s;
      g.save();
      g.font = font;
      g.textBaseline = 'middle';
      g.textAlign = 'left';
      g.fillStyle = '#9aa4b1';
      g.fillText(row.label, left + 2 * s, y + 6 * s, right - left);
      g.beginPath();
      g.rect(left, boxTop, right - left, boxHeight);
      g.clip();
      let lo = 0, hi = row.items.length;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (row.reach[mid] < first) lo = mid + 1; else hi = mid;
      }
      let drawnTo = -Infinity;
      for (let i = lo; i < row.items.length && row.items[i].start <= last; ++i) {
        const a = row.items[i];
        const x0 = Math.max(left, view.xOf(a.start)), x1 = Math.min(right, view.xOf(a.end + 1));
        if (x1 < drawnTo + 1) continue;   // many to a pixel: one mark shows them
        drawnTo = x1;
        g.fillStyle = row.colour;
        g.globalAlpha = 0.3;
        g.fillRect(x0, boxTop, Math.max(1, x1 - x0), boxHeight);
        g.globalAlpha = 1;
        if (x1 - x0 < 3 * s) continue;
        g.strokeStyle = row.colour;
        g.strokeRect(x0 + 0.5, boxTop + 0.5, x1 - x0 - 1, boxHeight - 1);
        const room = x1 - x0 - 6 * s;
        const text = room > 6 * s ? a.texts.find((t) => g.measureText(t).width <= room) : null;
        if (text) {
          g.fillStyle = '#e6edf3';
          g.textAlign = 'center';
          g.fillText(text, (x0 + x1) / 2, boxTop + boxHeight / 2);
        }
      }
      g.restore();
    });
  }
}

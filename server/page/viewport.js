// The span of samples the scope view shows, and every way of changing it: the wheel at the
// pointer, the Zoom In and Zoom Out buttons (Zoom Out undoes Zoom In exactly), dragging, a
// pinch, a box drawn with Shift, and Whole. The span is continuous: start and width are
// fractional samples, and column c of a plot w columns wide covers
// [start + c * width / w, start + (c + 1) * width / w).

export const LEAST_SPAN = 16;   // samples across the plot at the deepest zoom

export class Viewport {
  constructor(onChange) {
    this.onChange = onChange;
    this.total = 0;       // samples in the capture
    this.start = 0;
    this.width = 0;
    this.undo = [];       // the spans Zoom In left, for Zoom Out
  }

  // A capture of `total` samples: a new length shows it whole, the same length keeps the span
  // (as a scope keeps its time base from trigger to trigger).
  setTotal(total) {
    if (total === this.total) return;
    this.total = total;
    this.whole();
  }

  whole() {
    this.set(0, this.total);
    this.undo = [];
  }

  set(start, width, keepUndo = false) {
    const total = this.total;
    width = Math.min(total, Math.max(Math.min(LEAST_SPAN, total), width));
    start = Math.min(total - width, Math.max(0, start));
    const changed = start !== this.start || width !== this.width;
    this.start = start;
    this.width = width;
    if (!keepUndo) this.undo = [];
    if (changed) this.onChange();
  }

  // Zoom by `factor` (> 1 narrows) keeping the sample at fraction f of the plot where it is.
  zoomAt(f, factor) {
    const at = this.start + f * this.width;
    const width = this.width / factor;
    this.set(at - f * width, width);
  }

  zoomIn() {
    const before = { start: this.start, width: this.width };
    this.zoomAt(0.5, 2);
    if (this.width !== before.width) this.undo.push({ before, after: { start: this.start, width: this.width } });
  }

  zoomOut() {
    const last = this.undo[this.undo.length - 1];
    if (last && last.after.start === this.start && last.after.width === this.width) {
      this.undo.pop();
      const rest = this.undo;
      this.set(last.before.start, last.before.width, true);
      this.undo = rest;
    } else {
      this.zoomAt(0.5, 0.5);
    }
  }

  // A drag of dx pixels across a plot `columns` pixels wide: the samples under the pointer
  // follow it.
  panBy(dx, columns) {
    this.set(this.start - (dx * this.width) / columns, this.width);
  }

  // The span between two fractions of the plot (a box drawn across it).
  zoomTo(f1, f2) {
    const a = Math.min(f1, f2), b = Math.max(f1, f2);
    this.set(this.start + a * this.width, (b - a) * this.width);
  }

  // A pinch: the span at its start, the two pointers' fractions then and now.
  pinch(from, a0, b0, a1, b1) {
    const d0 = Math.abs(b0 - a0), d1 = Math.abs(b1 - a1);
    if (d0 < 1e-3 || d1 < 1e-3) return;
    const width = (from.width * d0) / d1;
    const at = from.start + ((a0 + b0) / 2) * from.width;   // the sample between the fingers at the start
    this.set(at - ((a1 + b1) / 2) * width, width);
  }

  // The fraction of the plot where sample position k (fractional) lies, and back.
  fraction(k) {
    return (k - this.start) / this.width;
  }

  sampleAt(f) {
    return this.start + f * this.width;
  }
}

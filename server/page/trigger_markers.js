// The trigger on the screen: the level at the right edge of the trigger channel, and the
// position (the pre-trigger samples) at the top. Both are dragged; dropping one hands the new
// setting to `set` (same checks as the form), which answers with a refusal's words or null.
// A refusal is shown at the marker, which goes back to the setting it showed.

import { AnalogueTrace } from './traces.js';
import { time } from './units.js';

export const LEVEL_OFFSET = 127;   // the level is the code less 127
const NEAR = 8;                    // CSS pixels
const COLOUR = '#ff5a4e';

export class TriggerMarkers {
  constructor(set, onChange) {
    this.set = set;                // async ({level} or {pretrigger}) -> refusal words or null
    this.onChange = onChange;
    this.dragging = null;          // {what, level or pretrigger} while a marker moves
    this.refusal = null;           // {what, text, until}
  }

  // The trigger the screen shows: {channel, level (or null), pretrigger}.
  shown(v) {
    const s = v.triggerSettings();
    if (!s) return null;
    const takes = v.triggerTakes(s);
    const channel = takes === 'level' ? (s.trigger === 'b' ? 'B' : 'A') : null;
    let level = takes === 'level' ? Number(s.level) : null;
    let pretrigger = Number(s.pretrigger);
    if (this.dragging?.what === 'level') level = this.dragging.level;
    if (this.dragging?.what === 'pretrigger') pretrigger = this.dragging.pretrigger;
    return { channel: channel && v.channel(channel)?.on && v.sampler?.analogue[channel] ? channel : null,
      level: Number.isFinite(level) ? level : null, pretrigger: Number.isFinite(pretrigger) ? pretrigger : null };
  }

  levelY(v, t) {
    return AnalogueTrace.y(v, v.channel(t.channel), t.level + LEVEL_OFFSET);
  }

  draw(g, v) {
    const t = this.shown(v);
    if (!t) return;
    const p = v.plot;
    const s = v.ratio;
    g.save();
    g.font = `bold ${11 * s}px "Liberation Sans", sans-serif`;
    if (t.channel && t.level !== null) {
      const y = Math.max(p.top, Math.min(p.bottom, this.levelY(v, t)));
      g.fillStyle = v.channel(t.channel).colour;
      g.beginPath();
      g.moveTo(p.right + 1 * s, y);
      g.lineTo(p.right + 8 * s, y - 8 * s);
      g.lineTo(p.right + 18 * s, y - 8 * s);
      g.lineTo(p.right + 18 * s, y + 8 * s);
      g.lineTo(p.right + 8 * s, y + 8 * s);
      g.fill();
      g.fillStyle = '#000';
      g.textAlign = 'center';
      g.textBaseline = 'middle';
      g.fillText('T', p.right + 11 * s, y + 0.5 * s);
      if (this.dragging?.what === 'level') {
        g.strokeStyle = COLOUR;
        g.setLineDash([4 * s, 4 * s]);
        g.beginPath();
        g.moveTo(p.left, Math.round(y) + 0.5);
        g.lineTo(p.right, Math.round(y) + 0.5);
        g.stroke();
        this.label(g, v, `level ${t.level}`, p.right - 4 * s, y - 10 * s, 'right');
      }
    }
    if (t.pretrigger !== null) {
      const x = v.xOf(t.pretrigger + 0.5);
      if (x >= p.left - 1 && x <= p.right + 1) {
        g.fillStyle = COLOUR;
        g.beginPath();
        g.moveTo(x, p.top - 1 * s);
        g.lineTo(x - 7 * s, p.top - 12 * s);
        g.lineTo(x + 7 * s, p.top - 12 * s);
        g.fill();
        g.fillStyle = '#fff';
        g.textAlign = 'center';
        g.textBaseline = 'middle';
        g.fillText('T', x, p.top - 7.5 * s);
        if (this.dragging?.what === 'pretrigger') {
          g.strokeStyle = COLOUR;
          g.setLineDash([4 * s, 4 * s]);
          g.beginPath();
          g.moveTo(Math.round(x) + 0.5, p.top);
          g.lineTo(Math.round(x) + 0.5, p.bottom);
          g.stroke();
          this.label(g, v, `pre-trigger ${t.pretrigger} (${time(-t.pretrigger / (v.rate || 1))} from the start)`, x + 6 * s, p.top + 14 * s, 'left');
        }
      }
    }
    if (this.refusal && performance.now() < this.refusal.until) {
      const r = this.refusal;
      if (r.what === 'level' && t.channel && t.level !== null) this.label(g, v, r.text, p.right - 4 * s, this.levelY(v, t) + 16 * s, 'right', true);
      else if (r.what === 'pretrigger') this.label(g, v, r.text, v.xOf((t.pretrigger ?? 0) + 0.5) + 6 * s, p.top + 14 * s, 'left', true);
    }
    g.restore();
  }

  // Words on a dark box, kept inside the plot.
  label(g, v, text, x, y, align, refusal = false) {
    const p = v.plot;
    const s = v.ratio;
    g.setLineDash([]);
    g.font = `${refusal ? 'bold ' : ''}${12 * s}px "Liberation Sans", sans-serif`;
    const w = g.measureText(text).width + 8 * s;
    let left = align === 'right' ? x - w : x;
    left = Math.max(p.left + 2 * s, Math.min(p.right - w - 2 * s, left));
    const top = Math.max(p.top + 2 * s, Math.min(p.bottom - 20 * s, y - 9 * s));
    g.fillStyle = refusal ? '#5a1410' : 'rgba(13,17,23,0.85)';
    g.fillRect(left, top, w, 18 * s);
    g.fillStyle = refusal ? '#ffd7d2' : '#e6edf3';
    g.textAlign = 'left';
    g.textBaseline = 'middle';
    g.fillText(text, left + 4 * s, top + 9 * s);
  }

  grab(v, x, y) {
    const t = this.shown(v);
    if (!t) return null;
    const s = v.ratio;
    const p = v.plot;
    if (t.channel && t.level !== null) {
      const ly = Math.max(p.top, Math.min(p.bottom, this.levelY(v, t))) / s;
      if (x * s >= p.right - 4 * s && Math.abs(y - ly) <= NEAR) {
        const channel = v.channel(t.channel);
        return this.drag('level', 'ns-resize', (px, py) => {
          const a = v.analogueArea;
          const y0 = AnalogueTrace.y(v, channel, 0), slope = AnalogueTrace.y(v, channel, 1) - y0;
          void a;
          return Math.round((py * s - y0) / slope) - LEVEL_OFFSET;
        });
      }
    }
    if (t.pretrigger !== null && y * s <= p.top + 2 * s && Math.abs(v.xOf(t.pretrigger + 0.5) / s - x) <= NEAR) {
      return this.drag('pretrigger', 'ew-resize', (px) => Math.floor(v.sampleAtX(px * s)));
    }
    return null;
  }

  drag(what, cursor, valueAt) {
    return {
      cursor,
      move: (px, py) => {
        this.dragging = { what, [what]: valueAt(px, py) };
        this.refusal = null;
        this.onChange();
      },
      end: async () => {
        if (!this.dragging) return;
        const value = this.dragging[what];
        const refusal = await this.set({ [what]: value });
        this.dragging = null;
        if (refusal) {
          this.refusal = { what, text: refusal, until: performance.now() + 5000 };
          setTimeout(() => this.onChange(), 5100);
        }
        this.onChange();
      },
    };
  }
}

// Requests to the instrument's API. Every answer that is not a file is JSON; a refusal
// carries {"error": "..."}, and {"field": "level"} where it names a field of a request.

export class ApiError extends Error {
  constructor(status, message, field, at) {
    super(message);
    this.status = status;
    this.field = field || null;
    this.at = Number.isInteger(at) ? at : null;  // the character (from 1) where a typed text went wrong
  }
}

async function answer(response) {
  const type = response.headers.get('Content-Type') || '';
  if (!response.ok) {
    let message = `${response.status} ${response.statusText}`;
    let field = null;
    let at = null;
    if (type.startsWith('application/json')) {
      try {
        const refusal = await response.json();
        message = refusal.error || message;
        field = refusal.field;
        at = refusal.at;
      } catch (_) { /* the status says it */ }
    }
    throw new ApiError(response.status, message, field, at);
  }
  return type.startsWith('application/json') ? response.json() : response;
}

// A request the instrument never answered (it has stopped, or the network is down) is
// refused in words, not as the browser's "Failed to fetch".
export const UNREACHABLE = 'The instrument cannot be reached: it has stopped or the network is down.';

async function send(path, init) {
  let response;
  try {
    response = await fetch(path, init);
  } catch (_) {
    throw new ApiError(0, UNREACHABLE);
  }
  return answer(response);
}

export async function get(path) {
  return send(path, { cache: 'no-store' });
}

export async function post(path, body, method = 'POST') {
  const init = { method, cache: 'no-store' };
  if (body instanceof Blob || body instanceof ArrayBuffer) {
    init.body = body;
    init.headers = { 'Content-Type': 'application/octet-stream' };
  } else if (body !== undefined) {
    init.body = JSON.stringify(body);
    init.headers = { 'Content-Type': 'application/json' };
  }
  return send(path, init);
}

export async function put(path, body) {
  return post(path, body, 'PUT');
}

// The live link to the instrument. Calls onMessage with every message and onLink with how
// the link stands: {up: true}, or {up: false, refused} where refused is the instrument's
// sentence when it turned the page away (too many pages open), else null. The link counts as
// up from its first message that is not a refusal, since a refused link is accepted first.
// A dropped link is tried again soon (0.5 s, doubling to 5 s); a refused one calmly, every
// 10 to 15 s, spread so that the pages turned away do not all come back at once.
const REFUSED = 'The instrument refused the live connection.';
const DROPPED_MS = 500;
const DROPPED_MOST_MS = 5000;
const REFUSED_MS = 10000;
const REFUSED_SPREAD_MS = 5000;

export function live(onMessage, onLink) {
  let socket = null;
  let timer = null;
  let retry = DROPPED_MS;
  let up = false;
  let refused = null;
  const open = () => {
    clearTimeout(timer);
    timer = null;
    refused = null;
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const s = new WebSocket(`${scheme}//${location.host}/api/live`);
    socket = s;
    s.onmessage = (event) => {
      let message;
      try { message = JSON.parse(event.data); } catch (error) { console.error(error); return; }
      if (message.type === 'refused') {
        refused = typeof message.error === 'string' && message.error.trim() ? message.error.trim() : REFUSED;
        onLink({ up: false, refused });
        s.close();
        return;
      }
      if (!up) {
        up = true;
        retry = DROPPED_MS;
        onLink({ up: true, refused: null });
      }
      try { onMessage(message); } catch (error) { console.error(error); }
    };
    s.onclose = (event) => {
      if (socket !== s) return;
      socket = null;
      up = false;
      // Policy (1008) or Try Again Later (1013) without the instrument's own sentence.
      if (!refused && (event.code === 1008 || event.code === 1013)) refused = REFUSED;
      onLink({ up: false, refused });
      let wait = retry;
      if (refused) wait = REFUSED_MS + Math.random() * REFUSED_SPREAD_MS;
      else retry = Math.min(retry * 2, DROPPED_MOST_MS);
      timer = setTimeout(open, wait);
    };
  };
  open();
  return {
    // A dropped link tried again at once, as when a hidden page, whose timers the browser
    // holds back, is shown again; a refused link keeps its calm pace.
    now() { if (!socket && !refused) open(); },
  };
}

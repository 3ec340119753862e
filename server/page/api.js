// Requests to the instrument's API. Every answer that is not a file is JSON; a refusal
// carries {"error": "..."} in the command line's words.

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

async function answer(response) {
  const type = response.headers.get('Content-Type') || '';
  if (!response.ok) {
    let message = `${response.status} ${response.statusText}`;
    if (type.startsWith('application/json')) {
      try { message = (await response.json()).error || message; } catch (_) { /* the status says it */ }
    }
    throw new ApiError(response.status, message);
  }
  return type.startsWith('application/json') ? response.json() : response;
}

export async function get(path) {
  return answer(await fetch(path, { cache: 'no-store' }));
}

export async function post(path, body) {
  const init = { method: 'POST', cache: 'no-store' };
  if (body instanceof Blob || body instanceof ArrayBuffer) {
    init.body = body;
    init.headers = { 'Content-Type': 'application/octet-stream' };
  } else if (body !== undefined) {
    init.body = JSON.stringify(body);
    init.headers = { 'Content-Type': 'application/json' };
  }
  return answer(await fetch(path, init));
}

// The live state: calls onMessage with every message; reconnects when the link drops, and
// says whether it is up.
export function live(onMessage, onLink) {
  let socket = null;
  let retry = 500;
  const open = () => {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    socket = new WebSocket(`${scheme}//${location.host}/api/live`);
    socket.onopen = () => { retry = 500; onLink(true); };
    socket.onmessage = (event) => {
      try { onMessage(JSON.parse(event.data)); } catch (error) { console.error(error); }
    };
    socket.onclose = () => {
      onLink(false);
      setTimeout(open, retry);
      retry = Math.min(retry * 2, 5000);
    };
  };
  open();
}

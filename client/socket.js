// The WebSocket: binary messages are frames, text messages server notices. A socket that drops
// is opened again after a delay that doubles up to a bound; the server sends a snapshot on
// every new connection.

/**
 * A ws: or wss: URL for a URL given relative to the page (http: and https: are turned into
 * their WebSocket schemes).
 * @param {string} url @param {string} base
 */
export function socketUrl(url, base) {
  const u = new URL(url, base);
  if (u.protocol === 'http:') u.protocol = 'ws:';
  else if (u.protocol === 'https:') u.protocol = 'wss:';
  return u.href;
}

/**
 * @typedef {object} SocketEvents
 * @property {(bytes: Uint8Array, at: number) => void} frame
 * @property {(text: string) => void} notice
 * @property {() => void} open
 * @property {(code: number, reason: string) => void} close
 */

/**
 * @param {string} url
 * @param {SocketEvents} on
 * @param {{reconnectDelay?: number, maxReconnectDelay?: number, WebSocket?: typeof WebSocket}} [options]
 */
export function openSocket(url, on, options = {}) {
  const first = options.reconnectDelay ?? 250;
  const most = options.maxReconnectDelay ?? 5000;
  const WS = options.WebSocket ?? globalThis.WebSocket;
  let delay = first;
  let closed = false;
  /** @type {WebSocket|null} */
  let ws = null;
  /** @type {ReturnType<typeof setTimeout>|null} */
  let timer = null;

  function dial() {
    timer = null;
    const sock = new WS(url);
    ws = sock;
    sock.binaryType = 'arraybuffer';
    sock.onopen = () => {
      delay = first;
      on.open();
    };
    sock.onmessage = (ev) => {
      if (typeof ev.data === 'string') on.notice(ev.data);
      else on.frame(new Uint8Array(ev.data), performance.now());
    };
    sock.onclose = (ev) => {
      if (ws !== sock) return;
      ws = null;
      on.close(ev.code, ev.reason);
      if (!closed) {
        timer = setTimeout(dial, delay);
        delay = Math.min(delay * 2, most);
      }
    };
  }
  dial();

  return {
    /** Send a text; false when the socket is not open (the text is dropped). @param {string} text */
    send(text) {
      if (!ws || ws.readyState !== WS.OPEN) return false;
      ws.send(text);
      return true;
    },
    /** Close for good: no reconnection. */
    close() {
      closed = true;
      if (timer !== null) clearTimeout(timer);
      ws?.close();
    },
    /** Drop the current connection; it is opened again as after any drop. */
    drop() {
      ws?.close();
    },
  };
}

(function () {
  const call = (cmd, ...args) => window.webkit.messageHandlers.qp.postMessage({ cmd, args: JSON.stringify(args) }).then(r => (r == null || r === '') ? null : JSON.parse(r));

  // Engines with Uint8Array.prototype.toBase64 and Uint8Array.fromBase64 convert tens of times
  // faster than btoa and atob; the page gets the same bytes either way.
  const b64 = typeof Uint8Array.prototype.toBase64 === 'function'
    ? (u8) => u8.toBase64()
    : (u8) => {
      let s = '';
      for (let i = 0; i < u8.length; i += 0x8000)
        s += String.fromCharCode.apply(null, u8.subarray(i, i + 0x8000));
      return btoa(s);
    };
  const unb64 = typeof Uint8Array.fromBase64 === 'function'
    ? (s) => Uint8Array.fromBase64(s || '')
    : (s) => Uint8Array.from(atob(s || ''), c => c.charCodeAt(0));
  const bytes = (x) => b64(x instanceof Uint8Array ? x : new Uint8Array(x));

  // Large bytes travel through the quillpost-bytes: side channel as they are, without Base64 or
  // JSON; the commands answer and take Base64 as well, and the page gets the same values either way.
  const channel = 'quillpost-bytes://bytes/';
  const large = 64 * 1024;
  const fetched = (address) => fetch(address).then((r) => {
    if (!r.ok)
      throw new Error('The bytes were no longer there to fetch.');
    return r;
  });
  const fetchBytes = (address) => fetched(address).then((r) => r.arrayBuffer()).then((b) => new Uint8Array(b));
  // Bytes as a command gives them: Base64, or the address of large bytes.
  const bytesFrom = (r) => (typeof r === 'string' && r.startsWith(channel)) ? fetchBytes(r) : unb64(r);
  const callVia = (cmd, args) => window.webkit.messageHandlers.qp.postMessage({ cmd, args: JSON.stringify(args), via: 'quillpost-bytes' })
    .then((r) => (r == null || r === '') ? null : JSON.parse(r));
  const callBytes = (cmd, ...args) => callVia(cmd, args).then(bytesFrom);
  // An answer object whose "bytes" member holds bytes; the page gets them as a Uint8Array.
  const callWithBytes = (cmd, ...args) => callVia(cmd, args)
    .then((r) => Promise.resolve(bytesFrom(r?.bytes)).then((b) => ({ ...r, bytes: b })));
  // Bytes for a command: Base64 when small, else the address of an upload (Base64 if that fails).
  const sendBytes = (x) => {
    const u8 = x instanceof Uint8Array ? x : new Uint8Array(x);
    if (u8.length < large)
      return Promise.resolve(b64(u8));
    return fetch(channel, { method: 'POST', body: u8 })
      .then((r) => r.ok ? r.text() : Promise.reject(new Error('upload refused')))
      .catch(() => b64(u8));
  };

  // WebKit brings the whole program down when a request to one of the program's own schemes
  // carries a body it holds as a Blob (a File, FormData or a stream). Such a body is read into
  // bytes here before the request leaves the page, whichever code sends it; text and bytes go as
  // they are.
  const resolved = (url) => {
    try {
      return new URL(String(url), window.location?.href);
    } catch {
      return null;
    }
  };
  const toProgram = (url) => {
    const at = resolved(url);
    return at !== null && !/^(https?|data|blob):$/.test(at.protocol);
  };
  const plainBody = (body) => body == null || typeof body === 'string' || body instanceof ArrayBuffer || ArrayBuffer.isView(body) ||
    (typeof URLSearchParams === 'function' && body instanceof URLSearchParams);
  if (typeof fetch === 'function' && typeof Request === 'function') {
    const fetchAsIs = fetch;
    window.fetch = async (input, init) => {
      const viaRequest = typeof Request === 'function' && input instanceof Request;
      const url = viaRequest ? input.url : (input instanceof URL ? input.href : input);
      if (!toProgram(url) || (!viaRequest && plainBody(init?.body)))
        return fetchAsIs(input, init);
      const request = new Request(viaRequest ? input : resolved(url).href, init);
      if (request.method === 'GET' || request.method === 'HEAD')
        return fetchAsIs(request);
      const body = await request.arrayBuffer();
      return fetchAsIs(request.url, { method: request.method, headers: request.headers, body, signal: request.signal, cache: request.cache, credentials: request.credentials });
    };
  }
  if (typeof XMLHttpRequest === 'function' && typeof Response === 'function') {
    const open = XMLHttpRequest.prototype.open;
    const send = XMLHttpRequest.prototype.send;
    const target = new WeakMap();
    XMLHttpRequest.prototype.open = function (method, url, ...rest) {
      target.set(this, url);
      return open.call(this, method, url, ...rest);
    };
    XMLHttpRequest.prototype.send = function (body) {
      if (plainBody(body) || !toProgram(target.get(this)))
        return send.call(this, body);
      const read = new Response(body);
      const type = read.headers.get('content-type');
      if (type)
        this.setRequestHeader('Content-Type', type);
      read.arrayBuffer().then((bytes) => send.call(this, bytes), () => this.abort());
    };
  }

  // The document's text comes as bytes, through the byte channel when large: a script reply
  // carrying tens of megabytes of text costs the page seconds. Where the page can inflate, the
  // bytes come deflated, a small fraction to carry. Bytes that didn't arrive (an address that
  // expired) are asked for again as a script reply.
  const inflating = typeof DecompressionStream === 'function';
  const streamOf = (r) => (typeof r === 'string' && r.startsWith(channel))
    ? fetched(r).then((f) => f.blob()).then((b) => b.stream())
    : Promise.resolve(new Blob([unb64(r)]).stream());
  const textFromStream = async (stream) => {
    const reader = stream.getReader();
    const decoder = new TextDecoder();
    let text = '';
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return text + decoder.decode();
      text += decoder.decode(value, { stream: true });
    }
  };
  const textOf = (r) => (r?.encoding === 'deflate'
    ? streamOf(r.bytes).then((body) => textFromStream(body.pipeThrough(new DecompressionStream('deflate'))))
    : Promise.resolve(bytesFrom(r?.bytes ?? r)).then((u8) => new TextDecoder().decode(u8)));
  // options.text(text), when given, is handed the text the document was read from.
  const loadDocument = (options) => callVia('loadText', inflating ? ['deflate'] : [])
    .then(textOf)
    .then((text) => {
      const doc = JSON.parse(text);
      if (typeof options?.text === 'function')
        options.text(text);
      return doc;
    }, () => call('load'));

  const api = {
    native: 'cpp',
    platform: 'linux',
    load: loadDocument,
    save: (blob) => call('save', JSON.stringify(blob)),
    // Edits to the text the last save wrote: [place in UTF-16 units, text that stood there, text
    // that stands there now], in order. Refused when they no longer fit the file; the page then
    // saves the whole text.
    saveEdits: (edits) => call('saveEdits', edits),
    // The document's JSON text as UTF-8 bytes, whole or in pieces (a list of them, each ending on
    // a character): large text is uploaded a piece of at most 1 MiB at a time, a few at once, since
    // the page waits while each upload's body is copied, and the save takes the pieces' addresses in
    // order; small text, or text an upload refused, goes as text.
    saveText: async (text) => {
      const piece = 1024 * 1024;
      const pieces = [];
      for (const u8 of Array.isArray(text) ? text : [text]) {
        for (let at = 0; at < u8.length; at += piece)
          pieces.push(u8.subarray(at, at + piece));
      }
      const size = pieces.reduce((total, u8) => total + u8.length, 0);
      const asText = () => {
        const decoder = new TextDecoder();
        return call('save', pieces.map((u8) => decoder.decode(u8, { stream: true })).join('') + decoder.decode());
      };
      if (size < large)
        return asText();
      const addresses = new Array(pieces.length);
      let next = 0;
      const uploader = async () => {
        for (let at = next++; at < pieces.length; at = next++) {
          const r = await fetch(channel, { method: 'POST', body: pieces[at] });
          if (!r.ok)
            throw new Error('upload refused');
          addresses[at] = await r.text();
        }
      };
      try {
        await Promise.all(Array.from({ length: Math.min(4, pieces.length) }, uploader));
      } catch {
        return asText();
      }
      return call('save', addresses.join(' '));
    },
    info: () => call('info'),
    dataStatus: () => call('dataStatus'),
    openDataFolder: () => call('openDataFolder'),
    chooseBackupFolder: () => call('chooseBackupFolder'),
    clearBackupFolder: () => call('clearBackupFolder'),
    listSnapshots: () => call('listSnapshots'),
    restoreSnapshot: (n, sealed, plainAgreed) => call('restoreSnapshot', n, sealed ? JSON.stringify(sealed) : '', !!plainAgreed),
    readSnapshot: (n) => call('readSnapshot', n),
    plainCopies: () => call('plainCopies'),
    removePlainCopies: () => call('removePlainCopies'),
    shareStatus: () => call('shareStatus'),
    shareTest: (server) => call('shareTest', server),
    shareStart: (server) => call('shareStart', server),
    shareStop: () => call('shareStop'),
    recoveryCopy: () => call('recoveryCopy'),
    driveDetect: () => call('driveDetect'),
    driveConnect: (manual) => call('driveConnect', !!manual),
    driveDisconnect: () => call('driveDisconnect'),
    claimClientFolder: (c, held, create) => call('claimClientFolder', c, Array.isArray(held) ? held : [], create !== false),
    clientFolder: (c, sub, open) => call('clientFolder', c, sub || '', !!open),
    openFolder: (d) => call('openFolder', d),
    chooseDocsRoot: () => call('chooseDocsRoot'),
    composeEmail: (o) => call('composeEmail', { to: o.to || '', subject: o.subject || '', body: o.body || '', path: o.path || '' }),
    saveDocument: (o) => {
      const { client, sub, fileName } = o;
      return sendBytes(o.bytes).then((b) => call('saveDocument', { client, sub: sub || '', fileName, bytes: b }));
    },
    listDocuments: (c) => call('listDocuments', c),
    openDocument: (p) => call('openDocument', p),
    revealDocument: (p) => call('revealDocument', p),
    readDocument: (p) => callBytes('readDocument', p),
    deleteDocument: (p) => call('deleteDocument', p),
    printPdf: () => callBytes('printPdf'),
    printPage: () => call('printPage'),
    protectPdf: (data, password) => sendBytes(data).then((b) => callBytes('protectPdf', { bytes: b, password })),
    flattenPdf: (data) => sendBytes(data).then((b) => callWithBytes('flattenPdf', { bytes: b })),
    setBadge: (n) => call('setBadge', n),
    touchIdAvailable: () => call('touchIdAvailable'),
    touchIdStatus: () => call('touchIdStatus'),
    touchIdEnabled: () => call('touchIdEnabled'),
    touchIdSave: (p) => call('touchIdSave', p),
    touchIdClear: () => call('touchIdClear'),
    touchIdUnlock: () => call('touchIdUnlock'),
    touchIdInline: (r) => call('touchIdInline', r),
    touchIdInlineMove: (r) => call('touchIdInlineMove', r),
    touchIdInlineCancel: () => call('touchIdInlineCancel'),
    simulateScreenSleep: () => call('simulateScreenSleep'),
    seSelfTest: () => call('seSelfTest'),
    simulateOpenURL: (u) => call('simulateOpenURL', u),
    simulateDrop: (u) => call('simulateDrop', u),
    answerSaveDialogs: (folder) => call('answerSaveDialogs', folder),
    openPdfCraft: (data, name) => (data ? sendBytes(data) : Promise.resolve('')).then((b) => call('openPdfCraft', b, name || '')),
    hasPdfCraft: () => call('hasPdfCraft'),
    pdfcraftInfo: () => call('pdfcraftInfo'),
    pdfcraftCheck: () => call('pdfcraftCheck'),
    irccFeed: () => call('irccFeed'),
    relay: (o) => call('relay', {
      base: o.base,
      path: o.path,
      method: o.method || 'GET',
      headers: o.headers || {},
      body: o.body != null ? (o.body instanceof Uint8Array ? bytes(o.body) : b64(new TextEncoder().encode(String(o.body)))) : '',
    }).then(r => ({ status: r.status, body: unb64(r.body) })),
    pdfcraftCloseAll: () => call('pdfcraftCloseAll'),
    pdfcraftUpdate: () => call('pdfcraftUpdate'),
    pdfcraftRollback: () => call('pdfcraftRollback'),
    onPdfcraftProgress: (cb) => { window.__qpPcProgress = cb; },
    driveConnectPath: (p) => call('driveConnectPath', p),
    printerStatus: () => call('printerStatus'),
    printerSetup: () => call('printerSetup'),
    printerOff: () => call('printerOff'),
    listPrinted: () => call('listPrinted'),
    readPrinted: (p) => callBytes('readPrinted', p),
    openPrinted: (p) => call('openPrinted', p),
    deletePrinted: (p) => call('deletePrinted', p),
    onPrinted: (cb) => { window.__qpPrinted = cb; },
    backupCandidates: () => call('backupCandidates'),
    copySecret: (t, secs) => call('copySecret', String(t || ''), secs || 30),
    clipText: () => call('clipText'),
    clipSet: (t) => call('clipSet', t),
    clipConcealed: () => call('clipConcealed'),
    pdfcraftProbe: (body) => call('pdfcraftProbe', body),
    pdfcraftSnapshot: (path) => call('pdfcraftSnapshot', path),
    vaultTouchAvailable: () => call('vaultTouchAvailable'),
    vaultTouchEnabled: () => call('vaultTouchEnabled'),
    vaultTouchSave: (p) => call('vaultTouchSave', p),
    vaultTouchClear: () => call('vaultTouchClear'),
    vaultTouchUnlock: () => call('vaultTouchUnlock'),
    updateInfo: () => call('updateInfo'),
    checkForUpdates: () => call('checkForUpdates'),
    setAutoUpdate: (on) => call('setAutoUpdate', !!on),
    setAutoDownload: (on) => call('setAutoDownload', !!on),
    onUpdate: (cb) => { window.addEventListener('qp-update', (e) => cb(e.detail || {})); },
    onMenu: (cb) => { window.__qpMenu = cb; },
    onFlush: () => {},
    flushed: () => {},
  };

  // Every member answers with a promise: odd arguments (null, cyclic or very deep values) reject it
  // rather than throw at the caller.
  for (const [name, member] of Object.entries(api)) {
    if (typeof member !== 'function')
      continue;
    api[name] = (...args) => {
      try {
        return Promise.resolve(member(...args));
      } catch (error) {
        return Promise.reject(error);
      }
    };
  }
  window.quillpost = api;

  // Web notifications don't reach the desktop from the web view, so they go through the program.
  class QPNotification {
    constructor(title, o) {
      this.id = String(Date.now()) + String(Math.random()).slice(2, 8);
      this.title = String(title || '');
      this.body = String((o && o.body) || '');
      this.onclick = null;
      QPNotification.open[this.id] = this;
      call('notify', this.id, this.title, this.body).catch(() => {});
    }
    close() {
      delete QPNotification.open[this.id];
    }
    static requestPermission() {
      return Promise.resolve('granted');
    }
  }
  QPNotification.permission = 'granted';
  QPNotification.open = {};
  window.Notification = QPNotification;
  window.__qpNotifyClick = (id) => {
    const n = QPNotification.open[id];
    if (n && typeof n.onclick === 'function')
      n.onclick();
  };

  const tag = () => document.documentElement.classList.add('is-desktop', 'is-linux', 'is-native');
  if (document.documentElement)
    tag();
  document.addEventListener('DOMContentLoaded', tag);
})();

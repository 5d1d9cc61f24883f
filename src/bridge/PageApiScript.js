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

  const api = {
    native: 'cpp',
    platform: 'linux',
    load: () => call('load'),
    save: (blob) => call('save', JSON.stringify(blob)),
    info: () => call('info'),
    dataStatus: () => call('dataStatus'),
    openDataFolder: () => call('openDataFolder'),
    chooseBackupFolder: () => call('chooseBackupFolder'),
    clearBackupFolder: () => call('clearBackupFolder'),
    listSnapshots: () => call('listSnapshots'),
    restoreSnapshot: (n) => call('restoreSnapshot', n),
    recoveryCopy: () => call('recoveryCopy'),
    driveDetect: () => call('driveDetect'),
    driveConnect: (manual) => call('driveConnect', !!manual),
    driveDisconnect: () => call('driveDisconnect'),
    clientFolder: (c, sub, open) => call('clientFolder', c, sub || '', !!open),
    openFolder: (d) => call('openFolder', d),
    chooseDocsRoot: () => call('chooseDocsRoot'),
    composeEmail: (o) => call('composeEmail', { to: o.to || '', subject: o.subject || '', body: o.body || '', path: o.path || '' }),
    saveDocument: (o) => call('saveDocument', { client: o.client, sub: o.sub || '', fileName: o.fileName, bytes: bytes(o.bytes) }),
    listDocuments: (c) => call('listDocuments', c),
    openDocument: (p) => call('openDocument', p),
    revealDocument: (p) => call('revealDocument', p),
    readDocument: (p) => call('readDocument', p).then(unb64),
    deleteDocument: (p) => call('deleteDocument', p),
    printPdf: () => call('printPdf').then(unb64),
    printPage: () => call('printPage'),
    protectPdf: (data, password) => call('protectPdf', { bytes: bytes(data), password }).then(unb64),
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
    openPdfCraft: (data, name) => call('openPdfCraft', data ? bytes(data) : '', name || ''),
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
    readPrinted: (p) => call('readPrinted', p).then(unb64),
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

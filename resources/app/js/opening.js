// Starts reading the practice's data while the page's modules load: the store's first load takes
// these answers rather than asking again. A classic script with no imports, so it runs as soon as
// the document is parsed, well before the module graph has arrived.
(function () {
  const bridge = window.quillpost;
  if (!bridge || typeof bridge.load !== 'function') return;

  // The deflated text is inflated in a worker; the page's thread meanwhile runs the modules. A
  // worker that fails leaves the bridge to read the data the ordinary way.
  const inflate = (address) => new Promise((resolve, reject) => {
    const worker = new Worker('js/inflate-worker.js');
    const finish = (settle, value) => {
      worker.terminate();
      settle(value);
    };
    worker.onmessage = ({ data }) => (typeof data?.text === 'string'
      ? finish(resolve, data.text)
      : finish(reject, new Error(data?.error || 'The data did not inflate.')));
    worker.onerror = (event) => {
      event.preventDefault();
      finish(reject, new Error('The data did not inflate.'));
    };
    worker.postMessage(address);
  });

  const settled = (promise) => {
    // A failure is the store's to report; until it asks, nothing may count it as unhandled.
    promise.catch(() => {});
    return promise;
  };
  let text = null;
  const read = (given) => {
    text = given;
  };
  const load = settled(Promise.resolve().then(() => bridge.load(typeof Worker === 'function' ? { inflate, text: read } : { text: read })));
  // What the data file's state is, asked once the load's command has been heard.
  const status = settled(Promise.resolve().then(() => bridge.dataStatus?.()));
  Object.defineProperty(window, 'quillpostOpening', { value: { bridge, load, status, text: () => text }, configurable: true });
})();

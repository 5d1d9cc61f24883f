// Measures the bridge inside the real web view; the results go to the console for bridge_bench.py.
(async () => {
  const report = (name, value, unit) => console.log('E2E-RESULT ' + JSON.stringify({ name, ok: true, detail: { value, unit } }));
  const post = (body) => window.webkit.messageHandlers.qp.postMessage(body);
  try {
    for (let i = 0; i < 200; i++)
      await quillpost.listSnapshots();
    const rounds = 3000;
    let start = performance.now();
    for (let i = 0; i < rounds; i++)
      await quillpost.listSnapshots();
    report('round trips of a small command (listSnapshots)', Math.round(rounds / ((performance.now() - start) / 1000)), 'per second');

    start = performance.now();
    for (let i = 0; i < 1000; i++)
      await quillpost.info();
    report('round trips of info', Math.round(1000 / ((performance.now() - start) / 1000)), 'per second');

    // A 10 MB Base64 text, saved once and then returned to the page by load.
    const raw = new Uint8Array(7.5 * 1024 * 1024);
    for (let i = 0; i < raw.length; i += 65536)
      crypto.getRandomValues(raw.subarray(i, Math.min(raw.length, i + 65536)));
    let s = '';
    for (let i = 0; i < raw.length; i += 0x8000)
      s += String.fromCharCode.apply(null, raw.subarray(i, i + 0x8000));
    const blob = btoa(s);
    start = performance.now();
    await quillpost.save({ blob });
    report('save of a document holding 10 MB of Base64', Math.round(performance.now() - start), 'ms');

    const times = [];
    const textTimes = [];
    for (let i = 0; i < 5; i++) {
      start = performance.now();
      const text = await post({ cmd: 'load', args: '[]' });
      textTimes.push(performance.now() - start);
      if (text.length < blob.length)
        throw new Error('short reply');
      start = performance.now();
      const doc = await quillpost.load();
      times.push(performance.now() - start);
      if (doc.blob.length !== blob.length)
        throw new Error('reply lost bytes');
    }
    const median = (a) => a.sort((x, y) => x - y)[Math.floor(a.length / 2)];
    report('10 MB Base64 reply reaching the page as text (median of 5)', Math.round(median(textTimes)), 'ms');
    report('10 MB Base64 reply reaching the page parsed (median of 5)', Math.round(median(times)), 'ms');
  } catch (error) {
    console.log('E2E-RESULT ' + JSON.stringify({ name: 'benchmark', ok: false, detail: String(error) }));
  }
  console.log('E2E-DONE');
})();

// A 10 MB document through saveDocument and back through readDocument, beside the raw message
// floor; the results go to the console for bridge_bench.py.
(async () => {
  const report = (name, value, unit) => console.log('E2E-RESULT ' + JSON.stringify({ name, ok: true, detail: { value, unit } }));
  const post = (body) => window.webkit.messageHandlers.qp.postMessage(body);
  const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
  const rounds = 7;
  try {
    const bytes = new Uint8Array(10 * 1024 * 1024);
    for (let i = 0; i < bytes.length; i += 65536)
      crypto.getRandomValues(bytes.subarray(i, Math.min(bytes.length, i + 65536)));
    report('engine has Uint8Array toBase64/fromBase64', typeof bytes.toBase64 === 'function' && typeof Uint8Array.fromBase64 === 'function' ? 1 : 0, '(1 = yes)');

    // The floor: the same Base64 text posted to a command that ignores it, and a small round trip.
    let chunks = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
      chunks += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    const text = btoa(chunks);
    const floor = [];
    const small = [];
    for (let i = 0; i < rounds; i++) {
      let start = performance.now();
      await post({ cmd: 'dataStatus', args: JSON.stringify([text]) });
      floor.push(performance.now() - start);
      start = performance.now();
      await post({ cmd: 'dataStatus', args: '[]' });
      small.push(performance.now() - start);
    }
    report('raw message floor: 10 MB as Base64 posted, small reply (median)', Math.round(median(floor)), 'ms');
    report('raw message floor: small round trip (median)', +median(small).toFixed(2), 'ms');

    const saves = [];
    const reads = [];
    let path = '';
    for (let i = 0; i < rounds; i++) {
      let start = performance.now();
      const saved = await quillpost.saveDocument({ client: 'Benchmark', fileName: 'ten-megabytes.pdf', bytes });
      saves.push(performance.now() - start);
      path = saved.path;
      start = performance.now();
      const back = await quillpost.readDocument(path);
      reads.push(performance.now() - start);
      if (back.length !== bytes.length || back[12345] !== bytes[12345])
        throw new Error('the document came back different');
    }
    report('saveDocument of a 10 MB document (median)', Math.round(median(saves)), 'ms');
    report('readDocument of a 10 MB document (median)', Math.round(median(reads)), 'ms');

    // The page-side conversions alone, with the engine's methods and with the fallback.
    const timed = (work) => { const start = performance.now(); work(); return performance.now() - start; };
    if (typeof bytes.toBase64 === 'function') {
      report('encode 10 MB with toBase64', Math.round(median([0, 1, 2].map(() => timed(() => bytes.toBase64())))), 'ms');
      report('decode 10 MB with fromBase64', Math.round(median([0, 1, 2].map(() => timed(() => Uint8Array.fromBase64(text))))), 'ms');
    }
    report('encode 10 MB with chunked btoa', Math.round(median([0, 1, 2].map(() => timed(() => {
      let s = '';
      for (let i = 0; i < bytes.length; i += 0x8000)
        s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      btoa(s);
    })))), 'ms');
    report('decode 10 MB with atob', Math.round(median([0, 1, 2].map(() => timed(() => Uint8Array.from(atob(text), c => c.charCodeAt(0)))))), 'ms');
  } catch (error) {
    console.log('E2E-RESULT ' + JSON.stringify({ name: 'benchmark', ok: false, detail: String(error) }));
  }
  console.log('E2E-DONE');
})();

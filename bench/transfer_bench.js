// The same transfers in Quillpost's page and in the bare window of floor_window.cpp: each run
// reports under the same names, and bench/floor_bench.py prints them side by side.
(async () => {
  const report = (name, value, unit) => console.log('E2E-RESULT ' + JSON.stringify({ name, ok: true, detail: { value, unit } }));
  report('script start (epoch ms)', Date.now(), 'ms');
  const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
  const timed = async (rounds, work) => {
    const times = [];
    for (let i = 0; i < rounds; i++) {
      const start = performance.now();
      await work(i);
      times.push(performance.now() - start);
    }
    return median(times);
  };
  // The page's clock is coarse: small calls are timed as a whole run.
  const perCall = async (rounds, work) => {
    const start = performance.now();
    for (let i = 0; i < rounds; i++)
      await work(i);
    return +((performance.now() - start) / rounds).toFixed(3);
  };
  const quillpost = window.quillpost;
  const post = (body) => window.webkit.messageHandlers.floor.postMessage(body);
  const size = 10 * 1024 * 1024;
  try {
    // A practice's document of about 10 MB, as the page saves it.
    const doc = { version: 2, clients: [] };
    for (let i = 0; JSON.stringify(doc.clients.slice(-1)).length * i < size; i++)
      doc.clients.push({ id: 'c' + i, name: 'Zoë Número ' + i, email: 'client' + i + '@example.org', notes: 'Called about the letter "of explanation".', files: [{ id: 'f' + i, opened: '2026-01-15', stages: [{ name: 'Retainer', date: '' }] }] });
    const bytes = new Uint8Array(size);
    for (let i = 0; i < bytes.length; i += 65536)
      crypto.getRandomValues(bytes.subarray(i, Math.min(bytes.length, i + 65536)));

    if (quillpost) {
      for (let i = 0; i < 200; i++)
        await quillpost.dataStatus();
      report('small round trip', await perCall(2000, () => quillpost.dataStatus()), 'ms');
      report('save of a 10 MB document', Math.round(await timed(5, () => quillpost.save(doc))), 'ms');
      let path = '';
      report('10 MB page to native (saveDocument)', Math.round(await timed(5, async () => {
        path = (await quillpost.saveDocument({ client: 'Benchmark', fileName: 'ten.pdf', bytes })).path;
      })), 'ms');
      report('10 MB native to page (readDocument)', Math.round(await timed(5, async () => {
        const back = await quillpost.readDocument(path);
        if (back.length !== bytes.length || back[777777] !== bytes[777777])
          throw new Error('the bytes came back different');
      })), 'ms');
    } else {
      for (let i = 0; i < 200; i++)
        await post({ cmd: 'small', args: '[]' });
      report('small round trip', await perCall(2000, () => post({ cmd: 'small', args: '[]' }).then((r) => JSON.parse(r))), 'ms');
      // What the page sends for a save, carried to native and answered: no check, no disk.
      report('save of a 10 MB document', Math.round(await timed(5, () => post({ cmd: 'carry', args: JSON.stringify([JSON.stringify(doc)]) }))), 'ms');
      report('10 MB page to native (saveDocument)', Math.round(await timed(5, () => fetch('floor-bytes://bytes/', { method: 'POST', body: bytes }).then((r) => r.text()))), 'ms');
      report('10 MB native to page (readDocument)', Math.round(await timed(5, () => fetch('floor-bytes://bytes/' + size).then((r) => r.arrayBuffer()).then((b) => new Uint8Array(b)))), 'ms');
      report('10 MB reply as a string (Base64 floor)', Math.round(await timed(5, () => post({ cmd: 'give', args: String(Math.ceil(size / 3) * 4) }))), 'ms');
    }
  } catch (error) {
    console.log('E2E-RESULT ' + JSON.stringify({ name: 'benchmark', ok: false, detail: String(error) }));
  }
  console.log('E2E-DONE');
})();

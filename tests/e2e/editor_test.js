// Drives the full PDF editor from the page: a PDF handed over opens in an editor window, that
// window's page fetches it and cannot reach the network, and the editor updates from the release
// server the runner started, then rolls back. SETTINGS is defined by the runner.
(async () => {
  const report = (name, ok, detail) => console.log('E2E-RESULT ' + JSON.stringify({ name, ok: !!ok, detail }));
  const pause = (ms) => new Promise(r => setTimeout(r, ms));
  const until = async (condition, what, ms = 20000) => {
    const start = Date.now();
    while (!(await condition())) {
      if (Date.now() - start > ms)
        throw new Error('timed out waiting for ' + what);
      await pause(100);
    }
  };

  // A one-page US Letter PDF with a line of text, its cross-reference table counted out.
  const onePagePdf = () => {
    const objects = [
      '<< /Type /Catalog /Pages 2 0 R >>',
      '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
      '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>',
      null,
      '<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>',
    ];
    const content = 'BT /F1 36 Tf 72 680 Td (Quillpost editor test) Tj ET';
    objects[3] = `<< /Length ${content.length} >>\nstream\n${content}\nendstream`;
    let text = '%PDF-1.4\n';
    const offsets = objects.map((body, i) => {
      const at = text.length;
      text += `${i + 1} 0 obj\n${body}\nendobj\n`;
      return at;
    });
    const xref = text.length;
    text += `xref\n0 ${objects.length + 1}\n0000000000 65535 f \n` + offsets.map(o => String(o).padStart(10, '0') + ' 00000 n \n').join('');
    text += `trailer\n<< /Size ${objects.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
    return new TextEncoder().encode(text);
  };

  // Runs the body of an async function in the newest editor window (a test-only command) and
  // answers what it returns.
  const inEditor = (body) => quillpost.pdfcraftProbe(body);
  // From now on the save dialog answers with this folder (an empty one cancels), without showing.
  const answerSaveDialogs = (folder) => window.webkit.messageHandlers.qp.postMessage({ cmd: 'answerSaveDialogs', args: JSON.stringify([folder]) });
  const readIfThere = (path) => quillpost.readDocument(path).catch(() => null);
  const toasts = () => [...document.querySelectorAll('#toasts > *')].map(t => t.textContent);

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;
    // The update backs up data.json first, so there is some.
    App.data.clients = [{ id: 'c1', name: 'Noor Rahman' }];
    await App.saveNow();

    report('the built-in editor is there', await quillpost.hasPdfCraft() === true);
    const before = await quillpost.pdfcraftInfo();
    report('before any update the editor is the built-in one',
      before.version && before.version === before.bundled && !before.updated && !before.canRollback && before.open === 0, before);

    const pdf = onePagePdf();
    report('a PDF handed over opens an editor window', await quillpost.openPdfCraft(pdf, 'Noor/study permit.pdf') === true);
    await until(async () => (await quillpost.pdfcraftInfo()).open === 1, 'the editor window to be counted');
    await until(async () => await inEditor('return !!window.wasmBindings').catch(() => false), 'the editor to start');
    report('the editor page starts its WebAssembly in a secure context', await inEditor('return window.isSecureContext') === true);
    const served = await inEditor(`const address = new URL(location.href).searchParams.get('file');
      const bytes = new Uint8Array(await (await fetch(address)).arrayBuffer());
      return { address, length: bytes.length, head: String.fromCharCode(...bytes.slice(0, 5)) };`);
    report('the editor fetches the handed-over document by its token', served.length === pdf.length && served.head === '%PDF-'
      && /^pdfcraft:\/\/app\/doc\/[0-9a-f]{32}\/Noor-study permit\.pdf$/.test(served.address), served);
    const blocked = await inEditor(`const outcome = async (work) => { try { await work(); return 'reached'; } catch { return 'blocked'; } };
      const image = () => new Promise((resolve, reject) => { const i = new Image(); i.onload = resolve; i.onerror = reject; i.src = '${SETTINGS.outside}/pixel.png'; });
      return { http: await outcome(() => fetch('${SETTINGS.outside}/fetch', { mode: 'no-cors' })),
               https: await outcome(() => fetch('${SETTINGS.outsideTls}/fetch', { mode: 'no-cors' })),
               image: await outcome(image) };`);
    report('the editor window cannot reach the network: fetches and images are blocked',
      blocked.http === 'blocked' && blocked.https === 'blocked' && blocked.image === 'blocked', blocked);
    // pdf.js draws the page and its thumbnail once the document has loaded in its worker: the
    // line of text shows as dark pixels on both canvases.
    const inked = () => inEditor(`return [...document.querySelectorAll('.page > canvas, .thumb-show > canvas')].map((canvas) => {
      if (canvas.width === 0) return 0; // not drawn yet, or given back out of sight
      const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let dark = 0;
      for (let i = 0; i < pixels.length; i += 4) if (pixels[i] < 128 && pixels[i + 3] > 0) dark++;
      return dark; })`);
    await until(async () => { const counts = await inked(); return counts.length >= 2 && counts.every(n => n > 0) && Math.max(...counts) > 1000; }, 'the editor to draw the document').catch(() => {});
    const drawn = await inked();
    report('the editor draws the document and its thumbnail', drawn.length >= 2 && drawn.every(n => n > 0) && Math.max(...drawn) > 1000, drawn);
    await pause(1500);
    report('a picture of the editor window showing the document is taken', await quillpost.pdfcraftSnapshot(SETTINGS.snapshot) === true);
    // The runner photographs the screen once the picture is there.
    await pause(3000);

    // The editor's "Save a copy" reaches the save dialog, which the self-test's stand-in answers
    // with the client's folder, where the page reads the copy back.
    const copies = await quillpost.clientFolder('Noor Rahman', 'Editor copies');
    await answerSaveDialogs(copies);
    await inEditor(`document.querySelector('#save').click(); return true;`);
    const copyPath = copies + '/' + decodeURIComponent(served.address.split('/').pop()).replace(/\.pdf$/i, '') + '-edited.pdf';
    await until(async () => (await readIfThere(copyPath))?.length > 0, 'the editor\'s copy to be saved').catch(() => {});
    const copy = await readIfThere(copyPath);
    report('"Save a copy" in the editor saves the PDF where the save dialog said',
      copy && String.fromCharCode(...copy.slice(0, 5)) === '%PDF-' && copy.length >= pdf.length / 2, { copyPath, length: copy && copy.length });

    const refused = await quillpost.pdfcraftUpdate();
    report('an update waits until the editor is closed', refused.ok === false && refused.step === 'close' && refused.open === 1, refused);
    report('closing every editor window leaves none open', await quillpost.pdfcraftCloseAll() === 0);

    // A form with every kind of field, filled where its fields are with a Cyrillic and a Polish
    // name, then saved: the copy, read back by the editor's pdf.js, holds the values.
    const form = Uint8Array.from(atob(SETTINGS.form), (c) => c.charCodeAt(0));
    await quillpost.openPdfCraft(form, 'Noor/application form.pdf');
    await until(async () => await inEditor(`return document.querySelectorAll('.annotationLayer [name]').length >= 8`).catch(() => false),
      'the form\'s fields on the page');
    const layout = await inEditor(`const by = (name) => document.querySelector('.annotationLayer [name="' + name + '"]');
      const page = document.querySelector('.page').getBoundingClientRect();
      const box = by('name').getBoundingClientRect();
      return { onPage: box.left > page.left && box.right < page.right && box.top > page.top && box.bottom < page.bottom,
        codeMax: by('code').maxLength, officeLocked: by('office').disabled || by('office').readOnly,
        multiline: by('address').localName, radios: document.querySelectorAll('.annotationLayer [name="color"]').length };`);
    report('the form\'s fields are drawn on the page, with their maximum lengths, read-only fields and kinds',
      layout.onPage && layout.codeMax === 5 && layout.officeLocked && layout.multiline === 'textarea' && layout.radios === 2, layout);
    await inEditor(`const by = (name) => document.querySelector('.annotationLayer [name="' + name + '"]');
      const type = (name, value) => { const input = by(name); input.focus(); input.value = value; input.dispatchEvent(new Event('input', { bubbles: true })); input.blur(); };
      type('name', 'Олена Коваленко');
      type('address', 'Żaneta Wróbel\\nул. Шевченка 5');
      by('agree').click();
      document.querySelectorAll('.annotationLayer [name="color"]')[1].click();
      const country = by('country');
      country.value = [...country.options].find((o) => o.textContent === 'PL').value;
      country.dispatchEvent(new Event('input', { bubbles: true }));
      country.dispatchEvent(new Event('change', { bubbles: true }));
      return true;`);
    await until(async () => await inEditor(`return !document.querySelector('#undo').disabled`), 'the values to be taken').catch(() => {});
    report('filling the fields is an edit that can be undone', await inEditor(`return !document.querySelector('#undo').disabled && window.onbeforeunload !== null`) === true);
    // Text placed on the page stays a piece of its own, movable, until the copy is saved.
    const placed = await inEditor(`document.querySelector('#add-text').click();
      const page = document.querySelector('.page');
      const box = page.getBoundingClientRect();
      page.dispatchEvent(new MouseEvent('click', { bubbles: true, clientX: box.left + 60, clientY: box.top + box.height * 0.9 }));
      const entry = document.querySelector('textarea.text-entry');
      entry.value = 'Gökhan Yılmaz';
      entry.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true }));
      await new Promise((r) => setTimeout(r, 1000));
      document.querySelector('#add-text').click();
      const piece = document.querySelector('.placed-text');
      const before = piece?.getBoundingClientRect();
      const at = { bubbles: true, pointerId: 1, button: 0 };
      piece?.dispatchEvent(new PointerEvent('pointerdown', { ...at, clientX: before.left + 5, clientY: before.top + 5 }));
      piece?.dispatchEvent(new PointerEvent('pointermove', { ...at, clientX: before.left + 45, clientY: before.top + 5 }));
      piece?.dispatchEvent(new PointerEvent('pointerup', { ...at, clientX: before.left + 45, clientY: before.top + 5 }));
      await new Promise((r) => setTimeout(r, 1000));
      const after = document.querySelector('.placed-text')?.getBoundingClientRect();
      return { text: piece?.textContent, moved: after && Math.round(after.left - before.left) };`);
    report('placed text is a piece of its own on the page that can be moved', placed.text === 'Gökhan Yılmaz' && placed.moved >= 35 && placed.moved <= 45, placed);
    // Ctrl+Z takes the move back, Ctrl+Shift+Z makes it again; Ctrl+plus and Ctrl+0 zoom.
    // Each step redraws the document, so the next key waits for the editor to be idle again.
    const keys = await inEditor(`const idle = async () => {
        for (let i = 0; i < 100 && document.querySelector('#save').disabled; i += 1) await new Promise((r) => setTimeout(r, 100));
        await new Promise((r) => setTimeout(r, 500)); };
      const press = async (key, shiftKey = false) => {
        await idle();
        document.querySelector('.placed-text').focus();
        document.dispatchEvent(new KeyboardEvent('keydown', { key, ctrlKey: true, shiftKey, bubbles: true }));
        await new Promise((r) => setTimeout(r, 300));
        await idle(); };
      const left = () => Math.round(document.querySelector('.placed-text').getBoundingClientRect().left);
      const moved = left();
      await press('z');
      const undone = left();
      await press('Z', true);
      const redone = left();
      const zoom = () => document.querySelector('#zoom-level').textContent;
      const before = zoom();
      await press('=');
      const larger = zoom();
      await press('0');
      return { moved, undone, redone, before, larger, reset: zoom() };`);
    report('Ctrl+Z and Ctrl+Shift+Z undo and redo the move, Ctrl+plus and Ctrl+0 zoom',
      keys.moved - keys.undone >= 35 && keys.redone === keys.moved && parseInt(keys.larger) > parseInt(keys.before) && keys.reset === '100%', keys);
    const found = await inEditor(`const find = document.querySelector('#find');
      find.value = 'country'; find.dispatchEvent(new Event('input'));
      await new Promise((r) => setTimeout(r, 1500));
      return { count: document.querySelector('#find-count').textContent, marked: [...document.querySelectorAll('.textLayer .highlight')].map((s) => s.textContent) };`);
    report('find counts the matches in the document and marks them on the page', found.count === '1 found' && found.marked.join() === 'Country', found);
    await pause(1000);
    report('a picture of the editor window with the filled form is taken', await quillpost.pdfcraftSnapshot(SETTINGS.formSnapshot) === true);
    await pause(3000);
    await answerSaveDialogs(copies);
    await inEditor(`document.querySelector('#save').click(); return true;`);
    const formCopy = copies + '/Noor-application form-edited.pdf';
    await until(async () => (await readIfThere(formCopy))?.length > 0, 'the filled form to be saved').catch(() => {});
    // After saving, the editor shows the saved copy: its fields hold what the file holds.
    await until(async () => await inEditor(`return document.querySelector('.annotationLayer [name="name"]')?.value === 'Олена Коваленко'`).catch(() => false),
      'the saved copy to be shown').catch(() => {});
    const shown = await inEditor(`const by = (name) => document.querySelector('.annotationLayer [name="' + name + '"]');
      return { name: by('name')?.value, address: by('address')?.value, agree: by('agree')?.checked,
        blue: document.querySelectorAll('.annotationLayer [name="color"]')[1]?.checked,
        country: by('country')?.selectedOptions[0]?.textContent, dirty: window.onbeforeunload !== null,
        placed: [...document.querySelectorAll('.textLayer span')].map((s) => s.textContent).filter((t) => t.includes('Gökhan')),
        pieces: document.querySelectorAll('.placed-text').length };`);
    report('the saved form holds the Cyrillic and Polish names and the other values',
      shown.name === 'Олена Коваленко' && shown.address === 'Żaneta Wróbel\nул. Шевченка 5' && shown.agree && shown.blue
      && shown.country === 'PL' && !shown.dirty && (await readIfThere(formCopy))?.length > 0, { ...shown, formCopy });
    report('the placed text is written into the saved page, where it can be found and copied',
      shown.placed.join() === 'Gökhan Yılmaz' && shown.pieces === 0, shown);
    await quillpost.pdfcraftCloseAll();

    // A form drawn from its XFA shows its fields to fill.
    await quillpost.openPdfCraft(Uint8Array.from(atob(SETTINGS.xfa), (c) => c.charCodeAt(0)), 'Noor/xfa form.pdf');
    await until(async () => await inEditor(`return !!document.querySelector('.xfaLayer input')`).catch(() => false), 'the XFA form to be drawn').catch(() => {});
    const xfa = await inEditor(`const input = document.querySelector('.xfaLayer input');
      return { field: !!input && !input.disabled, caption: document.querySelector('.xfaLayer')?.textContent.includes('Family name'),
        message: document.querySelector('#message').hidden ? '' : document.querySelector('#message').textContent };`);
    report('a form drawn from its XFA is shown with its fields to fill', xfa.field && xfa.caption && xfa.message === '', xfa);
    // Filled in and saved, the name is in the form's XFA data.
    await inEditor(`const input = document.querySelector('.xfaLayer input');
      input.focus();
      input.value = 'Олена Коваленко';
      input.dispatchEvent(new Event('input', { bubbles: true }));
      input.dispatchEvent(new Event('change', { bubbles: true }));
      input.blur();
      return true;`);
    await answerSaveDialogs(copies);
    await inEditor(`document.querySelector('#save').click(); return true;`);
    const xfaCopy = copies + '/Noor-xfa form-edited.pdf';
    await until(async () => (await readIfThere(xfaCopy))?.length > 0, 'the filled XFA form to be saved').catch(() => {});
    const xfaBytes = await readIfThere(xfaCopy);
    const xfaText = xfaBytes ? Array.from(xfaBytes, (b) => String.fromCharCode(b)).join('') : '';
    const xfaValue = [...xfaText.matchAll(/<familyName>([^<]*)<\/familyName>/g)].map((m) => m[1]
      .replace(/&#x([0-9a-f]+);/gi, (_, hex) => String.fromCodePoint(parseInt(hex, 16)))).pop();
    report('a filled XFA form is saved with the name in its data', xfaValue === 'Олена Коваленко',
      { xfaCopy, length: xfaBytes && xfaBytes.length, xfaValue, message: await inEditor(`return document.querySelector('#message').textContent`) });
    await quillpost.pdfcraftCloseAll();

    // Signing, a scan added as a page and "Make smaller": a scan of 2000 × 1500 pixels whose
    // EXIF says to turn it right becomes an upright page, a drawn signature goes on page 1, the
    // file is made to fit 1 MB and saved; the runner checks the copy with qpdf.
    await quillpost.openPdfCraft(onePagePdf(), 'Noor/signed scan.pdf');
    await until(async () => await inEditor(`return !document.querySelector('#sign').disabled`).catch(() => false), 'the editor to offer signing');
    await inEditor(`document.querySelector('#sign').click();
      const pad = document.querySelector('.sign-pad');
      await new Promise((r) => setTimeout(r, 300));
      const box = pad.getBoundingClientRect();
      const at = (i) => ({ clientX: box.left + 40 + i * 12, clientY: box.top + 100 + Math.sin(i / 3) * 50, pointerId: 7, pointerType: 'pen', pressure: 0.6, bubbles: true });
      pad.dispatchEvent(new PointerEvent('pointerdown', at(0)));
      for (let i = 1; i < 40; i++) pad.dispatchEvent(new PointerEvent('pointermove', at(i)));
      pad.dispatchEvent(new PointerEvent('pointerup', at(40)));
      document.querySelector('#sign-place').click();
      return true;`);
    await until(async () => await inEditor(`return !!document.querySelector('.sign-box')`), 'the signature box on the page');
    const moved = await inEditor(`const box = document.querySelector('.sign-box');
      const before = box.getBoundingClientRect();
      const drag = (target, dx, dy) => {
        const r = target.getBoundingClientRect();
        const x = r.left + r.width / 2, y = r.top + r.height / 2;
        target.dispatchEvent(new PointerEvent('pointerdown', { clientX: x, clientY: y, pointerId: 8, bubbles: true }));
        box.dispatchEvent(new PointerEvent('pointermove', { clientX: x + dx, clientY: y + dy, pointerId: 8, bubbles: true }));
        box.dispatchEvent(new PointerEvent('pointerup', { clientX: x + dx, clientY: y + dy, pointerId: 8, bubbles: true }));
      };
      drag(box, -60, -200);
      drag(box.querySelector('.sign-handle'), 50, 0);
      const after = box.getBoundingClientRect();
      return { dx: Math.round(after.left - before.left), dy: Math.round(after.top - before.top), grew: Math.round(after.width - before.width) };`);
    report('the signature is moved and sized on the page before it is placed', moved.dx === -60 && moved.dy === -200 && moved.grew === 50, moved);
    await inEditor(`document.querySelector('#sign-box-place').click(); return true;`);
    await until(async () => /^Undo Sign/.test(await inEditor(`return document.querySelector('#undo').title`)), 'the signature to be placed');
    const again = await inEditor(`document.querySelector('#sign').click();
      const earlier = document.querySelectorAll('.sign-again').length;
      [...document.querySelectorAll('#sign-dialog button')].find((b) => b.textContent === 'Cancel').click();
      return earlier;`);
    report('a signature drawn once is offered again while the window is open', again === 1, again);

    const inserted = await inEditor(`const canvas = document.createElement('canvas');
      canvas.width = 2000; canvas.height = 1500;
      const g = canvas.getContext('2d');
      const grain = g.createImageData(1000, 1500);
      let s = 1;
      for (let i = 0; i < grain.data.length; i += 4) { s = (Math.imul(s, 1103515245) + 12345) >>> 0; grain.data.fill(120 + (s >>> 25), i, i + 3); grain.data[i + 3] = 255; }
      g.putImageData(grain, 1000, 0);
      g.fillStyle = '#c00'; g.fillRect(0, 0, 1000, 1500);
      const jpeg = new Uint8Array(await (await new Promise((r) => canvas.toBlob(r, 'image/jpeg', 0.95))).arrayBuffer());
      const exif = [0xff, 0xe1, 0, 34, 0x45, 0x78, 0x69, 0x66, 0, 0, 0x4d, 0x4d, 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0];
      const file = new File([jpeg.slice(0, 2), new Uint8Array(exif), jpeg.slice(2)], 'passport scan.jpg', { type: 'image/jpeg' });
      const input = document.querySelector('#insert-files');
      const list = new DataTransfer();
      list.items.add(file);
      input.files = list.files;
      input.dispatchEvent(new Event('change'));
      for (let i = 0; i < 200 && document.querySelectorAll('.page').length < 2; i++) await new Promise((r) => setTimeout(r, 100));
      const page = document.querySelectorAll('.page canvas')[1];
      return { pages: document.querySelectorAll('.page').length, portrait: page && page.offsetHeight > page.offsetWidth, size: document.querySelector('#file-size').textContent, status: document.querySelector('#status').textContent };`);
    report('a scan turned by its EXIF orientation is added as an upright page after the page in view',
      inserted.pages === 2 && inserted.portrait && /page added after page 1/.test(inserted.status), inserted);
    const smaller = await inEditor(`document.querySelector('#size-target').value = '1000000';
      document.querySelector('#make-smaller').click();
      const settled = () => /went from|can't get/.test(document.querySelector('#status').textContent) && !document.querySelector('#make-smaller').disabled;
      for (let i = 0; i < 600 && !settled(); i++) await new Promise((r) => setTimeout(r, 100));
      return { status: document.querySelector('#status').textContent, size: document.querySelector('#file-size').textContent };`);
    report('"Make smaller" brings the file within the size chosen and shows the new size',
      /^The file went from .* to .* \(\d+ pictures? re-encoded\)\.$/.test(smaller.status) && smaller.size !== inserted.size && /KB$/.test(smaller.size), { before: inserted.size, ...smaller });
    await pause(1000);
    report('a picture of the editor window after signing and adding a scan is taken',
      await quillpost.pdfcraftSnapshot(SETTINGS.snapshot.replace(/editor-window\.png$/, 'editor-signed.png')) === true);
    await answerSaveDialogs(copies);
    await inEditor(`document.querySelector('#save').click(); return true;`);
    const signedCopy = copies + '/Noor-signed scan-edited.pdf';
    await until(async () => (await readIfThere(signedCopy))?.length > 0, 'the signed copy to be saved').catch(() => {});
    const signedBytes = await readIfThere(signedCopy);
    report('the signed copy with the scan is saved', signedBytes && signedBytes.length > 0 && signedBytes.length <= 1000000, { signedCopy, length: signedBytes && signedBytes.length });
    // "Merge…" puts a PDF and a scan together into a new file saved beside the copies; the
    // document being edited keeps its pages.
    await answerSaveDialogs(copies);
    const merging = await inEditor(`const canvas = document.createElement('canvas');
      canvas.width = 300; canvas.height = 400;
      canvas.getContext('2d').fillRect(20, 20, 100, 100);
      const png = await new Promise((r) => canvas.toBlob(r, 'image/png'));
      const list = new DataTransfer();
      list.items.add(new File([png], 'residence permit.png', { type: 'image/png' }));
      list.items.add(new File([png], 'second page.png', { type: 'image/png' }));
      const input = document.querySelector('#merge-files');
      input.files = list.files;
      input.dispatchEvent(new Event('change'));
      for (let i = 0; i < 100 && !/merged/.test(document.querySelector('#status').textContent); i++) await new Promise((r) => setTimeout(r, 100));
      return { status: document.querySelector('#status').textContent, pages: document.querySelectorAll('.page').length };`);
    const mergedCopy = copies + '/residence permit-merged.pdf';
    await until(async () => (await readIfThere(mergedCopy))?.length > 0, 'the merged file to be saved').catch(() => {});
    const mergedBytes = await readIfThere(mergedCopy);
    report('"Merge…" saves the chosen files as a new file and leaves the open document as it was',
      mergedBytes && String.fromCharCode(...mergedBytes.slice(0, 5)) === '%PDF-' && merging.pages === 2 && /residence permit-merged\.pdf/.test(merging.status),
      { mergedCopy, ...merging, length: mergedBytes && mergedBytes.length });
    await quillpost.pdfcraftCloseAll();

    // The update through PDF Studio's own controls.
    location.hash = '#/pdf';
    await until(() => document.querySelector('#editor-check'), 'the editor card');
    document.querySelector('#editor-check').click();
    await until(() => !document.querySelector('#editor-update').hidden, 'the check to offer the update');
    report('the check finds the newer release', /9\.9\.0 is available/.test(document.querySelector('#editor-check-result').textContent),
      document.querySelector('#editor-check-result').textContent);
    document.querySelector('#editor-update').click();
    await until(() => /now on|couldn|didn|looked|already|no web/i.test(document.querySelector('#editor-check-result').textContent), 'the update to end', 60000);
    const steps = [...document.querySelectorAll('#editor-steps li')].map(li => li.dataset.step + ':' + li.dataset.state);
    report('the update runs every step and shows it', document.querySelector('#editor-check-result').textContent === 'PdfCraft is now on 9.9.0.'
      && steps.join(' ') === 'backup:ok download:ok verify:ok unpack:ok test:ok switch:ok', { steps, text: document.querySelector('#editor-check-result').textContent });
    const after = await quillpost.pdfcraftInfo();
    report('after the update the editor is the new version', after.version === '9.9.0' && after.updated && after.canRollback, after);

    // The next window runs the new version.
    await quillpost.openPdfCraft(null, '');
    await until(async () => await inEditor('return !!window.wasmBindings').catch(() => false), 'the updated editor to start');
    const version = await inEditor(`return (await (await fetch('VERSION.txt')).text())`);
    report('a new editor window runs the installed version', /^PdfCraft web 9\.9\.0 \(installed .*, sha256 [0-9a-f]{64}\)$/.test(version), version);
    await quillpost.pdfcraftCloseAll();

    await until(() => !document.querySelector('#editor-rollback').hidden, 'the roll-back button');
    document.querySelector('#editor-rollback').click();
    await until(() => /^Back on/.test(document.querySelector('#editor-check-result').textContent), 'the roll-back');
    const back = await quillpost.pdfcraftInfo();
    report('rolling back returns to the built-in editor', back.version === before.version && !back.updated && !back.canRollback, back);

    // The page's own downloads (<a download> on a blob) reach the save dialog; the page says where
    // the file went only once it is written, and says nothing on a cancel.
    const exports = await quillpost.clientFolder('Noor Rahman', 'Exports');
    await answerSaveDialogs(exports);
    location.hash = '#/import';
    await until(() => document.querySelector('#export-json'), 'the export buttons');
    document.querySelector('#export-json').click();
    await until(() => toasts().some(t => t.includes('is saved in ' + exports)), 'the export to be saved');
    const exportName = toasts().find(t => t.includes('is saved in ' + exports)).split(' is saved in ')[0];
    const exported = await readIfThere(exports + '/' + exportName);
    report('the JSON export reaches the folder the save dialog chose, and only then is the user told',
      exported && JSON.parse(new TextDecoder().decode(exported)).clients.some(c => c.name === 'Noor Rahman'), { exportName, toasts: toasts() });
    await answerSaveDialogs('');
    document.querySelector('#export-clients').click();
    await pause(1500);
    report('a cancelled save dialog says nothing was saved', !toasts().some(t => /\.csv (is|was)/.test(t)), toasts());
    await answerSaveDialogs(exports + '/no such folder');
    document.querySelector('#export-clients').click();
    await until(() => toasts().some(t => /couldn't save the file/.test(t)), 'the failed save to be reported').catch(() => {});
    report('a download that cannot be written is reported as a failure, not as saved',
      toasts().some(t => /couldn't save the file/.test(t)) && !toasts().some(t => /\.csv is (in|saved)/.test(t)), toasts());

    // The invoice's "Save as PDF" prints the page to a PDF and downloads it the same way.
    App.edit((doc) => {
      doc.invoices = [{ id: 'inv-e2e', number: 'INV-9', clientId: 'c1', date: '2025-01-15', due: '2025-02-14', currency: 'CAD', taxRate: 1300,
        lines: [{ description: 'Study permit application', amount: 180000 }] }];
    });
    await answerSaveDialogs(exports);
    location.hash = '#/invoice/inv-e2e';
    await until(() => document.querySelector('#print-pdf'), 'the invoice');
    report('an amount shows the thousands separator', /1,800\.00/.test(document.querySelector('.invoice-total, #view').textContent),
      document.querySelector('.invoice-total')?.textContent);
    document.querySelector('#print-pdf').click();
    await until(() => toasts().some(t => /\.pdf is saved in /.test(t)), 'the invoice PDF to be saved', 30000).catch(() => {});
    const invoiceToast = toasts().find(t => /\.pdf is saved in /.test(t)) || '';
    const invoicePdf = invoiceToast && await readIfThere(exports + '/' + invoiceToast.split(' is saved in ')[0]);
    report('the invoice saved as PDF is a PDF in the chosen folder', invoicePdf && String.fromCharCode(...invoicePdf.slice(0, 5)) === '%PDF-', invoiceToast);

    // The backup folder's copy: Settings → Data shows it and restores it through the snapshots'
    // restore, with a safety copy of what it replaced.
    // A drive folder of the test's own (any existing folder) puts the backup folder in it.
    await quillpost.driveConnectPath(await quillpost.clientFolder('Noor Rahman', 'Drive'));
    App.edit((doc) => { doc.clients = [{ id: 'c1', name: 'Noor Rahman' }, { id: 'c2', name: 'Backed Up' }]; });
    await App.saveNow();
    await until(async () => (await quillpost.backupCandidates()).some(c => c.source === 'Backup folder' && c.text.includes('Backed Up')), 'the backup copy', 20000);
    App.edit((doc) => { doc.clients = [{ id: 'c1', name: 'Noor Rahman' }]; });
    await App.saveNow();
    location.hash = '#/settings/data';
    await until(() => document.querySelector('#restore-backup-copy'), 'the backup copy in Settings → Data');
    report('Settings → Data shows the backup copy with what it holds',
      /Holds 2 clients/.test(document.querySelector('#backup-copy-holds').textContent), document.querySelector('#backup-copy').textContent);
    const safetyBefore = (await quillpost.listSnapshots()).filter(n => n.startsWith('before-restore-')).length;
    document.querySelector('#restore-backup-copy').click();
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the restore confirmation');
    document.querySelector('#confirm-ok').click();
    await until(() => App.editable && App.data.clients.length === 2, 'the restore', 15000).catch(() => {});
    const safetyAfter = (await quillpost.listSnapshots()).filter(n => n.startsWith('before-restore-')).length;
    report('restoring the backup copy brings its data back and keeps a safety copy of what it replaced',
      App.data.clients.some(c => c.name === 'Backed Up') && (await quillpost.load()).clients.length === 2 && safetyAfter === safetyBefore + 1,
      { clients: App.data.clients.map(c => c.name), safetyBefore, safetyAfter });
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  console.log('E2E-DONE');
})();

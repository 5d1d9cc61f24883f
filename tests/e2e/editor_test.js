// Drives the full PDF editor from the page: a PDF handed over opens in an editor window, that
// window's page fetches it and cannot reach the network, forms, XFA, text, signatures, scans,
// find, "Make smaller" and merging work there, and the editor updates from the release server
// the runner started, then rolls back. SETTINGS comes from the runner, and report, until and the
// screen helpers from checks.js, which it puts first.
(async () => {
  const fixture = (name) => Uint8Array.from(atob(SETTINGS[name]), (c) => c.charCodeAt(0));
  // Runs the body of an async function in the newest editor window (a test-only command) and
  // answers what it returns. There, `by(name)` is the form field of that name on the page and
  // `choose(selector, files)` picks files in a file input.
  const inEditor = (body) => quillpost.pdfcraftProbe(`const $ = (selector) => document.querySelector(selector);
    const by = (name) => $('.annotationLayer [name="' + name + '"]');
    const pause = (ms) => new Promise((r) => setTimeout(r, ms));
    const choose = (selector, files) => {
      const list = new DataTransfer();
      files.forEach((file) => list.items.add(file));
      $(selector).files = list.files;
      $(selector).dispatchEvent(new Event('change'));
    };\n` + body);
  // Waits until the body answers true in the editor; a soft wait leaves the verdict to the check after it.
  const untilEditor = (body, what, soft) => {
    const waiting = until(async () => await inEditor(body).catch(() => false), what);
    return soft ? waiting.catch(() => {}) : waiting;
  };
  // From now on the save dialog answers with this folder (an empty one cancels), without showing.
  const answerSaveDialogs = (folder) => window.webkit.messageHandlers.qp.postMessage({ cmd: 'answerSaveDialogs', args: JSON.stringify([folder]) });
  const readIfThere = (path) => quillpost.readDocument(path).catch(() => null);
  const toasts = () => [...document.querySelectorAll('#toasts > *')].map(t => t.textContent);
  const isPdf = (bytes) => !!bytes && String.fromCharCode(...bytes.slice(0, 5)) === '%PDF-';
  // The editor's "Save a copy" into `folder`; answers the bytes written to `name` there.
  const saveCopy = async (folder, name) => {
    await answerSaveDialogs(folder);
    await inEditor(`$('#save').click(); return true;`);
    await until(async () => (await readIfThere(folder + '/' + name))?.length > 0, name + ' to be saved').catch(() => {});
    return readIfThere(folder + '/' + name);
  };

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;
    // The update backs up data.json first, so there is some.
    App.data.clients = [{ id: 'c1', name: 'Noor Rahman' }];
    await App.saveNow();

    const before = await quillpost.pdfcraftInfo();
    report('before any update the editor is the built-in one', await quillpost.hasPdfCraft() === true
      && before.version && before.version === before.bundled && !before.updated && !before.canRollback && before.open === 0, before);

    const pdf = fixture('onePage');
    report('a PDF handed over opens an editor window', await quillpost.openPdfCraft(pdf, 'Noor/study permit.pdf') === true);
    await until(async () => (await quillpost.pdfcraftInfo()).open === 1, 'the editor window to be counted');
    await untilEditor('return !!window.wasmBindings', 'the editor to start');
    report('the editor page starts its WebAssembly in a secure context', await inEditor('return window.isSecureContext') === true);
    const served = await inEditor(`const address = new URL(location.href).searchParams.get('file');
      const bytes = new Uint8Array(await (await fetch(address)).arrayBuffer());
      return { address, length: bytes.length, head: String.fromCharCode(...bytes.slice(0, 5)) };`);
    report('the editor fetches the handed-over document by its token', served.length === pdf.length && served.head === '%PDF-'
      && /^pdfcraft:\/\/app\/doc\/[0-9a-f]{32}\/Noor-study permit\.pdf$/.test(served.address), served);
    const blocked = await inEditor(`const outcome = async (work) => { try { await work(); return 'reached'; } catch { return 'blocked'; } };
      const image = () => new Promise((resolve, reject) => Object.assign(new Image(), { onload: resolve, onerror: reject,
        src: '${SETTINGS.outside}/pixel.png' }));
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
    const drawn = (counts) => counts.length >= 2 && counts.every(n => n > 0) && Math.max(...counts) > 1000;
    await until(async () => drawn(await inked()), 'the editor to draw the document').catch(() => {});
    report('the editor draws the document and its thumbnail', drawn(await inked()), await inked());
    await pause(1500);
    report('a picture of the editor window showing the document is taken', await quillpost.pdfcraftSnapshot(SETTINGS.snapshot) === true);

    // "Save a copy" reaches the save dialog, which the self-test's stand-in answers with the
    // client's folder, where the page reads the copy back.
    const copies = await quillpost.clientFolder('Noor Rahman', 'Editor copies');
    const copy = await saveCopy(copies, 'Noor-study permit-edited.pdf');
    report('"Save a copy" in the editor saves the PDF where the save dialog said', isPdf(copy) && copy.length >= pdf.length / 2, copy?.length);
    const refused = await quillpost.pdfcraftUpdate();
    report('an update waits until the editor is closed', refused.ok === false && refused.step === 'close' && refused.open === 1, refused);
    report('closing every editor window leaves none open', await quillpost.pdfcraftCloseAll() === 0);

    // A form with every kind of field, filled where its fields are with a Cyrillic and a Polish
    // name, then saved: the copy, shown again by the editor's pdf.js, holds the values.
    await quillpost.openPdfCraft(fixture('form'), 'Noor/application form.pdf');
    await untilEditor(`return document.querySelectorAll('.annotationLayer [name]').length >= 8`, 'the form\'s fields on the page');
    const layout = await inEditor(`const page = $('.page').getBoundingClientRect();
      const box = by('name').getBoundingClientRect();
      return { onPage: box.left > page.left && box.right < page.right && box.top > page.top && box.bottom < page.bottom,
        codeMax: by('code').maxLength, officeLocked: by('office').disabled || by('office').readOnly,
        multiline: by('address').localName, radios: document.querySelectorAll('.annotationLayer [name="color"]').length };`);
    report('the form\'s fields are drawn on the page, with their maximum lengths, read-only fields and kinds',
      layout.onPage && layout.codeMax === 5 && layout.officeLocked && layout.multiline === 'textarea' && layout.radios === 2, layout);
    await inEditor(`const type = (input, value) => {
        input.focus();
        input.value = value;
        input.dispatchEvent(new Event('input', { bubbles: true }));
        input.blur();
      };
      type(by('name'), 'Олена Коваленко');
      type(by('address'), 'Żaneta Wróbel\\nул. Шевченка 5');
      by('agree').click();
      document.querySelectorAll('.annotationLayer [name="color"]')[1].click();
      const country = by('country');
      country.value = [...country.options].find((o) => o.textContent === 'PL').value;
      country.dispatchEvent(new Event('input', { bubbles: true }));
      country.dispatchEvent(new Event('change', { bubbles: true }));
      return true;`);
    const undoable = `return !$('#undo').disabled && window.onbeforeunload !== null`;
    await untilEditor(undoable, 'the values to be taken', true);
    report('filling the fields is an edit that can be undone', await inEditor(undoable) === true);
    // Text placed on the page stays a piece of its own, movable, until the copy is saved.
    const placed = await inEditor(`$('#add-text').click();
      const box = $('.page').getBoundingClientRect();
      $('.page').dispatchEvent(new MouseEvent('click', { bubbles: true, clientX: box.left + 60, clientY: box.top + box.height * 0.9 }));
      $('textarea.text-entry').value = 'Gökhan Yılmaz';
      $('textarea.text-entry').dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true }));
      await pause(1000);
      $('#add-text').click();
      const piece = $('.placed-text');
      const before = piece?.getBoundingClientRect();
      const at = (dx) => ({ bubbles: true, pointerId: 1, button: 0, clientX: before.left + dx, clientY: before.top + 5 });
      ['pointerdown', 'pointermove', 'pointerup'].forEach((type, i) => piece?.dispatchEvent(new PointerEvent(type, at(i ? 45 : 5))));
      await pause(1000);
      const after = $('.placed-text')?.getBoundingClientRect();
      return { text: piece?.textContent, moved: after && Math.round(after.left - before.left) };`);
    report('placed text is a piece of its own on the page that can be moved', placed.text === 'Gökhan Yılmaz' && placed.moved >= 35 && placed.moved <= 45, placed);
    // Ctrl+Z takes the move back, Ctrl+Shift+Z makes it again; Ctrl+plus and Ctrl+0 zoom.
    // Each step redraws the document, so the next key waits for the editor to be idle again.
    const keys = await inEditor(`const idle = async () => {
        for (let i = 0; i < 100 && $('#save').disabled; i += 1) await pause(100);
        await pause(500); };
      const left = () => Math.round($('.placed-text').getBoundingClientRect().left);
      const zoom = () => $('#zoom-level').textContent;
      const seen = { moved: left(), before: zoom() };
      for (const [key, shiftKey, name, read] of [['z', false, 'undone', left], ['Z', true, 'redone', left], ['=', false, 'larger', zoom],
        ['0', false, 'reset', zoom]]) {
        await idle();
        $('.placed-text').focus();
        document.dispatchEvent(new KeyboardEvent('keydown', { key, ctrlKey: true, shiftKey, bubbles: true }));
        await pause(300);
        await idle();
        seen[name] = read();
      }
      return seen;`);
    report('Ctrl+Z and Ctrl+Shift+Z undo and redo the move, Ctrl+plus and Ctrl+0 zoom',
      keys.moved - keys.undone >= 35 && keys.redone === keys.moved && parseInt(keys.larger) > parseInt(keys.before) && keys.reset === '100%', keys);
    const found = await inEditor(`$('#find').value = 'country';
      $('#find').dispatchEvent(new Event('input'));
      await pause(1500);
      return { count: $('#find-count').textContent, marked: [...document.querySelectorAll('.textLayer .highlight')].map((s) => s.textContent) };`);
    report('find counts the matches in the document and marks them on the page', found.count === '1 found' && found.marked.join() === 'Country', found);
    const formCopy = await saveCopy(copies, 'Noor-application form-edited.pdf');
    // After saving, the editor shows the saved copy: its fields hold what the file holds.
    await untilEditor(`return by('name')?.value === 'Олена Коваленко'`, 'the saved copy to be shown', true);
    const shown = await inEditor(`return { name: by('name')?.value, address: by('address')?.value, agree: by('agree')?.checked,
        blue: document.querySelectorAll('.annotationLayer [name="color"]')[1]?.checked,
        country: by('country')?.selectedOptions[0]?.textContent, dirty: window.onbeforeunload !== null,
        placed: [...document.querySelectorAll('.textLayer span')].map((s) => s.textContent).filter((t) => t.includes('Gökhan')),
        pieces: document.querySelectorAll('.placed-text').length };`);
    report('the saved form holds the Cyrillic and Polish names and the other values', isPdf(formCopy) && shown.name === 'Олена Коваленко'
      && shown.address === 'Żaneta Wróbel\nул. Шевченка 5' && shown.agree && shown.blue && shown.country === 'PL' && !shown.dirty, shown);
    report('the placed text is written into the saved page, where it can be found and copied',
      shown.placed.join() === 'Gökhan Yılmaz' && shown.pieces === 0, shown);
    await quillpost.pdfcraftCloseAll();

    // A form drawn from its XFA shows its fields to fill; filled and saved, the name is in its data.
    await quillpost.openPdfCraft(fixture('xfa'), 'Noor/xfa form.pdf');
    await untilEditor(`return !!$('.xfaLayer input')`, 'the XFA form to be drawn', true);
    const xfa = await inEditor(`const input = $('.xfaLayer input');
      const shown = { field: !!input && !input.disabled, caption: $('.xfaLayer')?.textContent.includes('Family name'),
        message: $('#message').hidden ? '' : $('#message').textContent };
      input.focus();
      input.value = 'Олена Коваленко';
      ['input', 'change'].forEach((type) => input.dispatchEvent(new Event(type, { bubbles: true })));
      input.blur();
      return shown;`);
    report('a form drawn from its XFA is shown with its fields to fill', xfa.field && xfa.caption && xfa.message === '', xfa);
    const xfaText = Array.from(await saveCopy(copies, 'Noor-xfa form-edited.pdf') ?? [], (b) => String.fromCharCode(b)).join('');
    const xfaValue = [...xfaText.matchAll(/<familyName>([^<]*)<\/familyName>/g)].map((m) => m[1]
      .replace(/&#x([0-9a-f]+);/gi, (_, hex) => String.fromCodePoint(parseInt(hex, 16)))).pop();
    report('a filled XFA form is saved with the name in its data', xfaValue === 'Олена Коваленко', { xfaValue, length: xfaText.length });
    await quillpost.pdfcraftCloseAll();

    // Signing, a scan added as a page and "Make smaller": a scan of 2000 × 1500 pixels whose
    // EXIF says to turn it right becomes an upright page, a drawn signature goes on page 1, the
    // file is made to fit 1 MB and saved; the runner checks the copy with qpdf.
    await quillpost.openPdfCraft(pdf, 'Noor/signed scan.pdf');
    await untilEditor(`return !$('#sign').disabled`, 'the editor to offer signing');
    await inEditor(`$('#sign').click();
      const pad = $('.sign-pad');
      await pause(300);
      const box = pad.getBoundingClientRect();
      const at = (i) => ({ clientX: box.left + 40 + i * 12, clientY: box.top + 100 + Math.sin(i / 3) * 50, pointerId: 7,
        pointerType: 'pen', pressure: 0.6, bubbles: true });
      pad.dispatchEvent(new PointerEvent('pointerdown', at(0)));
      for (let i = 1; i < 40; i++) pad.dispatchEvent(new PointerEvent('pointermove', at(i)));
      pad.dispatchEvent(new PointerEvent('pointerup', at(40)));
      $('#sign-place').click();
      return true;`);
    await untilEditor(`return !!$('.sign-box')`, 'the signature box on the page');
    const moved = await inEditor(`const box = $('.sign-box');
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
    await inEditor(`$('#sign-box-place').click(); return true;`);
    await untilEditor(`return /^Undo Sign/.test($('#undo').title)`, 'the signature to be placed');
    const again = await inEditor(`$('#sign').click();
      const earlier = document.querySelectorAll('.sign-again').length;
      [...document.querySelectorAll('#sign-dialog button')].find((b) => b.textContent === 'Cancel').click();
      return earlier;`);
    report('a signature drawn once is offered again while the window is open', again === 1, again);

    const inserted = await inEditor(`const canvas = Object.assign(document.createElement('canvas'), { width: 2000, height: 1500 });
      const g = canvas.getContext('2d');
      const grain = g.createImageData(1000, 1500);
      let s = 1;
      for (let i = 0; i < grain.data.length; i += 4) {
        s = (Math.imul(s, 1103515245) + 12345) >>> 0;
        grain.data.fill(120 + (s >>> 25), i, i + 3);
        grain.data[i + 3] = 255;
      }
      g.putImageData(grain, 1000, 0);
      g.fillStyle = '#c00';
      g.fillRect(0, 0, 1000, 1500);
      const jpeg = new Uint8Array(await (await new Promise((r) => canvas.toBlob(r, 'image/jpeg', 0.95))).arrayBuffer());
      const exif = [0xff, 0xe1, 0, 34, 0x45, 0x78, 0x69, 0x66, 0, 0, 0x4d, 0x4d, 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6,
        0, 0, 0, 0, 0, 0];
      choose('#insert-files', [new File([jpeg.slice(0, 2), new Uint8Array(exif), jpeg.slice(2)], 'passport scan.jpg', { type: 'image/jpeg' })]);
      for (let i = 0; i < 200 && document.querySelectorAll('.page').length < 2; i++) await pause(100);
      const page = document.querySelectorAll('.page canvas')[1];
      return { pages: document.querySelectorAll('.page').length, portrait: page && page.offsetHeight > page.offsetWidth,
        size: $('#file-size').textContent, status: $('#status').textContent };`);
    report('a scan turned by its EXIF orientation is added as an upright page after the page in view',
      inserted.pages === 2 && inserted.portrait && /page added after page 1/.test(inserted.status), inserted);
    const smaller = await inEditor(`$('#size-target').value = '1000000';
      $('#make-smaller').click();
      const settled = () => /went from|can't get/.test($('#status').textContent) && !$('#make-smaller').disabled;
      for (let i = 0; i < 600 && !settled(); i++) await pause(100);
      return { status: $('#status').textContent, size: $('#file-size').textContent };`);
    report('"Make smaller" brings the file within the size chosen and shows the new size',
      /^The file went from .* to .* \(\d+ pictures? re-encoded\)\.$/.test(smaller.status) && smaller.size !== inserted.size && /KB$/.test(smaller.size),
      { before: inserted.size, ...smaller });
    const signed = await saveCopy(copies, 'Noor-signed scan-edited.pdf');
    report('the signed copy with the scan is saved', signed?.length > 0 && signed.length <= 1000000,
      { signedCopy: copies + '/Noor-signed scan-edited.pdf', length: signed?.length });
    // "Merge…" puts two scans together into a new file saved beside the copies; the document
    // being edited keeps its pages.
    await answerSaveDialogs(copies);
    await inEditor(`const canvas = Object.assign(document.createElement('canvas'), { width: 300, height: 400 });
      canvas.getContext('2d').fillRect(20, 20, 100, 100);
      const png = await new Promise((r) => canvas.toBlob(r, 'image/png'));
      choose('#merge-files', ['residence permit.png', 'second page.png'].map((name) => new File([png], name, { type: 'image/png' })));
      return true;`);
    const mergedCopy = copies + '/residence permit-merged.pdf';
    const merging = `return { status: $('#status').textContent, pages: document.querySelectorAll('.page').length };`;
    await until(async () => (await readIfThere(mergedCopy))?.length > 0 && /merged/.test((await inEditor(merging)).status),
      'the merged file to be saved').catch(() => {});
    const merged = await inEditor(merging);
    report('"Merge…" saves the chosen files as a new file and leaves the open document as it was',
      isPdf(await readIfThere(mergedCopy)) && merged.pages === 2 && /residence permit-merged\.pdf/.test(merged.status), { mergedCopy, ...merged });
    await quillpost.pdfcraftCloseAll();

    // The update through PDF Studio's own controls; the next window runs the new version, and
    // rolling back returns to the built-in one.
    const result = () => text('#editor-check-result');
    await openScreen('#/pdf', '#editor-check', 'the editor card');
    await clickFor('#editor-check', () => !$('#editor-update').hidden, 'the check to offer the update');
    report('the check finds the newer release', /9\.9\.0 is available/.test(result()), result());
    await clickFor('#editor-update', () => /now on|couldn|didn|looked|already|no web/i.test(result()), 'the update to end', 60000);
    const steps = [...document.querySelectorAll('#editor-steps li')].map(li => li.dataset.step + ':' + li.dataset.state).join(' ');
    const after = await quillpost.pdfcraftInfo();
    report('the update runs every step, shows it and leaves the new version', result() === 'PdfCraft is now on 9.9.0.'
      && steps === 'backup:ok download:ok verify:ok unpack:ok test:ok switch:ok' && after.version === '9.9.0' && after.updated && after.canRollback,
      { steps, text: result(), after });
    await quillpost.openPdfCraft(null, '');
    await untilEditor('return !!window.wasmBindings', 'the updated editor to start');
    const version = await inEditor(`return (await (await fetch('VERSION.txt')).text())`);
    report('a new editor window runs the installed version', /^PdfCraft web 9\.9\.0 \(installed .*, sha256 [0-9a-f]{64}\)$/.test(version), version);
    await quillpost.pdfcraftCloseAll();
    await until(() => !$('#editor-rollback').hidden, 'the roll-back button');
    await clickFor('#editor-rollback', () => /^Back on/.test(result()), 'the roll-back');
    const back = await quillpost.pdfcraftInfo();
    report('rolling back returns to the built-in editor', back.version === before.version && !back.updated && !back.canRollback, back);

    // The page's own downloads (<a download> on a blob) reach the save dialog; the page says where
    // the file went only once it is written, nothing on a cancel, and why on a failure.
    const exports = await quillpost.clientFolder('Noor Rahman', 'Exports');
    await answerSaveDialogs(exports);
    const savedToast = () => toasts().find(t => t.includes('is saved in ' + exports));
    await openScreen('#/import', '#export-json', 'the export buttons');
    await clickFor('#export-json', savedToast, 'the export to be saved');
    const exported = await readIfThere(exports + '/' + savedToast().split(' is saved in ')[0]);
    report('the JSON export reaches the folder the save dialog chose, and only then is the user told',
      exported && JSON.parse(new TextDecoder().decode(exported)).clients.some(c => c.name === 'Noor Rahman'), toasts());
    await answerSaveDialogs('');
    $('#export-clients').click();
    await pause(1500);
    report('a cancelled save dialog says nothing was saved', !toasts().some(t => /\.csv (is|was)/.test(t)), toasts());
    await answerSaveDialogs(exports + '/no such folder');
    $('#export-clients').click();
    await until(() => toasts().some(t => /couldn't save the file/.test(t)), 'the failed save to be reported').catch(() => {});
    report('a download that cannot be written is reported as a failure, not as saved',
      toasts().some(t => /couldn't save the file/.test(t)) && !toasts().some(t => /\.csv is (in|saved)/.test(t)), toasts());
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  console.log('E2E-DONE');
})();

// Drives the page through window.quillpost and the page's own screens, reporting each check on the
// console, where the end-to-end runner reads it.
// report, until and rejection come from checks.js, which the runner puts first.
(async () => {
  const post = (body) => window.webkit.messageHandlers.qp.postMessage(body);

  // A one-page form whose values have no appearances yet (NeedAppearances): "applicant" prints,
  // "internal" is hidden.
  const filledFormPdf = () => {
    const content = 'BT /F1 14 Tf 72 740 Td (Application for a study permit) Tj ET';
    const objects = [
      '<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 6 0 R] /NeedAppearances true /DR << /Font << /Helv 4 0 R >> >> /DA (/Helv 0 Tf 0 g) >> >>',
      '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
      '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 7 0 R /Annots [5 0 R 6 0 R] >>',
      '<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>',
      '<< /Type /Annot /Subtype /Widget /FT /Tx /T (applicant) /V (Maria Alvarez) /F 4 /Rect [72 650 372 670] /DA (/Helv 10 Tf 0 g) /P 3 0 R >>',
      '<< /Type /Annot /Subtype /Widget /FT /Tx /T (internal) /V (Internal note) /F 6 /Rect [72 610 372 630] /DA (/Helv 10 Tf 0 g) /P 3 0 R >>',
      `<< /Length ${content.length} >>\nstream\n${content}\nendstream`,
    ];
    let text = '%PDF-1.7\n';
    const offsets = objects.map((body, index) => {
      const offset = text.length;
      text += `${index + 1} 0 obj\n${body}\nendobj\n`;
      return offset;
    });
    const xref = text.length;
    text += `xref\n0 ${objects.length + 1}\n0000000000 65535 f \n` + offsets.map(o => `${String(o).padStart(10, '0')} 00000 n \n`).join('');
    text += `trailer\n<< /Size ${objects.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
    return new TextEncoder().encode(text);
  };

  // Run on the data the first run left (readable, with its snapshots and backup copy): encryption
  // on, the copies from before kept, an old readable snapshot restored, then the copies removed.
  const readableCopiesOnceEncrypted = async () => {
    try {
      await until(() => App.editable, 'the data to open');
      const names = App.data.clients.map(c => c.name);
      const holdsAClient = (text) => names.some(n => String(text ?? '').includes(n));
      const passphrase = 'second maple 2025';
      const encrypt = async () => {
        location.hash = '#/settings/security';
        await until(() => document.querySelector('#encryption-form'), 'the encryption form');
        document.querySelector('#encryption-passphrase').value = passphrase;
        document.querySelector('#encryption-confirm').value = passphrase;
        document.querySelector('#encryption-form').requestSubmit();
        await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the question about the readable copies', 30000);
      };
      const noneReadable = async () => (await quillpost.plainCopies()).count === 0;
      // The first run stopped backing up; a backup folder in the drive folder gets a readable copy first.
      const driveFolder = (await quillpost.info()).dataFile.replace(/\/data\/data\.json$/, '/drive');
      await quillpost.driveConnectPath(driveFolder);
      await until(async () => (await quillpost.backupCandidates()).some(c => c.source === 'Backup folder' && holdsAClient(c.text)), 'the readable backup copy');

      await encrypt();
      const again = await quillpost.plainCopies();
      report('again: the readable copies are counted, the backup folder\'s among them',
        again.count >= 3 && again.copies.some(c => c.place === 'backup' && c.name === 'Quillpost-backup.json'), again);
      document.querySelector('#confirm-cancel').click();
      await until(() => document.querySelector('#encryption-copies-remove'), 'the kept copies to be named');

      location.hash = '#/settings/data';
      const daily = () => document.querySelector('#snapshot-list li[data-kind="daily"] [data-action="restore"]');
      await until(daily, 'the readable daily snapshot');
      report('the daily snapshot to restore is readable', holdsAClient(await quillpost.readSnapshot(daily().closest('li').dataset.snapshot)));
      daily().click();
      await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the restore confirmation');
      document.querySelector('#confirm-ok').click();
      await until(async () => App.editable && !document.querySelector('#confirm-dialog[open]') &&
        (await quillpost.listSnapshots()).filter(n => n.startsWith('before-restore-')).length === 2, 'the restore', 15000);
      const restored = await quillpost.load();
      report('restoring an old readable snapshot keeps the practice encrypted, with the passphrase in use',
        restored.enc === true && !holdsAClient(JSON.stringify(restored)) && App.encrypted && App.editable &&
        names.every(n => App.data.clients.some(c => c.name === n)), { encrypted: App.encrypted, lock: App.lock });

      location.hash = '#/settings/security';
      await until(() => document.querySelector('#encryption-copies-remove'), 'the button that removes kept copies');
      document.querySelector('#encryption-copies-remove').click();
      await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the question about the readable copies');
      document.querySelector('#confirm-ok').click();
      await until(noneReadable, 'the kept copies to be removed');
      await until(() => document.querySelector('#encryption-status') && !document.querySelector('#encryption-copies-remove'), 'the Security screen to redraw');
      report('once removed, the Security screen says only that the data is encrypted',
        document.querySelector('#encryption-status').textContent === 'Your data is encrypted with your passphrase.');

      // Off and on again: the readable copies the plain save made are removed on the default answer.
      document.querySelector('#encryption-off').click();
      await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the confirmation');
      document.querySelector('#confirm-ok').click();
      await until(() => !App.encrypted && App.saveState === 'saved' && document.querySelector('#encryption-form'), 'the data to be saved unencrypted', 30000);
      await encrypt();
      const counted = await quillpost.plainCopies();
      report('turned on again, the readable copies are counted', counted.count >= 2, counted);
      document.querySelector('#confirm-ok').click();
      await until(noneReadable, 'the readable copies to be removed');
      const snapshots = await quillpost.listSnapshots();
      const texts = await Promise.all(snapshots.map(n => quillpost.readSnapshot(n)));
      const bak = await quillpost.readSnapshot('data.json.bak');
      report('then data.json.bak and the snapshots hold no client name',
        !holdsAClient(bak) && texts.every(t => !holdsAClient(t)) && !holdsAClient(JSON.stringify(await quillpost.load())), { snapshots, bak: String(bak).slice(0, 60) });
      report('readable copies are never removed while the data file itself is readable',
        /isn't encrypted/.test(await rejection(Promise.resolve().then(async () => {
          await App.decrypt();
          return quillpost.removePlainCopies();
        })) || ''));
      await App.encrypt(passphrase);
      await quillpost.removePlainCopies();
      report('encrypted again, nothing readable is left', await noneReadable());
      report('encrypted-copies expectations', true, { names });
    } catch (error) {
      report('the readable-copies script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
    }
  };

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;
    // The runner ends the web process once the checks are done, and the program reloads the page,
    // which then finds the data saved by the first run.
    const status = await quillpost.dataStatus();
    if (status.dataFile !== 'missing') {
      console.log('E2E-RELOADED ' + JSON.stringify({ state: document.documentElement.dataset.appState, status }));
      await readableCopiesOnceEncrypted();
      console.log('E2E-ENCRYPTED-DONE');
      return;
    }
    report('a first start finds no data file and says so', status.loadedFrom === '', status);
    const classes = document.documentElement.classList;
    report('the page is tagged as a native Linux desktop page',
      ['is-desktop', 'is-linux', 'is-native', 'native-glass'].every(c => classes.contains(c)), document.documentElement.className);
    report('the page API says where it runs', quillpost.native === 'cpp' && quillpost.platform === 'linux');

    // The Clients screen: add a client through the form; the page saves it.
    const clientName = 'Amara Okafor ' + Date.now();
    location.hash = '#/clients';
    await until(() => document.querySelector('#client-add'), 'the Clients screen');
    document.querySelector('#client-add').click();
    await until(() => document.querySelector('#client-form'), 'the client form');
    // Saving without a name marks the field; typing the name takes the mark away at once.
    document.querySelector('#client-form').requestSubmit();
    const nameError = document.querySelector('#client-name-error');
    const marked = !nameError.hidden && document.querySelector('#client-name').getAttribute('aria-invalid') === 'true';
    document.querySelector('#client-name').value = clientName;
    document.querySelector('#client-name').dispatchEvent(new Event('input'));
    report('a client\'s name left empty is marked, and the mark goes as the name is typed',
      marked && nameError.hidden && !document.querySelector('#client-name').hasAttribute('aria-invalid'), { marked });
    document.querySelector('#client-email').value = 'amara@example.org';
    document.querySelector('#client-form').requestSubmit();
    await until(() => App.data.clients.some(c => c.name === clientName), 'the client to be added');
    await App.saveNow();
    const loadedAfterForm = await quillpost.load();
    report('a client added on the Clients screen is saved and loads again',
      loadedAfterForm && loadedAfterForm.clients.some(c => c.name === clientName && c.email === 'amara@example.org'));
    report('the Clients screen lists the new client', document.body.textContent.includes(clientName));

    // Layout: however long the screen, only its content scrolls; the sidebar and title bar stay.
    const view = document.querySelector('#view');
    const spacer = document.createElement('div');
    spacer.style.height = '4000px';
    view.append(spacer);
    view.scrollTop = 2000;
    await new Promise(r => requestAnimationFrame(r));
    const edges = ['.sidebar', '.titlebar'].map(s => Math.round(document.querySelector(s).getBoundingClientRect().top));
    report('a long screen scrolls inside its content while the sidebar and title bar stay at the top',
      view.scrollTop > 0 && document.scrollingElement.scrollTop === 0 && document.scrollingElement.scrollHeight <= innerHeight && edges.every(t => t === 0),
      { edges, view: view.scrollTop, page: document.scrollingElement.scrollHeight, height: innerHeight });
    spacer.remove();

    // A click on a row's plain cell opens its item, as a click on the name does.
    const addedId = App.data.clients.find(c => c.name === clientName).id;
    document.querySelector(`tr[data-client-id="${addedId}"] .cell-file`).click();
    await until(() => location.hash === '#/client/' + addedId, 'the client row to open its client');
    report('a click anywhere on a client\'s row opens the client', location.hash === '#/client/' + addedId);

    // A spreadsheet row for a client already here is offered for update, not added a second time.
    location.hash = '#/import';
    await until(() => document.querySelector('#import-file'), 'the import screen');
    const sheet = new DataTransfer();
    sheet.items.add(new File([`Name,Email,Phone\n${clientName},amara@example.org,555 0101\nNew Person,new@example.org,\n`], 'clients.csv', { type: 'text/csv' }));
    document.querySelector('#import-file').files = sheet.files;
    document.querySelector('#import-file').dispatchEvent(new Event('change'));
    await until(() => document.querySelector('#import-summary'), 'the import preview');
    const known = document.querySelector('#import-known');
    known.value = 'update';
    known.dispatchEvent(new Event('change'));
    const previewText = document.querySelector('#import-step').textContent;
    const clientsBefore = App.data.clients.length;
    document.querySelector('#import-run').click();
    report('an import updates the client already here and adds only the new one, with no "null" in its preview',
      !/\bnull\b/.test(previewText) && !known.parentElement.hidden && App.data.clients.length === clientsBefore + 1 &&
      App.data.clients.filter(c => c.name === clientName).length === 1 && App.data.clients.find(c => c.id === addedId).phone === '555 0101',
      { previewText: previewText.slice(-200), clients: App.data.clients.length - clientsBefore });
    App.edit(doc => { doc.clients = doc.clients.filter(c => c.name !== 'New Person'); });
    await App.saveNow();

    // Typed times and dates: 1430 is 14:30, an all-number date is refused, and the error goes as the field is corrected.
    location.hash = '#/calendar';
    await until(() => document.querySelector('#appointment-add'), 'the Calendar screen');
    document.querySelector('#appointment-add').click();
    await until(() => document.querySelector('#appointment-form'), 'the appointment form');
    const [apptTime, apptDate] = ['#appointment-form-time', '#appointment-form-date'].map(s => document.querySelector(s));
    apptTime.value = '1430';
    apptTime.dispatchEvent(new Event('blur'));
    document.querySelector('#appointment-form-title').value = 'Typed time';
    apptDate.value = '07/12/2026';
    document.querySelector('#appointment-form').requestSubmit();
    const dateError = document.querySelector('#appointment-form-date-error');
    const dateRefused = apptDate.getAttribute('aria-invalid') === 'true' && !dateError.hidden && !App.data.appointments.some(a => a.title === 'Typed time');
    apptDate.value = '7 Dec 2026';
    apptDate.dispatchEvent(new Event('input'));
    report('a time typed as 1430 reads 14:30; an all-number date is refused and its error goes as soon as it is corrected',
      apptTime.value === '14:30' && dateRefused && dateError.hidden && !apptDate.hasAttribute('aria-invalid'), { time: apptTime.value, dateRefused });
    document.querySelector('#appointment-form-cancel').click();

    // The practice: a file for the client, a deadline, a fee and its invoice, all through the screens.
    report('the page reports ready and keeps its data as version 2', App.isReady === true && App.data.version === 2);
    App.tours.markAllSeen();
    App.tours.close();
    const client = App.data.clients.find(c => c.name === clientName);
    window.__qpMenu('newFile');
    await until(() => document.querySelector('#file-form'), 'the new-file form from the menu command');
    document.querySelector('#file-form-clientId').value = client.id;
    document.querySelector('#file-form-programme').value = 'study-permit';
    document.querySelector('#file-form-applicationNumber').value = 'S300100200';
    document.querySelector('#file-form').requestSubmit();
    await until(() => document.querySelector('#view[data-file-id]'), 'the new file\'s screen');
    const file = App.data.files.find(f => f.applicationNumber === 'S300100200');
    report('a file opened from the menu lands on its own address', file && location.hash === '#/file/' + file.id && file.clientId === client.id, location.hash);
    document.querySelector('#file-deadline-add').click();
    await until(() => document.querySelector('#deadline-form'), 'the deadline form');
    document.querySelector('#deadline-form-title').value = 'Biometrics';
    document.querySelector('#deadline-form-kind').value = 'biometrics';
    const due = new Date(Date.now() - 86400000);
    document.querySelector('#deadline-form-due').value = `${due.getFullYear()}-${String(due.getMonth() + 1).padStart(2, '0')}-${String(due.getDate()).padStart(2, '0')}`;
    document.querySelector('#deadline-form').requestSubmit();
    await until(() => document.querySelector('#file-deadlines [data-state="overdue"]'), 'the overdue deadline on the file');
    const deadline = App.data.deadlines.find(d => d.fileId === file.id);
    report('a deadline added on the file belongs to its client and shows as overdue', deadline && deadline.clientId === client.id);
    const deadlineBefore = JSON.stringify(deadline);
    document.querySelector(`#file-deadlines [data-deadline-id="${deadline.id}"] [data-action="remove"]`).click();
    const standIn = document.querySelector(`#file-deadlines [data-deadline-id="${deadline.id}"]`);
    report('a removed deadline keeps its row in place, offering Undo', !App.data.deadlines.some(d => d.id === deadline.id) &&
      standIn?.classList.contains('stand-in') && !!standIn.querySelector('[data-action="undo"]') &&
      [...document.querySelectorAll('#toasts .toast-action')].some(b => b.textContent === 'Undo'));
    document.body.dispatchEvent(new KeyboardEvent('keydown', { key: 'z', ctrlKey: true, bubbles: true }));
    await until(() => document.querySelector(`#file-deadlines [data-deadline-id="${deadline.id}"]:not(.stand-in)`), 'Ctrl+Z to bring the deadline back');
    report('Ctrl+Z brings the removed deadline back exactly', JSON.stringify(App.data.deadlines.find(d => d.id === deadline.id)) === deadlineBefore);
    document.querySelector('#entry-add').click();
    await until(() => document.querySelector('#entry-form'), 'the time and fee form');
    document.querySelector('#entry-form-kind').value = 'fee';
    document.querySelector('#entry-form-description').value = 'Study permit application';
    document.querySelector('#entry-form-amount').value = '1,000.00';
    document.querySelector('#entry-form').requestSubmit();
    await until(() => !document.querySelector('#invoice-create').disabled, 'the fee to be recorded');
    document.querySelector('#invoice-create').click();
    await until(() => document.querySelector('#invoice-sheet'), 'the invoice');
    report('the invoice is numbered and taxed', /^INV-\d{4}-0001$/.test(App.data.invoices[0].number) &&
      /1,?130\.00/.test(document.querySelector('#invoice-due').textContent), document.querySelector('#invoice-lines').textContent);
    document.querySelector('#invoice-payment-add').click();
    await until(() => document.querySelector('#payment-form'), 'the payment form');
    document.querySelector('#payment-form-amount').value = '300.00';
    document.querySelector('#payment-form').requestSubmit();
    await until(() => document.querySelector('#payment-list'), 'the payment to be listed');
    report('a part payment leaves the rest as the balance due', App.data.invoices[0].payments.length === 1 && App.data.invoices[0].paid === false &&
      /830\.00/.test(document.querySelector('#invoice-due').textContent), document.querySelector('#invoice-due').textContent);
    document.querySelector('#invoice-paid').click();
    report('the invoice can be marked paid, and then owes nothing', App.data.invoices[0].paid === true &&
      /\b0\.00/.test(document.querySelector('#invoice-due').textContent) && !document.querySelector('#invoice-sheet').textContent.includes('Unpaid'),
      document.querySelector('#invoice-due').textContent);
    window.__qpLink('quillpost://file/' + file.id);
    await until(() => document.querySelector('#file-client'), 'the quillpost: link to open the file');
    report('a quillpost://file link opens the file', location.hash === '#/file/' + file.id && document.querySelector('#file-client').textContent === clientName);
    window.__qpMenu('find');
    await until(() => document.querySelector('#find-input'), 'the find box');
    document.querySelector('#find-input').value = 'S300100200';
    document.querySelector('#find-input').dispatchEvent(new Event('input'));
    await until(() => document.querySelector('#find-results [role="option"]'), 'a result');
    document.querySelector('#find-input').dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true }));
    report('find opens the file by its application number', location.hash === '#/file/' + file.id && !document.querySelector('#find-dialog'));
    const reminder = App.remind(deadline.id);
    report('a reminder goes out through the page\'s Notification', reminder.notified && Object.values(Notification.open).some(n => n.title.startsWith('Biometrics')), reminder);
    const shown = Object.values(Notification.open).find(n => n.title.startsWith('Biometrics'));
    window.__qpNotifyClick(shown.id);
    await until(() => document.querySelector(`[data-deadline-id="${deadline.id}"].highlight`), 'the reminder\'s click to open its deadline');
    report('clicking the reminder opens its deadline', location.hash === '#/deadline/' + deadline.id);
    report('the backup check opens the page\'s own document', App.checkBackup({ text: JSON.stringify(App.data) }).files === 1 &&
      App.checkBackup({ text: '{"clients": 5}' }).ok === false);
    await App.saveNow();
    const practice = await quillpost.load();
    report('the file, deadline and invoice are saved', practice.version === 2 && practice.files.length === 1 && practice.deadlines.length === 1 && practice.invoices.length === 1);

    // The network: a verified feed on the dashboard, the relay to the practice's server.
    const feed = await quillpost.irccFeed();
    report('the IRCC feed from the loopback server verifies', feed.ok === true && JSON.parse(feed.feed).items.length === 2, feed);
    location.hash = '#/dashboard';
    await until(() => document.querySelector('#ircc-items, #ircc-error'), 'the IRCC panel');
    report('the dashboard shows the verified IRCC updates, newest first',
      document.querySelector('#ircc-items li .ircc-title')?.textContent === 'New proof-of-funds amounts for study permits',
      document.querySelector('#ircc-panel').textContent);

    const me = await quillpost.relay({ base: RELAY + '//', path: '/api/me', headers: { 'X-QP-Key': RELAY_KEY, Cookie: 'a=b' } });
    report('the relay answers with status and bytes', me.status === 200 && new TextDecoder().decode(me.body).includes('Maple Leaf'), me.status);

    const secure = await quillpost.relay({ base: TLS_RELAY, path: '/api/me', headers: { 'x-qp-key': RELAY_KEY } });
    report('the relay reaches an https relay host whose certificate verifies', secure.status === 200, secure.status);
    const untrusted = await rejection(quillpost.relay({ base: UNTRUSTED_RELAY, path: '/api/me' }));
    report('a certificate that does not verify is refused', /^Couldn't reach the relay \(.*certificate.*\)\.$/.test(untrusted || ''), untrusted);

    location.hash = '#/settings/server';
    await until(() => document.querySelector('#server-form'), 'the practice server settings');
    document.querySelector('#server-base').value = RELAY;
    document.querySelector('#server-key').value = RELAY_KEY;
    document.querySelector('#server-form').requestSubmit();
    await until(() => App.data.settings?.server?.base === RELAY, 'the server settings to be kept');
    document.querySelector('#server-test').click();
    await until(() => /Connected|relay|server/.test(document.querySelector('#server-status').textContent), 'the connection test');
    report('Settings → Practice server connects through the relay', document.querySelector('#server-status').textContent === 'Connected to Maple Leaf Immigration.',
      document.querySelector('#server-status').textContent);

    location.hash = '#/clients';
    await until(() => document.querySelector('#client-results [data-action="edit"]'), 'the client list');
    document.querySelector('#client-results [data-action="edit"]').click();
    await until(() => document.querySelector('#upload-links-message'), 'the upload links');
    await until(() => document.querySelector('#upload-links-message').textContent === 'No upload links yet.', 'the empty link list');
    document.querySelector('#upload-link-add').click();
    await until(() => document.querySelector('#upload-links li [data-action="revoke"]'), 'the new upload link');
    report('a secure upload link is made for the client', document.querySelector('#upload-links li').textContent.includes('https://practice.example/u/'));
    document.querySelector('#upload-links li [data-action="revoke"]').click();
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the revoke confirmation');
    document.querySelector('#confirm-ok').click();
    await until(() => !document.querySelector('#upload-links li'), 'the link to be revoked');
    report('revoking the link removes it', document.querySelector('#upload-links-message').textContent === 'No upload links yet.');
    document.querySelector('#client-cancel').click();
    await App.saveNow();

    // Sealed secrets over the real Secret Service, and the real clipboard.
    const sealing = await quillpost.seSelfTest();
    report('sealing with the device key kept in the Secret Service passes its self-test',
      ['available', 'roundTrip', 'noPlaintext', 'tamperRejected', 'otherKeyRejected'].every(k => sealing[k] === true), sealing);
    const reader = await quillpost.touchIdStatus();
    report('without fprintd, fingerprint unlock is unavailable and says why',
      reader.available === false && /fprintd|message bus|reader/.test(reader.reason) && await quillpost.touchIdAvailable() === false &&
      await quillpost.vaultTouchAvailable() === false, reader);
    report('without a reader nothing is saved for fingerprint unlock',
      await quillpost.touchIdSave('not kept') === false && await quillpost.touchIdEnabled() === false);
    report('an unlock with nothing saved answers null', await quillpost.touchIdUnlock() === null && await quillpost.vaultTouchUnlock() === null);
    const inline = await quillpost.touchIdInline({ x: 10, y: 10, w: 60, h: 60 });
    report('the inline prompt with nothing saved is unsupported', inline && inline.unsupported === true, inline);
    report('moving or cancelling an inline prompt that is not shown answers true',
      await quillpost.touchIdInlineMove({ x: 1, y: 1, w: 1, h: 1 }) === true && await quillpost.touchIdInlineCancel() === true);

    report('copySecret answers true', await quillpost.copySecret('pa55-e2e ✓', 1) === true);
    report('the copied secret is on the clipboard with the concealed marker',
      await quillpost.clipText() === 'pa55-e2e ✓' && await quillpost.clipConcealed() === true);
    await new Promise(r => setTimeout(r, 1600));
    report('a second later the secret is wiped from the clipboard', await quillpost.clipText() === '');
    await quillpost.copySecret('second secret', 1);
    await quillpost.clipSet('something the user copied');
    report('a plain copy carries no concealed marker', await quillpost.clipConcealed() === false);
    await new Promise(r => setTimeout(r, 1600));
    report('what was copied after a secret stays on the clipboard', await quillpost.clipText() === 'something the user copied');

    // Settings → Security: encrypt the data, lock it, open it with the passphrase.
    location.hash = '#/settings/security';
    await until(() => document.querySelector('#encryption-form'), 'the security settings');
    await until(() => document.querySelector('#fingerprint-status'), 'the fingerprint status');
    report('Settings → Security says why fingerprint unlock is unavailable',
      document.querySelector('#fingerprint-status').textContent === reader.reason, document.querySelector('#fingerprint-status').textContent);
    document.querySelector('#encryption-passphrase').value = 'maple leaf 2024';
    document.querySelector('#encryption-confirm').value = 'maple leaf 2024';
    document.querySelector('#encryption-form').requestSubmit();
    await until(() => App.encrypted && App.saveState === 'saved', 'the data to be encrypted', 30000);
    // The copies from before stay readable until the user says otherwise; here they are kept.
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-cancel'), 'the question about the readable copies', 30000);
    const question = document.querySelector('#confirm-title').textContent;
    const asked = Number((/^Remove (\d+) readable cop/.exec(question) || [])[1]);
    const readable = await quillpost.plainCopies();
    report('turning encryption on counts the readable copies from before and offers to remove them, yes first',
      asked >= 2 && readable.copies.some(c => c.name === 'data.json.bak' && c.place === 'data') &&
      readable.copies.some(c => c.place === 'snapshots' && /^data-/.test(c.name)) && document.activeElement === document.querySelector('#confirm-ok'),
      { question, readable });
    document.querySelector('#confirm-cancel').click();
    await until(() => document.querySelector('#encryption-status[data-readable-copies]'), 'the Security screen to name the kept copies');
    const kept = document.querySelector('#encryption-status');
    report('when they are kept, the Security screen says how many readable copies were kept',
      Number(kept.dataset.readableCopies) >= 2 && kept.textContent.includes(`${kept.dataset.readableCopies} readable copies from before were kept`) &&
      document.querySelector('#encryption-copies-remove'), kept.textContent);
    const encrypted = await quillpost.load();
    report('the encrypted data is saved in the checked form without the client names',
      encrypted.enc === true && encrypted.v === 2 && encrypted.people.length === 1 && !JSON.stringify(encrypted).includes(clientName));
    await App.reload();
    await until(() => document.querySelector('#unlock-form'), 'the lock screen');
    report('encrypted data opens on the lock screen, read-only', document.documentElement.dataset.appState === 'locked' && !App.editable);
    document.querySelector('#unlock-passphrase').value = 'wrong';
    document.querySelector('#unlock-form').requestSubmit();
    await until(() => !document.querySelector('#unlock-message').hidden, 'the wrong passphrase to be refused', 30000);
    report('a wrong passphrase is refused on the lock screen', document.querySelector('#unlock-message').textContent === "That passphrase doesn't open your data.");
    document.querySelector('#unlock-passphrase').value = 'maple leaf 2024';
    document.querySelector('#unlock-form').requestSubmit();
    await until(() => App.editable, 'the data to open', 30000);
    report('the right passphrase opens the data', App.data.clients.some(c => c.name === clientName));

    // A client's vault: a portal login whose password is copied, concealed.
    location.hash = '#/clients';
    await until(() => document.querySelector('#client-results [data-action="edit"]'), 'the client list');
    document.querySelector('#client-results [data-action="edit"]').click();
    await until(() => document.querySelector('#vault-new'), 'the vault section');
    document.querySelector('#vault-new').value = 'vault pass';
    document.querySelector('#vault-new-submit').click();
    await until(() => document.querySelector('#vault-portal'), 'the open vault', 30000);
    document.querySelector('#vault-portal').value = 'IRCC secure account';
    document.querySelector('#vault-username').value = 'amara';
    document.querySelector('#vault-password').value = 'Portal-Pa55';
    document.querySelector('#vault-add').click();
    await until(() => document.querySelector('#vault-logins [data-action="copy-password"]'), 'the saved login');
    document.querySelector('#vault-logins [data-action="copy-password"]').click();
    await new Promise(r => setTimeout(r, 300));
    report('"Copy password" puts the password on the clipboard, concealed',
      await quillpost.clipText() === 'Portal-Pa55' && await quillpost.clipConcealed() === true);
    document.querySelector('#client-cancel').click();
    await App.saveNow();
    report('the vault is kept in the document, encrypted', !JSON.stringify(await quillpost.load()).includes('Portal-Pa55'));

    location.hash = '#/settings/security';
    await until(() => document.querySelector('#encryption-off'), 'the encryption switch');
    document.querySelector('#encryption-off').click();
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the confirmation');
    document.querySelector('#confirm-ok').click();
    await until(() => !App.encrypted && App.saveState === 'saved', 'the data to be saved unencrypted', 30000);
    report('stopping encryption saves the data unencrypted', (await quillpost.load()).clients.some(c => c.name === clientName));

    // Saves and loads through the bridge.
    const first = { version: 1, clients: [{ id: 'c1', name: clientName }], note: 'first "quoted" / é ✓' };
    const second = { version: 1, clients: [{ id: 'c1', name: clientName }, { id: 'c2', name: 'Second' }] };
    report('each save answers true', await quillpost.save(first) === true && await quillpost.save(second) === true);
    const loaded = await quillpost.load();
    report('load returns the document that was saved', JSON.stringify(loaded) === JSON.stringify(second), loaded);

    const refused = await rejection(quillpost.save({ enc: true, v: 2, people: [] }));
    report('an encrypted document without its keys is refused with the exact message',
      refused === "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.", refused);
    report('the refused document left the data file as it was', JSON.stringify(await quillpost.load()) === JSON.stringify(second));

    const info = await quillpost.info();
    report('info names the data file and counts the day\'s snapshot',
      info.dataFile.endsWith('/data.json') && info.snapshots === 1 && info.platform === 'linux' && info.native === 'cpp', info);

    const snapshots = await quillpost.listSnapshots();
    report('the day\'s snapshot is listed', snapshots.length === 1 && /^data-\d{4}-\d{2}-\d{2}\.json$/.test(snapshots[0]), snapshots);

    // The transport's own rules.
    report('a message that is not a dictionary is a bad message', await rejection(post('hello')) === 'bad message');
    report('a message without cmd is a bad message', await rejection(post({ args: '[]' })) === 'bad message');
    const unparsable = await post({ cmd: 'info', args: 'not json' });
    report('arguments that are not JSON run the command without arguments', JSON.parse(unparsable).native === 'cpp');
    // What the page sent is what is checked: nothing after a NUL or a lone surrogate is dropped,
    // and nothing is read from the prototype.
    report('text after a NUL in a command name is part of the name',
      await rejection(post({ cmd: 'clearBackupFolder\u0000anything', args: '[]' })) === 'Unknown command clearBackupFolder',
      await rejection(post({ cmd: 'clearBackupFolder\u0000anything', args: '[]' })));
    report('a lone surrogate in a command name does not cut it short',
      await rejection(post({ cmd: 'info\uD800', args: '[]' })) === 'Unknown command info\uFFFD');
    report('a command inherited through the prototype is not the body\'s own',
      await rejection(post(Object.assign(Object.create({ cmd: 'clearBackupFolder' }), { args: '[]' }))) === 'bad message');
    report('the backup folder is still set after those messages', (await quillpost.info()).backupFolder.endsWith('/backups'));
    const cutEmoji = await rejection(quillpost.restoreSnapshot('before-restore-1\uD83D.json'));
    report('a cut emoji in an argument keeps the argument (and the name is refused)', cutEmoji === 'Invalid snapshot', cutEmoji);
    const cyclic = {};
    cyclic.self = cyclic;
    let deep = [];
    for (let i = 0; i < 100000; ++i) deep = [deep];
    const odd = [() => quillpost.save(cyclic), () => quillpost.composeEmail(null), () => quillpost.relay(undefined), () => quillpost.save(deep)];
    const answers = odd.map((member) => { try { return member(); } catch (error) { return error; } });
    report('page-API members answer odd arguments with a promise, never a throw', answers.every(a => a instanceof Promise));
    const settled = await Promise.allSettled(answers);
    report('and those promises are rejected', settled.every(r => r.status === 'rejected'), settled.map(r => r.status));
    const restore = await rejection(quillpost.restoreSnapshot('../data.json'));
    report('restoring a name outside the snapshots is refused', restore === 'Invalid snapshot', restore);

    // Settings → Data: the data file, the recovery copy, and restoring the day's snapshot.
    location.hash = '#/settings/data';
    await until(() => document.querySelector('#data-file'), 'the data settings');
    report('Settings → Data shows where the data file is', document.querySelector('#data-file').textContent === info.dataFile);
    await until(() => document.querySelector('#backup-folder'), 'the backup folder setting');
    report('the backup folder is shown and no empty value leaks into the screen as text',
      info.backupFolder.endsWith('/backups') && document.querySelector('#backup-folder').textContent === info.backupFolder &&
      !/null|undefined/.test(document.querySelector('#view').textContent),
      document.querySelector('#view').textContent);
    await until(() => document.querySelector('#recovery:not([hidden]) #restore-recovery'), 'the recovery copy', 5000);
    report('the recovery copy is offered, but not as the page\'s main action while nothing is wrong',
      document.querySelector('#recovery').textContent.includes('data.json.bak') && !document.querySelector('#restore-recovery').classList.contains('primary'),
      document.querySelector('#recovery').textContent);
    await until(() => document.querySelector('#snapshot-list li[data-snapshot] [data-action="restore"]'), 'the snapshot list');
    document.querySelector('#snapshot-list li[data-snapshot] [data-action="restore"]').click();
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the restore confirmation');
    document.querySelector('#confirm-ok').click();
    const restored = async () => ((await quillpost.load()) || {}).clients?.length === 1;
    const started = Date.now();
    while (!(await restored()) && Date.now() - started < 10000)
      await new Promise(r => setTimeout(r, 100));
    report('restoring the day\'s snapshot from Settings → Data brings back the first save of the day', await restored());
    const after = await quillpost.listSnapshots();
    report('a safety copy is taken before the restore', after.some(n => n.startsWith('before-restore-')), after);
    // The runner reads the files the restore left before the documents below are remembered on
    // their clients, which saves again; a folder it makes in the documents root says it is done.
    console.log('E2E-RESTORED ' + JSON.stringify({ docsRoot: (await quillpost.info()).docsRoot }));
    await until(async () => (await quillpost.listDocuments('E2E restore seen')).exists, 'the runner to read the restored files', 30000);

    // Client documents: one saved from the page is listed, read back unchanged and moved to the Trash.
    const docsRoot = (await quillpost.info()).docsRoot;
    const documentBytes = new Uint8Array(100000).map((_, i) => (i * 31 + 7) & 255);
    const saved = await quillpost.saveDocument({ client: clientName, sub: 'Forms', fileName: 'Passport SCAN.PDF', bytes: documentBytes });
    report('a document saved from the page is filed in the client\'s folder',
      saved.name === 'Passport SCAN.pdf' && saved.size === documentBytes.length && saved.path === `${docsRoot}/${clientName}/Forms/Passport SCAN.pdf`, saved);
    const listing = await quillpost.listDocuments(clientName);
    report('the saved document is listed with its sub-folder',
      listing.exists && listing.files.some(f => f.path === saved.path && f.folder === 'Forms' && f.size === documentBytes.length), listing);
    const readBack = await quillpost.readDocument(saved.path);
    report('the document reads back unchanged',
      readBack instanceof Uint8Array && readBack.length === documentBytes.length && readBack.every((b, i) => b === documentBytes[i]));
    // Bytes sent to the side channel as a Blob (which the engine itself can't hand over) arrive
    // whole, and the program goes on answering.
    const blobAddress = await fetch('quillpost-bytes://bytes/', { method: 'POST', body: new Blob([documentBytes]) }).then((r) => r.text());
    const blobSaved = JSON.parse(await post({ cmd: 'saveDocument', args: JSON.stringify([{ client: 'E2E blob upload', fileName: 'Blob.pdf', bytes: blobAddress }]) }));
    const blobBack = await quillpost.readDocument(blobSaved.path);
    report('a Blob sent to the bytes channel arrives as its bytes',
      blobAddress.startsWith('quillpost-bytes://') && blobBack.length === documentBytes.length && blobBack.every((b, i) => b === documentBytes[i]), blobAddress);
    await quillpost.deleteDocument(blobSaved.path);
    for (const outside of ['/etc/hosts', docsRoot, `${docsRoot}/../data.json`, `${docsRoot}2/x.pdf`]) {
      const refusal = await rejection(quillpost.readDocument(outside));
      report(`reading ${outside} is refused with "Not allowed"`, refusal === 'Not allowed', refusal);
    }
    report('a document outside the root is neither opened nor trashed',
      await quillpost.openDocument('/etc/hosts') === false && await quillpost.deleteDocument(`${docsRoot}/../data.json`) === false);
    report('bytes that are not Base64 are a bad document',
      await rejection(post({ cmd: 'saveDocument', args: JSON.stringify([{ client: clientName, fileName: 'x.pdf', bytes: '%%%' }]) })) === 'bad document');

    // The client's Documents tab: the listing, a dropped file, and moving a document to the Trash.
    location.hash = '#/clients';
    await until(() => document.querySelector('#client-table'), 'the client list');
    const clientRow = [...document.querySelectorAll('#client-table tbody tr')].find(tr => tr.textContent.includes(clientName));
    clientRow.querySelector('[data-action="documents"]').click();
    const documentRow = (name) => document.querySelector(`#documents-table tr[data-name="${CSS.escape(name)}"]`);
    await until(() => documentRow('Passport SCAN.pdf'), 'the Documents tab to list the document');
    report('the Documents tab lists the document under its folder',
      documentRow('Passport SCAN.pdf').closest('tbody').dataset.folder === 'Forms' &&
      document.querySelector('#client-tab-documents').getAttribute('aria-selected') === 'true');
    const dropped = new DataTransfer();
    dropped.items.add(new File(['dropped letter'], 'Letter.txt', { type: 'text/plain' }));
    document.querySelector('#client-panel-documents').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    await until(() => documentRow('Letter.txt'), 'the dropped file to be listed');
    const letter = (await quillpost.listDocuments(clientName)).files.find(f => f.name === 'Letter.txt');
    report('a file dropped on the Documents tab is saved', letter && new TextDecoder().decode(await quillpost.readDocument(letter.path)) === 'dropped letter', letter);
    documentRow('Passport SCAN.pdf').querySelector('[data-action="trash"]').click();
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the Trash confirmation');
    document.querySelector('#confirm-ok').click();
    await until(() => !documentRow('Passport SCAN.pdf'), 'the trashed document to leave the list');
    report('the document moved to the Trash is no longer listed',
      !(await quillpost.listDocuments(clientName)).files.some(f => f.path === saved.path));
    document.querySelector('#client-documents-close').click();

    // Two clients of one name each have a folder of their own, and a renamed client keeps theirs.
    const twinIds = App.edit((doc) => ['twin-one', 'twin-two'].map((id) => {
      doc.clients.push({ id, name: 'Tess Namesake' });
      return id;
    }));
    const twinFolder = (id) => App.data.clients.find((c) => c.id === id).docFolder;
    const openTwin = async (id) => {
      location.hash = `#/client/${id}`;
      await until(() => document.querySelector(`[data-client-id="${id}"] button#client-documents`), 'the client\'s page');
      document.querySelector('button#client-documents').click();
      await until(() => document.querySelector('#documents-table, #documents-empty'), 'the Documents tab');
    };
    await openTwin(twinIds[0]);
    const twinDrop = new DataTransfer();
    twinDrop.items.add(new File(['first twin'], 'Twin.txt', { type: 'text/plain' }));
    document.querySelector('#client-panel-documents').dispatchEvent(new DragEvent('drop', { dataTransfer: twinDrop, bubbles: true, cancelable: true }));
    await until(() => documentRow('Twin.txt'), 'the first namesake\'s document');
    document.querySelector('#client-documents-close').click();
    await openTwin(twinIds[1]);
    report('namesakes have folders of their own and don\'t see each other\'s documents',
      document.querySelector('#documents-empty') && !documentRow('Twin.txt') && twinFolder(twinIds[0]) === 'Tess Namesake' &&
      twinFolder(twinIds[1]) === 'Tess Namesake (2)', twinIds.map(twinFolder));
    document.querySelector('#client-documents-close').click();
    App.edit((doc) => { doc.clients.find((c) => c.id === twinIds[0]).name = 'Tess Renamed'; });
    await openTwin(twinIds[0]);
    await until(() => documentRow('Twin.txt'), 'the renamed client\'s document');
    report('a renamed client keeps their documents', twinFolder(twinIds[0]) === 'Tess Namesake');
    document.querySelector('#client-documents-close').click();
    // The next run expects the clients of the day's first save.
    App.edit((doc) => { doc.clients = doc.clients.filter((c) => !twinIds.includes(c.id)); });

    // Settings → Documents & Drive: connecting a drive folder moves the documents root and the
    // backup folder into it; disconnecting puts them back.
    const before = await quillpost.info();
    const driveFolder = before.dataFile.replace(/\/data\/data\.json$/, '/drive');
    location.hash = '#/settings/documents';
    await until(() => document.querySelector('#docs-root'), 'the Documents & Drive settings');
    report('Settings → Documents & Drive shows where documents go', document.querySelector('#docs-root').textContent === before.docsRoot);
    const connection = await quillpost.driveConnectPath(driveFolder);
    const connected = await quillpost.info();
    report('connecting a drive folder answers the three new places', Object.keys(connection).length === 3 && connection.drive === driveFolder &&
      connection.backupFolder === `${driveFolder}/Quillpost/Backups` && connection.docsRoot === `${driveFolder}/Quillpost/Clients`, connection);
    report('after connecting, info names the drive, its documents root and backup folder',
      connected.drive === driveFolder && connected.docsIsDrive === true && connected.docsRoot === `${driveFolder}/Quillpost/Clients` &&
      connected.backupFolder === `${driveFolder}/Quillpost/Backups`, connected);
    const vanished = await rejection(quillpost.driveConnectPath(`${driveFolder}/gone`));
    report('a drive folder that is not there is refused and changes nothing',
      /can't find that folder/.test(vanished || '') && (await quillpost.info()).docsRoot === connected.docsRoot, vanished);
    location.hash = '#/settings';
    location.hash = '#/settings/documents';
    await until(() => document.querySelector('#drive-state[data-state="connected"] ~ .row-actions #drive-disconnect'), 'the connected drive');
    document.querySelector('#drive-disconnect').click();
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the disconnect confirmation');
    document.querySelector('#confirm-ok').click();
    await until(() => document.querySelector('#drive-state:not([data-state="connected"])'), 'the drive to be disconnected');
    const disconnected = await quillpost.info();
    report('after disconnecting, info has no drive and the documents root is back',
      disconnected.drive === '' && disconnected.docsIsDrive === false && disconnected.backupFolder === '' && disconnected.docsRoot === before.docsRoot, disconnected);

    // PDF Studio's shareable copy of a filled form, through the self-test's hook and back.
    location.hash = '#/settings';
    await until(() => document.querySelector('#view[data-route="settings"]'), 'the Settings screen');
    const formCopy = await App.formCopy(filledFormPdf(), 'Study permit.pdf');
    report('App.formCopy bakes the filled value into the copy, leaves the hidden one out and comes back',
      formCopy.outputs === 1 && formCopy.pages === 1 && formCopy.fields === 2 && formCopy.restored && location.hash === '#/settings' &&
      formCopy.text.includes('Maria Alvarez') && !formCopy.text.some(t => t.includes('Internal note')) &&
      formCopy.bytes instanceof Uint8Array && formCopy.bytes.length > 0,
      { ...formCopy, bytes: formCopy.bytes && formCopy.bytes.length, hash: location.hash });
    const damaged = await rejection(App.formCopy(new TextEncoder().encode('%PDF-1.7 and nothing else'), 'broken.pdf'));
    report('App.formCopy rejects a damaged PDF with the reason and still comes back',
      /damaged/.test(damaged || '') && location.hash === '#/settings', { damaged, hash: location.hash });

    // Settings → About turns automatic downloads on; an update that a scheduled check found is
    // shown on whatever screen is open and posted to the desktop once.
    await until(() => document.querySelector('#update-auto-download:not([disabled])'), 'the automatic download switch');
    document.querySelector('#update-auto-download').click();
    await until(async () => (await quillpost.updateInfo()).autoDownload === true, 'automatic downloads to be on');
    report('Settings → About turns automatic downloads on', document.querySelector('#update-auto-download').checked);
    location.hash = '#/clients';
    await until(() => document.querySelector('#view[data-route="clients"]'), 'the Clients screen');
    const posted = [];
    const RealNotification = window.Notification;
    window.Notification = class extends RealNotification {
      constructor(title, options) {
        super(title, options);
        posted.push(title);
      }
    };
    for (const detail of [{ status: 'available', next: '9.9.9' }, { status: 'available', next: '9.9.9', scheduled: true }, { status: 'idle' },
      { status: 'available', next: '9.9.9', scheduled: true }])
      window.dispatchEvent(new CustomEvent('qp-update', { detail }));
    await until(() => document.querySelector('#notice-update'), 'the update notice');
    window.Notification = RealNotification;
    report('an update a scheduled check found shows on the Clients screen and is posted once',
      /9\.9\.9/.test(document.querySelector('#notice-update').textContent) && posted.length === 1 && /9\.9\.9/.test(posted[0]), { posted });
    document.querySelector('#update-dismiss').click();
    report('the update notice can be dismissed', !document.querySelector('#notice-update'));

    location.hash = '#/clients';
    report('disk expectations', true, { beforeRestore: JSON.stringify(second), bak: JSON.stringify(first), clientName, trashed: saved.name, trashedSize: saved.size });
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  // Give the page a moment to draw the Clients screen for the screenshot.
  await new Promise(r => setTimeout(r, 800));
  console.log('E2E-DONE');
})();

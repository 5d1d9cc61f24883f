// Drives the page through window.quillpost and the page's own screens, reporting each check on the
// console, where the end-to-end runner reads it.
// report, until and rejection come from checks.js, which the runner puts first.
(async () => {
  const post = (body) => window.webkit.messageHandlers.qp.postMessage(body);
  // Opens a screen by its address and waits for what shows it is there.
  const open = async (hash, selector, what) => {
    location.hash = hash;
    await until(() => document.querySelector(selector), what);
  };
  // Answers yes to the question the last action asked.
  const confirm = async (what) => {
    await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), what);
    document.querySelector('#confirm-ok').click();
  };
  const fill = (values) => Object.entries(values).forEach(([selector, value]) => { document.querySelector(selector).value = value; });

  // Run on the data the first run left (readable, with its snapshots and backup copy): a backup
  // folder on the drive gets a readable copy, then encryption is turned on and the copies from
  // before go on the default answer. The runner then looks at every copy on disk.
  const readableCopiesOnceEncrypted = async () => {
    try {
      await until(() => App.editable, 'the data to open');
      const names = App.data.clients.map(c => c.name);
      const holdsAClient = (text) => names.some(n => String(text ?? '').includes(n));
      const driveFolder = (await quillpost.info()).dataFile.replace(/\/data\/data\.json$/, '/drive');
      await quillpost.driveConnectPath(driveFolder);
      await until(async () => (await quillpost.backupCandidates()).some(c => c.source === 'Backup folder' && holdsAClient(c.text)), 'the readable backup copy');
      await open('#/settings/security', '#encryption-form', 'the encryption form');
      fill({ '#encryption-passphrase': 'second maple 2025', '#encryption-confirm': 'second maple 2025' });
      document.querySelector('#encryption-form').requestSubmit();
      await until(() => document.querySelector('#confirm-dialog[open] #confirm-ok'), 'the question about the readable copies', 30000);
      const counted = await quillpost.plainCopies();
      report('the readable copies are counted, the backup folder\'s among them',
        counted.count >= 3 && counted.copies.some(c => c.place === 'backup' && c.name === 'Quillpost-backup.json'), counted);
      document.querySelector('#confirm-ok').click();
      await until(async () => (await quillpost.plainCopies()).count === 0, 'the readable copies to be removed');
      await until(() => document.querySelector('#encryption-status') && !document.querySelector('#encryption-copies-remove'), 'the Security screen to redraw');
      report('once removed, the Security screen says only that the data is encrypted',
        document.querySelector('#encryption-status').textContent === 'Your data is encrypted with your passphrase.');
      report('encrypted-copies expectations', true, { names });
    } catch (error) {
      report('the readable-copies script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
    }
  };

  // Only the shipped page reaches the program: a local file (FORM_URL, a page that would save over
  // the practice if it got the bridge), a data: URL, frames and the disk are all out of its reach.
  const pageStaysItsOwn = async () => {
    const pause = (ms) => new Promise(r => setTimeout(r, ms));
    const page = location.href;
    const click = (attributes) => {
      const link = Object.assign(document.createElement('a'), attributes);
      document.body.append(link);
      link.click();
      link.remove();
    };
    const ways = {
      'location set to a local file': () => { location.href = FORM_URL; },
      'location set to a data: URL': () => {
        location.href = 'data:text/html,' + encodeURIComponent('<script>window.webkit.messageHandlers.qp.postMessage({cmd:"save",args:"[\\"{}\\"]"})</script>');
      },
      'a link to a local file': () => click({ href: FORM_URL }),
      'window.open of a local file': () => window.open(FORM_URL),
      'an HTML file dropped on the window': () => quillpost.simulateDrop(FORM_URL),
      'a data: URL dropped on the window': () => quillpost.simulateDrop('data:text/html,<p>dropped</p>'),
    };
    const moved = [];
    for (const [what, go] of Object.entries(ways)) {
      go();
      await pause(1500);
      if (location.href !== page || !window.quillpost)
        moved.push(what + ': ' + location.href);
    }
    report('the page is served from the program\'s own origin, and nothing replaces it with another document',
      location.origin === 'quillpost-app://app' && moved.length === 0, { page, moved });

    // Frames: none loads, and a frame's inline script never runs under the page's policy.
    const frames = [{ src: FORM_URL }, { src: page }, { srcdoc: '<script>parent.postMessage("E2E-HOSTILE frame", "*");'
      + 'window.webkit.messageHandlers.qp.postMessage({cmd:"save",args:JSON.stringify([JSON.stringify({HOSTILE:1})])})</script>' }]
      .map((attributes) => document.body.appendChild(Object.assign(document.createElement('iframe'), attributes)));
    let framed = null;
    window.addEventListener('message', (event) => { framed = event.data; });
    await pause(1500);
    const inside = frames.map((frame) => {
      try {
        return frame.contentDocument ? frame.contentDocument.documentElement.outerHTML.length : 'opaque';
      } catch (error) {
        return 'opaque';
      }
    });
    report('no frame runs a script or shows a document of its own', framed === null && !inside.some((n) => typeof n === 'number' && n > 60), { framed, inside });
    frames.forEach((frame) => frame.remove());

    // The disk is closed to the page, by address and through its own scheme.
    const attempts = {};
    for (const address of ['file:///etc/hostname', 'quillpost-app://app/../../../../../../etc/hostname', 'quillpost-app://app/%2e%2e/%2e%2e/%2e%2e/etc/hostname'])
      attempts[address] = await fetch(address).then((r) => r.text(), (error) => 'refused: ' + error.message);
    report('the page can\'t read /etc/hostname', !Object.values(attempts).some((text) => text.includes(HOSTNAME)), attempts);
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
    await pageStaysItsOwn();

    // The Clients screen: saving without a name marks the field, typing the name takes the mark
    // away, and the client added through the form is saved.
    const clientName = 'Amara Okafor ' + Date.now();
    await open('#/clients', '#client-add', 'the Clients screen');
    document.querySelector('#client-add').click();
    await until(() => document.querySelector('#client-form'), 'the client form');
    document.querySelector('#client-form').requestSubmit();
    const [nameField, nameError] = ['#client-name', '#client-name-error'].map(s => document.querySelector(s));
    const marked = !nameError.hidden && nameField.getAttribute('aria-invalid') === 'true';
    nameField.value = clientName;
    nameField.dispatchEvent(new Event('input'));
    report('a client\'s name left empty is marked, and the mark goes as the name is typed',
      marked && nameError.hidden && !nameField.hasAttribute('aria-invalid'), { marked });
    document.querySelector('#client-email').value = 'amara@example.org';
    document.querySelector('#client-form').requestSubmit();
    await until(() => App.data.clients.some(c => c.name === clientName), 'the client to be added');
    await App.saveNow();
    const loadedAfterForm = await quillpost.load();
    report('a client added on the Clients screen is listed, saved and loads again', document.body.textContent.includes(clientName) &&
      loadedAfterForm && loadedAfterForm.clients.some(c => c.name === clientName && c.email === 'amara@example.org'));

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
    await open('#/import', '#import-file', 'the import screen');
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
    await open('#/calendar', '#appointment-add', 'the Calendar screen');
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
    App.tours.markAllSeen();
    App.tours.close();
    const client = App.data.clients.find(c => c.name === clientName);
    window.__qpMenu('newFile');
    await until(() => document.querySelector('#file-form'), 'the new-file form from the menu command');
    fill({ '#file-form-clientId': client.id, '#file-form-programme': 'study-permit', '#file-form-applicationNumber': 'S300100200' });
    document.querySelector('#file-form').requestSubmit();
    await until(() => document.querySelector('#view[data-file-id]'), 'the new file\'s screen');
    const file = App.data.files.find(f => f.applicationNumber === 'S300100200');
    report('a file opened from the menu lands on its own address', file && location.hash === '#/file/' + file.id && file.clientId === client.id, location.hash);
    document.querySelector('#file-deadline-add').click();
    await until(() => document.querySelector('#deadline-form'), 'the deadline form');
    fill({ '#deadline-form-title': 'Biometrics', '#deadline-form-kind': 'biometrics' });
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
    fill({ '#entry-form-kind': 'fee', '#entry-form-description': 'Study permit application', '#entry-form-amount': '1,000.00' });
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
    await App.saveNow();
    const practice = await quillpost.load();
    report('the file, deadline and invoice are saved', practice.version === 2 && practice.files.length === 1 && practice.deadlines.length === 1 && practice.invoices.length === 1);

    // The network: a verified feed on the dashboard, the relay to the practice's server.
    await open('#/dashboard', '#ircc-items, #ircc-error', 'the IRCC panel');
    report('the dashboard shows the verified IRCC updates, newest first',
      document.querySelector('#ircc-items li .ircc-title')?.textContent === 'New proof-of-funds amounts for study permits',
      document.querySelector('#ircc-panel').textContent);

    const me = await quillpost.relay({ base: RELAY + '//', path: '/api/me', headers: { 'X-QP-Key': RELAY_KEY, Cookie: 'a=b' } });
    const secure = await quillpost.relay({ base: TLS_RELAY, path: '/api/me', headers: { 'x-qp-key': RELAY_KEY } });
    const untrusted = await rejection(quillpost.relay({ base: UNTRUSTED_RELAY, path: '/api/me' }));
    report('the relay answers with status and bytes, over https too where the certificate verifies, and refuses one that does not',
      me.status === 200 && new TextDecoder().decode(me.body).includes('Maple Leaf') && secure.status === 200 &&
      /^Couldn't reach the relay \(.*certificate.*\)\.$/.test(untrusted || ''), { status: [me.status, secure.status], untrusted });

    await open('#/settings/server', '#server-form', 'the practice server settings');
    fill({ '#server-base': RELAY, '#server-key': RELAY_KEY });
    document.querySelector('#server-form').requestSubmit();
    await until(() => App.data.settings?.server?.base === RELAY, 'the server settings to be kept');
    document.querySelector('#server-test').click();
    await until(() => /Connected|relay|server/.test(document.querySelector('#server-status').textContent), 'the connection test');
    report('Settings → Practice server connects through the relay', document.querySelector('#server-status').textContent === 'Connected to Maple Leaf Immigration.',
      document.querySelector('#server-status').textContent);

    // Sealed secrets over the real Secret Service, and the real clipboard.
    const sealing = await quillpost.seSelfTest();
    report('sealing with the device key kept in the Secret Service passes its self-test',
      ['available', 'roundTrip', 'noPlaintext', 'tamperRejected', 'otherKeyRejected'].every(k => sealing[k] === true), sealing);
    const reader = await quillpost.touchIdStatus();
    report('without fprintd, fingerprint unlock is unavailable and says why',
      reader.available === false && /fprintd|message bus|reader/.test(reader.reason) && await quillpost.touchIdAvailable() === false &&
      await quillpost.vaultTouchAvailable() === false, reader);
    const copied = await quillpost.copySecret('pa55-e2e ✓', 1) === true && await quillpost.clipText() === 'pa55-e2e ✓' && await quillpost.clipConcealed();
    await new Promise(r => setTimeout(r, 1600));
    report('a copied secret is on the clipboard, concealed, and wiped a second later', copied && await quillpost.clipText() === '', { copied });

    // Settings → Security: encrypt the data, lock it, open it with the passphrase.
    await open('#/settings/security', '#encryption-form', 'the security settings');
    await until(() => document.querySelector('#fingerprint-status'), 'the fingerprint status');
    report('Settings → Security says why fingerprint unlock is unavailable',
      document.querySelector('#fingerprint-status').textContent === reader.reason, document.querySelector('#fingerprint-status').textContent);
    fill({ '#encryption-passphrase': 'maple leaf 2024', '#encryption-confirm': 'maple leaf 2024' });
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
    await App.reload();
    await until(() => document.querySelector('#unlock-form'), 'the lock screen');
    const lockedAtStart = document.documentElement.dataset.appState === 'locked' && !App.editable;
    document.querySelector('#unlock-passphrase').value = 'wrong';
    document.querySelector('#unlock-form').requestSubmit();
    await until(() => !document.querySelector('#unlock-message').hidden, 'the wrong passphrase to be refused', 30000);
    const refused = /doesn't open/.test(document.querySelector('#unlock-message').textContent);
    document.querySelector('#unlock-passphrase').value = 'maple leaf 2024';
    document.querySelector('#unlock-form').requestSubmit();
    await until(() => App.editable, 'the data to open', 30000);
    report('encrypted data opens read-only on the lock screen, refuses a wrong passphrase and opens with the right one',
      lockedAtStart && refused && App.data.clients.some(c => c.name === clientName), { lockedAtStart, refused });

    // A client's vault: a portal login whose password is copied, concealed.
    await open('#/clients', '#client-results [data-action="edit"]', 'the client list');
    document.querySelector('#client-results [data-action="edit"]').click();
    await until(() => document.querySelector('#vault-new'), 'the vault section');
    document.querySelector('#vault-new').value = 'vault pass';
    document.querySelector('#vault-new-submit').click();
    await until(() => document.querySelector('#vault-portal'), 'the open vault', 30000);
    fill({ '#vault-portal': 'IRCC secure account', '#vault-username': 'amara', '#vault-password': 'Portal-Pa55' });
    document.querySelector('#vault-add').click();
    await until(() => document.querySelector('#vault-logins [data-action="copy-password"]'), 'the saved login');
    document.querySelector('#vault-logins [data-action="copy-password"]').click();
    await new Promise(r => setTimeout(r, 300));
    report('"Copy password" puts the password on the clipboard, concealed',
      await quillpost.clipText() === 'Portal-Pa55' && await quillpost.clipConcealed() === true);
    document.querySelector('#client-cancel').click();
    await App.saveNow();

    await open('#/settings/security', '#encryption-off', 'the encryption switch');
    document.querySelector('#encryption-off').click();
    await confirm('the confirmation');
    // The page may say saved before its unencrypted save has begun.
    await until(async () => !App.encrypted && App.saveState === 'saved' && !(await quillpost.load()).enc, 'the data to be saved unencrypted', 30000);
    report('stopping encryption saves the data unencrypted', (await quillpost.load()).clients.some(c => c.name === clientName));

    // Saves and loads through the bridge.
    const first = { version: 1, clients: [{ id: 'c1', name: clientName }], note: 'first "quoted" / é ✓' };
    const second = { version: 1, clients: [{ id: 'c1', name: clientName }, { id: 'c2', name: 'Second' }] };
    const saves = [await quillpost.save(first), await quillpost.save(second)];
    const loaded = await quillpost.load();
    report('each save answers true and load returns the document saved last', saves.every(a => a === true) &&
      JSON.stringify(loaded) === JSON.stringify(second), loaded);

    const info = await quillpost.info();
    report('info names the data file and counts the day\'s snapshot',
      info.dataFile.endsWith('/data.json') && info.snapshots === 1 && info.platform === 'linux' && info.native === 'cpp', info);

    // Page-API members hand odd arguments to the program as a rejected promise, never a throw.
    const cyclic = {};
    cyclic.self = cyclic;
    let deep = [];
    for (let i = 0; i < 100000; ++i) deep = [deep];
    const odd = [() => quillpost.save(cyclic), () => quillpost.composeEmail(null), () => quillpost.relay(undefined), () => quillpost.save(deep)];
    const answers = odd.map((member) => { try { return member(); } catch (error) { return error; } });
    const settled = await Promise.allSettled(answers);
    report('page-API members answer odd arguments with a rejected promise, never a throw',
      answers.every(a => a instanceof Promise) && settled.every(r => r.status === 'rejected'), settled.map(r => r.status));

    // Settings → Data: the data file, the recovery copy, and restoring the day's snapshot.
    await open('#/settings/data', '#data-file', 'the data settings');
    await until(() => document.querySelector('#backup-folder'), 'the backup folder setting');
    report('Settings → Data shows the data file and the backup folder, and no empty value leaks into the screen as text',
      document.querySelector('#data-file').textContent === info.dataFile &&
      info.backupFolder.endsWith('/backups') && document.querySelector('#backup-folder').textContent === info.backupFolder &&
      !/null|undefined/.test(document.querySelector('#view').textContent),
      document.querySelector('#view').textContent);
    await until(() => document.querySelector('#recovery:not([hidden]) #restore-recovery'), 'the recovery copy', 5000);
    report('the recovery copy is offered, but not as the page\'s main action while nothing is wrong',
      document.querySelector('#recovery').textContent.includes('data.json.bak') && !document.querySelector('#restore-recovery').classList.contains('primary'),
      document.querySelector('#recovery').textContent);
    await until(() => document.querySelector('#snapshot-list li[data-snapshot] [data-action="restore"]'), 'the snapshot list');
    document.querySelector('#snapshot-list li[data-snapshot] [data-action="restore"]').click();
    await confirm('the restore confirmation');
    // The runner checks the restored data.json and the safety copy taken before the restore.
    await until(async () => ((await quillpost.load()) || {}).clients?.length === 1, 'the restore of the day\'s first save', 10000);
    // The runner reads the files the restore left before the documents below are remembered on
    // their clients, which saves again; a folder it makes in the documents root says it is done.
    console.log('E2E-RESTORED ' + JSON.stringify({ docsRoot: (await quillpost.info()).docsRoot }));
    await until(async () => (await quillpost.listDocuments('E2E restore seen')).exists, 'the runner to read the restored files', 30000);

    // Client documents: one saved from the page is listed, read back unchanged and moved to the Trash.
    const docsRoot = (await quillpost.info()).docsRoot;
    const documentBytes = new Uint8Array(100000).map((_, i) => (i * 31 + 7) & 255);
    const saved = await quillpost.saveDocument({ client: clientName, sub: 'Forms', fileName: 'Passport SCAN.PDF', bytes: documentBytes });
    const readBack = await quillpost.readDocument(saved.path);
    report('a document saved from the page is filed in the client\'s folder and reads back unchanged',
      saved.name === 'Passport SCAN.pdf' && saved.size === documentBytes.length && saved.path === `${docsRoot}/${clientName}/Forms/Passport SCAN.pdf` &&
      readBack instanceof Uint8Array && readBack.length === documentBytes.length && readBack.every((b, i) => b === documentBytes[i]), saved);
    // Bytes sent to the side channel as a Blob (which the engine itself can't hand over) arrive
    // whole, and the program goes on answering.
    const blobAddress = await fetch('quillpost-bytes://bytes/', { method: 'POST', body: new Blob([documentBytes]) }).then((r) => r.text());
    const blobSaved = JSON.parse(await post({ cmd: 'saveDocument', args: JSON.stringify([{ client: 'E2E blob upload', fileName: 'Blob.pdf', bytes: blobAddress }]) }));
    const blobBack = await quillpost.readDocument(blobSaved.path);
    report('a Blob sent to the bytes channel arrives as its bytes',
      blobAddress.startsWith('quillpost-bytes://') && blobBack.length === documentBytes.length && blobBack.every((b, i) => b === documentBytes[i]), blobAddress);
    await quillpost.deleteDocument(blobSaved.path);

    // The client's Documents tab: the listing, a dropped file, and moving a document to the Trash.
    await open('#/clients', '#client-table', 'the client list');
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
    await confirm('the Trash confirmation');
    await until(() => !documentRow('Passport SCAN.pdf'), 'the trashed document to leave the list');
    document.querySelector('#client-documents-close').click();

    // Settings → About turns automatic downloads on.
    await open('#/settings', '#update-auto-download:not([disabled])', 'the automatic download switch');
    document.querySelector('#update-auto-download').click();
    await until(async () => (await quillpost.updateInfo()).autoDownload === true, 'automatic downloads to be on');
    report('Settings → About turns automatic downloads on', document.querySelector('#update-auto-download').checked);

    location.hash = '#/clients';
    report('disk expectations', true, { beforeRestore: JSON.stringify(second), bak: JSON.stringify(first), clientName, trashed: saved.name, trashedSize: saved.size });
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  // Give the page a moment to draw the Clients screen for the screenshot.
  await new Promise(r => setTimeout(r, 800));
  console.log('E2E-DONE');
})();

// Drives the page through window.quillpost and the page's own screens, reporting each check on the
// console, where the end-to-end runner reads it.
// report, until, rejection and the screen helpers come from checks.js, which the runner puts first.
(async () => {
  // Answers yes to the question the last action asked.
  const confirm = async (what) => {
    await until(() => $('#confirm-dialog[open] #confirm-ok'), what);
    $('#confirm-ok').click();
  };
  const fire = (selector, event) => $(selector).dispatchEvent(typeof event === 'string' ? new Event(event) : event);
  const transfer = (...list) => {
    const transfer = new DataTransfer();
    list.forEach((file) => transfer.items.add(file));
    return transfer;
  };

  // Run on the data the first run left (readable, with its snapshots and backup copy): a backup
  // folder on the drive gets a readable copy, then encryption is turned on and the copies from
  // before go on the default answer. The runner then looks at every copy on disk.
  const readableCopiesOnceEncrypted = async () => {
    await until(() => App.editable, 'the data to open');
    const names = App.data.clients.map(c => c.name);
    const holdsAClient = (copy) => names.some(n => String(copy ?? '').includes(n));
    await quillpost.driveConnectPath((await quillpost.info()).dataFile.replace(/\/data\/data\.json$/, '/drive'));
    await until(async () => (await quillpost.backupCandidates()).some(c => c.source === 'Backup folder' && holdsAClient(c.text)),
      'the readable backup copy');
    await openScreen('#/settings/security', '#encryption-form', 'the encryption form');
    submit('#encryption-form', { '#encryption-passphrase': 'second maple 2025', '#encryption-confirm': 'second maple 2025' });
    await until(() => $('#confirm-dialog[open] #confirm-ok'), 'the question about the readable copies', 30000);
    const counted = await quillpost.plainCopies();
    report('the readable copies are counted, the backup folder\'s among them',
      counted.count >= 3 && counted.copies.some(c => c.place === 'backup' && c.name === 'Quillpost-backup.json'), counted);
    await clickFor('#confirm-ok', async () => (await quillpost.plainCopies()).count === 0, 'the readable copies to be removed');
    await until(() => $('#encryption-status') && !$('#encryption-copies-remove'), 'the Security screen to redraw');
    report('once removed, the Security screen says only that the data is encrypted',
      text('#encryption-status') === 'Your data is encrypted with your passphrase.');
    report('encrypted-copies expectations', true, { names });
  };

  // Only the shipped page reaches the program: a local file (FORM_URL, a page that would save over
  // the practice if it got the bridge), a data: URL, frames and the disk are all out of its reach.
  const pageStaysItsOwn = async () => {
    const page = location.href;
    const link = (href) => document.body.appendChild(Object.assign(document.createElement('a'), { href })).click();
    const saving = 'window.webkit.messageHandlers.qp.postMessage({cmd:"save",args:JSON.stringify([JSON.stringify({HOSTILE:1})])})';
    const ways = {
      'location set to a local file': () => { location.href = FORM_URL; },
      'location set to a data: URL': () => { location.href = 'data:text/html,' + encodeURIComponent(`<script>${saving}</script>`); },
      'a link to a local file': () => link(FORM_URL),
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
    const frames = [{ src: FORM_URL }, { src: page }, { srcdoc: `<script>parent.postMessage("E2E-HOSTILE frame", "*");${saving}</script>` }]
      .map((attributes) => document.body.appendChild(Object.assign(document.createElement('iframe'), attributes)));
    let framed = null;
    window.addEventListener('message', (event) => { framed = event.data; });
    await pause(1500);
    const inside = frames.map((frame) => frame.contentDocument?.documentElement?.outerHTML.length ?? 'opaque');
    report('no frame runs a script or shows a document of its own',
      framed === null && !inside.some((n) => typeof n === 'number' && n > 60), { framed, inside });
    frames.forEach((frame) => frame.remove());

    // The disk is closed to the page, by address and through its own scheme.
    const attempts = {};
    for (const address of ['file:///etc/hostname', 'quillpost-app://app/../../../../../../etc/hostname',
      'quillpost-app://app/%2e%2e/%2e%2e/%2e%2e/etc/hostname'])
      attempts[address] = await fetch(address).then((r) => r.text(), (error) => 'refused: ' + error.message);
    report('the page can\'t read /etc/hostname', !Object.values(attempts).some((read) => read.includes(HOSTNAME)), attempts);
  };

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;
    // The runner ends the web process once the checks are done, and the program reloads the page,
    // which then finds the data saved by the first run.
    const status = await quillpost.dataStatus();
    if (status.dataFile !== 'missing') {
      console.log('E2E-RELOADED ' + JSON.stringify({ state: document.documentElement.dataset.appState, status }));
      return await readableCopiesOnceEncrypted().finally(() => console.log('E2E-ENCRYPTED-DONE'));
    }
    report('a first start finds no data file and says so', status.loadedFrom === '', status);
    await pageStaysItsOwn();

    // The Clients screen: saving without a name marks the field, typing the name takes the mark
    // away, and the client added through the form is saved.
    const clientName = 'Amara Okafor ' + Date.now();
    await openScreen('#/clients', '#client-add', 'the Clients screen');
    await clickFor('#client-add', '#client-form', 'the client form');
    submit('#client-form');
    const [nameField, nameError] = [$('#client-name'), $('#client-name-error')];
    const marked = !nameError.hidden && nameField.getAttribute('aria-invalid') === 'true';
    nameField.value = clientName;
    fire('#client-name', 'input');
    report('a client\'s name left empty is marked, and the mark goes as the name is typed',
      marked && nameError.hidden && !nameField.hasAttribute('aria-invalid'), { marked });
    submit('#client-form', { '#client-email': 'amara@example.org' });
    await until(() => App.data.clients.some(c => c.name === clientName), 'the client to be added');
    await App.saveNow();
    const loadedAfterForm = await quillpost.load();
    report('a client added on the Clients screen is listed, saved and loads again', document.body.textContent.includes(clientName) &&
      loadedAfterForm?.clients.some(c => c.name === clientName && c.email === 'amara@example.org'));

    // Layout: however long the screen, only its content scrolls; the sidebar and title bar stay.
    const [view, page] = [$('#view'), document.scrollingElement];
    const spacer = view.appendChild(Object.assign(document.createElement('div'), { style: 'height: 4000px' }));
    view.scrollTop = 2000;
    await new Promise(r => requestAnimationFrame(r));
    const edges = ['.sidebar', '.titlebar'].map(s => Math.round($(s).getBoundingClientRect().top));
    report('a long screen scrolls inside its content while the sidebar and title bar stay at the top',
      view.scrollTop > 0 && page.scrollTop === 0 && page.scrollHeight <= innerHeight && edges.every(t => t === 0),
      { edges, view: view.scrollTop, page: page.scrollHeight, height: innerHeight });
    spacer.remove();

    // A click on a row's plain cell opens its item, as a click on the name does.
    const addedId = App.data.clients.find(c => c.name === clientName).id;
    await clickFor(`tr[data-client-id="${addedId}"] .cell-file`, () => location.hash === '#/client/' + addedId,
      'the client row to open its client');
    report('a click anywhere on a client\'s row opens the client', location.hash === '#/client/' + addedId);

    // A spreadsheet row for a client already here is offered for update, not added a second time.
    await openScreen('#/import', '#import-file', 'the import screen');
    const sheet = `Name,Email,Phone\n${clientName},amara@example.org,555 0101\nNew Person,new@example.org,\n`;
    $('#import-file').files = transfer(new File([sheet], 'clients.csv', { type: 'text/csv' })).files;
    fire('#import-file', 'change');
    await until(() => $('#import-summary'), 'the import preview');
    $('#import-known').value = 'update';
    fire('#import-known', 'change');
    const [known, previewText, clientsBefore] = [$('#import-known'), text('#import-step'), App.data.clients.length];
    $('#import-run').click();
    const updated = App.data.clients.filter(c => c.name === clientName);
    report('an import updates the client already here and adds only the new one, with no "null" in its preview',
      !/\bnull\b/.test(previewText) && !known.parentElement.hidden && App.data.clients.length === clientsBefore + 1 &&
      updated.length === 1 && updated[0].id === addedId && updated[0].phone === '555 0101',
      { previewText: previewText.slice(-200), clients: App.data.clients.length - clientsBefore });
    App.edit(doc => { doc.clients = doc.clients.filter(c => c.name !== 'New Person'); });
    await App.saveNow();

    // Typed times and dates: 1430 is 14:30, an all-number date is refused, and the error goes as the field is corrected.
    await openScreen('#/calendar', '#appointment-add', 'the Calendar screen');
    await clickFor('#appointment-add', '#appointment-form', 'the appointment form');
    const [apptTime, apptDate] = [$('#appointment-form-time'), $('#appointment-form-date')];
    apptTime.value = '1430';
    fire('#appointment-form-time', 'blur');
    submit('#appointment-form', { '#appointment-form-title': 'Typed time', '#appointment-form-date': '07/12/2026' });
    const dateError = $('#appointment-form-date-error');
    const dateRefused = apptDate.getAttribute('aria-invalid') === 'true' && !dateError.hidden &&
      !App.data.appointments.some(a => a.title === 'Typed time');
    apptDate.value = '7 Dec 2026';
    fire('#appointment-form-date', 'input');
    report('a time typed as 1430 reads 14:30; an all-number date is refused and its error goes as soon as it is corrected',
      apptTime.value === '14:30' && dateRefused && dateError.hidden && !apptDate.hasAttribute('aria-invalid'),
      { time: apptTime.value, dateRefused });
    $('#appointment-form-cancel').click();

    // The practice: a file for the client, a deadline, a fee and its invoice, all through the screens.
    App.tours.markAllSeen();
    App.tours.close();
    const client = App.data.clients.find(c => c.name === clientName);
    window.__qpMenu('newFile');
    await until(() => $('#file-form'), 'the new-file form from the menu command');
    submit('#file-form', { '#file-form-clientId': client.id, '#file-form-programme': 'study-permit',
      '#file-form-applicationNumber': 'S300100200' });
    await until(() => $('#view[data-file-id]'), 'the new file\'s screen');
    const file = App.data.files.find(f => f.applicationNumber === 'S300100200');
    report('a file opened from the menu lands on its own address',
      file && location.hash === '#/file/' + file.id && file.clientId === client.id, location.hash);
    await clickFor('#file-deadline-add', '#deadline-form', 'the deadline form');
    const due = new Date(Date.now() - 86400000);
    const day = (n) => String(n).padStart(2, '0');
    submit('#deadline-form', { '#deadline-form-title': 'Biometrics', '#deadline-form-kind': 'biometrics',
      '#deadline-form-due': `${due.getFullYear()}-${day(due.getMonth() + 1)}-${day(due.getDate())}` });
    await until(() => $('#file-deadlines [data-state="overdue"]'), 'the overdue deadline on the file');
    const deadline = App.data.deadlines.find(d => d.fileId === file.id);
    report('a deadline added on the file belongs to its client and shows as overdue', deadline && deadline.clientId === client.id);
    const [deadlineBefore, deadlineRow] = [JSON.stringify(deadline), `#file-deadlines [data-deadline-id="${deadline.id}"]`];
    $(deadlineRow + ' [data-action="remove"]').click();
    report('a removed deadline keeps its row in place, offering Undo', !App.data.deadlines.some(d => d.id === deadline.id) &&
      $(deadlineRow)?.classList.contains('stand-in') && !!$(deadlineRow + ' [data-action="undo"]') &&
      [...document.querySelectorAll('#toasts .toast-action')].some(b => b.textContent === 'Undo'));
    document.body.dispatchEvent(new KeyboardEvent('keydown', { key: 'z', ctrlKey: true, bubbles: true }));
    await until(() => $(deadlineRow + ':not(.stand-in)'), 'Ctrl+Z to bring the deadline back');
    report('Ctrl+Z brings the removed deadline back exactly',
      JSON.stringify(App.data.deadlines.find(d => d.id === deadline.id)) === deadlineBefore);
    await clickFor('#entry-add', '#entry-form', 'the time and fee form');
    submit('#entry-form', { '#entry-form-kind': 'fee', '#entry-form-description': 'Study permit application',
      '#entry-form-amount': '1,000.00' });
    await until(() => !$('#invoice-create').disabled, 'the fee to be recorded');
    await clickFor('#invoice-create', '#invoice-sheet', 'the invoice');
    report('the invoice is numbered and taxed', /^INV-\d{4}-0001$/.test(App.data.invoices[0].number) &&
      /1,?130\.00/.test(text('#invoice-due')), text('#invoice-lines'));
    await clickFor('#invoice-payment-add', '#payment-form', 'the payment form');
    submit('#payment-form', { '#payment-form-amount': '300.00' });
    await until(() => $('#payment-list'), 'the payment to be listed');
    const invoice = App.data.invoices[0];
    report('a part payment leaves the rest as the balance due',
      invoice.payments.length === 1 && invoice.paid === false && /830\.00/.test(text('#invoice-due')), text('#invoice-due'));
    $('#invoice-paid').click();
    report('the invoice can be marked paid, and then owes nothing', App.data.invoices[0].paid === true &&
      /\b0\.00/.test(text('#invoice-due')) && !text('#invoice-sheet').includes('Unpaid'), text('#invoice-due'));
    window.__qpMenu('find');
    await until(() => $('#find-input'), 'the find box');
    $('#find-input').value = 'S300100200';
    fire('#find-input', 'input');
    await until(() => $('#find-results [role="option"]'), 'a result');
    fire('#find-input', new KeyboardEvent('keydown', { key: 'Enter', bubbles: true }));
    report('find opens the file by its application number', location.hash === '#/file/' + file.id && !$('#find-dialog'));
    const reminder = App.remind(deadline.id);
    const shown = Object.values(Notification.open).find(n => n.title.startsWith('Biometrics'));
    report('a reminder goes out through the page\'s Notification', reminder.notified && shown, reminder);
    window.__qpNotifyClick(shown.id);
    await until(() => $(`[data-deadline-id="${deadline.id}"].highlight`), 'the reminder\'s click to open its deadline');
    report('clicking the reminder opens its deadline', location.hash === '#/deadline/' + deadline.id);
    await App.saveNow();
    const practice = await quillpost.load();
    report('the file, deadline and invoice are saved', practice.version === 2 && practice.files.length === 1 &&
      practice.deadlines.length === 1 && practice.invoices.length === 1);

    // The network: a verified feed on the dashboard, the relay to the practice's server.
    await openScreen('#/dashboard', '#ircc-items, #ircc-error', 'the IRCC panel');
    report('the dashboard shows the verified IRCC updates, newest first',
      text('#ircc-items li .ircc-title') === 'New proof-of-funds amounts for study permits', text('#ircc-panel'));
    const me = await quillpost.relay({ base: RELAY + '//', path: '/api/me', headers: { 'X-QP-Key': RELAY_KEY, Cookie: 'a=b' } });
    const secure = await quillpost.relay({ base: TLS_RELAY, path: '/api/me', headers: { 'x-qp-key': RELAY_KEY } });
    const untrusted = await rejection(quillpost.relay({ base: UNTRUSTED_RELAY, path: '/api/me' }));
    report('the relay answers with status and bytes, over https too where the certificate verifies, and refuses one that does not',
      me.status === 200 && new TextDecoder().decode(me.body).includes('Maple Leaf') && secure.status === 200 &&
      /^Couldn't reach the relay \(.*certificate.*\)\.$/.test(untrusted || ''), { status: [me.status, secure.status], untrusted });
    await openScreen('#/settings/server', '#server-form', 'the practice server settings');
    submit('#server-form', { '#server-base': RELAY, '#server-key': RELAY_KEY });
    await until(() => App.data.settings?.server?.base === RELAY, 'the server settings to be kept');
    await clickFor('#server-test', () => /Connected|relay|server/.test(text('#server-status')), 'the connection test');
    report('Settings → Practice server connects through the relay',
      text('#server-status') === 'Connected to Maple Leaf Immigration.', text('#server-status'));

    // Sealed secrets over the real Secret Service, and the real clipboard.
    const sealing = await quillpost.seSelfTest();
    report('sealing with the device key kept in the Secret Service passes its self-test',
      ['available', 'roundTrip', 'noPlaintext', 'tamperRejected', 'otherKeyRejected'].every(k => sealing[k] === true), sealing);
    const reader = await quillpost.touchIdStatus();
    report('without fprintd, fingerprint unlock is unavailable and says why',
      reader.available === false && /fprintd|message bus|reader/.test(reader.reason) && await quillpost.touchIdAvailable() === false &&
      await quillpost.vaultTouchAvailable() === false, reader);
    const copied = await quillpost.copySecret('pa55-e2e ✓', 1) === true && await quillpost.clipText() === 'pa55-e2e ✓' &&
      await quillpost.clipConcealed();
    await pause(1600);
    report('a copied secret is on the clipboard, concealed, and wiped a second later', copied && await quillpost.clipText() === '',
      { copied });

    // Settings → Security: encrypt the data, lock it, open it with the passphrase.
    await openScreen('#/settings/security', '#encryption-form', 'the security settings');
    await until(() => $('#fingerprint-status'), 'the fingerprint status');
    report('Settings → Security says why fingerprint unlock is unavailable', text('#fingerprint-status') === reader.reason,
      text('#fingerprint-status'));
    submit('#encryption-form', { '#encryption-passphrase': 'maple leaf 2024', '#encryption-confirm': 'maple leaf 2024' });
    await until(() => App.encrypted && App.saveState === 'saved', 'the data to be encrypted', 30000);
    // The copies from before stay readable until the user says otherwise; here they are kept.
    await until(() => $('#confirm-dialog[open] #confirm-cancel'), 'the question about the readable copies', 30000);
    const question = text('#confirm-title');
    const asked = Number((/^Remove (\d+) readable cop/.exec(question) || [])[1]);
    const readable = await quillpost.plainCopies();
    report('turning encryption on counts the readable copies from before and offers to remove them, yes first',
      asked >= 2 && readable.copies.some(c => c.name === 'data.json.bak' && c.place === 'data') &&
      readable.copies.some(c => c.place === 'snapshots' && /^data-/.test(c.name)) && document.activeElement === $('#confirm-ok'),
      { question, readable });
    await clickFor('#confirm-cancel', '#encryption-status[data-readable-copies]', 'the Security screen to name the kept copies');
    const kept = $('#encryption-status');
    report('when they are kept, the Security screen says how many readable copies were kept',
      Number(kept.dataset.readableCopies) >= 2 && $('#encryption-copies-remove') &&
      kept.textContent.includes(`${kept.dataset.readableCopies} readable copies from before were kept`), kept.textContent);
    await App.reload();
    await until(() => $('#unlock-form'), 'the lock screen');
    const lockedAtStart = document.documentElement.dataset.appState === 'locked' && !App.editable;
    submit('#unlock-form', { '#unlock-passphrase': 'wrong' });
    await until(() => !$('#unlock-message').hidden, 'the wrong passphrase to be refused', 30000);
    const refused = /doesn't open/.test(text('#unlock-message'));
    submit('#unlock-form', { '#unlock-passphrase': 'maple leaf 2024' });
    await until(() => App.editable, 'the data to open', 30000);
    report('encrypted data opens read-only on the lock screen, refuses a wrong passphrase and opens with the right one',
      lockedAtStart && refused && App.data.clients.some(c => c.name === clientName), { lockedAtStart, refused });

    // A client's vault: a portal login whose password is copied, concealed.
    await openScreen('#/clients', '#client-results [data-action="edit"]', 'the client list');
    await clickFor('#client-results [data-action="edit"]', '#vault-new', 'the vault section');
    $('#vault-new').value = 'vault pass';
    await clickFor('#vault-new-submit', '#vault-portal', 'the open vault', 30000);
    for (const [field, value] of [['#vault-portal', 'IRCC secure account'], ['#vault-username', 'amara'], ['#vault-password', 'Portal-Pa55']])
      $(field).value = value;
    await clickFor('#vault-add', '#vault-logins [data-action="copy-password"]', 'the saved login');
    $('#vault-logins [data-action="copy-password"]').click();
    await pause(300);
    report('"Copy password" puts the password on the clipboard, concealed',
      await quillpost.clipText() === 'Portal-Pa55' && await quillpost.clipConcealed() === true);
    $('#client-cancel').click();
    await App.saveNow();

    await openScreen('#/settings/security', '#encryption-off', 'the encryption switch');
    $('#encryption-off').click();
    await confirm('the confirmation');
    // The page may say saved before its unencrypted save has begun.
    await until(async () => !App.encrypted && App.saveState === 'saved' && !(await quillpost.load()).enc,
      'the data to be saved unencrypted', 30000);
    report('stopping encryption saves the data unencrypted', (await quillpost.load()).clients.some(c => c.name === clientName));

    // Saves and loads through the bridge.
    const first = { version: 1, clients: [{ id: 'c1', name: clientName }], note: 'first "quoted" / é ✓' };
    const second = { version: 1, clients: [{ id: 'c1', name: clientName }, { id: 'c2', name: 'Second' }] };
    const saves = [await quillpost.save(first), await quillpost.save(second)];
    const loaded = await quillpost.load();
    report('each save answers true and load returns the document saved last',
      saves.every(a => a === true) && JSON.stringify(loaded) === JSON.stringify(second), loaded);
    const info = await quillpost.info();
    report('info names the data file and counts the day\'s snapshot',
      info.dataFile.endsWith('/data.json') && info.snapshots === 1 && info.platform === 'linux' && info.native === 'cpp', info);

    // Page-API members hand odd arguments to the program as a rejected promise, never a throw.
    const cyclic = {};
    cyclic.self = cyclic;
    const deep = Array.from({ length: 100000 }).reduce((inner) => [inner], []);
    const answers = [() => quillpost.save(cyclic), () => quillpost.composeEmail(null), () => quillpost.relay(undefined),
      () => quillpost.save(deep)].map((member) => { try { return member(); } catch (error) { return error; } });
    const settled = await Promise.allSettled(answers);
    report('page-API members answer odd arguments with a rejected promise, never a throw',
      answers.every(a => a instanceof Promise) && settled.every(r => r.status === 'rejected'), settled.map(r => r.status));

    // Settings → Data: the data file, the recovery copy, and restoring the day's snapshot.
    await openScreen('#/settings/data', '#data-file', 'the data settings');
    await until(() => $('#backup-folder'), 'the backup folder setting');
    report('Settings → Data shows the data file and the backup folder, and no empty value leaks into the screen as text',
      text('#data-file') === info.dataFile && info.backupFolder.endsWith('/backups') &&
      text('#backup-folder') === info.backupFolder && !/null|undefined/.test(text('#view')), text('#view'));
    await until(() => $('#recovery:not([hidden]) #restore-recovery'), 'the recovery copy', 5000);
    report('the recovery copy is offered, but not as the page\'s main action while nothing is wrong',
      text('#recovery').includes('data.json.bak') && !$('#restore-recovery').classList.contains('primary'), text('#recovery'));
    await until(() => $('#snapshot-list li[data-snapshot] [data-action="restore"]'), 'the snapshot list');
    $('#snapshot-list li[data-snapshot] [data-action="restore"]').click();
    await confirm('the restore confirmation');
    // The runner checks the restored data.json and the safety copy taken before the restore.
    await until(async () => ((await quillpost.load()) || {}).clients?.length === 1, 'the restore of the day\'s first save', 10000);
    // The runner reads the files the restore left before the documents below are remembered on
    // their clients, which saves again; a folder it makes in the documents root says it is done.
    const docsRoot = (await quillpost.info()).docsRoot;
    console.log('E2E-RESTORED ' + JSON.stringify({ docsRoot }));
    await until(async () => (await quillpost.listDocuments('E2E restore seen')).exists, 'the runner to read the restored files', 30000);

    // Client documents: one saved from the page is listed, read back unchanged and moved to the Trash.
    const bytes = new Uint8Array(100000).map((_, i) => (i * 31 + 7) & 255);
    const same = (back) => back instanceof Uint8Array && back.length === bytes.length && back.every((b, i) => b === bytes[i]);
    const saved = await quillpost.saveDocument({ client: clientName, sub: 'Forms', fileName: 'Passport SCAN.PDF', bytes });
    report('a document saved from the page is filed in the client\'s folder and reads back unchanged',
      saved.name === 'Passport SCAN.pdf' && saved.size === bytes.length && saved.path === `${docsRoot}/${clientName}/Forms/Passport SCAN.pdf` &&
      same(await quillpost.readDocument(saved.path)), saved);
    // Bytes sent to the side channel as a Blob (which the engine itself can't hand over) arrive
    // whole, and the program goes on answering.
    const blobAddress = await fetch('quillpost-bytes://bytes/', { method: 'POST', body: new Blob([bytes]) }).then((r) => r.text());
    const blobSaved = JSON.parse(await window.webkit.messageHandlers.qp.postMessage({ cmd: 'saveDocument',
      args: JSON.stringify([{ client: 'E2E blob upload', fileName: 'Blob.pdf', bytes: blobAddress }]) }));
    report('a Blob sent to the bytes channel arrives as its bytes',
      blobAddress.startsWith('quillpost-bytes://') && same(await quillpost.readDocument(blobSaved.path)), blobAddress);
    await quillpost.deleteDocument(blobSaved.path);

    // The client's Documents tab: the listing, a dropped file, and moving a document to the Trash.
    await openScreen('#/clients', '#client-table', 'the client list');
    [...document.querySelectorAll('#client-table tbody tr')].find(tr => tr.textContent.includes(clientName))
      .querySelector('[data-action="documents"]').click();
    const documentRow = (name) => $(`#documents-table tr[data-name="${CSS.escape(name)}"]`);
    await until(() => documentRow('Passport SCAN.pdf'), 'the Documents tab to list the document');
    report('the Documents tab lists the document under its folder',
      documentRow('Passport SCAN.pdf').closest('tbody').dataset.folder === 'Forms' &&
      $('#client-tab-documents').getAttribute('aria-selected') === 'true');
    const dropped = transfer(new File(['dropped letter'], 'Letter.txt', { type: 'text/plain' }));
    fire('#client-panel-documents', new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    await until(() => documentRow('Letter.txt'), 'the dropped file to be listed');
    const letter = (await quillpost.listDocuments(clientName)).files.find(f => f.name === 'Letter.txt');
    report('a file dropped on the Documents tab is saved',
      letter && new TextDecoder().decode(await quillpost.readDocument(letter.path)) === 'dropped letter', letter);
    documentRow('Passport SCAN.pdf').querySelector('[data-action="trash"]').click();
    await confirm('the Trash confirmation');
    await until(() => !documentRow('Passport SCAN.pdf'), 'the trashed document to leave the list');
    $('#client-documents-close').click();

    // Settings → About turns automatic downloads on.
    await openScreen('#/settings', '#update-auto-download:not([disabled])', 'the automatic download switch');
    await clickFor('#update-auto-download', async () => (await quillpost.updateInfo()).autoDownload === true,
      'automatic downloads to be on');
    report('Settings → About turns automatic downloads on', $('#update-auto-download').checked);

    location.hash = '#/clients';
    report('disk expectations', true,
      { beforeRestore: JSON.stringify(second), bak: JSON.stringify(first), clientName, trashed: saved.name, trashedSize: saved.size });
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  // Give the page a moment to draw the Clients screen for the screenshot.
  await pause(800);
  console.log('E2E-DONE');
})();

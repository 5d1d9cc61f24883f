// Drives the page through window.quillpost and the page's own screens, reporting each check on the
// console, where the end-to-end runner reads it.
(async () => {
  const report = (name, ok, detail) => console.log('E2E-RESULT ' + JSON.stringify({ name, ok: !!ok, detail }));
  const post = (body) => window.webkit.messageHandlers.qp.postMessage(body);
  const rejection = async (promise) => {
    try {
      await promise;
      return null;
    } catch (error) {
      return error.message;
    }
  };
  const until = async (condition, what, ms = 15000) => {
    const start = Date.now();
    while (!condition()) {
      if (Date.now() - start > ms)
        throw new Error('timed out waiting for ' + what);
      await new Promise(r => setTimeout(r, 50));
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
    document.querySelector('#client-name').value = clientName;
    document.querySelector('#client-email').value = 'amara@example.org';
    document.querySelector('#client-form').requestSubmit();
    await until(() => App.data.clients.some(c => c.name === clientName), 'the client to be added');
    await App.saveNow();
    const loadedAfterForm = await quillpost.load();
    report('a client added on the Clients screen is saved and loads again',
      loadedAfterForm && loadedAfterForm.clients.some(c => c.name === clientName && c.email === 'amara@example.org'));
    report('the Clients screen lists the new client', document.body.textContent.includes(clientName));

    // The network: a verified feed on the dashboard, the relay to the practice's server.
    const feed = await quillpost.irccFeed();
    report('the IRCC feed from the loopback server verifies', feed.ok === true && JSON.parse(feed.feed).items.length === 2, feed);
    location.hash = '#/dashboard';
    await until(() => document.querySelector('#ircc-items, #ircc-error'), 'the IRCC panel');
    report('the dashboard shows the verified IRCC updates, newest first',
      document.querySelector('#ircc-items li .ircc-title')?.textContent === 'New proof-of-funds amounts for study permits',
      document.querySelector('#ircc-panel').textContent);

    report('the relay refuses paths outside its list',
      await rejection(quillpost.relay({ base: RELAY, path: '/admin' })) === "That isn't a Quillpost relay address.");
    report('the relay refuses methods outside its list', await rejection(quillpost.relay({ base: RELAY, path: '/api/me', method: 'PUT' })) === 'Not allowed');
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

    // Saves and loads through the bridge.
    const first = { version: 1, clients: [{ id: 'c1', name: clientName }], note: 'first "quoted" / é ✓' };
    const second = { version: 1, clients: [{ id: 'c1', name: clientName }, { id: 'c2', name: 'Second' }] };
    report('save answers true', await quillpost.save(first) === true);
    report('save answers true again', await quillpost.save(second) === true);
    const loaded = await quillpost.load();
    report('load returns the document that was saved', JSON.stringify(loaded) === JSON.stringify(second), loaded);

    const refused = await rejection(quillpost.save({ enc: true, v: 2, people: [] }));
    report('an encrypted document without its keys is refused with the exact message',
      refused === "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.", refused);
    report('the refused document left the data file as it was', JSON.stringify(await quillpost.load()) === JSON.stringify(second));

    const info = await quillpost.info();
    const keys = ['dataFile', 'backupFolder', 'drive', 'docsRoot', 'docsIsDrive', 'driveDetected', 'backupError', 'snapshots', 'platform', 'native', 'version'];
    report('info answers its eleven keys', keys.every(k => k in info) && Object.keys(info).length === 11, info);
    report('info names the data file and counts the day\'s snapshot',
      info.dataFile.endsWith('/data.json') && info.snapshots === 1 && info.platform === 'linux' && info.native === 'cpp', info);

    const snapshots = await quillpost.listSnapshots();
    report('the day\'s snapshot is listed', snapshots.length === 1 && /^data-\d{4}-\d{2}-\d{2}\.json$/.test(snapshots[0]), snapshots);

    // The transport's own rules.
    report('a message that is not a dictionary is a bad message', await rejection(post('hello')) === 'bad message');
    report('a message without cmd is a bad message', await rejection(post({ args: '[]' })) === 'bad message');
    report('command names are case-sensitive', await rejection(post({ cmd: 'Load', args: '[]' })) === 'Unknown command Load');
    const unparsable = await post({ cmd: 'info', args: 'not json' });
    report('arguments that are not JSON run the command without arguments', JSON.parse(unparsable).native === 'cpp');
    const pending = await rejection(quillpost.touchIdAvailable());
    report('a feature of a later version fails with a message that names it', /Fingerprint unlock isn't available/.test(pending || ''), pending);
    report('test-only commands answer in a self-test run', /isn't available/.test(await rejection(quillpost.clipText()) || ''));
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
    report('the recovery copy is offered', document.querySelector('#recovery').textContent.includes('data.json.bak'),
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

    location.hash = '#/clients';
    report('disk expectations', true, { beforeRestore: JSON.stringify(second), bak: JSON.stringify(first), clientName });
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  // Give the page a moment to draw the Clients screen for the screenshot.
  await new Promise(r => setTimeout(r, 800));
  console.log('E2E-DONE');
})();

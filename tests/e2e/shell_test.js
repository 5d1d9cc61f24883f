// The desktop around the page: links from a second launch, notification clicks, lock events,
// menu commands and the quicklist, then the orderly quit. The runner (shell_system.py) plays the
// desktop's part when the page prints "E2E-STEP <name>". report and until come from checks.js.
(async () => {
  const step = (name, detail) => console.log('E2E-STEP ' + name + (detail === undefined ? '' : ' ' + JSON.stringify(detail)));
  // Whether the condition came to hold in time (checks.js's until, without the throw).
  const holds = (condition, ms) => until(condition, '', ms).then(() => true, () => false);
  const addClient = (id, name) => App.edit((data) => { data.clients.push({ id, name }); });

  // Every link the program hands over, recorded before the page's own hook (already set) sees it.
  const links = [];
  let pageHook = window.__qpLink || null;
  Object.defineProperty(window, '__qpLink', {
    configurable: true,
    get: () => (link) => { links.push(link); pageHook?.(link); },
    set: (hook) => { pageHook = hook; },
  });
  const locks = [];
  window.addEventListener('qp-system-lock', (event) => locks.push(event.detail));

  try {
    await holds(() => window.App && window.App.ready);
    await App.ready;
    if (SETTINGS.mode === 'terminate') {
      // Two PDFs at once, as a double click on "Save as PDF" asks: each answers (or says the
      // printer is busy), the web process lives on, and an edit made just before reaches the disk.
      window.__qpSamePage = true;
      addClient('before-print', SETTINGS.printEdit);
      const prints = await Promise.allSettled([quillpost.printPdf(), quillpost.printPdf()]);
      const isPdf = (v) => v && v.length > 1000 && String.fromCharCode(...v.subarray(0, 5)) === '%PDF-';
      const answered = prints.map((p) => p.status !== 'fulfilled' ? String(p.reason)
        : p.value && p.value.busy ? 'busy' : isPdf(p.value) ? 'pdf' : 'other');
      await pause(500);
      report('two printPdf calls made without waiting each answer with a PDF or busy, and the page lives through both',
        answered.includes('pdf') && answered.every((a) => a === 'pdf' || a === 'busy') && window.__qpSamePage === true, answered);
      await holds(() => !App.dirty, 5000);
      // SIGTERM comes about 150 ms after this edit, well inside the save delay.
      addClient('before-term', SETTINGS.lastEdit);
      report('the last edit waits for the save delay when SIGTERM is sent', App.dirty);
      step('ready');
      return;
    }

    // The links of the first launch came before the page had loaded; they wait for it.
    await holds(() => links.length >= 2, 5000);
    await pause(300);
    report('the first launch\'s links reach the page once each, in order, after it loaded',
      JSON.stringify(links) === JSON.stringify(SETTINGS.firstLinks), links);
    const hostile = 'quillpost://client/x"\');alert(1)//</script>';
    step('second-launch', { links: ['quillpost://client/third', 'https://example.com/ignored', hostile, 'QUILLPOST://file/last'] });
    await holds(() => links.length >= 5, 10000);
    await pause(500);
    const expected = [...SETTINGS.firstLinks, 'quillpost://client/third', hostile, 'QUILLPOST://file/last'];
    report('a second launch hands its quillpost: links to the running program, in order, unchanged, once; other schemes are dropped',
      JSON.stringify(links) === JSON.stringify(expected) && location.hash === '#/file/last', { links, hash: location.hash });

    // Web links leave for the browser (the runner's stand-in records them). A script's click is no
    // user gesture, so WebKit blocks the new-window link; unit tests cover a user's click on one.
    const before = location.href;
    for (const [href, target] of [['https://example.invalid/guide?x=1', ''], ['https://example.invalid/new-window', '_blank']]) {
      const anchor = Object.assign(document.createElement('a'), { href, target });
      document.body.append(anchor);
      anchor.click();
      anchor.remove();
    }
    const opened = window.open('#/clients');
    await pause(1000);
    report('a web link, a link to a new window and window.open leave the page where it was, with no second window',
      location.href === before && opened === null, location.href);

    let clicked = null;
    const notification = new Notification('Deadline tomorrow', { body: 'Work permit for A. Okafor' });
    notification.onclick = () => { clicked = notification.id; };
    step('click-notification', { id: notification.id });
    report('a click on a notification reaches the page\'s handler', await holds(() => clicked === notification.id, 10000), clicked);
    step('click-notification', { id: 'printed:IMM 5257.pdf' });
    report('a click on the printed-file notification opens PDF Studio\'s print inbox',
      await holds(() => location.hash === '#/pdf/formcopy', 10000), location.hash);

    step('menu-command', { command: 'go:deadlines' });
    report('a menu command reaches the page and opens its screen', await holds(() => location.hash === '#/deadlines', 10000), location.hash);
    step('quicklist', { command: 'newClient' });
    report('a quicklist item opens the new-client form', await holds(() => document.querySelector('#client-form'), 10000), location.hash);
    document.querySelector('#client-form')?.closest('dialog')?.close();

    await App.encrypt('correct horse battery');
    addClient('locked-1', 'Edited before the lock');
    step('logind-lock');
    const lockedUp = await holds(() => locks.includes('com.apple.screenIsLocked') && App.lock && App.lock.canUnlock, 10000);
    report('logind\'s Lock signal reaches the page, which saves and closes its encrypted data', lockedUp, { locks, lock: App.lock });
    await App.unlock('correct horse battery');
    report('the edit made just before the lock was saved', App.data.clients.some(c => c.id === 'locked-1'));
    await App.decrypt();

    // The orderly quit: an edit still waiting for the save timer is on disk after the window closes.
    addClient('last-edit', SETTINGS.lastEdit);
    report('the last edit is not saved yet when the window is closed', App.dirty);
    step('close-window');
  } catch (error) {
    report('the shell script ran without an exception', false, String(error && error.stack || error));
  }
  console.log('E2E-DONE');
})();

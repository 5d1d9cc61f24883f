// Reports how the page came up on a damaged or hostile file, then tries what a user would: an
// edit, a save and (when SETTINGS.rewriteSettings) a change of settings, and reports the outcome.
(async () => {
  const step = (name, value) => console.log('FAULT-STEP ' + name + ' ' + JSON.stringify(value ?? null));
  const sleep = (ms) => new Promise(r => setTimeout(r, ms));
  const outcome = async (run) => {
    try {
      return { ok: true, value: await run() };
    } catch (error) {
      return { ok: false, message: String(error && error.message || error) };
    }
  };
  const text = (selector) => document.querySelector(selector)?.textContent ?? null;
  const pageState = () => ({
    appState: document.documentElement.dataset.appState,
    lock: App.lock,
    locked: !!document.querySelector('#notice-locked'),
    notices: text('#notices'),
    status: text('#save-status span:not(.save-dot)'),
    toasts: [...document.querySelectorAll('#toasts .toast-message')].map(t => t.textContent),
  });

  try {
    const start = Date.now();
    while (!(window.App && window.App.ready)) {
      if (Date.now() - start > SETTINGS.timeout)
        throw new Error('the page did not start');
      await sleep(50);
    }
    await App.ready;
    // Let the notices and the first screen draw.
    await sleep(300);
    step('settled', { ...pageState(), clients: App.data.clients.length, editable: App.editable, after: Date.now() - start });

    const edit = await outcome(() => App.edit(d => { d.clients.push({ id: 'probe', name: 'Hostile probe' }); }));
    const saved = await outcome(() => App.saveNow());
    const info = await outcome(() => quillpost.info());
    const settings = SETTINGS.rewriteSettings ? await outcome(() => quillpost.clearBackupFolder()) : null;
    await sleep(300);
    step('attempted', { edit, saved, info: info.ok ? { backupFolder: info.value.backupFolder } : info, settings, page: pageState() });
  } catch (error) {
    step('error', String(error && error.stack || error));
  }
  console.log('E2E-DONE');
})();

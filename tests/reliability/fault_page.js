// Edits and saves through the page's own App object and through window.quillpost while the runner
// breaks the disk underneath (SETTINGS.scenario names how). Each step is reported on the console as
// "FAULT-STEP <name> <json>"; where the runner has to act, the page waits for what the runner
// does to become visible through the program (a snapshot that goes away, say).
(async () => {
  const step = (name, value) => console.log('FAULT-STEP ' + name + ' ' + JSON.stringify(value ?? null));
  const sleep = (ms) => new Promise(r => setTimeout(r, ms));
  const until = async (condition, what, ms = 30000) => {
    const start = Date.now();
    while (!(await condition())) {
      if (Date.now() - start > ms)
        throw new Error('timed out waiting for ' + what);
      await sleep(100);
    }
  };
  const outcome = async (promise) => {
    try {
      return { ok: true, value: await promise };
    } catch (error) {
      return { ok: false, message: String(error && error.message || error) };
    }
  };
  const statusText = () => document.querySelector('#save-status span:not(.save-dot)')?.textContent ?? null;
  const toasts = () => [...document.querySelectorAll('#toasts .toast-message')].map(t => t.textContent);
  const settled = () => until(() => App.saveState === 'saved' || App.saveState === 'failed', 'the save to settle');
  const addClient = (name, notes = '') => App.edit(d => {
    d.clients.push({ id: 'fault-' + Date.now(), name, notes });
  });
  const pageState = () => ({ saveState: App.saveState, status: statusText(), retry: !!document.querySelector('#save-retry'), lastError: App.lastError, toasts: toasts() });

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;
    step('started', { editable: App.editable, lock: App.lock, clients: App.data.clients.length });

    if (SETTINGS.scenario === 'full-disk' || SETTINGS.scenario === 'read-only') {
      const notes = 'n'.repeat(SETTINGS.notes);
      const direct = await outcome(quillpost.save({ ...App.data, clients: [...App.data.clients, { id: 'direct', name: 'Direct', notes }] }));
      addClient('Refused client', notes);
      const saved = await outcome(App.saveNow());
      await settled();
      const right = pageState();
      await sleep(1500);
      step('failed', { direct, saved, right, later: pageState() });
      if (SETTINGS.scenario === 'full-disk') {
        // The runner frees space by deleting its filler, an old snapshot: it leaves the list.
        await until(async () => !(await quillpost.listSnapshots()).includes(SETTINGS.filler), 'the runner to free space');
        document.querySelector('#save-retry')?.click();
        await sleep(50);
        await settled();
        step('retried', pageState());
      }
    } else if (SETTINGS.scenario === 'backup-read-only') {
      const direct = await outcome(quillpost.save({ ...App.data, note: 'direct' }));
      addClient('Backup client');
      const saved = await outcome(App.saveNow());
      await settled();
      const start = Date.now();
      let info = await quillpost.info();
      while (!info.backupError && Date.now() - start < 8000) {
        await sleep(100);
        info = await quillpost.info();
      }
      step('saved', { direct, saved, page: pageState(), backupError: info.backupError, after: Date.now() - start });
    }
  } catch (error) {
    step('error', String(error && error.stack || error));
  }
  console.log('E2E-DONE');
})();

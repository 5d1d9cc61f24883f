// The page on a disk the runner broke or on a damaged file (SETTINGS.scenario says which): how it
// came up, then the edits and saves a user would make, each step reported as "FAULT-STEP <name> <json>".
(async () => {
  const step = (name, value) => console.log('FAULT-STEP ' + name + ' ' + JSON.stringify(value ?? null));
  const sleep = (ms) => new Promise(r => setTimeout(r, ms));
  const outcome = async (run) => {
    const message = await rejection((async () => run())());
    return message === null ? { ok: true } : { ok: false, message };
  };
  const text = (selector) => document.querySelector(selector)?.textContent ?? null;
  const pageState = () => ({ saveState: App.saveState, status: text('#save-status span:not(.save-dot)'),
    locked: !!document.querySelector('#notice-locked'), notices: text('#notices') });
  const settled = () => until(() => App.saveState === 'saved' || App.saveState === 'failed', 'the save to settle', 30000);
  const addClient = (name, notes = '') => App.edit(d => {
    d.clients.push({ id: 'fault-' + Date.now(), name, notes });
  });

  try {
    await until(() => window.App && window.App.ready, 'the page to start', SETTINGS.timeout);
    await App.ready;
    // Let the notices and the first screen draw.
    await sleep(300);
    step('started', { ...pageState(), editable: App.editable, clients: App.data.clients.length });

    if (SETTINGS.scenario === 'hostile') {
      const edit = await outcome(() => addClient('Hostile probe'));
      const saved = await outcome(() => App.saveNow());
      const settings = SETTINGS.rewriteSettings ? await outcome(() => quillpost.clearBackupFolder()) : null;
      await sleep(300);
      step('attempted', { edit, saved, settings, page: pageState() });
    } else {
      const notes = 'n'.repeat(SETTINGS.notes);
      const direct = await outcome(() => quillpost.save({ ...App.data, clients: [...App.data.clients, { id: 'direct', name: 'Direct', notes }] }));
      addClient('Refused client', notes);
      const saved = await outcome(() => App.saveNow());
      await settled();
      const right = pageState();
      await sleep(1500);
      step('failed', { direct, saved, right, later: pageState() });
      if (SETTINGS.scenario === 'full-disk') {
        // The runner frees space by deleting its filler, an old snapshot: it leaves the list.
        await until(async () => !(await quillpost.listSnapshots()).includes(SETTINGS.filler), 'the runner to free space', 30000);
        document.querySelector('#save-retry')?.click();
        await sleep(50);
        await settled();
        // The saved data's backup copy then goes to a read-only folder.
        const start = Date.now();
        let info;
        await until(async () => (info = await quillpost.info()).backupError || Date.now() - start > 8000, 'info()');
        step('retried', { ...pageState(), backupError: info.backupError, after: Date.now() - start });
      }
    }
  } catch (error) {
    step('error', String(error && error.stack || error));
  }
  console.log('E2E-DONE');
})();

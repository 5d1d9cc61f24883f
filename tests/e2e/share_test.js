// One desk of a shared practice. SETTINGS = { desk, server, steps }: the runner (share_system.py)
// gives each desk its steps and plays the server's part (stopping, starting it, killing desks) when
// a desk prints "E2E-STEP <desk>:<name>". Every step that waits has a time limit and reports.
// report, until, rejection and the screen helpers come from checks.js.
(async () => {
  const step = (name, detail) => console.log('E2E-STEP ' + SETTINGS.desk + ':' + name + ' ' + JSON.stringify(detail ?? {}));
  const find = (collection, id) => (collection === 'settings' ? App.data.settings : (App.data[collection] || []).find((r) => r && r.id === id));

  // { collection, id, field, value | oneOf, conflictOn?, entries? }. A value set aside is one the
  // record doesn't show, and with oneOf every value that lost is kept.
  const holds = (spec) => {
    const record = find(spec.collection, spec.id);
    const shown = record?.[spec.field];
    const entries = (record?.conflicts || []).filter((c) => c && c.field === spec.conflictOn);
    return !!record && (!('value' in spec) || shown === spec.value) && (!spec.oneOf || spec.oneOf.includes(shown)) &&
      (!spec.conflictOn || (entries.length >= (spec.entries ?? 1) && !entries.some((c) => c.value === shown) &&
        (!spec.oneOf || spec.oneOf.every((v) => v === shown || entries.some((c) => c.value === v)))));
  };

  // How long the condition took to hold (checks.js's until, with the time it took).
  const within = async (condition, what, ms) => {
    const start = Date.now();
    await until(condition, what, ms);
    return Date.now() - start;
  };

  const status = async () => (await window.quillpost.shareStatus()) || {};

  // The value set aside that every desk expects to be chosen: the first candidate that isn't shown.
  const pickOther = (record, field, candidates) =>
    candidates.find((v) => v !== record[field] && (record.conflicts || []).some((c) => c && c.field === field && c.value === v));

  // The sharing card and the title bar as the user sees them, and a value two desks changed
  // settled with a click (the other desks then settle it too).
  const uiChecks = async (candidates) => {
    await openScreen('#/settings/server', '#share-state', 'the server screen', 10000);
    await until(() => $('#share-conflicts-card'), 'the conflicts card', 10000);
    const [state, indicator] = [$('#share-state'), $('#share-indicator')];
    // A poll may be catching up just now; the indicator comes back to "Shared" once it is done.
    await until(() => !indicator.hidden && indicator.textContent === 'Shared', 'the shared indicator', 10000).catch(() => {});
    report(SETTINGS.desk + ' the server card says connected, the title bar says shared and every screen notes values changed on two desks',
      /^Connected/.test(state.textContent) && $('#share-form').hidden && !$('#share-running').hidden &&
      !indicator.hidden && indicator.textContent === 'Shared' && !!$('#notice-conflicts'),
      [state.textContent, indicator.textContent, text('#notices')]);
    const before = find('clients', 'c2');
    const other = { value: pickOther(before, 'name', candidates) };
    const row = [...document.querySelectorAll('.share-conflict[data-id="c2"][data-field="name"]')]
      .find((li) => li.querySelectorAll('p')[2]?.textContent.endsWith(': ' + other.value));
    report(SETTINGS.desk + ' the values set aside are listed', !!row && other.value !== undefined, text('#share-conflicts'));
    if (!row || other.value === undefined) return;
    const count = before.conflicts.length;
    row.querySelector('.share-other').click();
    const after = find('clients', 'c2');
    report(SETTINGS.desk + ' choosing the other value takes it and settles that entry',
      after.name === other.value && (after.conflicts || []).length === count - 1, { name: after.name, conflicts: after.conflicts });
    await App.saveNow();

    // A shared practice isn't encrypted: its records on the server would stay readable.
    await openScreen('#/settings/security', '#encryption-form', 'the security screen', 10000);
    $('#encryption-passphrase').value = $('#encryption-confirm').value = 'maple leaf 2024';
    $('#encryption-on').click();
    const refusal = $('#encryption-error');
    report(SETTINGS.desk + ' refuses to encrypt a shared practice',
      !refusal.hidden && /shared with other desks/.test(refusal.textContent) && !App.encrypted, refusal.textContent);
  };

  try {
    await within(() => window.App && App.ready, 'the page', 30000);
    await App.ready;
    for (const [kind, ...args] of SETTINGS.steps) {
      const label = kind + ' ' + JSON.stringify(args);
      try {
        if (kind === 'start') {
          const answer = await window.quillpost.shareStart({ ...SETTINGS.server, mode: args[0] });
          report(SETTINGS.desk + ' ' + args[0], answer === true, answer);
        } else if (kind === 'refused') {
          // A start that must be refused, with a sentence.
          const message = await rejection(window.quillpost.shareStart({ ...SETTINGS.server, mode: args[0] }));
          report(SETTINGS.desk + ' refuses ' + args[0], typeof message === 'string' && new RegExp(args[1]).test(message), message);
        } else if (kind === 'state') {
          await within(async () => args[0].includes((await status()).state), 'state ' + args[0], args[1] ?? 20000);
          const now = await status();
          step('state', { state: now.state, pending: now.pending });
          if (args[0].includes('offline')) report(SETTINGS.desk + ' says when it went offline', now.state !== 'offline' || Number.isFinite(now.since), now);
        } else if (kind === 'edit' || kind === 'add' || kind === 'remove') {
          // Arrival times count from the edit: the save is part of what the user waits for.
          const editedAt = Date.now();
          App.edit((doc) => {
            const [collection, id, fields] = args;
            if (kind === 'add') return doc[collection].push(fields);
            if (kind === 'remove') return doc[collection].splice(doc[collection].findIndex((r) => r.id === id), 1);
            const record = collection === 'settings' ? doc.settings : doc[collection].find((r) => r.id === id);
            for (const [k, v] of Object.entries(fields)) if (v === null) delete record[k]; else record[k] = v;
          });
          await App.saveNow();
          step('saved', { what: label, at: editedAt, saveTook: Date.now() - editedAt });
        } else if (kind === 'wait') {
          const took = await within(() => holds(args[0]), JSON.stringify(args[0]), args[1] ?? 20000);
          step('seen', { what: args[0], at: Date.now(), took });
        } else if (kind === 'settled') {
          // Nothing left to send, and the last changes that came are saved.
          await within(async () => { const s = await status(); return s.state === 'connected' && !s.pending && !App.dirty; }, 'a settled desk', args[0] ?? 30000);
        } else if (kind === 'ui') {
          await uiChecks(args[0]);
        } else if (kind === 'waitChoice') {
          // Another desk chooses among the values set aside (see uiChecks); this one sees the choice.
          const [collection, id, field, candidates, ms] = args;
          const expected = pickOther(find(collection, id), field, candidates);
          const took = await within(() => expected !== undefined && find(collection, id)?.[field] === expected, 'the choice of ' + expected, ms);
          step('seen', { what: { collection, id, field, value: expected }, at: Date.now(), took });
        } else if (kind === 'pause') {
          await pause(args[0]);
        } else if (kind === 'step') {
          step(args[0], args[1]);
        } else if (kind === 'check') {
          // Every expectation holds (in time); the runner compares the desks' data.json at the end.
          await within(() => args[0].every(holds), 'the final records', args[1] ?? 40000).catch(() => {});
          const failed = args[0].filter((spec) => !holds(spec));
          report(SETTINGS.desk + ' holds every expected record', failed.length === 0, { failed, record: failed.length ? App.data.clients : undefined });
          await App.saveNow().catch(() => {});
          step('checked');
        }
      } catch (error) {
        report(SETTINGS.desk + ' ' + label, false, error.message);
        step('failed', { what: label, message: error.message });
        break; // the steps after one that failed would only tell the runner wrong things
      }
    }
  } catch (error) {
    report(SETTINGS.desk + ' ran its steps', false, error.message);
  }
  console.log('E2E-DONE');
})();

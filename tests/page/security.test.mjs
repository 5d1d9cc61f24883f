// Encryption of the practice data and the client-account vault, in the page's WebCrypto.
// Run with: node --test tests/page/
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { createApp } from '../../resources/app/js/store.js';
import { WRONG_PASSPHRASE } from '../../resources/app/js/sealed-doc.js';
import { readUnlock } from '../../resources/app/js/views/fingerprint.js';
import { createVault, openVault, sealVault, addLogin, loginsFor, removeLogin, WRONG_VAULT_PASSPHRASE } from '../../resources/app/js/vault.js';

if (!globalThis.crypto) globalThis.crypto = webcrypto;

// What the desktop program's open check demands of an encrypted document before it saves one.
function openable(doc) {
  if (doc.enc !== true || doc.v !== 2) return true;
  return Array.isArray(doc.people) && doc.people.length > 0 &&
    doc.people.every((p) => p && typeof p === 'object' && typeof p.salt === 'string' &&
      p.priv && typeof p.priv === 'object' && !Array.isArray(p.priv) && p.dk && typeof p.dk === 'object' && !Array.isArray(p.dk));
}

function diskBridge(initial = null) {
  const disk = { text: initial === null ? null : JSON.stringify(initial), saves: 0 };
  return {
    disk,
    load: () => Promise.resolve(disk.text === null ? null : JSON.parse(disk.text)),
    dataStatus: () => Promise.resolve({ dataFile: 'whole', loadedFrom: 'data.json' }),
    listSnapshots: () => Promise.resolve([]),
    recoveryCopy: () => Promise.resolve(null),
    save(doc) {
      if (!openable(doc)) return Promise.reject(new Error("Quillpost didn't save, because the saved copy would not open again."));
      disk.text = JSON.stringify(doc);
      disk.saves += 1;
      return Promise.resolve(true);
    },
  };
}

const noTimers = { setTimeout: () => 0, clearTimeout: () => {} };

// The desktop program's restore: a copy that isn't encrypted never replaces encrypted data unless
// the page brings its encrypted form or says the user agreed.
function withCopies(bridge, copies) {
  const restored = [];
  return Object.assign(bridge, {
    restored,
    readSnapshot: (name) => Promise.resolve(name in copies ? JSON.stringify(copies[name]) : null),
    restoreSnapshot(name, sealed, plainAgreed) {
      restored.push({ name, sealed: !!sealed, plainAgreed: !!plainAgreed });
      const copy = sealed ?? copies[name];
      const encryptedNow = JSON.parse(bridge.disk.text).enc === true;
      if (!copy || (sealed && sealed.enc !== true)) return Promise.reject(new Error('Invalid snapshot'));
      if (encryptedNow && copy.enc !== true && !plainAgreed) return Promise.reject(new Error("This copy isn't encrypted, and your data is."));
      bridge.disk.text = JSON.stringify(copy);
      return Promise.resolve(true);
    },
  });
}

const older = { version: 1, clients: [{ id: 'c9', name: 'Olu Adeyemi' }] };
const OLDER = 'data-2024-05-01.json';
const PASS = 'maple leaf 2024';

// A practice with one client and an older readable copy; encrypted with PASS unless told not to.
// opened() starts the page again on what is on the disk.
async function practice({ encrypt = true } = {}) {
  const bridge = withCopies(diskBridge({ version: 1, clients: [{ id: 'c1', name: 'Amara Okafor' }] }), { [OLDER]: older });
  const opened = async () => {
    const app = createApp({ bridge, timers: noTimers });
    await app.reload();
    return app;
  };
  const app = await opened();
  if (encrypt) await app.encrypt(PASS);
  return { bridge, app, opened };
}
const names = (app) => app.data.clients.map((c) => c.name);

describe('encrypted practice data', () => {
  test('is saved in the checked form, opens only with its passphrase and stays encrypted', async () => {
    const { bridge, app, opened } = await practice();
    const saved = JSON.parse(bridge.disk.text);
    assert.deepEqual([saved.enc, saved.v, openable(saved)], [true, 2, true]);
    assert.ok(!bridge.disk.text.includes('Amara'), 'no client name in the encrypted file');
    assert.deepEqual([await app.checkPassphrase(PASS), await app.checkPassphrase('maple leaf')], [true, false]);

    // A restart finds the data locked until the passphrase is given.
    const again = await opened();
    assert.deepEqual([again.lock.kind, again.lock.canUnlock], ['encrypted', true]);
    await assert.rejects(again.unlock('wrong'), { message: WRONG_PASSPHRASE });
    assert.equal(again.editable, false);
    await assert.rejects(again.saveNow(), /Nothing was saved/);
    assert.equal(bridge.disk.text, JSON.stringify(saved));

    assert.equal(await again.unlock(PASS), true);
    assert.deepEqual(names(again), ['Amara Okafor']);
    again.edit((doc) => { doc.clients.push({ id: 'c2', name: 'Second Client' }); });
    await again.saveNow();
    const resaved = JSON.parse(bridge.disk.text);
    assert.deepEqual(resaved.people, saved.people, 'the same document key, no new derivation');
    assert.notEqual(resaved.ct, saved.ct);
    assert.ok(!bridge.disk.text.includes('Second Client'));
    await again.decrypt();
    assert.equal(JSON.parse(bridge.disk.text).clients.length, 2);
  });

  test('a damaged encrypted file is not taken for a wrong passphrase and is never saved over', async () => {
    const { bridge, opened } = await practice();
    const damaged = JSON.parse(bridge.disk.text);
    damaged.ct = damaged.ct.slice(0, -4) + 'AAAA';
    bridge.disk.text = JSON.stringify(damaged);
    const again = await opened();
    await assert.rejects(again.unlock(PASS), /damaged/);
    assert.equal(again.editable, false);
    assert.equal(bridge.disk.text, JSON.stringify(damaged));
  });
});

describe('restoring an earlier copy', () => {
  test('a readable copy restored into encrypted data is encrypted with the passphrase in use before it is saved', async () => {
    const { bridge, app, opened } = await practice();
    const confirmPlain = () => assert.fail('nobody is asked while the page holds the passphrase');
    assert.equal(await app.restoreCopy(OLDER, { confirmPlain }), true);
    assert.deepEqual(bridge.restored, [{ name: OLDER, sealed: true, plainAgreed: false }]);
    assert.ok(!bridge.disk.text.includes('Olu'), 'no client name reaches the disk');
    assert.deepEqual([app.encrypted, app.editable, names(app)], [true, true, ['Olu Adeyemi']]);

    // Saved again, it stays encrypted, and the passphrase in use opens what was restored.
    app.edit((doc) => { doc.clients[0].phone = '555-0100'; });
    await app.saveNow();
    assert.ok(!bridge.disk.text.includes('555-0100'));
    const again = await opened();
    await again.unlock(PASS);
    assert.equal(again.data.clients[0].phone, '555-0100');
  });

  test('without the passphrase a readable copy goes back only when the user agrees', async () => {
    const { bridge, opened } = await practice();
    const sealedText = bridge.disk.text;
    const locked = await opened();
    let asked = 0;
    assert.equal(await locked.restoreCopy(OLDER, { confirmPlain: async () => { asked += 1; return false; } }), null);
    assert.equal(asked, 1);
    assert.equal(bridge.disk.text, sealedText);
    assert.deepEqual(bridge.restored, []);

    assert.equal(await locked.restoreCopy(OLDER, { confirmPlain: async () => true }), true);
    assert.deepEqual(bridge.restored, [{ name: OLDER, sealed: false, plainAgreed: true }]);
    assert.equal(locked.encrypted, false);
    assert.deepEqual(names(locked), ['Olu Adeyemi']);
  });

  test('copies of unencrypted data, and encrypted copies, go back as they are', async () => {
    const { bridge, app } = await practice({ encrypt: false });
    assert.equal(await app.restoreCopy(OLDER), true);
    assert.deepEqual(names(app), ['Olu Adeyemi']);

    await app.encrypt(PASS);
    bridge.restored.length = 0;
    withCopies(bridge, { 'before-restore-1.json': JSON.parse(bridge.disk.text) });
    assert.equal(await app.restoreCopy('before-restore-1.json'), true);
    assert.deepEqual(bridge.restored, [{ name: 'before-restore-1.json', sealed: false, plainAgreed: false }]);
    assert.equal(app.lock.kind, 'encrypted', 'an encrypted copy opens with its own passphrase');
  });
});

describe('the client-account vault', () => {
  test('keeps logins encrypted and opens only with the vault passphrase', async () => {
    const vault = await createVault('vault pass');
    addLogin(vault, 'c1', { portal: 'IRCC secure account', username: 'amara', password: 'S3cret!pw' });
    const second = addLogin(vault, 'c1', { portal: 'GCKey', username: 'amara2', password: 'other' });
    assert.throws(() => addLogin(vault, 'c1', { portal: '', password: 'x' }), /portal/);
    removeLogin(vault, 'c1', second.id);
    const sealed = await sealVault(vault);
    assert.ok(!JSON.stringify(sealed).includes('S3cret'));

    await assert.rejects(openVault(sealed, 'data pass'), { message: WRONG_VAULT_PASSPHRASE });
    const opened = await openVault(sealed, 'vault pass');
    assert.deepEqual(loginsFor(opened, 'c1').map((l) => [l.portal, l.username, l.password]), [['IRCC secure account', 'amara', 'S3cret!pw']]);
    assert.deepEqual(loginsFor(opened, 'c2'), []);
  });
});

describe('fingerprint unlock answers', () => {
  test('a passphrase opens, outcomes worth telling are told, the rest are quiet', () => {
    const cases = [['', { passphrase: '' }], ['pass', { passphrase: 'pass' }], [{ cancelled: true }, { outcome: 'cancelled', message: '' }],
      [null, {}], [{ fingersChanged: false }, {}], [{ toString: true }, {}]];
    for (const [answer, read] of cases) assert.deepEqual(readUnlock(answer), read, JSON.stringify(answer));
    assert.match(readUnlock({ fingersChanged: true }).message, /fingerprints changed/);
    assert.match(readUnlock({ lockout: true }).message, /passphrase instead/);
  });
});

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

describe('encrypted practice data', () => {
  test('is saved in the checked form, opens only with its passphrase and stays encrypted', async () => {
    const bridge = diskBridge({ version: 1, clients: [{ id: 'c1', name: 'Amara Okafor' }] });
    const app = createApp({ bridge, timers: noTimers });
    await app.reload();
    await app.encrypt('maple leaf 2024');
    const saved = JSON.parse(bridge.disk.text);
    assert.equal(saved.enc, true);
    assert.equal(saved.v, 2);
    assert.ok(openable(saved));
    assert.ok(!bridge.disk.text.includes('Amara'), 'no client name in the encrypted file');
    assert.equal(await app.checkPassphrase('maple leaf 2024'), true);
    assert.equal(await app.checkPassphrase('maple leaf'), false);

    // A restart finds the data locked until the passphrase is given.
    const again = createApp({ bridge, timers: noTimers });
    await again.reload();
    assert.equal(again.lock.kind, 'encrypted');
    assert.equal(again.lock.canUnlock, true);
    await assert.rejects(again.unlock('wrong'), { message: WRONG_PASSPHRASE });
    assert.equal(again.editable, false);
    await assert.rejects(again.saveNow(), /Nothing was saved/);
    assert.equal(bridge.disk.text, JSON.stringify(saved));

    assert.equal(await again.unlock('maple leaf 2024'), true);
    assert.equal(again.editable, true);
    assert.equal(again.data.clients[0].name, 'Amara Okafor');
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
    const bridge = diskBridge({ version: 1, clients: [] });
    const app = createApp({ bridge, timers: noTimers });
    await app.reload();
    await app.encrypt('pass');
    const damaged = JSON.parse(bridge.disk.text);
    damaged.ct = damaged.ct.slice(0, -4) + 'AAAA';
    bridge.disk.text = JSON.stringify(damaged);
    const again = createApp({ bridge, timers: noTimers });
    await again.reload();
    await assert.rejects(again.unlock('pass'), /damaged/);
    assert.equal(again.editable, false);
    assert.equal(bridge.disk.text, JSON.stringify(damaged));
  });
});

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

describe('restoring an earlier copy', () => {
  const older = { version: 1, clients: [{ id: 'c9', name: 'Olu Adeyemi' }] };

  test('a readable copy restored into encrypted data is encrypted with the passphrase in use before it is saved', async () => {
    const bridge = withCopies(diskBridge({ version: 1, clients: [{ id: 'c1', name: 'Amara Okafor' }] }), { 'data-2024-05-01.json': older });
    const app = createApp({ bridge, timers: noTimers });
    await app.reload();
    await app.encrypt('maple leaf 2024');
    const confirmPlain = () => assert.fail('nobody is asked while the page holds the passphrase');

    assert.equal(await app.restoreCopy('data-2024-05-01.json', { confirmPlain }), true);
    assert.deepEqual(bridge.restored, [{ name: 'data-2024-05-01.json', sealed: true, plainAgreed: false }]);
    assert.ok(!bridge.disk.text.includes('Olu'), 'no client name reaches the disk');
    assert.equal(app.encrypted, true);
    assert.equal(app.editable, true);
    assert.deepEqual(app.data.clients.map((c) => c.name), ['Olu Adeyemi']);

    // Saved again, it stays encrypted, and the passphrase in use opens what was restored.
    app.edit((doc) => { doc.clients[0].phone = '555-0100'; });
    await app.saveNow();
    assert.ok(!bridge.disk.text.includes('555-0100'));
    const again = createApp({ bridge, timers: noTimers });
    await again.reload();
    await again.unlock('maple leaf 2024');
    assert.equal(again.data.clients[0].phone, '555-0100');
  });

  test('without the passphrase a readable copy goes back only when the user agrees', async () => {
    const bridge = withCopies(diskBridge({ version: 1, clients: [{ id: 'c1', name: 'Amara Okafor' }] }), { 'data-2024-05-01.json': older });
    const setup = createApp({ bridge, timers: noTimers });
    await setup.reload();
    await setup.encrypt('maple leaf 2024');
    const sealedText = bridge.disk.text;

    const locked = createApp({ bridge, timers: noTimers });
    await locked.reload();
    assert.equal(locked.lock.kind, 'encrypted');
    let asked = 0;
    assert.equal(await locked.restoreCopy('data-2024-05-01.json', { confirmPlain: async () => { asked += 1; return false; } }), null);
    assert.equal(asked, 1);
    assert.equal(bridge.disk.text, sealedText);
    assert.deepEqual(bridge.restored, []);

    assert.equal(await locked.restoreCopy('data-2024-05-01.json', { confirmPlain: async () => true }), true);
    assert.deepEqual(bridge.restored, [{ name: 'data-2024-05-01.json', sealed: false, plainAgreed: true }]);
    assert.equal(locked.encrypted, false);
    assert.deepEqual(locked.data.clients.map((c) => c.name), ['Olu Adeyemi']);
  });

  test('copies of unencrypted data, and encrypted copies, go back as they are', async () => {
    const bridge = withCopies(diskBridge({ version: 1, clients: [{ id: 'c1', name: 'Amara Okafor' }] }), { 'data-2024-05-01.json': older });
    const app = createApp({ bridge, timers: noTimers });
    await app.reload();
    assert.equal(await app.restoreCopy('data-2024-05-01.json'), true);
    assert.deepEqual(app.data.clients.map((c) => c.name), ['Olu Adeyemi']);

    await app.encrypt('maple leaf 2024');
    const sealedCopy = JSON.parse(bridge.disk.text);
    bridge.restored.length = 0;
    withCopies(bridge, { 'before-restore-1.json': sealedCopy });
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
    assert.deepEqual(readUnlock(''), { passphrase: '' });
    assert.deepEqual(readUnlock('pass'), { passphrase: 'pass' });
    assert.match(readUnlock({ fingersChanged: true }).message, /fingerprints changed/);
    assert.match(readUnlock({ lockout: true }).message, /passphrase instead/);
    assert.equal(readUnlock({ cancelled: true }).message, '');
    assert.deepEqual(readUnlock(null), {});
    assert.deepEqual(readUnlock({ fingersChanged: false }), {});
    assert.deepEqual(readUnlock({ toString: true }), {});
  });
});

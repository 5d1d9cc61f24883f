import { test } from 'node:test';
import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { bridgeHolding, openedOn } from './stand-in.mjs';
import { WRONG_PASSPHRASE } from '../../resources/app/js/sealed-doc.js';
import { readUnlock } from '../../resources/app/js/views/fingerprint.js';
import { createVault, openVault, sealVault, addLogin, loginsFor, removeLogin, WRONG_VAULT_PASSPHRASE } from '../../resources/app/js/vault.js';

if (!globalThis.crypto) globalThis.crypto = webcrypto;

// What the desktop program's open check demands of an encrypted document before it saves one.
const openable = (doc) => doc.enc !== true || doc.v !== 2 || (Array.isArray(doc.people) && doc.people.length > 0 &&
  doc.people.every((p) => typeof p?.salt === 'string' && p.priv?.constructor === Object && p.dk?.constructor === Object));

const older = { version: 1, clients: [{ id: 'c9', name: 'Olu Adeyemi' }] };
const OLDER = 'data-2024-05-01.json';
const PASS = 'maple leaf 2024';

// The desktop program's disk and restore: a copy that isn't encrypted never replaces encrypted
// data unless the page brings its encrypted form or says the user agreed.
function diskBridge(copies) {
  const disk = { text: JSON.stringify({ version: 1, clients: [{ id: 'c1', name: 'Amara Okafor' }] }) };
  const restored = [];
  return bridgeHolding(null, {
    disk, restored, copies,
    load: async () => JSON.parse(disk.text),
    async save(doc) {
      if (!openable(doc)) throw new Error("Quillpost didn't save, because the saved copy would not open again.");
      disk.text = JSON.stringify(doc);
      return true;
    },
    readSnapshot: async (name) => (name in copies ? JSON.stringify(copies[name]) : null),
    async restoreSnapshot(name, sealed, plainAgreed) {
      restored.push({ name, sealed: !!sealed, plainAgreed: !!plainAgreed });
      const copy = sealed ?? copies[name];
      if (!copy || (sealed && sealed.enc !== true)) throw new Error('Invalid snapshot');
      if (JSON.parse(disk.text).enc === true && copy.enc !== true && !plainAgreed) throw new Error("This copy isn't encrypted, and your data is.");
      disk.text = JSON.stringify(copy);
      return true;
    },
  });
}

// A practice with one client and an older readable copy, encrypted with PASS unless told not to;
// opened() starts the page again on what is on the disk.
async function practice({ encrypt = true } = {}) {
  const bridge = diskBridge({ [OLDER]: older });
  const opened = () => openedOn(bridge);
  const app = await opened();
  if (encrypt) await app.encrypt(PASS);
  return { bridge, app, opened };
}
const names = (app) => app.data.clients.map((c) => c.name);

test('encrypted data is saved in the checked form, opens only with its passphrase and stays encrypted', async () => {
  const { bridge, app, opened } = await practice();
  const saved = JSON.parse(bridge.disk.text);
  assert.deepEqual([saved.enc, saved.v, openable(saved), bridge.disk.text.includes('Amara')], [true, 2, true, false]);
  assert.deepEqual([await app.checkPassphrase(PASS), await app.checkPassphrase('maple leaf')], [true, false]);

  // A restart finds the data locked until the passphrase is given, and nothing is saved meanwhile.
  const again = await opened();
  assert.deepEqual([again.lock.kind, again.lock.canUnlock], ['encrypted', true]);
  await assert.rejects(again.unlock('wrong'), { message: WRONG_PASSPHRASE });
  await assert.rejects(again.saveNow(), /Nothing was saved/);
  assert.deepEqual([again.editable, bridge.disk.text], [false, JSON.stringify(saved)]);

  assert.equal(await again.unlock(PASS), true);
  again.edit((doc) => { doc.clients.push({ id: 'c2', name: 'Second Client' }); });
  await again.saveNow();
  const resaved = JSON.parse(bridge.disk.text);
  const sealedAgain = [resaved.people, resaved.ct === saved.ct, bridge.disk.text.includes('Second Client')];
  assert.deepEqual(sealedAgain, [saved.people, false, false], 'sealed anew with the same document key, no new derivation');
  await again.decrypt();
  assert.equal(JSON.parse(bridge.disk.text).clients.length, 2);

  // A damaged file is not taken for a wrong passphrase and is never saved over.
  const damaged = { ...resaved, ct: `${resaved.ct.slice(0, -4)}AAAA` };
  bridge.disk.text = JSON.stringify(damaged);
  const broken = await opened();
  await assert.rejects(broken.unlock(PASS), /damaged/);
  assert.deepEqual([broken.editable, bridge.disk.text], [false, JSON.stringify(damaged)]);
});

test('a readable copy restored into encrypted data is encrypted first; without the passphrase it goes back only if the user agrees', async () => {
  const { bridge, app, opened } = await practice();
  const confirmPlain = () => assert.fail('nobody is asked while the page holds the passphrase');
  assert.equal(await app.restoreCopy(OLDER, { confirmPlain }), true);
  assert.deepEqual(bridge.restored, [{ name: OLDER, sealed: true, plainAgreed: false }]);
  const restored = [app.encrypted, app.editable, names(app), bridge.disk.text.includes('Olu')];
  assert.deepEqual(restored, [true, true, ['Olu Adeyemi'], false], 'no client name reaches the disk');
  app.edit((doc) => { doc.clients[0].phone = '555-0100'; });
  await app.saveNow();
  const again = await opened();
  await again.unlock(PASS);
  assert.deepEqual([bridge.disk.text.includes('555-0100'), again.data.clients[0].phone], [false, '555-0100']);

  const sealedText = bridge.disk.text;
  const locked = await opened();
  let asked = 0;
  assert.equal(await locked.restoreCopy(OLDER, { confirmPlain: async () => { asked += 1; return false; } }), null);
  assert.deepEqual([asked, bridge.disk.text, bridge.restored.length], [1, sealedText, 1]);
  assert.equal(await locked.restoreCopy(OLDER, { confirmPlain: async () => true }), true);
  assert.deepEqual(bridge.restored[1], { name: OLDER, sealed: false, plainAgreed: true });
  assert.deepEqual([locked.encrypted, names(locked)], [false, ['Olu Adeyemi']]);
});

test('restored copies of unencrypted data, and encrypted copies, go back as they are', async () => {
  const { bridge, app } = await practice({ encrypt: false });
  assert.deepEqual([await app.restoreCopy(OLDER), names(app)], [true, ['Olu Adeyemi']]);
  await app.encrypt(PASS);
  bridge.restored.length = 0;
  bridge.copies['before-restore-1.json'] = JSON.parse(bridge.disk.text);
  assert.equal(await app.restoreCopy('before-restore-1.json'), true);
  const asked = { name: 'before-restore-1.json', sealed: false, plainAgreed: false };
  assert.deepEqual([bridge.restored, app.lock.kind], [[asked], 'encrypted'], 'an encrypted copy opens with its own passphrase');
});

test('the client-account vault keeps logins encrypted and opens only with the vault passphrase', async () => {
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

test('a fingerprint unlock\'s passphrase opens, outcomes worth telling are told, the rest are quiet', () => {
  const cases = [['', { passphrase: '' }], ['pass', { passphrase: 'pass' }], [{ cancelled: true }, { outcome: 'cancelled', message: '' }],
    [null, {}], [{ fingersChanged: false }, {}], [{ toString: true }, {}]];
  for (const [answer, read] of cases) assert.deepEqual(readUnlock(answer), read, JSON.stringify(answer));
  assert.match(readUnlock({ fingersChanged: true }).message, /fingerprints changed/);
  assert.match(readUnlock({ lockout: true }).message, /passphrase instead/);
});

// The self-test's walk through the page, run against a stand-in bridge that records each call.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const source = readFileSync(new URL('../../src/selftest/SelfTestScript.js', import.meta.url), 'utf8');
const AsyncFunction = Object.getPrototypeOf(async () => {}).constructor;

async function runSelfTest(printer) {
  const calls = [];
  const answers = {
    printerStatus: () => ({ ...printer }),
    printerSetup: () => { Object.assign(printer, { enabled: true, queue: true }); return true; },
    listPrinted: () => [{ path: '/inbox/a.pdf' }],
    readPrinted: () => new TextEncoder().encode('%PDF-1.7'),
    load: () => ({ clients: [] }),
    listDocuments: () => ({ files: [] }),
    saveDocument: () => ({ path: '/docs/x' }),
    readDocument: () => new Uint8Array(),
    listSnapshots: () => [],
    backupCandidates: () => [],
  };
  const qp = new Proxy({ native: 'cpp' }, {
    get(target, name) {
      if (name in target) return target[name];
      return async (...args) => {
        calls.push(name);
        return answers[name] ? answers[name](...args) : false;
      };
    },
  });
  const App = {
    isReady: true, data: { clients: [{ name: 'A' }], files: [] }, tours: { markAllSeen() {}, close() {} },
    saveNow: async () => {}, loadDemoData: async () => {}, checkBackup: () => ({ ok: true }), remind: () => true,
  };
  const window = Object.assign(new EventTarget(), { quillpost: qp, App });
  const document = { documentElement: { classList: [] }, querySelector: () => null };
  const location = { hash: '' };
  const immediate = (resolve) => setImmediate(resolve);
  const run = new AsyncFunction('window', 'document', 'location', 'setTimeout', 'Notification', 'FIXTURE_B64', 'RELAY', source);
  const results = JSON.parse(await run(window, document, location, immediate, undefined, '', ''));
  return { calls, results };
}

describe('self-test script', () => {
  test('sets up a missing printer, but leaves one the user switched off as it is', async () => {
    const cases = [
      { name: 'on, no queue yet', printer: { enabled: true, queue: false }, setUp: true },
      { name: 'on and installed', printer: { enabled: true, queue: true }, setUp: false },
      { name: 'switched off by the user', printer: { enabled: false, queue: false }, setUp: false },
    ];
    for (const c of cases) {
      const { calls, results } = await runSelfTest(c.printer);
      assert.equal(calls.includes('printerSetup'), c.setUp, c.name);
      assert.equal(results.printer.enabled, c.printer.enabled || c.setUp, c.name);
      if (c.printer.enabled) assert.equal(results.printedCount, 1, c.name);
      else assert.equal(results.printedCount, 'the printer is switched off', c.name);
    }
  });
});

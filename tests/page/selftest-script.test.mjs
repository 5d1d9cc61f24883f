import { test } from 'node:test';
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
  };
  const qp = new Proxy({ native: 'cpp' }, {
    get: (target, name) => (name in target ? target[name] : async (...args) => { calls.push(name); return answers[name]?.(...args) ?? false; }),
  });
  const App = {
    isReady: true, data: { clients: [{ name: 'A' }], files: [] }, tours: { markAllSeen() {}, close() {} },
    saveNow: async () => {}, loadDemoData: async () => {}, checkBackup: () => ({ ok: true }), remind: () => true,
  };
  const window = Object.assign(new EventTarget(), { quillpost: qp, App });
  const document = { documentElement: { classList: [] }, querySelector: () => null };
  const run = new AsyncFunction('window', 'document', 'location', 'setTimeout', 'Notification', 'FIXTURE_B64', 'RELAY', source);
  const results = JSON.parse(await run(window, document, { hash: '' }, (resolve) => setImmediate(resolve), undefined, '', ''));
  return { calls, results };
}

test('the self-test sets up a missing printer, but leaves one the user switched off as it is', async () => {
  const cases = [
    ['on, no queue yet', { enabled: true, queue: false }, true, 1],
    ['on and installed', { enabled: true, queue: true }, false, 1],
    ['switched off by the user', { enabled: false, queue: false }, false, 'the printer is switched off'],
  ];
  for (const [name, printer, setUp, printedCount] of cases) {
    const { calls, results } = await runSelfTest(printer);
    assert.equal(calls.includes('printerSetup'), setUp, name);
    assert.deepEqual([results.printer.enabled, results.printedCount], [printer.enabled, printedCount], name);
  }
});

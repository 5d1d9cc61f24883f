// The stand-in for window.quillpost that the page tests open the practice on.
import { createApp } from '../../resources/app/js/store.js';

// Loads `loaded` and records each saved document in `saved`; members of `more` replace or add to these.
export function bridgeHolding(loaded, more = {}) {
  const saved = [];
  return {
    saved,
    load: async () => structuredClone(loaded),
    dataStatus: async () => ({ dataFile: 'whole', loadedFrom: 'data.json' }),
    listSnapshots: async () => [],
    recoveryCopy: async () => null,
    async save(doc) { saved.push(structuredClone(doc)); return true; },
    ...more,
  };
}

// The app opened on `bridge`; its save timer never fires unless `timers` are given.
export async function openedOn(bridge, options = {}) {
  const app = createApp({ bridge, timers: { setTimeout: () => 0, clearTimeout: () => {} }, ...options });
  await app.reload();
  return app;
}

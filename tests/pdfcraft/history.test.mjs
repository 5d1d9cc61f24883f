import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource } from "./build-copy.mjs";

const { History } = await importSource("history.js");

// A counter edited through the history, so each step's effect can be read back.
function counter() {
  const history = new History({ limit: 3 });
  const state = { value: 0, changes: 0 };
  history.onChange = () => { state.changes += 1; };
  const set = (label, to, options) => {
    const from = state.value;
    state.value = to;
    history.record(label, () => { state.value = from; }, () => { state.value = to; }, options);
  };
  return { history, state, set };
}

test("undo and redo walk the edits in order, and a new edit forgets the redo side", async () => {
  const { history, state, set } = counter();
  assert.equal(await history.undo(), null);
  set("one", 1);
  set("two", 2);
  assert.equal(history.undoLabel, "two");
  assert.equal(await history.undo(), "two");
  assert.equal(state.value, 1);
  assert.equal(history.redoLabel, "two");
  assert.equal(await history.redo(), "two");
  assert.equal(state.value, 2);
  await history.undo();
  set("three", 3);
  assert.equal(history.canRedo, false);
  assert.equal(await history.redo(), null);
  assert.equal(await history.undo(), "three");
  assert.equal(await history.undo(), "one");
  assert.equal(state.value, 0);
  assert.equal(history.canUndo, false);
  assert.ok(state.changes >= 8);
});

test("edits with one key in a row become one step; the oldest steps fall off past the limit", async () => {
  const { history, state, set } = counter();
  for (const [label, to, key] of [["type", 1, "f"], ["type", 2, "f"], ["type", 3, "f"], ["other", 4, "g"]]) {
    set(label, to, { key });
  }
  await history.undo();
  assert.equal(state.value, 3);
  await history.undo();
  assert.equal(state.value, 0, "the three typed edits undo together");
  await history.redo();
  assert.equal(state.value, 3, "and redo to the last one");

  const limited = counter();
  for (let n = 1; n <= 5; n += 1) limited.set(`n${n}`, n);
  while (limited.history.canUndo) await limited.history.undo();
  assert.equal(limited.state.value, 2, "only the last three edits are kept");
});

test("a failing step leaves the edit where it was, and steps run one after another", async () => {
  const history = new History();
  const log = [];
  let fail = true;
  history.record("flaky", async () => {
    await Promise.resolve();
    if (fail) throw new Error("disk full");
    log.push("undo");
  }, () => { log.push("redo"); });
  await assert.rejects(history.undo(), /disk full/);
  assert.equal(history.canUndo, true);
  assert.equal(history.canRedo, false);
  fail = false;
  const both = [history.undo(), history.redo()];
  assert.deepEqual(await Promise.all(both), ["flaky", "flaky"]);
  assert.deepEqual(log, ["undo", "redo"]);
  assert.throws(() => history.record("half", () => {}), TypeError);
});

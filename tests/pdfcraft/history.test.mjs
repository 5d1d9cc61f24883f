import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource } from "./helpers.mjs";

const { History } = await importSource("history.js");

// A counter edited through a history, so each step's effect can be read back.
function counter(limit) {
  const history = new History({ limit });
  const state = { value: 0, changes: 0 };
  history.onChange = () => { state.changes += 1; };
  const set = (label, to, key) => {
    const from = state.value;
    state.value = to;
    history.record(label, () => { state.value = from; }, () => { state.value = to; }, { key });
  };
  return { history, state, set };
}

test("undo and redo walk the edits in order, a new edit forgets the redo side, keyed edits in a row are one step until an undo", async () => {
  // Only the last three edits are kept.
  const { history, state, set } = counter(3);
  const script = [
    ["undo", null, 0], ["set", "one", 1], ["set", "two", 2], ["undo", "two", 1], ["redo", "two", 2], ["undo", "two", 1],
    ["set", "three", 3], ["redo", null, 3], ["undo", "three", 1], ["undo", "one", 0],
    ["set", "type", 4, "f"], ["set", "type", 5, "f"], ["set", "other", 6, "g"],
    ["undo", "other", 5], ["undo", "type", 0], ["redo", "type", 5], ["set", "retype", 7, "f"], ["undo", "retype", 5],
    ["set", "a", 7], ["set", "b", 8], ["set", "c", 9], ["undo", "c", 8], ["undo", "b", 7], ["undo", "a", 5], ["undo", null, 5],
  ];
  for (const [i, [action, label, value, key]] of script.entries()) {
    if (action === "set") set(label, value, key);
    else assert.deepEqual([await history[action](), state.value], [label, value], `step ${i + 1}: ${action}`);
  }
  assert.deepEqual([history.undoLabel, history.redoLabel, state.changes], [null, "a", 22]);
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
  assert.deepEqual([history.canUndo, history.canRedo], [true, false]);
  fail = false;
  assert.deepEqual([await Promise.all([history.undo(), history.redo()]), log], [["flaky", "flaky"], ["undo", "redo"]]);
  assert.throws(() => history.record("half", () => {}), TypeError);
});

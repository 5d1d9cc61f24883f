// One undo/redo history for every kind of edit in the editor.
//
//   history.record(label, undo, redo)
//     Records an edit that has already been made. `undo` and `redo` are functions (they may be
//     async) that take the document back to before the edit and forward to after it again.
//     Recording a new edit forgets whatever could have been redone.
//   history.record(label, undo, redo, { key })
//     Edits with the same key in a row (typing into one field) become one step: the first
//     one's undo with the last one's redo.
//   await history.undo() / await history.redo()
//     Step back or forward one edit; each returns the edit's label, or null when there is none.
//   history.canUndo, history.canRedo, history.undoLabel, history.redoLabel
//   history.clear()
//     Forgets everything (a new document was opened).
//   history.onChange = () => { ... }
//     Called after every record, undo, redo and clear, so buttons can follow.
//
// Steps run one at a time: an undo asked for while another step is still running waits for it.
// If a step throws, the edit stays where it was (still undoable, or still redoable) and the
// error reaches the caller.
export class History {
  #done = [];
  #undone = [];
  #running = Promise.resolve();
  #limit;
  onChange = null;

  constructor({ limit = 200 } = {}) {
    this.#limit = limit;
  }

  get canUndo() { return this.#done.length > 0; }
  get canRedo() { return this.#undone.length > 0; }
  get undoLabel() { return this.#done.at(-1)?.label ?? null; }
  get redoLabel() { return this.#undone.at(-1)?.label ?? null; }

  record(label, undo, redo, { key = null } = {}) {
    if (typeof undo !== "function" || typeof redo !== "function") {
      throw new TypeError("An edit needs both an undo and a redo step.");
    }
    const last = this.#done.at(-1);
    if (key !== null && last?.key === key && this.#undone.length === 0) {
      last.redo = redo;
      this.#changed();
      return;
    }
    this.#done.push({ label: String(label), undo, redo, key });
    if (this.#done.length > this.#limit) this.#done.shift();
    this.#undone.length = 0;
    this.#changed();
  }

  undo() {
    return this.#step(this.#done, this.#undone, "undo");
  }

  redo() {
    return this.#step(this.#undone, this.#done, "redo");
  }

  clear() {
    this.#done.length = 0;
    this.#undone.length = 0;
    this.#changed();
  }

  #step(from, to, direction) {
    const next = this.#running.then(async () => {
      const edit = from.at(-1);
      if (!edit) return null;
      await edit[direction]();
      from.pop();
      to.push(edit);
      this.#changed();
      return edit.label;
    });
    this.#running = next.catch(() => {});
    return next;
  }

  #changed() {
    this.onChange?.();
  }
}

// The document being edited: its bytes, the edits made to them with pdf-lib, undo, and the form
// values waiting to be written. Every page edit loads the current bytes, changes them and saves
// them again, so what the view renders is always exactly what "Save a copy" would write.
import {
  PDFDocument, StandardFonts, degrees, rgb,
  PDFTextField, PDFCheckBox, PDFRadioGroup, PDFDropdown, PDFOptionList,
} from "pdf-lib";
import { History } from "./history.js";

export class DocumentError extends Error {}

const HELVETICA_NOTE = "Text is written in Helvetica, which has no character";

// Loads bytes for editing; anything pdf-lib can't edit becomes a DocumentError with a plain reason.
async function load(bytes) {
  try {
    return await PDFDocument.load(bytes, { updateMetadata: false });
  } catch (error) {
    const encrypted = await PDFDocument.load(bytes, { ignoreEncryption: true, updateMetadata: false })
      .then((doc) => doc.isEncrypted, () => false);
    if (encrypted) throw new DocumentError("This PDF is password-protected, so it can't be edited.");
    throw new DocumentError(`This file isn't a PDF that can be edited (${error?.message ?? error}).`);
  }
}

function firstUnwritable(font, text) {
  for (const ch of text) {
    try {
      font.encodeText(ch);
    } catch {
      return ch;
    }
  }
  return null;
}

export function fieldKind(field) {
  if (field instanceof PDFTextField) return "text";
  if (field instanceof PDFCheckBox) return "checkbox";
  if (field instanceof PDFRadioGroup) return "radio";
  if (field instanceof PDFDropdown) return "dropdown";
  if (field instanceof PDFOptionList) return "list";
  return "other";
}

function readField(field) {
  const kind = fieldKind(field);
  const base = { name: field.getName(), kind, readOnly: field.isReadOnly() };
  switch (kind) {
    case "text":
      return { ...base, value: field.getText() ?? "", maxLength: field.getMaxLength() ?? null,
        multiline: field.isMultiline() };
    case "checkbox":
      return { ...base, value: field.isChecked() };
    case "radio":
      return { ...base, value: field.getSelected() ?? null, options: field.getOptions() };
    case "dropdown":
      return { ...base, value: field.getSelected()[0] ?? "", options: field.getOptions(),
        editable: field.isEditable() };
    case "list":
      return { ...base, value: field.getSelected(), options: field.getOptions(),
        multiple: field.isMultiselect() };
    default:
      return { ...base, value: null };
  }
}

function writeField(field, value) {
  switch (fieldKind(field)) {
    case "text": field.setText(value === "" ? undefined : value); break;
    case "checkbox": if (value) field.check(); else field.uncheck(); break;
    case "radio": if (value === null) field.clear(); else field.select(value); break;
    case "dropdown": if (value === "") field.clear(); else field.select(value); break;
    case "list": if (value.length === 0) field.clear(); else field.select(value); break;
    default: throw new DocumentError(`The field "${field.getName()}" can't be filled in here.`);
  }
}

export class DocumentModel {
  #bytes;
  #doc;
  #pending = new Map();
  #changedSinceSave = false;
  // Every edit, of any kind, goes through this one history (see history.js).
  history = new History();

  constructor(bytes, doc) {
    this.#bytes = bytes;
    this.#doc = doc;
  }

  static async open(bytes) {
    const doc = await load(bytes);
    if (doc.getPageCount() === 0) throw new DocumentError("This PDF has no pages.");
    return new DocumentModel(bytes, doc);
  }

  get bytes() { return this.#bytes; }
  get pageCount() { return this.#doc.getPageCount(); }
  get canUndo() { return this.history.canUndo; }
  get canRedo() { return this.history.canRedo; }
  get dirty() { return this.#changedSinceSave || this.#pending.size > 0; }

  // Rotation a page is shown with, in degrees clockwise (0, 90, 180 or 270).
  rotationOf(index) {
    return ((this.#page(this.#doc, index).getRotation().angle % 360) + 360) % 360;
  }

  #page(doc, index) {
    if (!Number.isInteger(index) || index < 0 || index >= doc.getPageCount()) {
      throw new DocumentError(`There is no page ${index + 1}.`);
    }
    return doc.getPage(index);
  }

  // Makes one edit of the document's bytes: `change(doc)` gets a fresh pdf-lib copy of the current
  // bytes to change (it may be async); the saved result becomes the current bytes and one undoable
  // step called `label`. If `change` throws, nothing changes.
  async edit(label, change) {
    const before = this.#bytes;
    const doc = await load(before);
    await change(doc);
    const after = await doc.save();
    this.#bytes = after;
    this.#doc = doc;
    this.#changedSinceSave = true;
    this.history.record(label, () => this.#restore(before), () => this.#restore(after));
  }

  async #restore(bytes) {
    this.#doc = await load(bytes);
    this.#bytes = bytes;
    this.#changedSinceSave = true;
  }

  async rotate(index, delta) {
    if (delta % 90 !== 0) throw new DocumentError("Pages turn in steps of 90 degrees.");
    return await this.edit("Turn page", (doc) => {
      const page = this.#page(doc, index);
      page.setRotation(degrees((((page.getRotation().angle + delta) % 360) + 360) % 360));
    });
  }

  async remove(index) {
    if (this.pageCount === 1) throw new DocumentError("A PDF needs at least one page, so the last page stays.");
    return await this.edit("Delete page", (doc) => {
      this.#page(doc, index);
      doc.removePage(index);
    });
  }

  // Moves the page at `from` so that it ends up at position `to` (both counted before the move).
  async move(from, to) {
    return await this.edit("Move page", (doc) => {
      const page = this.#page(doc, from);
      this.#page(doc, to);
      if (from === to) return;
      doc.removePage(from);
      doc.insertPage(to, page);
    });
  }

  // Writes `text` on a page at (x, y) in the page's own PDF coordinates, upright as the page is shown.
  async addText(index, { x, y, text, size = 12 }) {
    const lines = String(text ?? "").split(/\r?\n/);
    if (lines.every((line) => line.trim() === "")) throw new DocumentError("There is no text to add.");
    if (!(size >= 4 && size <= 144)) throw new DocumentError("Text size must be between 4 and 144 points.");
    if (!Number.isFinite(x) || !Number.isFinite(y)) throw new DocumentError("The text has no place on the page.");
    return await this.edit("Add text", async (doc) => {
      const page = this.#page(doc, index);
      const font = await doc.embedFont(StandardFonts.Helvetica);
      const bad = firstUnwritable(font, lines.join(""));
      if (bad !== null) throw new DocumentError(`${HELVETICA_NOTE} for “${bad}”.`);
      const rotation = ((page.getRotation().angle % 360) + 360) % 360;
      // (x, y) is the top-left corner of the first line as the reader sees it; the baseline sits
      // one ascent below, measured along the direction the text reads down.
      const ascent = font.heightAtSize(size, { descender: false });
      const down = { 0: [0, -1], 90: [-1, 0], 180: [0, 1], 270: [1, 0] }[rotation];
      const lineHeight = size * 1.2;
      lines.forEach((line, i) => {
        const drop = ascent + i * lineHeight;
        page.drawText(line, {
          x: x + down[0] * drop, y: y + down[1] * drop, size, font,
          color: rgb(0, 0, 0), rotate: degrees(rotation),
        });
      });
    });
  }

  undo() { return this.history.undo(); }
  redo() { return this.history.redo(); }

  // The form's fields as the panel shows them, with values not yet written in place of the stored ones.
  fields() {
    return this.#doc.getForm().getFields().map((field) => {
      const info = readField(field);
      if (this.#pending.has(info.name)) info.value = this.#pending.get(info.name);
      return info;
    });
  }

  setField(name, value) {
    const field = this.#doc.getForm().getFieldMaybe(name);
    if (!field) throw new DocumentError(`This PDF has no field called "${name}".`);
    const info = readField(field);
    if (info.readOnly) throw new DocumentError(`The field "${name}" is read-only.`);
    const wrong = () => new DocumentError(`"${value}" isn't a value the field "${name}" takes.`);
    switch (info.kind) {
      case "text":
        if (typeof value !== "string") throw wrong();
        if (info.maxLength !== null && value.length > info.maxLength) {
          throw new DocumentError(`The field "${name}" takes at most ${info.maxLength} characters.`);
        }
        break;
      case "checkbox":
        if (typeof value !== "boolean") throw wrong();
        break;
      case "radio":
        if (value !== null && !info.options.includes(value)) throw wrong();
        break;
      case "dropdown":
        if (typeof value !== "string" || (value !== "" && !info.editable && !info.options.includes(value))) throw wrong();
        break;
      case "list":
        if (!Array.isArray(value) || value.some((v) => !info.options.includes(v))
          || (!info.multiple && value.length > 1)) throw wrong();
        break;
      default:
        throw new DocumentError(`The field "${name}" can't be filled in here.`);
    }
    const had = this.#pending.has(name);
    const previous = had ? this.#pending.get(name) : undefined;
    this.#pending.set(name, value);
    this.history.record(`Fill in "${name}"`,
      () => { if (had) this.#pending.set(name, previous); else this.#pending.delete(name); },
      () => { this.#pending.set(name, value); },
      { key: `field:${name}` });
  }

  // The finished document: the page edits plus the form values. The result becomes the document
  // being edited, so the view shows what was saved and nothing is left unsaved.
  async save() {
    let bytes = this.#bytes;
    let doc = this.#doc;
    if (this.#pending.size > 0) {
      doc = await load(this.#bytes);
      const form = doc.getForm();
      const font = await doc.embedFont(StandardFonts.Helvetica);
      for (const [name, value] of this.#pending) {
        if (typeof value === "string") {
          const bad = firstUnwritable(font, value);
          if (bad !== null) throw new DocumentError(`${HELVETICA_NOTE} for “${bad}” (field "${name}").`);
        }
        writeField(form.getField(name), value);
      }
      form.updateFieldAppearances(font);
      bytes = await doc.save();
      const before = this.#bytes;
      const pending = new Map(this.#pending);
      this.history.record("Save", async () => {
        await this.#restore(before);
        for (const [name, value] of pending) this.#pending.set(name, value);
      }, async () => {
        await this.#restore(bytes);
        this.#pending.clear();
      });
    }
    this.#bytes = bytes;
    this.#doc = doc;
    this.#pending.clear();
    this.#changedSinceSave = false;
    return bytes;
  }
}

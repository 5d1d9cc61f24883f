// The document being edited: its bytes, the edits made to them with pdf-lib, the placed text and
// form values waiting to be written, and the undo history. Every page edit loads the current
// bytes, changes them and saves them again, so what the view renders is what "Save a copy" writes
// under the placed text and the form values.
import {
  PDFDocument, PDFArray, PDFDict, PDFName, degrees, rgb,
  PDFTextField, PDFCheckBox, PDFRadioGroup, PDFDropdown, PDFOptionList,
} from "pdf-lib";
import { History } from "./history.js";
import { multilineSize, sensibleSize } from "./textsize.js";
import { checkWritable, embedTextFont, TextError } from "./fonts.js";

export class DocumentError extends Error {}

// Lines of placed text are this many times their size apart.
export const LINE_HEIGHT = 1.2;

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
      return { ...base, value: field.getSelected() ?? null, options: field.getOptions(), states: radioStates(field) };
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

// The "on" state of each radio button, in the order of the group's options; a viewer names the
// button by its state, which is the option's position when the group lists its options.
function radioStates(field) {
  return field.acroField.getWidgets().map((widget) => widget.getOnValue()?.decodeText() ?? null);
}

const SIZE_IN_APPEARANCE = /(\d*\.?\d+)(\s+Tf)/;

// A multi-line field's value is drawn at a size that fits its box (see multilineSize), no larger
// than the size its appearance string asks for when that is a sensible one. The size chosen is
// written where the string was found, so every reader draws the field alike.
function fitMultiline(field, font) {
  if (fieldKind(field) !== "text" || !field.isMultiline()) return;
  const text = field.getText() ?? "";
  if (text === "") return;
  for (const widget of field.acroField.getWidgets()) {
    const holder = widget.getDefaultAppearance() !== undefined ? widget : field.acroField;
    const appearance = holder.getDefaultAppearance() ?? "/Helv 0 Tf 0 g";
    const match = SIZE_IN_APPEARANCE.exec(appearance);
    if (!match) continue;
    const { width, height } = widget.getRectangle();
    const size = multilineSize(text, font, width, height, sensibleSize(Number(match[1])));
    holder.setDefaultAppearance(appearance.replace(SIZE_IN_APPEARANCE, `${size}$2`));
  }
  field.markAsDirty();
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
  #texts = new Map();
  #nextText = 1;
  #xfa = false;
  #xfaWritable = false;
  #changedSinceSave = false;
  // Every edit, of any kind, goes through this one history (see history.js).
  history = new History();

  constructor(bytes, doc) {
    this.#bytes = bytes;
    this.#setDoc(doc);
  }

  static async open(bytes) {
    const doc = await load(bytes);
    if (doc.getPageCount() === 0) throw new DocumentError("This PDF has no pages.");
    return new DocumentModel(bytes, doc);
  }

  // Read from the catalog as each copy is loaded: pdf-lib's getForm() drops the XFA part.
  #setDoc(doc) {
    this.#doc = doc;
    const xfa = doc.catalog.lookupMaybe(PDFName.of("AcroForm"), PDFDict)?.lookup(PDFName.of("XFA"));
    this.#xfa = xfa !== undefined;
    // pdf.js writes an XFA form's values into its "datasets" part; an XFA kept as one stream has
    // none, and pdf.js can't save it filled in.
    this.#xfaWritable = xfa instanceof PDFArray
      && xfa.asArray().some((part, i) => i % 2 === 0 && part.decodeText?.() === "datasets");
  }

  get bytes() { return this.#bytes; }
  // Whether the document carries an XFA form (which pdf-lib can't fill; pdf.js may draw it).
  get hasXfa() { return this.#xfa; }
  // Whether values typed into the XFA form as pdf.js draws it can be saved.
  get xfaWritable() { return this.#xfaWritable; }
  get pageCount() { return this.#doc.getPageCount(); }
  get canUndo() { return this.history.canUndo; }
  get canRedo() { return this.history.canRedo; }
  get dirty() { return this.#changedSinceSave || this.#pending.size > 0 || this.#texts.size > 0; }

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
    // Read back rather than kept: pdf-lib's page list isn't always current after removePage.
    this.#setDoc(await load(after));
    this.#bytes = after;
    this.#changedSinceSave = true;
    this.history.record(label, () => this.#restore(before), () => this.#restore(after));
  }

  // Takes bytes changed elsewhere (pdf.js writing an XFA form's values) as one undoable edit.
  async adopt(label, bytes) {
    const before = this.#bytes;
    this.#setDoc(await load(bytes));
    this.#bytes = bytes;
    this.#changedSinceSave = true;
    this.history.record(label, () => this.#restore(before), () => this.#restore(bytes));
  }

  async #restore(bytes) {
    this.#setDoc(await load(bytes));
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

  // ---- placed text ----
  // Placed text stays movable and editable until the copy is saved: it lives beside the bytes,
  // tied to its page object (so it follows the page when pages move, and comes back with a
  // deleted page that is brought back), and is written into the pages by save().

  // The placed text on the page at `index`, in the page's own PDF coordinates: (x, y) is the
  // top-left corner of the first line as the reader sees the page.
  texts(index) {
    const ref = this.#pageRef(this.#doc, index);
    return [...this.#texts.values()].filter((item) => item.page === ref).map((item) => ({ ...item }));
  }

  async addText(index, { x, y, text, size = 12, color = "#000000" }) {
    const item = await this.#checkText({ page: this.#pageRef(this.#doc, index), x, y, text, size, color });
    item.id = `text-${this.#nextText++}`;
    this.#texts.set(item.id, item);
    this.history.record("Add text", () => { this.#texts.delete(item.id); }, () => { this.#texts.set(item.id, item); });
    return item.id;
  }

  // Changes any of x, y, text, size and color of a placed text.
  async updateText(id, changes) {
    const before = this.#texts.get(id);
    if (!before) throw new DocumentError("That text is no longer on the page.");
    const after = await this.#checkText({ ...before, ...changes, id, page: before.page });
    this.#texts.set(id, after);
    const label = "text" in changes ? "Edit text" : "x" in changes ? "Move text" : "Change text";
    this.history.record(label, () => { this.#texts.set(id, before); }, () => { this.#texts.set(id, after); });
  }

  removeText(id) {
    const item = this.#texts.get(id);
    if (!item) return;
    this.#texts.delete(id);
    this.history.record("Delete text", () => { this.#texts.set(id, item); }, () => { this.#texts.delete(id); });
  }

  async #checkText({ id, page, x, y, text, size, color }) {
    const normal = String(text ?? "").replace(/\r\n?/g, "\n");
    if (normal.split("\n").every((line) => line.trim() === "")) throw new DocumentError("There is no text to add.");
    if (!(size >= 4 && size <= 144)) throw new DocumentError("Text size must be between 4 and 144 points.");
    if (!Number.isFinite(x) || !Number.isFinite(y)) throw new DocumentError("The text has no place on the page.");
    if (!/^#[0-9a-f]{6}$/i.test(color)) throw new DocumentError(`“${color}” isn't a colour (#rrggbb).`);
    return { id, page, x, y, size, color: color.toLowerCase(), text: await writable(normal) };
  }

  #pageRef(doc, index) {
    return this.#page(doc, index).ref.toString();
  }

  // Writes the placed text into the pages of `doc`, upright as each page is shown.
  async #drawTexts(doc) {
    const pages = new Map(doc.getPages().map((page) => [page.ref.toString(), page]));
    const items = [...this.#texts.values()].filter((item) => pages.has(item.page));
    if (items.length === 0) return;
    const font = await embedTextFont(doc);
    for (const { page: ref, x, y, text, size, color } of items) {
      const page = pages.get(ref);
      const rotation = ((page.getRotation().angle % 360) + 360) % 360;
      // The baseline sits one ascent below the top-left corner, measured along the direction
      // the text reads down.
      const ascent = font.heightAtSize(size, { descender: false });
      const down = { 0: [0, -1], 90: [-1, 0], 180: [0, 1], 270: [1, 0] }[rotation];
      const [r, g, b] = [1, 3, 5].map((at) => parseInt(color.slice(at, at + 2), 16) / 255);
      text.split("\n").forEach((line, i) => {
        const drop = ascent + i * size * LINE_HEIGHT;
        page.drawText(line, {
          x: x + down[0] * drop, y: y + down[1] * drop, size, font,
          color: rgb(r, g, b), rotate: degrees(rotation),
        });
      });
    }
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

  async setField(name, value) {
    const field = this.#doc.getForm().getFieldMaybe(name);
    if (!field) throw new DocumentError(`This PDF has no field called "${name}".`);
    const info = readField(field);
    if (info.readOnly) throw new DocumentError(`The field "${name}" is read-only.`);
    const wrong = () => new DocumentError(`"${value}" isn't a value the field "${name}" takes.`);
    switch (info.kind) {
      case "text":
        if (typeof value !== "string") throw wrong();
        value = await writable(value, `field "${name}"`);
        if (info.maxLength !== null && value.length > info.maxLength) {
          throw new DocumentError(`The field "${name}" takes at most ${info.maxLength} characters.`);
        }
        break;
      case "checkbox":
        if (typeof value !== "boolean") throw wrong();
        break;
      case "radio":
        if (value !== null && !info.options.includes(value)) {
          const at = info.states.indexOf(value);
          if (at < 0 || info.options.length !== info.states.length) throw wrong();
          value = info.options[at];
        }
        break;
      case "dropdown":
        if (typeof value !== "string" || (value !== "" && !info.editable && !info.options.includes(value))) throw wrong();
        if (!info.options.includes(value)) value = await writable(value, `field "${name}"`);
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

  // The finished document: the page edits, the placed text and the form values. The result becomes
  // the document being edited, so the view shows what was saved and nothing is left unsaved.
  async save() {
    if (this.#pending.size === 0 && this.#texts.size === 0) {
      this.#changedSinceSave = false;
      return this.#bytes;
    }
    const doc = await load(this.#bytes);
    if (this.#pending.size > 0) {
      const form = doc.getForm();
      const font = await embedTextFont(doc);
      for (const [name, value] of this.#pending) {
        writeField(form.getField(name), value);
        fitMultiline(form.getField(name), font);
      }
      // Every field's appearance is drawn again in the embedded font, so readers that don't
      // draw fields themselves show the values, whatever their letters.
      form.updateFieldAppearances(font);
    }
    await this.#drawTexts(doc);
    const bytes = await doc.save();
    const before = this.#bytes;
    const pending = new Map(this.#pending);
    const texts = new Map(this.#texts);
    this.#bytes = bytes;
    this.#setDoc(await load(bytes));
    this.#pending.clear();
    this.#texts.clear();
    this.#changedSinceSave = false;
    this.history.record("Save", async () => {
      await this.#restore(before);
      this.#pending = new Map(pending);
      this.#texts = new Map(texts);
    }, async () => {
      await this.#restore(bytes);
      this.#pending.clear();
      this.#texts.clear();
    });
    return bytes;
  }
}

// Text ready to be written in the embedded font, or a DocumentError saying what can't be.
async function writable(text, where) {
  try {
    return await checkWritable(text, where);
  } catch (error) {
    if (error instanceof TextError) throw new DocumentError(error.message);
    throw error;
  }
}

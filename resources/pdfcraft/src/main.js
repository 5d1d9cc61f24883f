// The editor page: toolbar, page view, thumbnails, form panel, and the document's life from
// loading to "Save a copy".
import { DocumentModel, DocumentError } from "./model.js";
import { documentAddress, fileNameOf, editedName, fetchDocument } from "./address.js";
import { openForView, LazyRenderer } from "./viewer.js";
import { compileSiteModules } from "./wasm.js";
import { installTools } from "./tools.js";

/* global __PDFCRAFT_WASM__ */
const WASM_MODULES = typeof __PDFCRAFT_WASM__ === "undefined" ? [] : __PDFCRAFT_WASM__;

const $ = (id) => document.getElementById(id);
const ui = {
  openFile: $("open-file"), emptyOpen: $("empty-open"), docName: $("doc-name"),
  zoomIn: $("zoom-in"), zoomOut: $("zoom-out"), zoomFit: $("zoom-fit"), zoomLevel: $("zoom-level"),
  addText: $("add-text"), textSize: $("text-size"), undo: $("undo"), redo: $("redo"), save: $("save"),
  message: $("message"), status: $("status"), view: $("view"), pages: $("pages"),
  empty: $("empty"), emptyText: $("empty-text"), thumbs: $("thumbs"),
  fieldsPanel: $("fields-panel"), fields: $("fields"),
};

const state = {
  name: "document.pdf",
  model: null,      // DocumentModel, or null when the file can only be viewed
  view: null,       // pdf.js document and pages
  scale: 1,
  fitWidth: true,
  busy: false,
  addingText: false,
};

const pageRenderer = new LazyRenderer(ui.view);
const thumbRenderer = new LazyRenderer(ui.thumbs.parentElement);

// ---- messages ----

function showError(text) {
  ui.message.textContent = text;
  ui.message.hidden = false;
}

function clearError() {
  ui.message.hidden = true;
  ui.message.textContent = "";
}

function say(text) {
  ui.status.textContent = text;
}

// ---- unsaved changes ----

function warnBeforeLeaving(event) {
  event.preventDefault();
  event.returnValue = "";
  return "";
}

function updateControls() {
  const hasView = state.view !== null;
  const editable = hasView && state.model !== null && !state.busy;
  ui.zoomIn.disabled = ui.zoomOut.disabled = ui.zoomFit.disabled = !hasView;
  ui.addText.disabled = ui.textSize.disabled = !editable;
  ui.undo.disabled = !editable || !state.model.canUndo;
  ui.redo.disabled = !editable || !state.model.canRedo;
  ui.undo.title = `Undo${editable && state.model.history.undoLabel ? ` ${state.model.history.undoLabel}` : ""} (Ctrl+Z)`;
  ui.redo.title = `Redo${editable && state.model.history.redoLabel ? ` ${state.model.history.redoLabel}` : ""} (Ctrl+Shift+Z)`;
  ui.save.disabled = !editable;
  if (state.addingText && (!hasView || state.model === null)) setAddingText(false);
  for (const button of ui.thumbs.querySelectorAll("button")) button.disabled = !editable;
  tools?.update(editable);
  for (const control of ui.fields.querySelectorAll("input, select, textarea")) {
    control.disabled = !editable || control.dataset.readOnly === "true";
  }
  window.onbeforeunload = state.model?.dirty ? warnBeforeLeaving : null;
}

// Runs one edit at a time; the controls are off while it runs and any failure is shown.
// Afterwards the focus goes back to the control with the label `focus` (by default the one that
// had it), which the re-render replaced.
async function run(action, { rerender = true, focus = document.activeElement?.getAttribute("aria-label") } = {}) {
  if (state.busy) return;
  state.busy = true;
  updateControls();
  try {
    clearError();
    await action();
    if (rerender) await showBytes(state.model.bytes);
  } catch (error) {
    showError(error instanceof DocumentError ? error.message : `That didn't work: ${error?.message ?? error}`);
  } finally {
    state.busy = false;
    updateControls();
    for (const label of [focus].flat()) {
      const control = label && document.querySelector(`[aria-label="${CSS.escape(label)}"]:not([hidden])`);
      if (control) { control.focus(); break; }
    }
  }
}

// ---- view ----

function zoomTo(scale, { fit = false } = {}) {
  state.scale = Math.min(4, Math.max(0.25, scale));
  state.fitWidth = fit;
  layoutPages();
}

function fitScale() {
  const first = state.view?.pages[0];
  if (!first) return 1;
  const width = first.getViewport({ scale: 1 }).width;
  return Math.max(0.25, (ui.view.clientWidth - 48) / width);
}

function layoutPages() {
  if (!state.view) return;
  if (state.fitWidth) state.scale = fitScale();
  ui.zoomLevel.textContent = `${Math.round(state.scale * 100)}%`;
  state.view.pages.forEach((page, index) => {
    const holder = ui.pages.children[index];
    holder.viewport = pageRenderer.place(holder.querySelector("canvas"), page, state.scale);
  });
}

function buildPages() {
  ui.pages.replaceChildren();
  pageRenderer.clear();
  state.view.pages.forEach((page, index) => {
    const holder = document.createElement("div");
    holder.className = "page";
    holder.dataset.index = String(index);
    const canvas = document.createElement("canvas");
    canvas.setAttribute("role", "img");
    canvas.setAttribute("aria-label", `Page ${index + 1}`);
    holder.append(canvas);
    holder.addEventListener("click", (event) => placeText(event, holder));
    ui.pages.append(holder);
  });
  layoutPages();
}

function thumbButton(label, text, onClick) {
  const button = document.createElement("button");
  button.type = "button";
  button.textContent = text;
  button.setAttribute("aria-label", label);
  button.title = label;
  button.addEventListener("click", onClick);
  return button;
}

function buildThumbnails() {
  ui.thumbs.replaceChildren();
  thumbRenderer.clear();
  const count = state.view.pages.length;
  state.view.pages.forEach((page, index) => {
    const item = document.createElement("li");
    item.className = "thumb";
    item.draggable = state.model !== null;
    item.dataset.index = String(index);
    const show = document.createElement("button");
    show.type = "button";
    show.className = "thumb-show";
    show.setAttribute("aria-label", `Show page ${index + 1}`);
    const canvas = document.createElement("canvas");
    show.append(canvas);
    show.addEventListener("click", () => ui.pages.children[index]?.scrollIntoView({ block: "start" }));
    const width = page.getViewport({ scale: 1 }).width;
    thumbRenderer.place(canvas, page, 112 / width);
    const number = document.createElement("span");
    number.className = "thumb-number";
    number.textContent = String(index + 1);
    const tools = document.createElement("span");
    tools.className = "thumb-tools";
    const n = index + 1;
    const moveTo = (to) => run(() => state.model.move(index, to), {
      focus: [`Move page ${to + 1} ${to < index ? "up" : "down"}`, `Move page ${to + 1} ${to < index ? "down" : "up"}`],
    });
    const up = thumbButton(`Move page ${n} up`, "↑", () => moveTo(index - 1));
    const down = thumbButton(`Move page ${n} down`, "↓", () => moveTo(index + 1));
    up.hidden = index === 0;
    down.hidden = index === count - 1;
    tools.append(up, down,
      thumbButton(`Rotate page ${n} left`, "⟲", () => run(() => state.model.rotate(index, -90))),
      thumbButton(`Rotate page ${n} right`, "⟳", () => run(() => state.model.rotate(index, 90))),
      thumbButton(`Delete page ${n}`, "✕", () => {
        if (confirm(`Delete page ${n}?`)) run(() => state.model.remove(index));
      }));
    item.append(show, number, tools);
    ui.thumbs.append(item);
  });
}

// Drag a thumbnail onto another to move the page there.
ui.thumbs.addEventListener("dragstart", (event) => {
  const item = event.target.closest?.(".thumb");
  if (!item || !state.model || state.busy) return event.preventDefault();
  event.dataTransfer.setData("application/x-pdfcraft-page", item.dataset.index);
  event.dataTransfer.effectAllowed = "move";
});
ui.thumbs.addEventListener("dragover", (event) => {
  if (event.dataTransfer.types.includes("application/x-pdfcraft-page")) event.preventDefault();
});
ui.thumbs.addEventListener("drop", (event) => {
  const target = event.target.closest?.(".thumb");
  const from = Number(event.dataTransfer.getData("application/x-pdfcraft-page"));
  if (!target || !Number.isInteger(from)) return;
  event.preventDefault();
  const to = Number(target.dataset.index);
  if (from !== to) run(() => state.model.move(from, to));
});

// ---- form fields ----

function fieldControl(field, id) {
  const set = (value) => {
    try {
      clearError();
      state.model.setField(field.name, value);
    } catch (error) {
      showError(error.message);
    }
    updateControls();
  };
  switch (field.kind) {
    case "text": {
      const input = document.createElement(field.multiline ? "textarea" : "input");
      input.id = id;
      input.value = field.value;
      if (field.maxLength !== null) input.maxLength = field.maxLength;
      input.addEventListener("input", () => set(input.value));
      return input;
    }
    case "checkbox": {
      const input = document.createElement("input");
      input.type = "checkbox";
      input.id = id;
      input.checked = field.value;
      input.addEventListener("change", () => set(input.checked));
      return input;
    }
    case "radio": {
      const group = document.createElement("div");
      group.className = "radios";
      group.setAttribute("role", "radiogroup");
      group.setAttribute("aria-labelledby", `${id}-label`);
      field.options.forEach((option, i) => {
        const label = document.createElement("label");
        const input = document.createElement("input");
        input.type = "radio";
        input.name = id;
        input.id = i === 0 ? id : `${id}-${i}`;
        input.value = option;
        input.checked = field.value === option;
        input.addEventListener("change", () => set(option));
        label.append(input, ` ${option}`);
        group.append(label);
      });
      return group;
    }
    case "dropdown":
    case "list": {
      const select = document.createElement("select");
      select.id = id;
      select.multiple = field.kind === "list" && field.multiple;
      if (field.kind === "dropdown") select.append(new Option("—", ""));
      const chosen = new Set([field.value].flat());
      for (const option of field.options) select.append(new Option(option, option, false, chosen.has(option)));
      if (field.kind === "dropdown" && field.value && !field.options.includes(field.value)) {
        select.append(new Option(field.value, field.value, false, true));
      }
      select.addEventListener("change", () => {
        const values = [...select.selectedOptions].map((o) => o.value);
        set(field.kind === "dropdown" ? values[0] ?? "" : values);
      });
      return select;
    }
    default: {
      const note = document.createElement("span");
      note.id = id;
      note.className = "hint";
      note.textContent = "Can't be filled in here";
      return note;
    }
  }
}

function buildFields() {
  ui.fields.replaceChildren();
  const fields = state.model ? state.model.fields() : [];
  ui.fieldsPanel.hidden = fields.length === 0;
  fields.forEach((field, index) => {
    const id = `field-${index}`;
    const row = document.createElement("div");
    row.className = `field field-${field.kind}`;
    const label = document.createElement("label");
    label.id = `${id}-label`;
    label.htmlFor = id;
    label.textContent = field.name;
    const control = fieldControl(field, id);
    for (const element of [control, ...control.querySelectorAll("input")]) {
      element.dataset.readOnly = String(field.readOnly);
    }
    if (field.kind === "checkbox") row.append(control, label);
    else row.append(label, control);
    ui.fields.append(row);
  });
}

// ---- adding text ----

function setAddingText(on) {
  state.addingText = on;
  ui.addText.setAttribute("aria-pressed", String(on));
  ui.pages.classList.toggle("adding-text", on);
  say(on ? "Click where the text should start; Enter adds it, Shift+Enter starts a new line, Escape cancels." : "");
}

function placeText(event, holder) {
  if (!state.addingText || state.busy || event.target.closest("textarea")) return;
  const canvas = holder.querySelector("canvas");
  const box = canvas.getBoundingClientRect();
  const cssX = event.clientX - box.left;
  const cssY = event.clientY - box.top;
  const [x, y] = holder.viewport.convertToPdfPoint(cssX, cssY);
  const index = Number(holder.dataset.index);
  const size = Number(ui.textSize.value);
  holder.querySelector("textarea")?.remove();
  const input = document.createElement("textarea");
  input.className = "text-entry";
  input.setAttribute("aria-label", `Text to add on page ${index + 1}`);
  input.rows = 1;
  input.style.left = `${canvas.offsetLeft + cssX}px`;
  input.style.top = `${canvas.offsetTop + cssY}px`;
  input.style.fontSize = `${size * state.scale}px`;
  let done = false;
  const finish = (commit) => {
    if (done) return;
    done = true;
    const text = input.value;
    input.remove();
    if (commit && text.trim() !== "") run(() => state.model.addText(index, { x, y, text, size }));
  };
  input.addEventListener("keydown", (key) => {
    if (key.key === "Enter" && !key.shiftKey) { key.preventDefault(); finish(true); }
    if (key.key === "Escape") { key.preventDefault(); finish(false); }
  });
  input.addEventListener("blur", () => finish(true));
  holder.append(input);
  input.focus();
}

// ---- loading and saving ----

async function showBytes(bytes) {
  const previous = state.view;
  const scroll = ui.view.scrollTop;
  state.view = await openForView(bytes);
  previous?.destroy();
  ui.empty.hidden = true;
  buildPages();
  buildThumbnails();
  buildFields();
  ui.view.scrollTop = scroll;
}

function showEmpty(text) {
  state.view?.destroy();
  state.view = null;
  state.model = null;
  ui.pages.replaceChildren();
  ui.thumbs.replaceChildren();
  ui.fields.replaceChildren();
  ui.fieldsPanel.hidden = true;
  ui.empty.hidden = false;
  ui.emptyText.textContent = text;
  updateControls();
}

async function openBytes(bytes, name) {
  state.name = name;
  ui.docName.textContent = name;
  document.title = `${name} — PdfCraft`;
  clearError();
  let model = null;
  let reason = null;
  try {
    model = await DocumentModel.open(bytes);
  } catch (error) {
    reason = error.message;
  }
  state.model = model;
  state.fitWidth = true;
  try {
    await showBytes(bytes);
  } catch (error) {
    showEmpty("This document couldn't be shown.");
    showError(error.message);
    return;
  }
  if (reason) showError(`${reason} It can still be viewed.`);
  updateControls();
}

async function openAddress(address) {
  const name = fileNameOf(address);
  ui.docName.textContent = name;
  ui.emptyText.textContent = `Loading ${name}…`;
  try {
    await openBytes(await fetchDocument(address), name);
  } catch (error) {
    showEmpty("No document is open.");
    showError(error.message);
  }
}

async function saveCopy() {
  let bytes;
  await run(async () => {
    const before = state.model.bytes;
    bytes = await state.model.save();
    if (bytes !== before) await showBytes(bytes);
  }, { rerender: false });
  if (!bytes) return;
  offerDownload(bytes, editedName(state.name));
}

// Hands the bytes to the window's download, which asks where to save them.
function offerDownload(bytes, name) {
  const url = URL.createObjectURL(new Blob([bytes], { type: "application/pdf" }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
  say(`Saved a copy as ${name}.`);
}

// ---- controls ----

function chooseFile() {
  ui.openFile.click();
}

ui.openFile.addEventListener("change", async () => {
  const file = ui.openFile.files[0];
  ui.openFile.value = "";
  if (!file) return;
  if (state.model?.dirty && !confirm("This PDF has changes that aren't saved yet. Open another one anyway?")) return;
  await openBytes(new Uint8Array(await file.arrayBuffer()), file.name);
});
ui.emptyOpen.addEventListener("click", chooseFile);
ui.zoomIn.addEventListener("click", () => zoomTo(state.scale * 1.25));
ui.zoomOut.addEventListener("click", () => zoomTo(state.scale / 1.25));
ui.zoomFit.addEventListener("click", () => zoomTo(1, { fit: true }));
ui.addText.addEventListener("click", () => setAddingText(!state.addingText));
ui.undo.addEventListener("click", () => run(() => state.model.undo()));
ui.redo.addEventListener("click", () => run(() => state.model.redo()));
ui.save.addEventListener("click", saveCopy);

new ResizeObserver(() => { if (state.fitWidth) layoutPages(); }).observe(ui.view);

document.addEventListener("keydown", (event) => {
  const typing = event.target.closest?.("input, textarea, select");
  if (event.key === "Escape" && state.addingText) setAddingText(false);
  if (!(event.ctrlKey || event.metaKey) || event.altKey) return;
  const key = event.key.toLowerCase();
  if (key === "s" && !ui.save.disabled) { event.preventDefault(); saveCopy(); }
  if (key === "o") { event.preventDefault(); chooseFile(); }
  if ((key === "+" || key === "=") && state.view) { event.preventDefault(); ui.zoomIn.click(); }
  if (key === "-" && state.view) { event.preventDefault(); ui.zoomOut.click(); }
  if (key === "0" && state.view) { event.preventDefault(); zoomTo(1); }
  if (typing) return;
  const redo = (key === "z" && event.shiftKey) || key === "y";
  if (redo && !ui.redo.disabled) { event.preventDefault(); ui.redo.click(); }
  if (key === "z" && !event.shiftKey && !ui.undo.disabled) { event.preventDefault(); ui.undo.click(); }
});

const tools = installTools({
  toolbar: document.querySelector(".toolbar"), before: ui.undo, pages: ui.pages, view: ui.view,
  model: () => state.model, scale: () => state.scale, run, say, showError,
  download: offerDownload, name: () => state.name,
});

// ---- start ----

compileSiteModules(WASM_MODULES, document.baseURI).then((bindings) => {
  window.wasmBindings = bindings;
}, (error) => {
  showError(`PdfCraft's WebAssembly decoders didn't start (${error.message}). Some images may not show.`);
});

const address = documentAddress(location.search);
if (address) {
  openAddress(address);
} else {
  showEmpty("Open a PDF to view and edit it.");
}

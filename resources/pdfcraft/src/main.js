// The editor page: toolbar, page view with its fields and placed text, thumbnails, find, and the
// document's life from loading to "Save a copy".
import { DocumentModel, DocumentError, LINE_HEIGHT } from "./model.js";
import { documentAddress, fileNameOf, editedName, fetchDocument } from "./address.js";
import { openForView, LazyRenderer } from "./viewer.js";
import { drawPageLayers, drawPlacedText, highlight } from "./pagelayers.js";
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
  textColor: $("text-color"), find: $("find"), findCount: $("find-count"),
};

const state = {
  name: "document.pdf",
  model: null,      // DocumentModel, or null when the file can only be viewed
  view: null,       // pdf.js document and pages
  scale: 1,
  fitWidth: true,
  busy: false,
  addingText: false,
  selectedText: null, // id of the placed text the size and colour controls change
  query: "",
  xfaFilled: false,   // an XFA form's values were changed in pdf.js's layer
  pageTexts: null,    // each page's text, for find
};

const pageRenderer = new LazyRenderer(ui.view, { layers: drawLayers });
const thumbRenderer = new LazyRenderer(ui.thumbs.parentElement);

// ---- messages ----

const FILL_ELSEWHERE = "Open it in a reader that can fill it, fill it there and print it to “Quillpost PDF”.";
const CANT_FILL = `This form is made with XFA in a way PdfCraft can't fill. ${FILL_ELSEWHERE}`;
const CANT_SAVE_XFA = `This form is made with XFA in a way PdfCraft can show but can't save filled in. ${FILL_ELSEWHERE}`;

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
  ui.addText.disabled = ui.textSize.disabled = ui.textColor.disabled = !editable;
  ui.find.disabled = !hasView;
  ui.undo.disabled = !editable || !state.model.canUndo;
  ui.redo.disabled = !editable || !state.model.canRedo;
  ui.undo.title = `Undo${editable && state.model.history.undoLabel ? ` ${state.model.history.undoLabel}` : ""} (Ctrl+Z)`;
  ui.redo.title = `Redo${editable && state.model.history.redoLabel ? ` ${state.model.history.redoLabel}` : ""} (Ctrl+Shift+Z)`;
  ui.save.disabled = !editable;
  if (state.addingText && (!hasView || state.model === null)) setAddingText(false);
  for (const button of ui.thumbs.querySelectorAll("button")) button.disabled = !editable;
  tools?.update(editable, { busy: state.busy });
  window.onbeforeunload = state.model?.dirty || state.xfaFilled ? warnBeforeLeaving : null;
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
    drawAllPlacedText();
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
  state.view.pages.forEach((_, index) => placePage(index));
  drawAllPlacedText();
}

// Sizes page `index` in the view and its thumbnail; a page whose size isn't known yet stands in
// at the first page's size.
function placePage(index) {
  const { pages } = state.view;
  const page = pages[index];
  const holder = ui.pages.children[index];
  if (holder) holder.viewport = pageRenderer.place(holder.querySelector("canvas"), page, state.scale, pages[0]);
  const thumb = ui.thumbs.children[index]?.querySelector("canvas");
  if (thumb) thumbRenderer.place(thumb, page, 112 / (page ?? pages[0]).getViewport({ scale: 1 }).width, pages[0]);
}

function pageArrived(index) {
  placePage(index);
  drawAllPlacedText();
}

// ---- what lies over the pages: text, fields, placed text ----

async function drawLayers(canvas) {
  const holder = canvas.parentElement;
  const view = state.view;
  const values = new Map((state.model?.fields() ?? []).map((field) => [field.name, field]));
  await drawPageLayers(holder, canvas.pdfPage, holder.viewport, {
    storage: view.pdf.annotationStorage, isXfa: view.isXfa, values, onField: fillField,
  });
  holder.querySelector(".xfaLayer")?.addEventListener("input", () => {
    state.xfaFilled = true;
    window.onbeforeunload = warnBeforeLeaving;
  });
  if (!state.model) {
    for (const control of holder.querySelectorAll(".annotationLayer :is(input, select, textarea)")) control.disabled = true;
  }
  if (!state.model?.xfaWritable) {
    for (const control of holder.querySelectorAll(".xfaLayer :is(input, select, textarea)")) control.disabled = true;
  }
  highlight(holder, state.query);
}

function fillField(name, value, control) {
  if (!state.model) return;
  state.model.setField(name, value).then(() => {
    control.removeAttribute("aria-invalid");
    clearError();
  }, (error) => {
    control.setAttribute("aria-invalid", "true");
    showError(error.message);
  }).finally(updateControls);
}

function drawAllPlacedText() {
  if (!state.view) return;
  [...ui.pages.children].forEach((holder, index) => {
    if (!holder.viewport) return;
    const items = state.model && index < state.model.pageCount ? state.model.texts(index) : [];
    drawPlacedText(holder, holder.viewport, items, {
      lineHeight: LINE_HEIGHT,
      selected: state.selectedText,
      onSelect: selectText,
      onMove: (id, x, y) => run(() => state.model.updateText(id, { x, y }), { rerender: false }),
      onEdit: editPlacedText,
    });
  });
}

function selectText(id) {
  state.selectedText = id;
  for (const piece of ui.pages.querySelectorAll(".placed-text")) piece.classList.toggle("selected", piece.dataset.id === id);
  const item = findPlaced(id);
  if (item) {
    ui.textSize.value = String(item.size);
    ui.textColor.value = item.color;
    say("Drag to move; double-click or Enter to edit; Delete removes it. Size and colour change it.");
  }
}

function findPlaced(id) {
  if (!state.model || !id) return null;
  for (let index = 0; index < state.model.pageCount; index += 1) {
    const item = state.model.texts(index).find((t) => t.id === id);
    if (item) return item;
  }
  return null;
}

function changeSelectedText(changes) {
  if (findPlaced(state.selectedText)) run(() => state.model.updateText(state.selectedText, changes), { rerender: false });
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
    const width = (page ?? state.view.pages[0]).getViewport({ scale: 1 }).width;
    thumbRenderer.place(canvas, page, 112 / width, state.view.pages[0]);
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

// ---- adding text ----

function setAddingText(on) {
  state.addingText = on;
  ui.addText.setAttribute("aria-pressed", String(on));
  ui.pages.classList.toggle("adding-text", on);
  say(on ? "Click where the text should start; Enter adds it, Shift+Enter starts a new line, Escape cancels." : "");
}

function placeText(event, holder) {
  if (event.target.closest(".placed-text, .annotationLayer section, textarea")) return;
  if (!state.addingText || state.busy) {
    if (state.selectedText) selectText(null);
    return;
  }
  if (!holder.viewport) return;
  const canvas = holder.querySelector("canvas");
  const box = canvas.getBoundingClientRect();
  const cssX = event.clientX - box.left;
  const cssY = event.clientY - box.top;
  const [x, y] = holder.viewport.convertToPdfPoint(cssX, cssY);
  const index = Number(holder.dataset.index);
  const size = Number(ui.textSize.value);
  const color = ui.textColor.value;
  textEntry(holder, { left: canvas.offsetLeft + cssX, top: canvas.offsetTop + cssY, size, color,
    label: `Text to add on page ${index + 1}`, text: "" }, (text) => {
    if (text.trim() !== "") run(async () => selectText(await state.model.addText(index, { x, y, text, size, color })), { rerender: false });
  });
}

function editPlacedText(item, piece) {
  const holder = piece.closest(".page");
  piece.hidden = true;
  textEntry(holder, { left: piece.offsetLeft, top: piece.offsetTop, size: item.size, color: item.color,
    label: "Edit the placed text", text: item.text }, (text) => {
    piece.hidden = false;
    if (text === null || text === item.text) return;
    run(() => (text.trim() === "" ? state.model.removeText(item.id) : state.model.updateText(item.id, { text })), { rerender: false });
  });
}

// A box to type text in at (left, top) of the page; `done(text)` gets the text, or null if cancelled.
function textEntry(holder, { left, top, size, color, label, text }, done) {
  holder.querySelector("textarea.text-entry")?.remove();
  const input = document.createElement("textarea");
  input.className = "text-entry";
  input.setAttribute("aria-label", label);
  input.rows = Math.max(1, text.split("\n").length);
  input.value = text;
  input.style.left = `${left}px`;
  input.style.top = `${top}px`;
  input.style.fontSize = `${size * state.scale}px`;
  input.style.color = color;
  let finished = false;
  const finish = (commit) => {
    if (finished) return;
    finished = true;
    const value = input.value;
    input.remove();
    done(commit ? value : null);
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
  const view = state.view;
  view.onPage = (index) => { if (state.view === view) pageArrived(index); };
  state.pageTexts = null;
  if (state.query) runFind();
  ui.view.scrollTop = scroll;
}

function showEmpty(text) {
  state.view?.destroy();
  state.view = null;
  state.model = null;
  ui.pages.replaceChildren();
  ui.thumbs.replaceChildren();
  ui.empty.hidden = false;
  ui.emptyText.textContent = text;
  updateControls();
}

async function openBytes(bytes, name) {
  state.name = name;
  state.xfaFilled = false;
  state.selectedText = null;
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
  else if (model.hasXfa && !state.view.isXfa && model.fields().length === 0) showError(CANT_FILL);
  else if (state.view.isXfa && !model.xfaWritable) showError(CANT_SAVE_XFA);
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
    // An XFA form's values live in pdf.js, which writes them into the form's data.
    if (state.view.isXfa && state.xfaFilled) {
      let filled;
      try {
        filled = await state.view.pdf.saveDocument();
      } catch (error) {
        throw new DocumentError(`This XFA form's values couldn't be written (${error?.message ?? error}). ${FILL_ELSEWHERE}`);
      }
      await state.model.adopt("Fill in the form", filled);
      state.xfaFilled = false;
    }
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
ui.textSize.addEventListener("change", () => changeSelectedText({ size: Number(ui.textSize.value) }));
ui.textColor.addEventListener("change", () => changeSelectedText({ color: ui.textColor.value }));
ui.pages.addEventListener("keydown", (event) => {
  const piece = event.target.closest?.(".placed-text");
  if (!piece || !state.model || state.busy) return;
  const item = findPlaced(piece.dataset.id);
  if (!item) return;
  if (event.key === "Delete" || event.key === "Backspace") {
    event.preventDefault();
    state.selectedText = null;
    run(() => state.model.removeText(item.id), { rerender: false });
  } else if (event.key === "Enter") {
    event.preventDefault();
    editPlacedText(item, piece);
  }
});

// ---- find ----

async function pageTexts() {
  if (!state.pageTexts) {
    const view = state.view;
    const texts = [];
    // A page pdf.js couldn't read has no text to find.
    await view.ready.catch(() => {});
    for (const page of view.pages) {
      const { items } = page ? await page.getTextContent() : { items: [] };
      texts.push(items.map((item) => item.str).join(" ").toLocaleLowerCase());
    }
    if (view === state.view) state.pageTexts = texts;
    return texts;
  }
  return state.pageTexts;
}

async function runFind({ next = false } = {}) {
  state.query = ui.find.value.trim();
  for (const holder of ui.pages.children) highlight(holder, state.query);
  if (!state.query || !state.view) {
    ui.findCount.textContent = "";
    return;
  }
  const needle = state.query.toLocaleLowerCase();
  const counts = (await pageTexts()).map((text) => text.split(needle).length - 1);
  const total = counts.reduce((a, b) => a + b, 0);
  ui.findCount.textContent = total === 0 ? "Not found" : `${total} found`;
  if (!next || total === 0) return;
  // The next page with a match after the one at the top of the view.
  const top = [...ui.pages.children].findIndex((holder) => holder.offsetTop + holder.offsetHeight > ui.view.scrollTop + 1);
  const after = counts.findIndex((count, index) => count > 0 && index > top);
  const target = after >= 0 ? after : counts.findIndex((count) => count > 0);
  ui.pages.children[target]?.scrollIntoView({ block: "start" });
}

ui.find.addEventListener("input", () => runFind());
ui.find.addEventListener("keydown", (event) => {
  if (event.key === "Enter") { event.preventDefault(); runFind({ next: true }); }
  if (event.key === "Escape") { ui.find.value = ""; runFind(); }
});

new ResizeObserver(() => { if (state.fitWidth) layoutPages(); }).observe(ui.view);

document.addEventListener("keydown", (event) => {
  const typing = event.target.closest?.("input, textarea, select");
  if (event.key === "Escape" && state.addingText) setAddingText(false);
  if (!(event.ctrlKey || event.metaKey) || event.altKey) return;
  const key = event.key.toLowerCase();
  if (key === "s" && !ui.save.disabled) { event.preventDefault(); saveCopy(); }
  if (key === "o") { event.preventDefault(); chooseFile(); }
  if (key === "f" && state.view) { event.preventDefault(); ui.find.focus(); ui.find.select(); }
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

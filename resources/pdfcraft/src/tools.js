// The toolbar's page tools: signing, inserting pages from other files, extracting pages into a
// new file, and the file's size with "Make smaller". Every change goes through the document's
// edits, so undo and redo cover it like any other.
import { insertFiles, extractPages, parsePageChoice, mergeFiles, mergedName } from "./pages.js";
import { placeSignature } from "./signature.js";
import { SIZE_TARGETS, browserKit, formatSize, makeSmaller, applySmaller, smallerMessage } from "./shrink.js";
import { SignaturePad } from "./signpad.js";

function element(tag, props = {}, ...children) {
  const node = Object.assign(document.createElement(tag), props);
  for (const [key, value] of Object.entries(props.attrs ?? {})) node.setAttribute(key, value);
  node.append(...children);
  return node;
}

// `host` gives what the editor page shares: { toolbar, before (the element the tools go in
// front of), pages, view, model(), scale(), run(action), say(text), showError(text),
// download(bytes, name), name() }.
export function installTools(host) {
  const insertInput = element("input", { type: "file", id: "insert-files", multiple: true,
    accept: "application/pdf,image/jpeg,image/png,.pdf,.jpg,.jpeg,.png", className: "visually-hidden" });
  const insertLabel = element("label", { className: "button", id: "insert-label", title: "Insert pages from PDFs or scans after the page in view" },
    "Insert pages…", insertInput);
  const mergeInput = element("input", { type: "file", id: "merge-files", multiple: true,
    accept: "application/pdf,image/jpeg,image/png,.pdf,.jpg,.jpeg,.png", className: "visually-hidden" });
  const mergeLabel = element("label", { className: "button", id: "merge-label", title: "Put several PDFs or scans together into a new file" },
    "Merge…", mergeInput);
  const sign = element("button", { type: "button", id: "sign", textContent: "Sign…", disabled: true });
  const choice = element("input", { type: "text", id: "extract-choice", size: 7, placeholder: "1-3, 5",
    attrs: { "aria-label": "Pages to extract" } });
  const extract = element("button", { type: "button", id: "extract", textContent: "Extract", disabled: true,
    title: "Save the chosen pages as a new file" });
  const size = element("output", { id: "file-size", attrs: { "aria-label": "File size" } });
  const target = element("select", { id: "size-target", attrs: { "aria-label": "Size to fit in" } });
  for (const bytes of SIZE_TARGETS) target.append(new Option(`Fit ${formatSize(bytes)}`, String(bytes)));
  const smaller = element("button", { type: "button", id: "make-smaller", textContent: "Make smaller", disabled: true });
  host.toolbar.insertBefore(element("span", { className: "group", attrs: { role: "group", "aria-label": "Pages" } },
    insertLabel, sign, choice, extract, mergeLabel), host.before);
  host.toolbar.insertBefore(element("span", { className: "group", attrs: { role: "group", "aria-label": "File size" } },
    size, target, smaller), host.before);

  const pad = new SignaturePad();
  let placing = null;

  // The page most in view: the first whose lower edge is below the view's upper third.
  const pageInView = () => {
    const line = host.view.getBoundingClientRect().top + host.view.clientHeight / 3;
    const holders = [...host.pages.children];
    return holders.find((holder) => holder.getBoundingClientRect().bottom > line) ?? holders.at(-1);
  };

  insertInput.addEventListener("change", async () => {
    const chosen = [...insertInput.files];
    insertInput.value = "";
    if (chosen.length === 0 || !host.model()) return;
    const files = await Promise.all(chosen.map(async (file) => ({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) })));
    const at = Number(pageInView()?.dataset.index ?? -1) + 1;
    let added = 0;
    await host.run(() => host.model().edit(files.length > 1 ? "Insert files" : "Insert pages", async (doc) => {
      added = await insertFiles(doc, at, files);
    }));
    if (added) host.say(`${added} ${added === 1 ? "page" : "pages"} added after page ${at}.`);
  });

  extract.addEventListener("click", async () => {
    const model = host.model();
    if (!model) return;
    let bytes = null;
    let indexes = [];
    await host.run(async () => {
      indexes = parsePageChoice(choice.value, model.pageCount);
      bytes = await extractPages(model.bytes, indexes);
    }, { rerender: false });
    if (!bytes) return;
    const base = host.name().replace(/\.pdf$/i, "");
    const pagesText = choice.value.replace(/\s+/g, "").replace(/,/g, "_");
    host.download(bytes, `${base}-pages-${pagesText}.pdf`);
  });

  // The files chosen, in the order chosen, become a new file saved like an extract; the
  // document being edited is left as it is.
  mergeInput.addEventListener("change", async () => {
    const chosen = [...mergeInput.files];
    mergeInput.value = "";
    if (chosen.length === 0) return;
    let bytes = null;
    await host.run(async () => {
      const files = await Promise.all(chosen.map(async (file) => ({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) })));
      bytes = await mergeFiles(files);
    }, { rerender: false });
    if (bytes) host.download(bytes, mergedName(chosen.map((file) => file.name)));
  });

  smaller.addEventListener("click", () => {
    const model = host.model();
    if (!model) return;
    const limit = Number(target.value);
    host.run(async () => {
      const result = await makeSmaller(model.bytes, limit, browserKit, {
        onStep: (step, steps) => host.say(`Making the file smaller (step ${step + 1} of ${steps})…`),
      });
      if (result.bytes !== model.bytes) await model.edit("Make smaller", (doc) => applySmaller(doc, result));
      const message = smallerMessage(result, limit);
      host.say(message);
      if (!result.reached) host.showError(message);
    });
  });

  sign.addEventListener("click", async () => {
    if (!host.model() || placing) return;
    const holder = pageInView();
    const signature = await pad.choose();
    if (signature && holder?.isConnected) startPlacing(holder, signature);
  });

  // The signature shows in a box over the page, to be moved (dragged) and sized (its corner
  // handle, keeping its shape) before it is placed.
  function startPlacing(holder, signature) {
    const page = holder.querySelector("canvas");
    const maxWidth = page.offsetWidth * 0.4;
    const width = Math.min(maxWidth, signature.canvas.width * host.scale() * 0.5);
    const ratio = signature.canvas.height / signature.canvas.width;
    const preview = element("canvas", { width: signature.canvas.width, height: signature.canvas.height });
    preview.getContext("2d").drawImage(signature.canvas, 0, 0);
    const handle = element("span", { className: "sign-handle", attrs: { "aria-hidden": "true" } });
    const place = element("button", { type: "button", className: "primary", textContent: "Place", id: "sign-box-place" });
    const cancel = element("button", { type: "button", textContent: "Cancel" });
    const box = element("div", { className: "sign-box", tabIndex: 0,
      attrs: { role: "group", "aria-label": "Signature to place: drag to move, drag the corner to size, Enter places it" } },
    preview, handle, element("span", { className: "sign-box-tools" }, cancel, place));
    const frame = { left: page.offsetLeft + (page.offsetWidth - width) / 2, top: page.offsetTop + page.offsetHeight * 0.7, width };
    const layout = () => {
      frame.width = Math.max(24, Math.min(frame.width, page.offsetWidth));
      const height = frame.width * ratio;
      frame.left = Math.min(Math.max(frame.left, page.offsetLeft), page.offsetLeft + page.offsetWidth - frame.width);
      frame.top = Math.min(Math.max(frame.top, page.offsetTop), page.offsetTop + page.offsetHeight - height);
      Object.assign(box.style, { left: `${frame.left}px`, top: `${frame.top}px`, width: `${frame.width}px`, height: `${height}px` });
    };
    layout();
    let drag = null;
    box.addEventListener("pointerdown", (event) => {
      if (event.target.closest("button")) return;
      event.preventDefault();
      try { box.setPointerCapture(event.pointerId); } catch { /* a pointer the window no longer tracks */ }
      drag = { resize: event.target === handle, x: event.clientX, y: event.clientY, start: { ...frame } };
    });
    box.addEventListener("pointermove", (event) => {
      if (!drag) return;
      const dx = event.clientX - drag.x;
      const dy = event.clientY - drag.y;
      if (drag.resize) frame.width = drag.start.width + dx;
      else Object.assign(frame, { left: drag.start.left + dx, top: drag.start.top + dy });
      layout();
    });
    for (const type of ["pointerup", "pointercancel"]) box.addEventListener(type, () => { drag = null; });
    box.addEventListener("click", (event) => event.stopPropagation());
    const end = () => { box.remove(); placing = null; };
    const commit = () => {
      const index = Number(holder.dataset.index);
      const left = frame.left - page.offsetLeft;
      const top = frame.top - page.offsetTop;
      const height = frame.width * ratio;
      const corner = (x, y) => holder.viewport.convertToPdfPoint(x, y);
      const corners = {
        bottomLeft: corner(left, top + height), bottomRight: corner(left + frame.width, top + height), topLeft: corner(left, top),
      };
      end();
      host.run(() => host.model().edit("Sign", (doc) => placeSignature(doc, index, signature.png, corners)));
    };
    place.addEventListener("click", commit);
    cancel.addEventListener("click", end);
    box.addEventListener("keydown", (event) => {
      if (event.key === "Enter") { event.preventDefault(); commit(); }
      if (event.key === "Escape") { event.preventDefault(); end(); }
    });
    holder.append(box);
    placing = { box, commit, frame, layout };
    box.focus();
    host.say("Drag the signature where it goes and its corner to size it; Enter or Place puts it on the page.");
  }

  return {
    // Follows the editor's state: whether edits can be made now.
    update(editable, { busy = false } = {}) {
      const model = host.model();
      mergeInput.disabled = busy;
      mergeLabel.classList.toggle("disabled", busy);
      insertInput.disabled = sign.disabled = extract.disabled = smaller.disabled = target.disabled = choice.disabled = !editable;
      insertLabel.classList.toggle("disabled", !editable);
      size.textContent = model ? formatSize(model.bytes.length) : "";
      size.title = model ? `The file is ${model.bytes.length.toLocaleString("en")} bytes before unsaved text and form values` : "";
    },
    // The box being placed, for tests that drive the window: { frame, layout, commit } or null.
    get placing() { return placing; },
  };
}

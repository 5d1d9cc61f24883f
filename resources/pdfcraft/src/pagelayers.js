// What lies over each drawn page: pdf.js's text layer (find, select and copy), its form layer
// (fields filled where they are) or, for XFA forms, its XFA layer, and the placed text, which
// stays movable and editable until the copy is saved.
import { AnnotationLayer, TextLayer, XfaLayer } from "pdfjs-dist";
import { sensibleSize } from "./textsize.js";

// Links in the document are shown but never followed: the editor stays offline.
const linkService = {
  externalLinkEnabled: false,
  eventBus: null,
  addLinkAttributes(link, url) { link.title = url; },
  getDestinationHash: () => "#",
  getAnchorUrl: () => "#",
  executeNamedAction() {},
  executeSetOCGState() {},
  goToDestination() {},
};

function layer(holder, name) {
  holder.querySelector(`:scope > .${name}`)?.remove();
  const div = document.createElement("div");
  div.className = name;
  holder.append(div);
  return div;
}

// The value a filled-in control gives its field, in the form the model takes; undefined when the
// event says nothing (a radio button being unchecked).
export function fieldValue(data, control) {
  if (data.fieldType === "Tx") return control.value;
  if (data.checkBox) return control.checked;
  if (data.radioButton) return control.checked ? data.buttonValue : undefined;
  if (data.fieldType === "Ch") {
    const chosen = [...control.selectedOptions].map((option) => option.textContent);
    return data.combo ? chosen[0] ?? "" : chosen;
  }
  return undefined;
}

// What pdf.js's form layer keeps for a field's control, from the model's field (its value, and
// for radio buttons each option's state name).
export function storedValue(data, { value, options, states }) {
  if (data.fieldType === "Tx" || data.checkBox) return { value };
  if (data.radioButton) {
    const state = states && options.length === states.length ? states[options.indexOf(value)] : undefined;
    return { value: value !== null && (value === data.buttonValue || state === data.buttonValue) };
  }
  if (data.fieldType === "Ch") {
    const exportOf = new Map((data.options ?? []).map((o) => [o.displayValue, o.exportValue]));
    return { value: [value].flat().filter((v) => v !== "").map((v) => exportOf.get(v) ?? v) };
  }
  return null;
}

// Draws the text and form layers of one page. `values` maps field names to the model's fields; `onField(name, value, control)` is called as fields are filled in.
export async function drawPageLayers(holder, page, viewport, { storage, isXfa, values, onField }) {
  holder.style.setProperty("--scale-factor", String(viewport.scale));
  holder.style.setProperty("--total-scale-factor", String(viewport.scale));
  holder.style.setProperty("--user-unit", "1");
  holder.style.setProperty("--scale-round-x", "1px");
  holder.style.setProperty("--scale-round-y", "1px");
  const flat = viewport.clone({ dontFlip: true });

  if (isXfa) {
    const div = layer(holder, "xfaLayer");
    const xfaHtml = await page.getXfa();
    if (xfaHtml) XfaLayer.render({ viewport: flat, div, xfaHtml, annotationStorage: storage, linkService, intent: "display" });
    return;
  }

  const text = layer(holder, "textLayer");
  const textLayer = new TextLayer({ textContentSource: page.streamTextContent(), container: text, viewport });
  await textLayer.render();

  const annotations = await page.getAnnotations({ intent: "display" });
  const forms = layer(holder, "annotationLayer");
  const byId = new Map();
  for (const data of annotations) {
    if (!data.fieldName) continue;
    // pdf.js sizes a multi-line field's text from its appearance string, which may ask for the
    // size of the whole box (see textsize.js).
    if (data.fieldType === "Tx" && data.multiLine && data.defaultAppearanceData) {
      data.defaultAppearanceData.fontSize = sensibleSize(data.defaultAppearanceData.fontSize);
    }
    byId.set(data.id, data);
    if (values.has(data.fieldName)) {
      const stored = storedValue(data, values.get(data.fieldName));
      if (stored) storage.setValue(data.id, stored);
    }
  }
  const annotationLayer = new AnnotationLayer({ div: forms, page, viewport: flat, annotationStorage: storage, linkService });
  await annotationLayer.render({
    annotations, viewport: flat, div: forms, page, linkService, annotationStorage: storage,
    renderForms: true, enableScripting: false, hasJSActions: false, fieldObjects: null,
  });
  const changed = (event) => {
    const id = event.target.closest?.("[data-annotation-id]")?.dataset.annotationId;
    const data = byId.get(id);
    if (!data) return;
    const value = fieldValue(data, event.target);
    if (value !== undefined) onField(data.fieldName, value, event.target);
  };
  forms.addEventListener("input", changed);
  forms.addEventListener("change", (event) => { if (event.target.type !== "text" && event.target.localName !== "textarea") changed(event); });
}

// Marks the words of the text layer that contain `query` (case-insensitive); returns how many.
export function highlight(holder, query) {
  const spans = holder.querySelectorAll(".textLayer span");
  const needle = query.toLocaleLowerCase();
  let found = 0;
  for (const span of spans) {
    const hit = needle !== "" && span.textContent.toLocaleLowerCase().includes(needle);
    span.classList.toggle("highlight", hit);
    if (hit) found += 1;
  }
  return found;
}

// The placed text of one page, each piece upright where the reader sees it.
export function drawPlacedText(holder, viewport, items, { lineHeight, selected, onSelect, onMove, onEdit }) {
  const div = layer(holder, "placedLayer");
  for (const item of items) {
    const [left, top] = viewport.convertToViewportPoint(item.x, item.y);
    const piece = document.createElement("div");
    piece.className = "placed-text";
    piece.classList.toggle("selected", item.id === selected);
    piece.tabIndex = 0;
    piece.dataset.id = item.id;
    piece.textContent = item.text;
    piece.setAttribute("aria-label", `Placed text “${item.text}”`);
    piece.style.left = `${left}px`;
    piece.style.top = `${top}px`;
    piece.style.fontSize = `${item.size * viewport.scale}px`;
    piece.style.lineHeight = String(lineHeight);
    piece.style.color = item.color;
    piece.addEventListener("pointerdown", (event) => {
      if (event.button !== 0) return;
      event.stopPropagation();
      event.preventDefault();
      piece.focus();
      onSelect(item.id);
      const start = { x: event.clientX, y: event.clientY };
      let moved = false;
      try {
        piece.setPointerCapture(event.pointerId);
      } catch {
        // A pointer the browser doesn't know (a synthetic one) still moves the text.
      }
      const move = (step) => {
        const dx = step.clientX - start.x;
        const dy = step.clientY - start.y;
        moved ||= Math.hypot(dx, dy) > 3;
        if (moved) piece.style.transform = `translate(${dx}px, ${dy}px)`;
      };
      const up = (end) => {
        piece.removeEventListener("pointermove", move);
        piece.removeEventListener("pointerup", up);
        if (!moved) return;
        const [x, y] = viewport.convertToPdfPoint(left + end.clientX - start.x, top + end.clientY - start.y);
        onMove(item.id, x, y);
      };
      piece.addEventListener("pointermove", move);
      piece.addEventListener("pointerup", up);
    });
    piece.addEventListener("click", (event) => event.stopPropagation());
    piece.addEventListener("dblclick", (event) => { event.stopPropagation(); onEdit(item, piece); });
    piece.addEventListener("focus", () => onSelect(item.id));
    div.append(piece);
  }
}

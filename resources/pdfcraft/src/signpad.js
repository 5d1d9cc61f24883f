// The signature dialog: draw a signature (mouse, touchpad or pen), type one, or pick a picture of
// one. It answers the signature as a PNG with a clear background, cut to its ink. Signatures made
// in this window are kept and offered again until the window closes.
import { inkBounds } from "./signature.js";

const PAD_WIDTH = 600;
const PAD_HEIGHT = 200;

function element(tag, props = {}, ...children) {
  const node = Object.assign(document.createElement(tag), props);
  for (const [key, value] of Object.entries(props.attrs ?? {})) node.setAttribute(key, value);
  node.append(...children);
  return node;
}

async function pngOf(canvas) {
  const blob = await new Promise((resolve) => canvas.toBlob(resolve, "image/png"));
  if (!blob) throw new Error("the signature couldn't be made into a picture");
  return new Uint8Array(await blob.arrayBuffer());
}

// The pad's drawing cut to its ink, or null when the pad is empty.
function trimmed(pad) {
  const context = pad.getContext("2d");
  const box = inkBounds(context.getImageData(0, 0, pad.width, pad.height).data, pad.width, pad.height);
  if (!box) return null;
  const margin = 4;
  const x = Math.max(0, box.x - margin);
  const y = Math.max(0, box.y - margin);
  const cut = element("canvas", {
    width: Math.min(pad.width - x, box.width + 2 * margin), height: Math.min(pad.height - y, box.height + 2 * margin),
  });
  cut.getContext("2d").drawImage(pad, x, y, cut.width, cut.height, 0, 0, cut.width, cut.height);
  return cut;
}

export class SignaturePad {
  #dialog;
  #pad;
  #typed;
  #picture;
  #earlier;
  #mode = "draw";
  #resolve = null;
  // Signatures made while the window is open: { canvas, png }.
  saved = [];

  constructor() {
    this.#pad = element("canvas", { width: PAD_WIDTH, height: PAD_HEIGHT, className: "sign-pad", attrs: { "aria-label": "Signature pad" } });
    this.#typed = element("input", { type: "text", className: "sign-typed", placeholder: "Type your name", attrs: { "aria-label": "Typed signature" } });
    this.#picture = element("input", { type: "file", accept: "image/png,image/jpeg", className: "visually-hidden" });
    const pictureLabel = element("label", { className: "button" }, "Picture of a signature…", this.#picture);
    const modes = element("div", { className: "sign-modes", attrs: { role: "group", "aria-label": "How to sign" } });
    for (const [mode, text] of [["draw", "Draw"], ["type", "Type"]]) {
      const button = element("button", { type: "button", textContent: text, attrs: { "aria-pressed": String(mode === "draw") } });
      button.dataset.mode = mode;
      button.addEventListener("click", () => this.#setMode(mode));
      modes.append(button);
    }
    modes.append(pictureLabel);
    const clear = element("button", { type: "button", textContent: "Clear" });
    clear.addEventListener("click", () => this.#clear());
    this.#earlier = element("div", { className: "sign-earlier", attrs: { role: "group", "aria-label": "Signatures made earlier" } });
    const place = element("button", { type: "button", className: "primary", textContent: "Place on page", id: "sign-place" });
    const cancel = element("button", { type: "button", textContent: "Cancel" });
    place.addEventListener("click", () => this.#finish());
    cancel.addEventListener("click", () => this.#close(null));
    this.#dialog = element("dialog", { className: "sign-dialog", id: "sign-dialog", attrs: { "aria-label": "Signature" } },
      element("h2", { textContent: "Signature" }),
      modes, this.#pad, this.#typed,
      element("div", { className: "sign-actions" }, clear, element("span", { className: "spacer" }), cancel, place),
      this.#earlier);
    this.#dialog.addEventListener("cancel", (event) => { event.preventDefault(); this.#close(null); });
    document.body.append(this.#dialog);
    this.#typed.addEventListener("input", () => this.#drawTyped());
    this.#picture.addEventListener("change", () => this.#drawPicture());
    this.#listen();
    this.#setMode("draw");
  }

  // Shows the dialog; answers { canvas, png } for the signature chosen, or null when cancelled.
  choose() {
    this.#showEarlier();
    this.#clear();
    this.#dialog.showModal();
    return new Promise((resolve) => { this.#resolve = resolve; });
  }

  #setMode(mode) {
    this.#mode = mode;
    for (const button of this.#dialog.querySelectorAll(".sign-modes button")) {
      button.setAttribute("aria-pressed", String(button.dataset.mode === mode));
    }
    this.#typed.hidden = mode !== "type";
    this.#pad.classList.toggle("drawing", mode === "draw");
    this.#clear();
    if (mode === "type") this.#typed.focus();
  }

  #clear() {
    this.#pad.getContext("2d").clearRect(0, 0, PAD_WIDTH, PAD_HEIGHT);
    if (this.#mode === "type") this.#drawTyped();
  }

  // Pointer events cover mouse, touchpad, touch and pen alike; a pen's pressure thickens the line.
  #listen() {
    const pad = this.#pad;
    let last = null;
    const point = (event) => {
      const box = pad.getBoundingClientRect();
      return {
        x: ((event.clientX - box.left) * pad.width) / (box.width || pad.width),
        y: ((event.clientY - box.top) * pad.height) / (box.height || pad.height),
        width: event.pointerType === "pen" && event.pressure > 0 ? 1.5 + event.pressure * 4 : 3,
      };
    };
    pad.addEventListener("pointerdown", (event) => {
      if (this.#mode !== "draw") return;
      event.preventDefault();
      try { pad.setPointerCapture(event.pointerId); } catch { /* a pointer the window no longer tracks */ }
      last = point(event);
      const context = pad.getContext("2d");
      context.fillStyle = "#12205c";
      context.beginPath();
      context.arc(last.x, last.y, last.width / 2, 0, Math.PI * 2);
      context.fill();
    });
    pad.addEventListener("pointermove", (event) => {
      if (!last) return;
      const next = point(event);
      const context = pad.getContext("2d");
      context.strokeStyle = "#12205c";
      context.lineCap = context.lineJoin = "round";
      context.lineWidth = next.width;
      context.beginPath();
      context.moveTo(last.x, last.y);
      context.lineTo(next.x, next.y);
      context.stroke();
      last = next;
    });
    for (const type of ["pointerup", "pointercancel", "lostpointercapture"]) pad.addEventListener(type, () => { last = null; });
  }

  #drawTyped() {
    const context = this.#pad.getContext("2d");
    context.clearRect(0, 0, PAD_WIDTH, PAD_HEIGHT);
    const text = this.#typed.value.trim();
    if (!text) return;
    let size = 72;
    const font = (px) => `italic ${px}px "DejaVu Serif", "URW Chancery L", cursive, serif`;
    context.font = font(size);
    while (size > 16 && context.measureText(text).width > PAD_WIDTH - 24) context.font = font(--size);
    context.fillStyle = "#12205c";
    context.textBaseline = "middle";
    context.fillText(text, 12, PAD_HEIGHT / 2);
  }

  async #drawPicture() {
    const file = this.#picture.files[0];
    this.#picture.value = "";
    if (!file) return;
    this.#setMode("picture");
    let bitmap;
    try {
      bitmap = await createImageBitmap(file);
    } catch {
      this.#dialog.querySelector(".sign-error")?.remove();
      this.#pad.after(element("p", { className: "sign-error", textContent: `${file.name} isn't a picture that can be read.` }));
      return;
    }
    this.#dialog.querySelector(".sign-error")?.remove();
    const scale = Math.min(PAD_WIDTH / bitmap.width, PAD_HEIGHT / bitmap.height, 1);
    const context = this.#pad.getContext("2d");
    context.clearRect(0, 0, PAD_WIDTH, PAD_HEIGHT);
    context.drawImage(bitmap, 0, 0, bitmap.width * scale, bitmap.height * scale);
    bitmap.close();
  }

  #showEarlier() {
    this.#earlier.replaceChildren();
    this.#earlier.hidden = this.saved.length === 0;
    this.saved.forEach((signature, i) => {
      const preview = element("canvas", { width: signature.canvas.width, height: signature.canvas.height });
      preview.getContext("2d").drawImage(signature.canvas, 0, 0);
      const button = element("button", { type: "button", className: "sign-again", attrs: { "aria-label": `Use signature ${i + 1} again` } }, preview);
      button.addEventListener("click", () => this.#close(signature));
      this.#earlier.append(button);
    });
  }

  async #finish() {
    const canvas = trimmed(this.#pad);
    if (!canvas) {
      this.#dialog.querySelector(".sign-error")?.remove();
      this.#pad.after(element("p", { className: "sign-error", textContent: "Sign on the pad, type a name or pick a picture first." }));
      return;
    }
    const signature = { canvas, png: await pngOf(canvas) };
    this.saved.push(signature);
    this.#close(signature);
  }

  #close(signature) {
    this.#dialog.querySelector(".sign-error")?.remove();
    if (this.#dialog.open) this.#dialog.close();
    this.#resolve?.(signature);
    this.#resolve = null;
  }
}

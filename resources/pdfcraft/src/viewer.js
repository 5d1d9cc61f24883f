// Rendering with pdf.js: the pages in the main view and their thumbnails, each drawn when it
// scrolls into sight. pdf.js's worker, WebAssembly decoders, character maps and fonts all come
// from the site's own folder.
import { AnnotationMode, getDocument, GlobalWorkerOptions } from "pdfjs-dist";
import { loadPages } from "./pageload.js";

const base = new URL("./", document.baseURI).href;
GlobalWorkerOptions.workerSrc = new URL("pdf.worker.js", base).href;

export class RenderError extends Error {}

export async function openForView(bytes) {
  // pdf.js hands its copy of the bytes to its worker, which detaches them.
  const task = getDocument({
    data: bytes.slice(),
    isEvalSupported: false,
    enableXfa: true,
    wasmUrl: base,
    cMapUrl: new URL("cmaps/", base).href,
    cMapPacked: true,
    standardFontDataUrl: new URL("standard_fonts/", base).href,
    iccUrl: new URL("iccs/", base).href,
  });
  try {
    const pdf = await task.promise;
    // Returns once page 1 is known; the others fill `pages` as they arrive (see loadPages).
    const loaded = await loadPages(pdf);
    return Object.assign(loaded, { pdf, isXfa: pdf.isPureXfa, destroy: () => task.destroy() });
  } catch (error) {
    task.destroy();
    if (error?.name === "PasswordException") {
      throw new RenderError("This PDF is password-protected; PdfCraft can't open it.");
    }
    throw new RenderError(`This file isn't a readable PDF (${error?.message ?? error}).`);
  }
}

// Draws pages into canvases as they come into view and empties them again once they are far out
// of it; a redraw of the same canvas cancels the last one.
export class LazyRenderer {
  #observer;
  #jobs = new WeakMap();

  #layers;
  #annotationMode;

  // `layers(canvas)`, if given, draws what lies over the page each time it is drawn; form fields
  // then come from those layers rather than the canvas.
  constructor(root, { layers = null } = {}) {
    this.#layers = layers;
    this.#annotationMode = layers ? AnnotationMode.ENABLE_FORMS : AnnotationMode.ENABLE;
    this.#observer = new IntersectionObserver((entries) => {
      for (const entry of entries) {
        if (entry.isIntersecting) this.#draw(entry.target);
        else this.#release(entry.target);
      }
    }, { root, rootMargin: "400px 0px" });
  }

  // Sizes the canvas at once (so the layout is stable) and draws it when it is near the viewport.
  // A page not known yet (null) is held empty at the size of `standIn` until it is placed.
  place(canvas, page, scale, standIn = page) {
    const viewport = (page ?? standIn).getViewport({ scale });
    canvas.style.width = `${Math.floor(viewport.width)}px`;
    canvas.style.height = `${Math.floor(viewport.height)}px`;
    if (!page) {
      this.#observer.unobserve(canvas);
      return null;
    }
    canvas.pdfPage = page;
    canvas.pdfScale = scale;
    this.#observer.unobserve(canvas);
    this.#observer.observe(canvas);
    return viewport;
  }

  async #draw(canvas) {
    this.#jobs.get(canvas)?.cancel();
    const ratio = window.devicePixelRatio || 1;
    const viewport = canvas.pdfPage.getViewport({ scale: canvas.pdfScale * ratio });
    canvas.width = Math.floor(viewport.width);
    canvas.height = Math.floor(viewport.height);
    if (this.#layers) {
      this.#layers(canvas).catch((error) => {
        canvas.title = `This page's text and fields couldn't be shown (${error?.message ?? error}).`;
      });
    }
    const job = canvas.pdfPage.render({ canvasContext: canvas.getContext("2d"), viewport, annotationMode: this.#annotationMode });
    this.#jobs.set(canvas, job);
    try {
      await job.promise;
      canvas.classList.remove("failed");
    } catch (error) {
      if (error?.name !== "RenderingCancelledException") {
        canvas.classList.add("failed");
        canvas.title = `This page couldn't be drawn (${error?.message ?? error}).`;
      }
    }
  }

  // A page well out of sight gives back its pixels and pdf.js's decoded pictures and fonts, so a
  // long scanned file holds memory only for the pages near the view. It keeps its size on screen.
  #release(canvas) {
    this.#jobs.get(canvas)?.cancel();
    this.#jobs.delete(canvas);
    if (canvas.width === 0) return;
    canvas.width = 0;
    canvas.height = 0;
    canvas.pdfPage?.cleanup();
  }

  clear() {
    this.#observer.disconnect();
  }
}

// Rendering with pdf.js: the pages in the main view and their thumbnails, each drawn when it
// scrolls into sight. pdf.js's worker, WebAssembly decoders, character maps and fonts all come
// from the site's own folder.
import { getDocument, GlobalWorkerOptions } from "pdfjs-dist";

const base = new URL("./", document.baseURI).href;
GlobalWorkerOptions.workerSrc = new URL("pdf.worker.js", base).href;

export class RenderError extends Error {}

export async function openForView(bytes) {
  // pdf.js hands its copy of the bytes to its worker, which detaches them.
  const task = getDocument({
    data: bytes.slice(),
    isEvalSupported: false,
    enableXfa: false,
    wasmUrl: base,
    cMapUrl: new URL("cmaps/", base).href,
    cMapPacked: true,
    standardFontDataUrl: new URL("standard_fonts/", base).href,
    iccUrl: new URL("iccs/", base).href,
  });
  try {
    const pdf = await task.promise;
    const pages = [];
    for (let n = 1; n <= pdf.numPages; n += 1) pages.push(await pdf.getPage(n));
    return { pdf, pages, destroy: () => task.destroy() };
  } catch (error) {
    task.destroy();
    if (error?.name === "PasswordException") {
      throw new RenderError("This PDF is password-protected; PdfCraft can't open it.");
    }
    throw new RenderError(`This file isn't a readable PDF (${error?.message ?? error}).`);
  }
}

// Draws pages into canvases as they come into view; a redraw of the same canvas cancels the last one.
export class LazyRenderer {
  #observer;
  #jobs = new WeakMap();

  constructor(root) {
    this.#observer = new IntersectionObserver((entries) => {
      for (const entry of entries) {
        if (entry.isIntersecting) {
          this.#observer.unobserve(entry.target);
          this.#draw(entry.target);
        }
      }
    }, { root, rootMargin: "400px 0px" });
  }

  // Sizes the canvas at once (so the layout is stable) and draws it when it is near the viewport.
  place(canvas, page, scale) {
    const viewport = page.getViewport({ scale });
    canvas.style.width = `${Math.floor(viewport.width)}px`;
    canvas.style.height = `${Math.floor(viewport.height)}px`;
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
    const job = canvas.pdfPage.render({ canvasContext: canvas.getContext("2d"), viewport });
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

  clear() {
    this.#observer.disconnect();
  }
}

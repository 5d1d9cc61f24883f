// Asks pdf.js for a document's pages so the first can be drawn as soon as it is known: page 1
// first, then the rest all at once (one after another, a long file keeps the worker waiting).
// `pages` holds each page as it arrives (null until then); `onPage(index, page)`, set by the view
// once it has laid out what it has, hears of each later arrival; `ready` settles when all are in.
export async function loadPages(pdf) {
  const first = await pdf.getPage(1);
  const pages = Array.from({ length: pdf.numPages }, (_, i) => (i === 0 ? first : null));
  const loaded = { pages, onPage: null, ready: null };
  loaded.ready = Promise.all(pages.slice(1).map((_, i) => pdf.getPage(i + 2).then((page) => {
    pages[i + 1] = page;
    loaded.onPage?.(i + 1, page);
    return page;
  }))).then(() => pages);
  // A page that can't be read shows as a placeholder; the failure is for whoever waits on `ready`.
  loaded.ready.catch(() => {});
  return loaded;
}

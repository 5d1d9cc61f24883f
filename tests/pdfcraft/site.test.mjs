import { test } from "node:test";
import assert from "node:assert/strict";
import { existsSync, readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { importSource, siteDir } from "./helpers.mjs";

const { documentAddress, fileNameOf, editedName, fetchDocument } = await importSource("address.js");
const { compileSiteModules } = await importSource("wasm.js");

const response = (status, body) => new Response(body, { status });

test("the document and its names come from the file parameter, and fetching it tells an expired hand-over apart", async () => {
  const address = "pdfcraft://app/doc/0123456789abcdef0123456789abcdef/My%20Form%2Fv2.pdf";
  assert.deepEqual([documentAddress(`?file=${encodeURIComponent(address)}`), documentAddress("?file=")], [address, null]);
  assert.deepEqual([fileNameOf(address), fileNameOf("pdfcraft://app/doc/0123456789abcdef/")], ["My Form/v2.pdf", "0123456789abcdef"]);
  assert.deepEqual([editedName("Form.PDF"), editedName("")], ["Form-edited.pdf", "document-edited.pdf"]);

  assert.equal(new TextDecoder().decode(await fetchDocument("x", async () => response(200, "%PDF-1.7"))), "%PDF-1.7");
  const failures = [[404, "gone", /no longer available/], [404, "not found", /wasn't found/], [500, "gone", /status 500/], [200, "", /empty/]];
  for (const [status, body, reason] of failures) await assert.rejects(fetchDocument("x", async () => response(status, body)), reason);
  await assert.rejects(fetchDocument("x", async () => { throw new TypeError("Load failed"); }), /Load failed/);
});

test("the built site holds what its page and bundle load, and its WebAssembly compiles or names the broken module", async () => {
  const site = siteDir();
  const html = readFileSync(join(site, "index.html"), "utf8");
  assert.deepEqual([...html.matchAll(/(?:src|href)="([^"]+)"/g)].map((m) => m[1]).sort(), ["pdfcraft.css", "pdfcraft.js"]);
  const bundle = readFileSync(join(site, "pdfcraft.js"), "utf8");
  for (const ref of ["pdf.worker.js", "cmaps/", "standard_fonts/", "iccs/"]) assert.ok(bundle.includes(`"${ref}"`), ref);
  for (const ref of ["pdfcraft.css", "pdf.worker.js", "cmaps/78-H.bcmap", "standard_fonts/", "iccs/", "fonts/DejaVuSans.ttf",
    "openjpeg.wasm", "qcms_bg.wasm"]) {
    assert.ok(existsSync(join(site, ref)), ref);
  }
  assert.match(readFileSync(join(site, "VERSION.txt"), "utf8"), /^PdfCraft web \d+\.\d+\.\d+ \(built in\)/);

  const wasm = readdirSync(site).filter((n) => n.endsWith(".wasm"));
  const base = pathToFileURL(`${site}/index.html`);
  const serve = (broken) => async (url) => {
    const name = new URL(url).pathname.split("/").pop();
    if (name === broken) return response(200, new Uint8Array([0, 97, 115, 109, 9, 9]));
    if (!existsSync(join(site, name))) return response(404, "not found");
    return new Response(readFileSync(join(site, name)), { headers: { "Content-Type": "application/wasm" } });
  };
  const realFetch = globalThis.fetch;
  try {
    globalThis.fetch = serve(null);
    const { modules } = await compileSiteModules(wasm, base);
    assert.deepEqual([Object.keys(modules).sort(), modules["openjpeg.wasm"].exports.length > 0], [wasm.sort(), true]);
    globalThis.fetch = serve("qcms_bg.wasm");
    await assert.rejects(compileSiteModules(wasm, base), /^Error: qcms_bg\.wasm: /);
    await assert.rejects(compileSiteModules(["missing.wasm"], base), /missing\.wasm: status 404/);
    await assert.rejects(compileSiteModules([], base), /without its WebAssembly/);
  } finally {
    globalThis.fetch = realFetch;
  }
});

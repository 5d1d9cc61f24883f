import { test } from "node:test";
import assert from "node:assert/strict";
import { existsSync, readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { importSource, siteDir } from "./build-copy.mjs";

const { documentAddress, fileNameOf, editedName, fetchDocument } = await importSource("address.js");
const { compileSiteModules } = await importSource("wasm.js");

const response = (status, body) => new Response(body, { status });

test("the document address and its names come from the file parameter", () => {
  const address = "pdfcraft://app/doc/0123456789abcdef0123456789abcdef/My%20Form%2Fv2.pdf";
  assert.equal(documentAddress(`?file=${encodeURIComponent(address)}`), address);
  assert.equal(documentAddress(""), null);
  assert.equal(fileNameOf(address), "My Form/v2.pdf");
  assert.equal(fileNameOf("pdfcraft://app/doc/0123456789abcdef0123456789abcdef/"), "0123456789abcdef0123456789abcdef");
  assert.equal(editedName("Form.PDF"), "Form-edited.pdf");
  assert.equal(editedName(""), "document-edited.pdf");
});

test("fetching tells an expired hand-over from a missing or broken one", async () => {
  const bytes = await fetchDocument("x", async () => response(200, "%PDF-1.7"));
  assert.equal(new TextDecoder().decode(bytes), "%PDF-1.7");
  await assert.rejects(fetchDocument("x", async () => response(404, "gone")), /no longer available/);
  await assert.rejects(fetchDocument("x", async () => response(404, "not found")), /wasn't found/);
  await assert.rejects(fetchDocument("x", async () => response(200, "")), /empty/);
  await assert.rejects(fetchDocument("x", async () => { throw new TypeError("Load failed"); }), /Load failed/);
});

test("the built site has its start page, scripts, WebAssembly and version at the top level", () => {
  const site = siteDir();
  const names = readdirSync(site);
  assert.ok(names.includes("index.html"));
  assert.ok(names.some((n) => n.endsWith(".js")));
  assert.ok(names.includes("openjpeg.wasm") && names.includes("qcms_bg.wasm"));
  assert.match(readFileSync(join(site, "VERSION.txt"), "utf8"), /^PdfCraft web \d+\.\d+\.\d+ \(built in\)/);

  // Everything the page and the bundle load is relative to the site and present in it.
  const html = readFileSync(join(site, "index.html"), "utf8");
  const refs = [...html.matchAll(/(?:src|href)="([^"]+)"/g)].map((m) => m[1]);
  assert.deepEqual(refs.sort(), ["pdfcraft.css", "pdfcraft.js"]);
  for (const ref of refs) assert.ok(existsSync(join(site, ref)), ref);
  const bundle = readFileSync(join(site, "pdfcraft.js"), "utf8");
  for (const ref of ["pdf.worker.js", "cmaps/", "standard_fonts/", "iccs/"]) {
    assert.ok(bundle.includes(`"${ref}"`), `bundle refers to ${ref}`);
    assert.ok(existsSync(join(site, ref)), ref);
  }
  assert.ok(readdirSync(join(site, "cmaps")).length > 100);
});

test("the site's WebAssembly compiles, and a broken module is named", async () => {
  const site = siteDir();
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
    const bindings = await compileSiteModules(wasm, base);
    assert.deepEqual(Object.keys(bindings.modules).sort(), wasm.sort());
    assert.ok(bindings.modules["openjpeg.wasm"].exports.length > 0);

    globalThis.fetch = serve("qcms_bg.wasm");
    await assert.rejects(compileSiteModules(wasm, base), /^Error: qcms_bg\.wasm: /);
    await assert.rejects(compileSiteModules(["missing.wasm"], base), /missing\.wasm: status 404/);
    await assert.rejects(compileSiteModules([], base), /without its WebAssembly/);
  } finally {
    globalThis.fetch = realFetch;
  }
});

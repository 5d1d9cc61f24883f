// Compiles the site's WebAssembly modules (pdf.js's image and colour decoders) before anything
// else, so a build whose modules are missing or broken says so at once. The build writes their
// names into the bundle.

async function compileOne(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url.pathname.split("/").pop()}: status ${response.status}`);
  if (WebAssembly.compileStreaming && response.headers.get("Content-Type") === "application/wasm") {
    return WebAssembly.compileStreaming(response);
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

// Resolves to the description that becomes window.wasmBindings; rejects naming the module that failed.
export async function compileSiteModules(names, base) {
  if (typeof WebAssembly !== "object") throw new Error("this window has no WebAssembly");
  if (names.length === 0) throw new Error("the editor was built without its WebAssembly modules");
  const modules = {};
  await Promise.all(names.map(async (name) => {
    const url = new URL(name, base);
    let module;
    try {
      module = await compileOne(url);
    } catch (error) {
      throw new Error(`${name}: ${error?.message ?? error}`);
    }
    modules[name] = {
      url: url.href,
      exports: WebAssembly.Module.exports(module).map((e) => `${e.kind} ${e.name}`),
      imports: WebAssembly.Module.imports(module).map((i) => `${i.kind} ${i.module}.${i.name}`),
    };
  }));
  return Object.freeze({ base: new URL("./", base).href, modules });
}

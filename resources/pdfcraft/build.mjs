// Builds the PdfCraft site:
//   node build.mjs --work <folder with package.json and node_modules> --out <site folder>
// The sources are copied into the work folder (next to node_modules, where the unit tests import
// them from), bundled with esbuild, and the finished site replaces the output folder in one rename.
import { cpSync, mkdirSync, readdirSync, readFileSync, renameSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

function option(name) {
  const at = process.argv.indexOf(name);
  if (at < 0 || !process.argv[at + 1]) {
    console.error(`usage: node build.mjs --work <folder> --out <folder> (missing ${name})`);
    process.exit(2);
  }
  return resolve(process.argv[at + 1]);
}

const source = dirname(fileURLToPath(import.meta.url));
const work = option("--work");
const out = option("--out");
const modules = join(work, "node_modules");
const require = createRequire(join(work, "package.json"));
const esbuild = require("esbuild");
const pdfjs = dirname(require.resolve("pdfjs-dist/package.json"));
const pdflib = dirname(require.resolve("pdf-lib/package.json"));
const fontkit = dirname(require.resolve("@pdf-lib/fontkit/package.json"));
const dejavu = dirname(require.resolve("dejavu-fonts-ttf/package.json"));
const { version } = JSON.parse(readFileSync(join(source, "package.json"), "utf8"));

const staging = `${out}.partial`;
rmSync(staging, { recursive: true, force: true });
mkdirSync(staging, { recursive: true });

rmSync(join(work, "src"), { recursive: true, force: true });
cpSync(join(source, "src"), join(work, "src"), { recursive: true });

// pdf.js's WebAssembly decoders sit at the site's top level, where its wasmUrl points.
const wasm = readdirSync(join(pdfjs, "wasm")).filter((name) => name.endsWith(".wasm") && !name.startsWith("quickjs"));
if (!wasm.includes("openjpeg.wasm") || !wasm.includes("qcms_bg.wasm")) {
  throw new Error(`pdfjs-dist has no openjpeg.wasm/qcms_bg.wasm in ${join(pdfjs, "wasm")}`);
}
for (const name of wasm) cpSync(join(pdfjs, "wasm", name), join(staging, name));

await esbuild.build({
  entryPoints: [join(work, "src", "main.js")],
  outfile: join(staging, "pdfcraft.js"),
  bundle: true,
  format: "esm",
  platform: "browser",
  target: "es2022",
  minify: true,
  legalComments: "eof",
  nodePaths: [modules],
  define: { __PDFCRAFT_WASM__: JSON.stringify(wasm.sort()) },
  logLevel: "warning",
});

// The worker is served as .js: the scheme serves .mjs as application/octet-stream, which a
// module worker refuses.
cpSync(join(pdfjs, "build", "pdf.worker.min.mjs"), join(staging, "pdf.worker.js"));
for (const folder of ["cmaps", "standard_fonts", "iccs"]) {
  cpSync(join(pdfjs, folder), join(staging, folder), { recursive: true });
}
cpSync(join(source, "index.html"), join(staging, "index.html"));
// pdf.js's own rules for its text, form and XFA layers come first in the site's one stylesheet.
const viewerCss = readFileSync(join(pdfjs, "web", "pdf_viewer.css"), "utf8");
// The rules from the text layer up to the XFA layer's end (the second :root block after them).
const layersFrom = viewerCss.indexOf("\n.textLayer{");
const layersTo = viewerCss.indexOf("\n:root{", viewerCss.indexOf("\n.xfaLayer", layersFrom));
if (layersFrom < 0 || layersTo < 0) throw new Error("pdf_viewer.css has no text, form and XFA layer rules where expected");
writeFileSync(join(staging, "pdfcraft.css"), `${viewerCss.slice(layersFrom, layersTo)}\n${readFileSync(join(source, "pdfcraft.css"), "utf8")}`);
// Placed text and form values are written in DejaVu Sans; only the one face is shipped.
mkdirSync(join(staging, "fonts"));
cpSync(join(dejavu, "ttf", "DejaVuSans.ttf"), join(staging, "fonts", "DejaVuSans.ttf"));
mkdirSync(join(staging, "licenses"));
cpSync(join(dejavu, "LICENSE"), join(staging, "licenses", "dejavu-fonts.txt"));
// @pdf-lib/fontkit ships no licence file; its package names the licence.
const fontkitPackage = JSON.parse(readFileSync(join(fontkit, "package.json"), "utf8"));
writeFileSync(join(staging, "licenses", "fontkit.txt"),
  `${fontkitPackage.name} ${fontkitPackage.version} by ${fontkitPackage.author}: ${fontkitPackage.license} licence.\n`);
cpSync(join(pdfjs, "LICENSE"), join(staging, "licenses", "pdfjs-dist.txt"));
cpSync(join(pdflib, "LICENSE.md"), join(staging, "licenses", "pdf-lib.txt"));
writeFileSync(join(staging, "VERSION.txt"), `PdfCraft web ${version} (built in)\n`);

rmSync(out, { recursive: true, force: true });
renameSync(staging, out);
console.log(`PdfCraft ${version}: site written to ${out}`);

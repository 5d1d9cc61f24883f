// The editor's modules import pdf-lib, which is installed only in the build folder's copy of
// the site (PDFCRAFT_WORK_DIR, set by tests/CMakeLists.txt). The tests import from there.
import { createRequire } from "node:module";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

function folder(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run these tests through ctest (pdfcraft_unit) after building pdfcraft_site`);
  return value;
}

export const workDir = folder("PDFCRAFT_WORK_DIR");
export const siteDir = () => folder("PDFCRAFT_SITE_DIR");
export const importSource = (name) => import(pathToFileURL(join(workDir, "src", name)).href);
const require = createRequire(join(workDir, "package.json"));
export const pdfLib = await import(pathToFileURL(require.resolve("pdf-lib")).href);
export const pdfjs = await import(pathToFileURL(require.resolve("pdfjs-dist/legacy/build/pdf.mjs")).href);
export const napi = require("@napi-rs/canvas");

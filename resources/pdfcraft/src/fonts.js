// The font placed text and form values are written in: DejaVu Sans, shipped with the site and
// embedded as a subset, so Latin (Vietnamese included), Greek and Cyrillic names come out the
// same in every reader and stay searchable. Scripts whose letters must be joined or reordered
// (shaped) are refused, because pdf-lib writes glyphs one after another as they are typed.
import fontkit from "@pdf-lib/fontkit";

export class TextError extends Error {}

export const FONT_FILE = "fonts/DejaVuSans.ttf";
export const FONT_NAME = "DejaVu Sans";

let source = async () => {
  const response = await fetch(new URL(FONT_FILE, document.baseURI));
  if (!response.ok) throw new Error(`${FONT_FILE}: ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
};
let loaded = null;

// Where the font's bytes come from (the tests read them from the package's folder).
export function useFontSource(load) {
  source = load;
  loaded = null;
}

async function font() {
  loaded ??= (async () => {
    const bytes = await source();
    return { bytes, face: fontkit.create(bytes) };
  })().catch((error) => {
    loaded = null;
    throw new TextError(`The text font couldn't be loaded (${error?.message ?? error}).`);
  });
  return loaded;
}

// Script, and why it can't be written yet.
const SHAPED = [
  ["Arabic", "its letters join and it runs right to left"],
  ["Hebrew", "it runs right to left"],
  ["Syriac", "its letters join and it runs right to left"],
  ["Thaana", "it runs right to left"],
  ["Nko", "its letters join and it runs right to left"],
  ["Devanagari", "its letters combine into clusters"],
  ["Bengali", "its letters combine into clusters"],
  ["Gurmukhi", "its letters combine into clusters"],
  ["Gujarati", "its letters combine into clusters"],
  ["Oriya", "its letters combine into clusters"],
  ["Tamil", "its letters combine into clusters"],
  ["Telugu", "its letters combine into clusters"],
  ["Kannada", "its letters combine into clusters"],
  ["Malayalam", "its letters combine into clusters"],
  ["Sinhala", "its letters combine into clusters"],
  ["Thai", "its marks stack above and below letters"],
  ["Lao", "its marks stack above and below letters"],
  ["Tibetan", "its letters stack"],
  ["Myanmar", "its letters combine into clusters"],
  ["Khmer", "its letters combine into clusters"],
  ["Mongolian", "its letters join and it runs top to bottom"],
].map(([script, why]) => [script, why, new RegExp(`\\p{Script=${script}}`, "u")]);

// Text as it will be written: composed (so Vietnamese marks sit on their letters) and without
// characters that draw nothing.
export function normalizeText(text) {
  return String(text ?? "").normalize("NFC").replace(/[\u200B-\u200D\uFEFF]/g, "");
}

// Throws a TextError naming the first thing in `text` that can't be written; `where` (e.g. a
// field's name) is added to the message. Returns the normalized text.
export async function checkWritable(text, where = "") {
  const normal = normalizeText(text);
  const suffix = where ? ` (${where})` : "";
  for (const [script, why, pattern] of SHAPED) {
    const found = normal.match(pattern);
    if (found) {
      throw new TextError(`${script} text such as “${found[0]}” can't be written yet: ${why}, `
        + `and PdfCraft places letters one after another${suffix}.`);
    }
  }
  const { face } = await font();
  for (const ch of normal) {
    if (ch === "\n" || ch === "\r" || ch === "\t") continue;
    if (!face.hasGlyphForCodePoint(ch.codePointAt(0))) {
      const code = ch.codePointAt(0).toString(16).toUpperCase().padStart(4, "0");
      throw new TextError(`${FONT_NAME}, the font text is written in, has no character “${ch}” (U+${code})${suffix}.`);
    }
  }
  return normal;
}

// Embeds the font into a pdf-lib document as a subset of the characters used.
export async function embedTextFont(doc) {
  const { bytes } = await font();
  doc.registerFontkit(fontkit);
  return doc.embedFont(bytes, { subset: true });
}

// Sizes for the text of multi-line form fields. A field whose size is left to the reader ("0 Tf")
// is drawn by pdf-lib as large as its box allows and that size is written back into the field, so
// a short address comes out in letters an inch high, in the saved file and in pdf.js's form layer.
export const MULTILINE_SIZES = { largest: 12, smallest: 4 };
const LINE_HEIGHT = 1.2;

// The size a multi-line field's appearance string asks for, if it is a sensible one; otherwise
// (left to the reader, or larger than anyone writes a form in) the largest sensible one.
export function sensibleSize(asked) {
  return asked > 0 && asked <= MULTILINE_SIZES.largest ? asked : MULTILINE_SIZES.largest;
}

// The largest size up to `largest` at which `text`, wrapped at spaces, fits a box of
// width x height points with 2 points of padding around it (pdf-lib's `font` measures it).
export function multilineSize(text, font, width, height, largest = MULTILINE_SIZES.largest) {
  const inner = Math.max(1, width - 4);
  const room = height - 4;
  const linesAt = (size) => {
    let lines = 0;
    for (const paragraph of text.split(/\r\n?|\n/)) {
      let line = "";
      lines += 1;
      for (const word of paragraph.split(" ")) {
        const next = line === "" ? word : `${line} ${word}`;
        if (line !== "" && font.widthOfTextAtSize(next, size) > inner) {
          lines += 1;
          line = word;
        } else {
          line = next;
        }
      }
    }
    return lines;
  };
  for (let size = largest; size > MULTILINE_SIZES.smallest; size -= 0.5) {
    if (linesAt(size) * size * LINE_HEIGHT <= room) return size;
  }
  return MULTILINE_SIZES.smallest;
}

// Where the document comes from and what it is called.

// The document address from the page's query (?file=...), or null when the editor starts empty.
export function documentAddress(search) {
  const file = new URLSearchParams(search).get("file");
  return file ? file : null;
}

// The file name is the address's last path segment.
export function fileNameOf(address) {
  let path;
  try {
    path = new URL(address).pathname;
  } catch {
    path = String(address).split(/[?#]/)[0];
  }
  const last = path.split("/").filter(Boolean).pop() ?? "";
  let name;
  try {
    name = decodeURIComponent(last);
  } catch {
    name = last;
  }
  return name || "document.pdf";
}

// "Form.pdf" becomes "Form-edited.pdf"; a name without ".pdf" gains it.
export function editedName(name) {
  const base = String(name || "document").replace(/\.pdf$/i, "") || "document";
  return `${base}-edited.pdf`;
}

export class FetchError extends Error {}

// Fetches the document's bytes. A 404 that says "gone" is a hand-over that has expired.
export async function fetchDocument(address, fetchImpl = fetch) {
  let response;
  try {
    response = await fetchImpl(address);
  } catch (error) {
    throw new FetchError(`The document couldn't be loaded (${error?.message ?? error}).`);
  }
  if (!response.ok) {
    const body = response.status === 404 ? (await response.text().catch(() => "")).trim() : "";
    if (body === "gone") {
      throw new FetchError("This document was handed to PdfCraft too long ago and is no longer available. "
        + "Open it again from Quillpost.");
    }
    if (response.status === 404) throw new FetchError("The document wasn't found.");
    throw new FetchError(`The document couldn't be loaded (status ${response.status}).`);
  }
  const bytes = new Uint8Array(await response.arrayBuffer());
  if (bytes.length === 0) throw new FetchError("The document is empty.");
  return bytes;
}

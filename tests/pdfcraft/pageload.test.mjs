import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource } from "./helpers.mjs";

const { loadPages } = await importSource("pageload.js");

// A pdf.js document whose pages arrive only when the test lets them.
function slowDocument(count) {
  const waiting = new Map();
  const pdf = { numPages: count, asked: [] };
  pdf.getPage = (number) => {
    pdf.asked.push(number);
    return new Promise((resolve, reject) => waiting.set(number, { resolve, reject }));
  };
  pdf.arrive = (number) => waiting.get(number).resolve({ number });
  pdf.fail = (number) => waiting.get(number).reject(new Error(`page ${number} is broken`));
  return pdf;
}

const tick = () => new Promise((resolve) => setImmediate(resolve));
const numbers = (pages) => pages.map((page) => page?.number ?? null);

// Starts loading, checks page 1 is asked for on its own first, and lets it arrive (or fail).
async function opened(count, { firstFails = false } = {}) {
  const pdf = slowDocument(count);
  const opening = loadPages(pdf);
  await tick();
  assert.deepEqual(pdf.asked, [1], "page 1 is asked for on its own first");
  pdf[firstFails ? "fail" : "arrive"](1);
  return { pdf, loaded: await opening };
}

test("the first page is handed over before the others are known, and the rest fill in as they come", async () => {
  const { pdf, loaded } = await opened(4);
  assert.deepEqual([numbers(loaded.pages), pdf.asked], [[1, null, null, null], [1, 2, 3, 4]]);
  const heard = [];
  loaded.onPage = (index, page) => heard.push([index, page.number]);
  pdf.arrive(3);
  await tick();
  assert.deepEqual([heard, numbers(loaded.pages)], [[[2, 3]], [1, null, 3, null]]);
  pdf.arrive(2);
  pdf.arrive(4);
  assert.deepEqual([numbers(await loaded.ready), heard], [[1, 2, 3, 4], [[2, 3], [1, 2], [3, 4]]]);
});

test("a one-page file is ready at once, and a page that can't be read fails `ready`, or the opening if it is the first", async () => {
  assert.deepEqual(numbers(await (await opened(1)).loaded.ready), [1]);
  const { pdf, loaded } = await opened(3);
  pdf.fail(2);
  pdf.arrive(3);
  await assert.rejects(loaded.ready, /page 2 is broken/);
  assert.equal(loaded.pages[1], null, "the broken page stays empty");
  await assert.rejects(opened(2, { firstFails: true }), /page 1 is broken/);
});

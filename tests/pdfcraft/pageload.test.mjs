import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource } from "./build-copy.mjs";

const { loadPages } = await importSource("pageload.js");

// A pdf.js document whose pages arrive only when the test lets them.
function slowDocument(count) {
  const waiting = new Map();
  const asked = [];
  return {
    numPages: count,
    asked,
    getPage(number) {
      asked.push(number);
      return new Promise((resolve, reject) => waiting.set(number, { resolve, reject }));
    },
    arrive(number) { waiting.get(number).resolve({ number }); },
    fail(number) { waiting.get(number).reject(new Error(`page ${number} is broken`)); },
  };
}

const tick = () => new Promise((resolve) => setImmediate(resolve));

test("the first page is handed over before the others are known, and the rest fill in as they come", async () => {
  const pdf = slowDocument(4);
  const opening = loadPages(pdf);
  await tick();
  assert.deepEqual(pdf.asked, [1], "page 1 is asked for on its own first");
  pdf.arrive(1);
  const loaded = await opening;
  assert.deepEqual(loaded.pages.map((p) => p?.number ?? null), [1, null, null, null]);
  assert.deepEqual(pdf.asked, [1, 2, 3, 4]);

  const heard = [];
  loaded.onPage = (index, page) => heard.push([index, page.number]);
  pdf.arrive(3);
  await tick();
  assert.deepEqual(heard, [[2, 3]]);
  assert.deepEqual(loaded.pages.map((p) => p?.number ?? null), [1, null, 3, null]);
  pdf.arrive(2);
  pdf.arrive(4);
  assert.deepEqual((await loaded.ready).map((p) => p.number), [1, 2, 3, 4]);
  assert.deepEqual(heard, [[2, 3], [1, 2], [3, 4]]);
});

test("a one-page file is ready at once, and a page that can't be read fails only `ready`", async () => {
  const single = slowDocument(1);
  const opening = loadPages(single);
  await tick();
  single.arrive(1);
  const one = await opening;
  assert.deepEqual((await one.ready).map((p) => p.number), [1]);

  const broken = slowDocument(3);
  const openingBroken = loadPages(broken);
  await tick();
  broken.arrive(1);
  const loaded = await openingBroken;
  broken.fail(2);
  broken.arrive(3);
  await assert.rejects(loaded.ready, /page 2 is broken/);
  assert.equal(loaded.pages[1], null);

  const unreadable = slowDocument(2);
  const failing = loadPages(unreadable);
  await tick();
  unreadable.fail(1);
  await assert.rejects(failing, /page 1 is broken/);
});

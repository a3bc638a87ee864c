// The folder page at a phone's size in headless Chromium against a real `marlix-cli share`: rows
// of at least 44 px with wrapped names and sizes, no sideways scrolling at 360 px, subfolders under
// their paths, the archive link's count and total, thumbnails for pictures (a broken one shows its
// plain row), the sandbox header, and nothing loaded from elsewhere.
//   node folder_page.test.mjs MARLIX_CLI

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import assert from 'node:assert/strict';
import { launchBrowser, startCli } from './marlix.mjs';

const [cliPath] = process.argv.slice(2);
const shared = fs.mkdtempSync(path.join(os.tmpdir(), 'marlix-folder-'));
const folder = path.join(shared, '旅行 Trip');
let cli = null;
let browser = null;

async function main() {
  browser = await launchBrowser();
  // Pictures drawn by the browser itself.
  const maker = await browser.newPage();
  const pictures = await maker.evaluate(() => {
    const c = document.createElement('canvas');
    c.width = 1200;
    c.height = 800;
    const g = c.getContext('2d');
    for (let i = 0; i < 40; i++) {
      g.fillStyle = `hsl(${i * 9},70%,50%)`;
      g.fillRect((i * 97) % 1100, (i * 53) % 700, 120, 90);
    }
    return { jpg: c.toDataURL('image/jpeg', 0.9), png: c.toDataURL('image/png') };
  });
  fs.mkdirSync(path.join(folder, 'day1'), { recursive: true });
  fs.writeFileSync(path.join(folder, 'beach.jpg'), Buffer.from(pictures.jpg.split(',')[1], 'base64'));
  fs.writeFileSync(path.join(folder, 'day1', 'map.png'), Buffer.from(pictures.png.split(',')[1], 'base64'));
  fs.writeFileSync(path.join(folder, 'broken.jpg'), 'not a picture');
  const longName = '一个非常非常长的文件名_' + 'x'.repeat(120) + '.txt';
  fs.writeFileSync(path.join(folder, 'day1', longName), 'y'.repeat(1536));
  fs.writeFileSync(path.join(folder, 'day1', '<b>&"x\'.txt'), '');

  cli = await startCli(cliPath, ['share', folder]);
  const address = cli.lines[0].split(' ')[0];
  const seen = [];
  for (const width of [390, 360]) {
    const context = await browser.newContext({ locale: 'zh-CN', viewport: { width, height: 844 }, isMobile: true });
    const page = await context.newPage();
    page.on('request', (r) => seen.push(r.url()));
    const reply = await page.goto(address);
    // Sandboxed with no script allowed to run; scripting stays on only so that lazy loading works.
    assert.equal(reply.headers()['content-security-policy'], "sandbox allow-scripts; script-src 'none'");
    await page.waitForLoadState('networkidle');
    const layout = await page.evaluate(() => ({
      scrollWidth: document.scrollingElement.scrollWidth,
      rows: [...document.querySelectorAll('li a')].map((a) => ({
        name: a.querySelector('.nm').textContent,
        size: a.querySelector('.sz').textContent,
        height: a.getBoundingClientRect().height,
        right: a.getBoundingClientRect().right,
        thumb: a.querySelector('img') ? a.querySelector('img').naturalWidth : null,
      })),
      headings: [...document.querySelectorAll('h2')].map((h) => h.textContent),
      zip: document.querySelector('a.zip').textContent,
      zipHeight: document.querySelector('a.zip').getBoundingClientRect().height,
    }));
    assert.ok(layout.scrollWidth <= width, `page scrolls sideways at ${width} px: ${layout.scrollWidth}`);
    assert.deepEqual(layout.rows.map((r) => r.name), ['beach.jpg', 'broken.jpg', '<b>&"x\'.txt', 'map.png', longName]);
    for (const r of layout.rows) {
      assert.ok(r.height >= 44, `row ${r.name} is ${r.height} px tall`);
      assert.ok(r.right <= width, `row ${r.name} reaches ${r.right} px`);
    }
    const long = layout.rows[4];
    assert.ok(long.height > layout.rows[0].height, 'the long name is not wrapped');
    assert.equal(long.size, '1.5 KB');
    assert.deepEqual(layout.headings, ['day1/']);
    assert.ok(layout.zip.startsWith('打包下载') && layout.zip.includes('5 个文件'), layout.zip);
    assert.ok(layout.zipHeight >= 44);
    // Thumbnails for the two pictures, within 256 px; the broken one shows the plain row.
    assert.ok(layout.rows[0].thumb > 0 && layout.rows[0].thumb <= 256, 'no thumbnail for beach.jpg');
    assert.ok(layout.rows[3].thumb > 0 && layout.rows[3].thumb <= 256, 'no thumbnail for map.png');
    assert.equal(layout.rows[1].thumb, 0);
    assert.equal(layout.rows[1].height, layout.rows[2].height, 'the broken picture\'s row differs from a plain one');
    await context.close();
  }
  const origin = new URL(address).origin;
  assert.deepEqual(seen.filter((u) => !u.startsWith(origin + '/')), [], 'the page loaded something from elsewhere');
  console.log('folder page: all checks passed');
}

let status = 0;
try {
  await main();
} catch (e) {
  console.error(e);
  status = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  if (cli) await cli.stop();
  fs.rmSync(shared, { recursive: true, force: true });
}
process.exit(status);

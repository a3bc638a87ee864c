// A text the PC shares (`marlix-cli share --text`), on a phone in headless Chromium: shown exactly
// (escaped, never markup), sandboxed with only its own script, and copied by its button.
//   node text_page.test.mjs MARLIX_CLI

import assert from 'node:assert/strict';
import { launchBrowser, startCli } from './marlix.mjs';

const [cliPath] = process.argv.slice(2);
let cli = null;
let browser = null;

async function main() {
  const text = '<b>会议链接</b> & "x" https://example.org/?a=1\nline 2 <script>alert(1)</script>';
  cli = await startCli(cliPath, ['share', '--text', text]);
  const [address, kind] = cli.lines[0].split(' ');
  assert.match(address, /\/m\?t=[^&]+$/);
  assert.equal(kind, 'text');
  browser = await launchBrowser();
  const page = await (await browser.newContext({ locale: 'zh-CN', viewport: { width: 390, height: 844 } })).newPage();
  const dialogs = [];
  page.on('dialog', (d) => {
    dialogs.push(d.message());
    d.dismiss();
  });
  const reply = await page.goto(address);
  assert.match(reply.headers()['content-security-policy'], /^sandbox allow-scripts; script-src 'nonce-[^']+'$/);
  assert.equal(await page.textContent('#text'), text);
  assert.equal(await page.$$eval('#text *', (e) => e.length), 0, 'the text became markup');
  await page.click('#copy');
  assert.equal(await page.textContent('#state'), '已复制');
  assert.deepEqual(dialogs, []);
  console.log('text page: all checks passed');
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
}
process.exit(status);

// The setup dialog of `wassetup ui` in a real browser: Debian's Chromium, headless, driven by
// Playwright. scripts/browser-test.sh starts the server as an operator does, with a fake
// xdg-open that notes the entry page it was given: WASSETUP_UI_ENTRY is that page (a file://
// address) and WASSETUP_UI_ORIGIN the server's http://127.0.0.1:PORT; WASSETUP_WORK_DIR is a
// scratch folder whose fake-java the deployment runs. A server that runs under Wine names that
// folder with WASSETUP_SERVER_DRIVE (Z:) in front and backslashes.
// The tests share one page and one server, in order; each sets up the fields it relies on.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, beforeEach, test } from 'node:test';

import { chromium } from 'playwright-core';

const entry = process.env.WASSETUP_UI_ENTRY;
const origin = process.env.WASSETUP_UI_ORIGIN;
const workDir = process.env.WASSETUP_WORK_DIR;
const serverDrive = process.env.WASSETUP_SERVER_DRIVE;
const onServer = (file) => (serverDrive ? serverDrive + file.replaceAll('/', '\\') : file);
const screenshotDir = process.env.SCREENSHOT_DIR || '';
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
if (!entry || !origin || !workDir) {
  throw new Error('run through scripts/browser-test.sh: WASSETUP_UI_ENTRY, WASSETUP_UI_ORIGIN ' +
    'and WASSETUP_WORK_DIR');
}
const port = Number(new URL(origin).port);
// The one-time code, in the entry page; spent when the browser opens that page.
const code = fs.readFileSync(new URL(entry), 'utf8').match(/\?code=([0-9a-f]{64})/)[1];
let session = {}; // the headers of the page's own calls (the cookie and the page secret)

let browser;
let page;
const scriptErrors = [];

// ---- Helpers ----

// A request straight to the server, with exactly the headers given (Host included).
function request(pathname, { method = 'GET', headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const outgoing = http.request(
      { host: '127.0.0.1', port, path: pathname, method, headers: { Host: `127.0.0.1:${port}`, ...headers } },
      (response) => {
        let text = '';
        response.setEncoding('utf8');
        response.on('data', (chunk) => { text += chunk; });
        response.on('end', () => resolve({ status: response.statusCode, text }));
      });
    outgoing.on('error', reject);
    if (body !== undefined) {
      outgoing.setHeader('Content-Type', 'application/json');
      outgoing.end(JSON.stringify(body));
    } else {
      outgoing.end();
    }
  });
}

async function form() {
  const reply = await request('/api/form', { headers: session });
  assert.equal(reply.status, 200, reply.text);
  return JSON.parse(reply.text);
}

// Waits until the page has handled every action it queued.
async function settle() {
  await page.waitForFunction(() => document.body.dataset.busy === 'false');
}

const tab = (title) => page.getByRole('tab', { name: title, exact: true });
const widget = (name) => page.locator(`[data-name="${name}"]`);

async function showTab(title) {
  await tab(title).click();
  await page.waitForFunction((name) =>
    [...document.querySelectorAll('[role=tab]')].some((t) =>
      t.textContent === name && t.getAttribute('aria-selected') === 'true'), title);
}

// Types into the editor of that resource name as the operator does: the text, then Tab.
async function typeInto(name, text) {
  const input = widget(name);
  await input.fill(text);
  await input.press('Tab');
  await settle();
}

async function screenshot(name) {
  if (screenshotDir) {
    fs.mkdirSync(screenshotDir, { recursive: true });
    await page.screenshot({ path: path.join(screenshotDir, name) });
  }
}

async function setChecked(name, checked) {
  const box = widget(name);
  if ((await box.isChecked()) !== checked) {
    await box.click();
    await settle();
  }
  assert.equal(await box.isChecked(), checked);
}

// ---- The browser ----

before(async () => {
  // Playwright starts Chromium with a fresh profile folder of its own for each launch.
  browser = await chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const context = await browser.newContext({ viewport: { width: 1100, height: 700 } });
  page = await context.newPage();
  page.setDefaultTimeout(8000);
  page.on('pageerror', (error) => scriptErrors.push(error.message));
  // The entry page leads to the address with the code, whose answer sets the cookie and leads
  // on to the dialog itself.
  await page.goto(entry);
  await page.waitForURL(`${origin}/`);
  await page.waitForSelector('[role=tab]');
  await settle();
  const cookie = (await context.cookies(origin)).find((c) => c.name === `wassetup-${port}`);
  assert.ok(cookie, 'the browser got the session cookie');
  assert.equal(cookie.httpOnly, true);
  assert.equal(cookie.sameSite, 'Strict');
  const pageSecret = await page.evaluate(() => sessionStorage.getItem('wassetup-page-secret'));
  assert.match(pageSecret, /^[0-9a-f]{64}$/, 'the tab holds the page secret');
  session = { Cookie: `${cookie.name}=${cookie.value}`, 'X-Wassetup-Page-Secret': pageSecret };
});

// A test that failed half-way may have left a dialog open; the next one starts without.
beforeEach(async () => {
  if (!page) {
    return;
  }
  if (await page.locator('#chooser').evaluate((dialog) => dialog.open)) {
    await page.locator('#chooser-cancel').click();
  }
  await page.evaluate(() => document.querySelectorAll('dialog[open]').forEach((d) => d.close()));
  await settle();
});

after(async () => {
  await browser?.close();
});

// ---- The tests ----

test('the three pages are tabs with the titles the toolkit holds, laid out on their grids', async () => {
  const tree = await form();
  const pageTitles = tree.widgets.filter((w) => w.parentId === null).map((w) => w.title);
  assert.deepEqual(pageTitles, ['QIM Setup', 'QIM Database', 'QIM Message Queues']);
  const tabTitles = await page.getByRole('tab').allTextContents();
  assert.deepEqual(tabTitles, pageTitles);

  const frames = { 'QIM Setup': 'Product directories', 'QIM Database': 'QIM database',
    'QIM Message Queues': 'Message queues' };
  for (const [index, title] of pageTitles.entries()) {
    await showTab(title);
    const panel = page.getByRole('tabpanel');
    assert.equal(await panel.count(), 1, 'one page shows at a time');
    assert.equal(await panel.locator('legend').first().textContent(), frames[title]);
    await screenshot(`tab-${index + 1}.png`);
  }

  // On the setup page each directory row is label | editor | browse button, left to right,
  // and the editor's column is the one that stretches.
  await showTab('QIM Setup');
  const label = await page.getByText('QIM run-time directory', { exact: true }).boundingBox();
  const editor = await widget('QIMRTEditor').boundingBox();
  const browse = await widget('BrowseQIMRT').boundingBox();
  assert.ok(label.x + label.width <= editor.x && editor.x + editor.width <= browse.x,
    JSON.stringify({ label, editor, browse }));
  assert.ok(Math.abs(label.y + label.height / 2 - (editor.y + editor.height / 2)) < 6, 'same row');
  assert.ok(editor.width > 2 * browse.width, 'the editor column takes the extra width');
  // The label names its editor, for the operator and for assistive technology.
  assert.equal(await page.getByLabel('QIM run-time directory').getAttribute('data-name'), 'QIMRTEditor');
  // The database password is a password field.
  await showTab('QIM Database');
  assert.equal(await page.getByLabel('Database password').getAttribute('type'), 'password');
});

test('unchecking the enable box greys out every widget of the three frames at once', async () => {
  const tree = await form();
  const framed = (w) => {
    for (let at = w; at; at = tree.widgets.find((p) => p.id === at.parentId)) {
      if (at.type === 'ZAFDlgFrame') {
        return true;
      }
    }
    return false;
  };
  const editors = tree.widgets.filter((w) => w.type === 'ZAFDlgEditor' && framed(w));
  assert.equal(editors.length, 31, 'seven directory editors, six database ones and eighteen queue ones');
  const inFrames = 'fieldset.frame input, fieldset.frame button';
  const allDisabled = () => page.evaluate((selector) =>
    [...document.querySelectorAll(selector)].map((node) => node.disabled), inFrames);

  await showTab('QIM Setup');
  await setChecked('EnableQimPlugIn', true);
  assert.ok((await allDisabled()).every((disabled) => !disabled), 'all usable while checked');

  await setChecked('EnableQimPlugIn', false);
  const states = await allDisabled();
  assert.equal(states.length, editors.length + 7 + 1, 'the editors, the browse buttons, the create box');
  assert.ok(states.every((disabled) => disabled), 'every widget in a frame is greyed out');
  for (const editor of editors) {
    assert.equal(await widget(editor.name).isDisabled(), true, editor.name);
  }
  assert.equal(await widget('EnableQimPlugIn').isDisabled(), false, 'the box itself stays usable');
  await screenshot('greyed-out.png');
  assert.equal(await page.locator('fieldset.frame.disabled').count(), 3);
  assert.ok((await form()).widgets.filter((w) => w.type === 'ZAFDlgFrame').every((f) => !f.usable));

  await setChecked('EnableQimPlugIn', true);
  assert.ok((await allDisabled()).every((disabled) => !disabled), 'usable again once checked');
});

test('browse opens the chooser on the server\'s folders; OK fills the editor of its row', async () => {
  const local = fs.mkdtempSync(path.join(workDir, 'folders-'));
  for (const name of ['alpha', 'beta', 'beta/inner', '.hidden']) {
    fs.mkdirSync(path.join(local, name));
  }
  fs.writeFileSync(path.join(local, 'a-file'), 'not a folder');
  const root = onServer(local);
  const beta = onServer(path.join(local, 'beta'));
  const chooser = page.locator('#chooser');
  const listed = () => page.locator('#chooser-list button').allTextContents();
  // The listing of that folder is on screen.
  const atPath = (folder) => page.waitForFunction((p) =>
    document.getElementById('chooser-list').dataset.path === p &&
    document.getElementById('chooser-path').value === p, folder);

  await showTab('QIM Setup');
  await typeInto('QIMRTEditor', '');
  await widget('BrowseQIMRT').click();
  await settle();
  assert.ok(await chooser.evaluate((dialog) => dialog.open), 'the chooser is a modal dialog');
  assert.equal((await form()).chooser.name, 'BrowseQimRT', 'the plug-in made a chooser');
  assert.match(await page.locator('#chooser-title').textContent(), /QIM run-time directory/);
  await atPath((await form()).chooser.start);

  // A root has no way up; under Windows the other drives are listed there.
  const top = serverDrive ? `${serverDrive}\\` : '/';
  await page.locator('#chooser-path').fill(top);
  await page.locator('#chooser-path').press('Enter');
  await atPath(top);
  assert.ok(await page.locator('#chooser-up').isDisabled());
  assert.equal((await listed()).includes('C:\\'), Boolean(serverDrive));

  // Navigation: type a folder, go down into one, up again, and down again.
  await page.locator('#chooser-path').fill(root);
  await page.locator('#chooser-path').press('Enter');
  await atPath(root);
  assert.deepEqual(await listed(), ['alpha', 'beta'], 'folders only, hidden ones left out');
  await page.locator('#chooser-list button', { hasText: 'beta' }).click();
  await atPath(beta);
  assert.deepEqual(await listed(), ['inner']);
  await page.locator('#chooser-up').click();
  await atPath(root);
  await page.locator('#chooser-list button', { hasText: 'beta' }).click();
  await atPath(beta);
  await screenshot('chooser.png');

  await page.locator('#chooser-ok').click();
  await settle();
  assert.equal(await chooser.evaluate((dialog) => dialog.open), false);
  assert.equal(await widget('QIMRTEditor').inputValue(), beta);
  assert.equal((await form()).chooser, null, 'the plug-in closed its chooser');

  // The next chooser of that row starts in the folder chosen; Cancel leaves the editor alone.
  await widget('BrowseQIMRT').click();
  await settle();
  await atPath(beta);
  await page.locator('#chooser-cancel').click();
  await settle();
  assert.equal(await chooser.evaluate((dialog) => dialog.open), false);
  assert.equal(await widget('QIMRTEditor').inputValue(), beta);
  assert.equal((await form()).chooser, null);
});

test('Validate with a blank database port switches to the database page and names the field', async () => {
  await showTab('QIM Setup');
  await typeInto('QIMRTEditor', onServer(workDir));
  await showTab('QIM Database');
  await typeInto('DatabasePortEditor', '');
  await showTab('QIM Setup');

  await page.getByRole('button', { name: 'Validate', exact: true }).click();
  await settle();
  const message = page.locator('#message');
  assert.ok(await message.evaluate((dialog) => dialog.open));
  assert.match(await message.innerText(), /Database port/);
  assert.equal(await tab('QIM Database').getAttribute('aria-selected'), 'true');
  assert.equal(await page.getByRole('tabpanel').getAttribute('data-name'), 'QIMDatabasePage');
  await page.locator('#message-close').click();

  await typeInto('DatabasePortEditor', '50000');
  assert.equal(await widget('DatabasePortEditor').inputValue(), '50000');
});

test('a password typed is handed to the plug-in but never shown: not in the page, not in the plan', async () => {
  const secret = `Pw-${Math.random().toString(36).slice(2)}-zz`;
  await showTab('QIM Database');
  await typeInto('DatabasePasswordEditor', secret);

  const leaks = () => page.evaluate((text) => {
    const values = [...document.querySelectorAll('input')].map((input) => input.value);
    return {
      text: document.body.innerText.includes(text),
      values: values.some((value) => value.includes(text)),
      html: document.documentElement.outerHTML.includes(text),
    };
  }, secret);
  assert.deepEqual(await leaks(), { text: false, values: false, html: false });
  assert.equal(await widget('DatabasePasswordEditor').getAttribute('placeholder'), 'set (type to replace)');

  await page.getByRole('button', { name: 'Plan', exact: true }).click();
  await settle();
  const plan = page.locator('#plan-view');
  assert.ok(await plan.evaluate((dialog) => dialog.open));
  const shown = await plan.innerText();
  assert.match(shown, /Password\s+\*{8}/, 'the data source has a password, masked');
  assert.ok(!shown.includes(secret));
  assert.deepEqual(await leaks(), { text: false, values: false, html: false });
  await page.locator('#plan-close').click();

  for (const pathname of ['/api/form', '/api/plan']) {
    const reply = await request(pathname, { headers: session });
    assert.equal(reply.status, 200);
    assert.ok(!reply.text.includes(secret), `${pathname} sends no password`);
  }
});

test('Deploy runs the plan step by step; a failure shows the plug-in\'s message and resumes', async () => {
  const failOn = path.join(workDir, 'fail-on');
  const javaLog = path.join(workDir, 'java.log');
  fs.rmSync(javaLog, { force: true });
  const secret = `Db-${Math.random().toString(36).slice(2)}`;
  await showTab('QIM Setup');
  await typeInto('QIMRTEditor', onServer(workDir));
  await showTab('QIM Database');
  await typeInto('DatabasePasswordEditor', secret);
  await setChecked('EnableCreateDatabase', true);
  await showTab('QIM Message Queues');
  for (const [name, text] of [['MsqPassEditor', 'mq-pw'], ['SMTPEditor', 'mail'],
    ['NUVNavServerEditor', 'nuv'], ['QIMIPEditor', '10.0.0.1'], ['NUVIPEditor', '10.0.0.2'],
    ['FMCIPEditor', '10.0.0.3']]) {
    await typeInto(name, text);
  }
  fs.writeFileSync(failOn, 'nuvdef\n');

  const view = page.locator('#deploy-view');
  const state = () => view.locator('#deploy-message').getAttribute('class');
  await page.getByRole('button', { name: 'Deploy…' }).click();
  await settle();
  assert.ok(await view.evaluate((dialog) => dialog.open));
  assert.equal(await view.locator('.step').count(), 14, 'the plan\'s fourteen steps, waiting');
  await view.getByRole('button', { name: 'Run', exact: true }).click();
  await page.waitForFunction(() =>
    /failed|finished/.test(document.getElementById('deploy-message').className), null, { timeout: 15000 });
  assert.match(await state(), /failed/);
  const problem = await view.locator('#deploy-problem').innerText();
  assert.match(problem, /Writing the NUV queue-manager definition failed/);
  assert.match(problem, /broke on nuvdef/);
  const statuses = await view.locator('.step .badge').allTextContents();
  assert.deepEqual(statuses.slice(3, 6), ['done', 'failed', 'waiting']);
  await screenshot('deploy.png');

  fs.rmSync(failOn);
  const resume = view.getByRole('button', { name: 'Resume from java_nuvdef' });
  await resume.click();
  await page.waitForFunction(() =>
    /finished/.test(document.getElementById('deploy-message').className), null, { timeout: 15000 });
  assert.match(await view.locator('#deploy-message').innerText(), /Deployment finished: 10 of 14/);
  const after = await view.locator('.step .badge').allTextContents();
  assert.deepEqual(after.slice(0, 4), ['not run', 'not run', 'not run', 'not run']);
  assert.ok(after.slice(4).every((status) => status === 'done'), after.join(','));
  // A batch script's echo ends its lines with CR LF.
  const logged = fs.readFileSync(javaLog, 'utf8').replaceAll('\r\n', '\n');
  assert.ok(logged.includes(`\n${secret}\n`), 'the command got the password');
  assert.ok(!(await view.innerText()).includes(secret), 'the page did not');
  await view.getByRole('button', { name: 'Close', exact: true }).click();
});

test('a request needs the cookie and the page secret, through the dialog\'s own Host', async () => {
  const withCookie = { Cookie: session.Cookie };
  const pageSecret = session['X-Wassetup-Page-Secret'];
  const cases = [
    ['/', {}, 403, 'the page without the cookie'],
    ['/api/form', {}, 403, 'the API without the cookie'],
    ['/api/form', withCookie, 403, 'the cookie alone, as another server of 127.0.0.1 replays it'],
    ['/api/form', { 'X-Wassetup-Page-Secret': pageSecret }, 403, 'the page secret alone'],
    ['/api/form', { ...session, Cookie: `wassetup-${port}=${'f'.repeat(64)}` }, 403, 'a wrong secret'],
    [`/?code=${code}`, {}, 403, 'the entry address a second time'],
    ['/api/form', { ...session, Host: `evil.example:${port}` }, 403, 'a foreign Host'],
    ['/api/form', { ...session, Host: `localhost:${port}` }, 403, 'another name of the loopback'],
    ['/api/form', { ...session, Origin: 'http://evil.example' }, 403, 'a foreign Origin'],
    ['/', withCookie, 200, 'the page itself on the cookie alone'],
    ['/api/form', session, 200, 'the page\'s own calls'],
  ];
  for (const [pathname, headers, status, what] of cases) {
    const reply = await request(pathname, { headers });
    assert.equal(reply.status, status, what);
    assert.ok(!reply.text.includes(pageSecret), `${what}: the answer holds no page secret`);
  }
  // An action on the cookie alone changes nothing.
  const box = () => form().then((tree) => tree.widgets.find((w) => w.name === 'EnableQimPlugIn'));
  const { id, state } = await box();
  const toggle = await request('/api/toggle', { method: 'POST', headers: withCookie, body: { id } });
  assert.equal(toggle.status, 403);
  assert.equal((await box()).state, state);
  // And in another browser, which opens the dialog or the same entry page.
  const other = await browser.newContext();
  const otherPage = await other.newPage();
  const refused = await otherPage.goto(`${origin}/`);
  assert.equal(refused.status(), 403);
  assert.match(await otherPage.locator('body').innerText(), /no access/);
  await otherPage.goto(entry);
  await otherPage.waitForURL(`${origin}/?code=${code}`);
  assert.match(await otherPage.locator('body').innerText(), /already used/);
  await other.close();
});

test('a reload keeps the dialog working; another tab of the same browser gets no access', async () => {
  await page.reload();
  await page.waitForSelector('[role=tab]');
  await settle();
  await showTab('QIM Setup');
  const wasChecked = await widget('EnableQimPlugIn').isChecked();
  await setChecked('EnableQimPlugIn', !wasChecked);
  assert.equal((await form()).widgets.find((w) => w.name === 'EnableQimPlugIn').state,
    wasChecked ? 'unchecked' : 'checked', 'the action after the reload reached the plug-in');
  await setChecked('EnableQimPlugIn', wasChecked);

  const otherTab = await page.context().newPage();
  await otherTab.goto(`${origin}/`);
  assert.match(await otherTab.locator('#pages').innerText(), /did not enter the setup dialog/);
  assert.equal(await otherTab.locator('[role=tab]').count(), 0, 'no form is shown');
  await otherTab.close();
});

test('the page raised no script error', () => {
  assert.deepEqual(scriptErrors, []);
});

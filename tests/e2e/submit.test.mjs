// A real browser submits the sample form through a real web server to the gateway, which mails
// it to a real SMTP server. Run by run.sh, which sets up the site and the servers.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const base = process.env.BREVIX_BASE_URL;
const maildir = process.env.BREVIX_MAILDIR;
const gatewayDir = path.join(process.env.BREVIX_SITE, 'cgi-bin');
const work = process.env.BREVIX_WORK;

let browser;

before(async () => {
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
});

function mailFiles() {
  const dir = path.join(maildir, 'new');
  return fs.existsSync(dir) ? fs.readdirSync(dir).sort().map((f) => path.join(dir, f)) : [];
}

async function waitForMails(count, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    const files = mailFiles();
    if (files.length >= count) return files;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.fail(`expected ${count} mails in ${maildir}/new, found ${mailFiles().length}`);
}

function parseMail(file) {
  const out = execFileSync('/usr/bin/python3', [path.join(here, 'parse_mail.py'), file]);
  return JSON.parse(out.toString());
}

const unixLines = (text) => text.replace(/\r\n/g, '\n');

function readGatewayFile(name) {
  const file = path.join(gatewayDir, name);
  return fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '';
}

// The plain form post: the sample form's script is off, as in a browser without scripts.
async function openForm() {
  const page = await browser.newPage({ javaScriptEnabled: false });
  const response = await page.goto(`${base}/form.html`);
  assert.equal(response.status(), 200);
  return page;
}

async function submit(page) {
  const [response] = await Promise.all([page.waitForNavigation(), page.click('#send')]);
  assert.equal(response.status(), 200, `the gateway answered ${response.status()}`);
  return response;
}

test('a complete submission is answered, mailed with its upload, receipted and recorded', async () => {
  const upload = crypto.randomBytes(3000);
  upload[0] = 0; // binary content, NUL bytes included
  const uploadPath = path.join(work, 'brochure-notes.bin');
  fs.writeFileSync(uploadPath, upload);

  const page = await openForm();
  await page.fill('#namereq', 'Anna Müller');
  await page.fill('#mail_from', 'anna@example.org');
  await page.fill('#company', 'Müller & Söhne <b>GmbH</b>');
  await page.check('#int_brochure');
  await page.check('#int_call');
  await page.fill('#comments', 'Please send two copies.');
  await page.setInputFiles('#file', uploadPath);
  await submit(page);

  // What the visitor sees: the response page with the submitted values, as text, never markup.
  assert.equal(await page.textContent('h1'), 'Thank you, Anna Müller!');
  assert.equal(await page.textContent('#v_company'), 'Müller & Söhne <b>GmbH</b>');
  assert.equal(await page.locator('#v_company b').count(), 0);
  assert.equal(await page.textContent('#v_mail'), 'anna@example.org');
  assert.match(await page.textContent('#v_interests'), /Printed brochure\s+A call back/);
  assert.equal(await page.textContent('#v_file'), 'brochure-notes.bin');
  assert.equal(await page.textContent('#reference'), '1');
  await page.close();

  // The mail to the site owner and the receipt to the visitor.
  const mails = (await waitForMails(2)).map(parseMail);
  const main = mails.find((m) => m.headers['X-RcptTo'] === 'owner@localhost');
  const receipt = mails.find((m) => m.headers['X-RcptTo'] === 'anna@example.org');
  assert.ok(main, 'no mail reached owner@localhost');
  assert.ok(receipt, 'no receipt reached anna@example.org');

  assert.equal(main.headers.Subject.trim(), 'Brochure request from Anna Müller');
  assert.match(main.headers.From, /anna@example\.org/);
  assert.match(main.headers.To, /owner@localhost/);
  const body = unixLines(main.texts[0].text);
  assert.match(body, /^New brochure request 1 from Anna Müller$/m);
  assert.match(body, /^Company: {4}Müller & Söhne <b>GmbH<\/b>$/m);
  assert.match(body, /^Interests:\nPrinted brochure\nA call back\n/m);
  assert.match(body, /^Attachment: brochure-notes\.bin$/m);
  assert.match(body, /from 127\.0\.0\.1$/m);
  assert.equal(main.attachments.length, 1);
  assert.equal(main.attachments[0].filename, 'brochure-notes.bin');
  assert.ok(Buffer.from(main.attachments[0].base64, 'base64').equals(upload),
    'the attachment differs from the uploaded file');

  assert.match(unixLines(receipt.texts[0].text), /^Dear Anna Müller,$/m);
  assert.match(unixLines(receipt.texts[0].text), /^Your reference number is 1\.$/m);

  // The results file, the entry log, the reference numbers; no upload left behind.
  assert.match(readGatewayFile('results.csv'),
    /^"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","Anna Müller","anna@example\.org","Müller & Söhne <b>GmbH<\/b>","Printed brochure\r\nA call back","Please send two copies\."\r\n$/);
  assert.match(readGatewayFile('entries.log'), /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\r\n$/);
  assert.match(readGatewayFile('BX-RefNumbers.txt'), /^brochure=1\r\n$/);
  const temp = path.join(gatewayDir, 'Temp');
  assert.deepEqual(fs.existsSync(temp) ? fs.readdirSync(temp) : [], []);
});

test('a submission without the required name shows the missing-information page and sends nothing', async () => {
  const mailsBefore = mailFiles().length;
  const resultsBefore = readGatewayFile('results.csv');

  const page = await openForm();
  await page.fill('#mail_from', 'bert@example.org');
  await page.check('#int_newsletter');
  await submit(page);
  assert.equal(await page.textContent('h1'), 'Some information is missing');
  await page.close();

  // Give a wrongly sent mail time to arrive before concluding that none was sent.
  await new Promise((resolve) => setTimeout(resolve, 1500));
  assert.equal(mailFiles().length, mailsBefore);
  assert.equal(readGatewayFile('results.csv'), resultsBefore);
  assert.match(readGatewayFile('brevix-error.txt'), /Brevix BX Reports: Missing Field namereq\r\n$/);
});

// Apache hands a query string without "=" to a CGI program as its arguments. Neither a file of
// the gateway's folder (results.csv holds visitor text) nor the request-server start words may
// make a request anything but standard CGI: each is answered like a request without the query.
test('a query string never chooses how the gateway runs, and no other file of its folder is served', async () => {
  const mailsBefore = mailFiles().length;
  const answer = async (query) => {
    const response = await fetch(`${base}/cgi-bin/brevix.cgi${query}`);
    return { status: response.status, text: await response.text() };
  };
  const plain = await answer('');
  for (const query of ['?results.csv', '?brevix.ini', '?$$START_SERVER+X']) {
    const got = await answer(query);
    assert.equal(got.status, plain.status, query);
    assert.equal(got.text, plain.text, query);
  }
  assert.ok(!fs.existsSync(path.join(gatewayDir, 'Temp', 'brevix.cgi_s')), 'a request server runs');
  assert.equal(mailFiles().length, mailsBefore);
  // Nothing of the gateway's folder but the program is served, whatever the file's name.
  const decoys = ['upload-decoy.dat', 'brevix.cgi.bak'];
  for (const name of decoys) fs.writeFileSync(path.join(gatewayDir, name), 'secret');
  try {
    for (const name of ['results.csv', 'Temp/brevix.cgi_s', ...decoys]) {
      const status = (await fetch(`${base}/cgi-bin/${name}`)).status;
      assert.ok(status === 403 || status === 404, `${name}: ${status}`);
    }
  } finally {
    for (const name of decoys) fs.rmSync(path.join(gatewayDir, name), { force: true });
  }
});

// A static site on another origin (another port of 127.0.0.1) that serves the sample form, its
// action the gateway's full address, and the sample script.
async function startOtherSite() {
  const form = fs.readFileSync(path.join(process.env.BREVIX_SITE, 'www', 'form.html'), 'utf8')
    .replace('action="/cgi-bin/brevix.cgi"', `action="${base}/cgi-bin/brevix.cgi"`);
  const script = fs.readFileSync(path.join(process.env.BREVIX_SITE, 'www', 'brevix-form.js'));
  const server = http.createServer((request, response) => {
    if (request.url === '/form.html') {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end(form);
    } else if (request.url === '/brevix-form.js') {
      response.writeHead(200, { 'Content-Type': 'text/javascript' });
      response.end(script);
    } else {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, origin: `http://127.0.0.1:${server.address().port}` };
}

function setAllowedOrigins(value) {
  const ini = path.join(gatewayDir, 'brevix.ini');
  const text = fs.readFileSync(ini, 'utf8');
  const line = `Allowed_Origins=${value}\r`;
  fs.writeFileSync(ini, /^Allowed_Origins=.*$/m.test(text)
    ? text.replace(/^Allowed_Origins=.*$/m, line)
    : text.replace(/^\[Options\]\r?$/m, `[Options]\r\n${line}`));
}

async function outcome(page) {
  const status = page.locator('#outcome');
  await page.waitForFunction(() => {
    const value = document.querySelector('#outcome').getAttribute('data-brevix-outcome');
    return value && value !== 'sending';
  });
  return { kind: await status.getAttribute('data-brevix-outcome'), text: await status.textContent() };
}

test('a page on an allowed origin sends the form by script and shows the outcome in place', async () => {
  const allowed = await startOtherSite();
  const other = await startOtherSite();
  try {
    setAllowedOrigins(`https://elsewhere.example, ${allowed.origin}`);
    const upload = Buffer.from('notes for the script post\n');
    const uploadPath = path.join(work, 'script-notes.txt');
    fs.writeFileSync(uploadPath, upload);

    const page = await browser.newPage();
    await page.goto(`${allowed.origin}/form.html`);
    // Nothing filled in: the answer lists mail_from before namereq, but the focus goes to the
    // first of them in the page, and the form's own text replaces the English one.
    const mailsBefore = mailFiles().length;
    await page.evaluate(() => document.querySelector('#brochure')
      .setAttribute('data-brevix-missing', 'Bitte die markierten Felder ausfüllen.'));
    await page.click('#send');
    assert.deepEqual(await outcome(page),
      { kind: 'missing', text: 'Bitte die markierten Felder ausfüllen.' });
    assert.equal(await page.evaluate(() => document.activeElement.id), 'namereq');
    await page.evaluate(() => {
      document.querySelector('#brochure').removeAttribute('data-brevix-missing');
      document.querySelector('#outcome').removeAttribute('data-brevix-outcome');
    });
    // Without the required name: the field is marked, nothing is sent.
    await page.fill('#mail_from', 'carla@example.org');
    await page.click('#send');
    assert.deepEqual(await outcome(page),
      { kind: 'missing', text: 'Please fill in the marked fields.' });
    assert.equal(await page.getAttribute('#namereq', 'aria-invalid'), 'true');
    assert.equal(await page.getAttribute('#mail_from', 'aria-invalid'), null);

    await page.fill('#namereq', 'Carla Script');
    await page.setInputFiles('#file', uploadPath);
    await page.evaluate(() => document.querySelector('#outcome').removeAttribute('data-brevix-outcome'));
    await page.click('#send');
    const sent = await outcome(page);
    assert.equal(sent.kind, 'sent', sent.text);
    const number = await page.getAttribute('#outcome', 'data-brevix-refnum');
    assert.match(number, /^\d+$/);
    assert.equal(sent.text, `Thank you! Your message has been sent. Your reference number is ${number}.`);
    assert.equal(await page.getAttribute('#namereq', 'aria-invalid'), null);
    assert.equal(page.url(), `${allowed.origin}/form.html`);
    await page.close();

    const mails = (await waitForMails(mailsBefore + 2)).slice(mailsBefore).map(parseMail);
    const main = mails.find((m) => m.headers['X-RcptTo'] === 'owner@localhost');
    assert.ok(main, 'no mail reached owner@localhost');
    assert.match(unixLines(main.texts[0].text), new RegExp(`^New brochure request ${number} from Carla Script$`, 'm'));
    assert.equal(main.attachments.length, 1);
    assert.ok(Buffer.from(main.attachments[0].base64, 'base64').equals(upload));

    // The common script idiom: fetch with a JSON body, which the browser preflights, is read
    // field by field and mailed.
    const mailsBeforeJson = mailFiles().length;
    const scripted = await browser.newPage();
    await scripted.goto(`${allowed.origin}/form.html`);
    const answer = await scripted.evaluate(async (url) => {
      const response = await fetch(url, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ namereq: 'Jonas Json', mail_from: 'jonas@example.org' }),
      });
      return { status: response.status, body: await response.json() };
    }, `${base}/cgi-bin/brevix.cgi`);
    await scripted.close();
    assert.equal(answer.status, 200, JSON.stringify(answer.body));
    assert.equal(answer.body.status, 'sent');
    // Mail files sort by name, not always by arrival: the new mail is found by its text.
    const jsonMail = (await waitForMails(mailsBeforeJson + 2)).map(parseMail)
      .find((m) => m.headers['X-RcptTo'] === 'owner@localhost' && /Jonas Json/.test(m.texts[0].text));
    assert.ok(jsonMail, 'no mail of the JSON post reached owner@localhost');
    assert.match(unixLines(jsonMail.texts[0].text),
      new RegExp(`^New brochure request ${answer.body.refnum} from Jonas Json$`, 'm'));

    // Another origin: refused before anything is sent, and the log names it.
    const mailsBeforeOther = mailFiles().length;
    const elsewhere = await browser.newPage();
    await elsewhere.goto(`${other.origin}/form.html`);
    await elsewhere.fill('#namereq', 'Dora Elsewhere');
    await elsewhere.fill('#mail_from', 'dora@example.org');
    await elsewhere.click('#send');
    assert.deepEqual(await outcome(elsewhere),
      { kind: 'error', text: 'The form could not be sent. Please try again later.' });
    assert.equal(await elsewhere.getAttribute('#outcome', 'data-brevix-refnum'), null);
    assert.equal(elsewhere.url(), `${other.origin}/form.html`);
    await elsewhere.close();
    assert.ok(readGatewayFile('brevix-error.txt').endsWith(
      ` Brevix BX Reports: Form posted from a site that is not allowed: ${other.origin}\r\n`));

    // The gateway's own site still posts (its browser sends an Origin too).
    const own = await openForm();
    await own.fill('#namereq', 'Emil Samesite');
    await own.fill('#mail_from', 'emil@example.org');
    await submit(own);
    assert.equal(await own.textContent('h1'), 'Thank you, Emil Samesite!');
    await own.close();
    const mailed = (await waitForMails(mailsBeforeOther + 1)).slice(mailsBeforeOther)
      .map((file) => fs.readFileSync(file, 'utf8')).join('\n');
    assert.match(mailed, /from Emil Samesite/);
    assert.doesNotMatch(mailed, /Dora Elsewhere/, 'the refused post was mailed');
  } finally {
    setAllowedOrigins('');
    allowed.server.close();
    other.server.close();
  }
});

// Uploads never outlive their request, also where the web server ends the program as soon as it
// has the answer (lighttpd does): 57 of 300 once stayed in Temp/.
test('the anti-spam widget solves the gateway\'s challenge on Send and the form is mailed once', async () => {
  const ini = path.join(gatewayDir, 'brevix.ini');
  const original = fs.readFileSync(ini, 'latin1');
  fs.writeFileSync(ini, original.replace(/^PoW_Key=.*$/m,
    `PoW_Key=${crypto.randomBytes(32).toString('hex')}`), 'latin1');
  try {
    const page = await browser.newPage();
    await page.goto(`${base}/form.html`);
    const before = mailFiles().length;
    await page.fill('#namereq', 'Wanda Widget');
    await page.fill('#mail_from', 'wanda@example.org');
    // Nobody ticked the widget: brevix-form.js has it fetch and solve a challenge first.
    const posted = page.waitForRequest((request) => request.method() === 'POST');
    await page.click('#send');
    const solution = new URLSearchParams(await (await posted).postData()).get('altcha')
      ?? (await posted).postData().match(/name="altcha"\r\n\r\n([^\r]+)/)[1];
    const sent = await outcome(page);
    assert.equal(sent.kind, 'sent', sent.text);
    const mails = (await waitForMails(before + 2)).slice(before);  // the mail and the receipt
    assert.equal(mails.filter((file) => /Wanda Widget/.test(fs.readFileSync(file, 'utf8'))).length, 2);
    // The same solution a second time: refused, nothing more sent.
    const again = await page.evaluate(async ([address, value]) => {
      const body = new URLSearchParams({ namereq: 'Wanda Again', mail_from: 'w@example.org', altcha: value });
      const answer = await fetch(address, { method: 'POST', body, headers: { Accept: 'application/json' } });
      return [answer.status, await answer.json()];
    }, [`${base}/cgi-bin/brevix.cgi`, solution]);
    assert.deepEqual([again[0], again[1].error], [403, 'pow']);
    assert.equal(mailFiles().length, before + 2);
    assert.match(readGatewayFile('brevix-error.txt'), /Anti-spam check failed \(reused\)/);
    await page.close();
  } finally {
    fs.writeFileSync(ini, original, 'latin1');
  }
});

test('uploads leave nothing behind', async () => {
  for (let round = 0; round < 10; round++) {
    await Promise.all(Array.from({ length: 4 }, async (_, i) => {
      const form = new FormData();
      form.append('namereq', `Uploader ${round}-${i}`);
      form.append('mail_from', 'uploader@example.org');
      form.append('file', new Blob(['x'.repeat(2000)]), 'notes.txt');
      const response = await fetch(`${base}/cgi-bin/brevix.cgi`, { method: 'POST', body: form });
      assert.equal(response.status, 200);
      await response.text();
    }));
  }
  await new Promise((resolve) => setTimeout(resolve, 500));
  const temp = path.join(gatewayDir, 'Temp');
  const left = fs.existsSync(temp) ? fs.readdirSync(temp).filter((f) => f.endsWith('.tmp')) : [];
  assert.deepEqual(left, []);
});

// Server mode behind the real web server: the first submission starts the request server, which
// then serves them all. (Last: its submissions use up the receipts of this client address.) The web server may end a forwarder as soon as its answer is out; nothing
// of a request may stay in the spool, or a site would soon refuse its visitors.
const fastcgi = (process.env.BREVIX_SERVER || '').includes('fastcgi');
test('in server mode every submission is served once and the spool stays clear', {
  skip: fastcgi && 'a resident FastCGI gateway has no request server',
}, async () => {
  const ini = path.join(gatewayDir, 'brevix.ini');
  const original = fs.readFileSync(ini, 'latin1');
  const marker = path.join(gatewayDir, 'Temp', 'brevix.cgi_s');
  fs.writeFileSync(ini, original.replace('[Options]\r\n', '[Options]\r\nCGI_Mode=Server\r\n'), 'latin1');
  try {
    // Clients that drip their bodies (Apache passes a body on as it comes) hold nothing up: a
    // visitor is answered while ten of them hang.
    const url = new URL(base);
    const drippers = Array.from({ length: 10 }, () => {
      const socket = net.connect(Number(url.port), url.hostname, () => {
        socket.write('POST /cgi-bin/brevix.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n' +
          'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5000\r\n\r\na=');
      });
      socket.on('error', () => {});
      const timer = setInterval(() => socket.write('x'), 500);
      return { socket, timer };
    });
    await new Promise((resolve) => setTimeout(resolve, 1000));
    const started = Date.now();
    const visitor = await fetch(`${base}/cgi-bin/brevix.cgi`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      body: 'namereq=Patient+visitor&mail_from=patient%40example.org',
    });
    assert.equal(visitor.status, 200);
    assert.ok(Date.now() - started < 10000, 'a visitor waited for the dripping clients');
    for (const { socket, timer } of drippers) { clearInterval(timer); socket.destroy(); }
    // Visitors who go away in the middle of an upload (a web server that passes the body on as
    // it comes ends their forwarders): they must hold no place in the spool.
    await Promise.all(Array.from({ length: 10 }, () => new Promise((resolve) => {
      const socket = net.connect(Number(url.port), url.hostname, () => {
        socket.write('POST /cgi-bin/brevix.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n' +
          'Content-Type: multipart/form-data; boundary=zz\r\nContent-Length: 90000\r\n\r\n' +
          '--zz\r\nContent-Disposition: form-data; name="file"; filename="a.bin"\r\n\r\n' +
          'x'.repeat(4000));
        setTimeout(() => { socket.destroy(); resolve(); }, 300);
      });
      socket.on('error', resolve);
    })));
    // Then a crowd at once, more than the server takes: each is thanked and mailed once, or
    // visibly refused (the error page, when the mail server could not keep up) and not mailed.
    const before = new Set(mailFiles());
    const crowd = 50;
    const answers = await Promise.all(Array.from({ length: crowd }, async (_, i) => {
      const response = await fetch(`${base}/cgi-bin/brevix.cgi`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
        body: `namereq=Crowd+${i}+end&mail_from=crowd${i}%40example.org`,
      });
      return [response.status, await response.text()];
    }));
    const thanked = [];
    answers.forEach(([status, text], i) => {
      assert.equal(status, 200, `submission ${i}`);
      if (text.includes(`<h1>Thank you, Crowd ${i} end!</h1>`)) thanked.push(`Crowd ${i} end`);
      else assert.match(text, /<h1>Sorry, your request could not be sent<\/h1>/, `submission ${i}`);
    });
    assert.ok(thanked.length >= crowd - 5, `only ${thanked.length} of ${crowd} were sent`);
    const mailed = () => mailFiles().filter((f) => !before.has(f))
      .map((f) => /request \d+ from (Crowd \d+ end)/.exec(fs.readFileSync(f, 'latin1')))
      .filter(Boolean).map((m) => m[1]).sort();
    const deadline = Date.now() + 60000;
    while (mailed().length < thanked.length && Date.now() < deadline) {
      await new Promise((resolve) => setTimeout(resolve, 200));
    }
    await new Promise((resolve) => setTimeout(resolve, 1000));
    assert.deepEqual(mailed(), thanked.sort());
    assert.ok(fs.existsSync(marker), 'no request server runs');
    await new Promise((resolve) => setTimeout(resolve, 300));
    assert.deepEqual(fs.readdirSync(path.join(gatewayDir, 'Temp')), ['brevix.cgi_s']);
  } finally {
    fs.writeFileSync(ini, original, 'latin1');
    if (fs.existsSync(marker)) {
      const pid = parseInt(fs.readFileSync(marker, 'utf8'), 10);
      try { process.kill(pid, 'SIGTERM'); } catch { /* already gone */ }
      const deadline = Date.now() + 10000;
      while (fs.existsSync(marker) && Date.now() < deadline) {
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
    }
  }
});

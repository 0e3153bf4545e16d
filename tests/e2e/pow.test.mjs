// The proof-of-work guard against the real thing: altcha-lib, the library the ALTCHA widget's
// makers publish, solves the gateway's challenges (both protocols) and checks their signatures;
// the gateway accepts each solution once. Run by run.sh against the site it set up.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { solveChallenge, verifySolution } from 'altcha-lib';
import { deriveKey } from 'altcha-lib/algorithms/sha';
import * as v1 from 'altcha-lib/v1';

// altcha-lib uses the Web Crypto global, which Node.js has only from version 19 on; Debian 12's
// Node.js 18 keeps it in node:crypto.
globalThis.crypto ??= crypto.webcrypto;

const base = process.env.BREVIX_BASE_URL;
const gateway = `${base}/cgi-bin/brevix.cgi`;
const ini = path.join(process.env.BREVIX_SITE, 'cgi-bin', 'brevix.ini');
const newMail = path.join(process.env.BREVIX_MAILDIR, 'new');
const key = crypto.randomBytes(24).toString('hex');
let original;

before(() => {
  original = fs.readFileSync(ini, 'latin1');
  fs.writeFileSync(ini, original.replace(/^PoW_Key=.*\r?\n/m, '')
    .replace('[Options]\r\n', `[Options]\r\nPoW_Key=${key}\r\n`), 'latin1');
});

after(() => fs.writeFileSync(ini, original, 'latin1'));

const mails = () => (fs.existsSync(newMail) ? fs.readdirSync(newMail).length : 0);

async function challenge(query) {
  const response = await fetch(`${gateway}?pow=challenge${query}`);
  assert.equal(response.status, 200);
  assert.match(response.headers.get('cache-control'), /no-store/);
  return response.json();
}

async function post(solution) {
  const body = new URLSearchParams({ namereq: 'Ann', mail_from: 'ann@example.org', altcha: solution });
  const response = await fetch(gateway, { method: 'POST', body, headers: { Accept: 'application/json' } });
  return { status: response.status, answer: await response.json() };
}

// Mail and receipt go for the first post of a solution; its second post is refused unsent.
async function sentOnce(payload) {
  const before = mails();
  assert.deepEqual((await post(payload)).answer.status, 'sent');
  const sent = mails();
  assert.ok(sent > before);
  const again = await post(payload);
  assert.equal(again.status, 403);
  assert.deepEqual(again.answer, { status: 'refused', error: 'pow',
    message: 'The anti-spam check failed, please try again' });
  assert.equal(mails(), sent);
}

test('altcha-lib solves and verifies the current protocol, and the gateway takes it once', async () => {
  const issued = await challenge('');
  const solution = await solveChallenge({ challenge: issued, deriveKey });
  assert.ok(solution, 'altcha-lib found no solution');
  const verdict = await verifySolution({ challenge: issued, solution, deriveKey, hmacSignatureSecret: key });
  assert.equal(verdict.verified, true, JSON.stringify(verdict));
  await sentOnce(btoa(JSON.stringify({ challenge: issued, solution })));
});

test('altcha-lib solves the older SHA-256 protocol, and the gateway takes it once', async () => {
  const issued = await challenge('&protocol=1');
  const found = await v1.solveChallenge(issued.challenge, issued.salt, issued.algorithm, issued.maxnumber).promise;
  assert.ok(found, 'altcha-lib found no number');
  const payload = { algorithm: issued.algorithm, challenge: issued.challenge, number: found.number,
    salt: issued.salt, signature: issued.signature, took: found.took };
  assert.equal(await v1.verifySolution(payload, key), true);
  await sentOnce(btoa(JSON.stringify(payload)));
});

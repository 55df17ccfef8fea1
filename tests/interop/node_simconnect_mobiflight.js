#!/usr/bin/env node
// Interoperability: node-simconnect 4.2.0 (written outside this project) as
// a client of sim-emulator --sim 2024 --mobiflight: it sees MSFS 2024's
// Open, and talks to the module's model over client data the way
// MobiFlight's own client does (map the areas, create them too, which the
// simulator answers with ALREADY_CREATED, listen on the response area,
// write commands).
//
// Usage: node node_simconnect_mobiflight.js <path to sim-emulator>
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

let simconnect;
try {
    simconnect = require(path.join(__dirname, 'node_modules', 'node-simconnect'));
} catch (e) {
    console.error('node-simconnect is not installed in tests/interop/node_modules, so this test is ' +
        'skipped: run `npm ci --prefix tests/interop` (it needs the npm registry) to run it (' +
        e.message.split('\n')[0] + ')');
    process.exit(77);
}
const { open, Protocol } = simconnect;

const [emulatorPath] = process.argv.slice(2);
if (!emulatorPath) {
    console.error('usage: node node_simconnect_mobiflight.js <sim-emulator>');
    process.exit(2);
}

const COMMAND = 0;
const RESPONSE = 1;
const ON_SET = 3;
const CHANGED = 1;
const ALREADY_CREATED = 32;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
async function waitFor(what, predicate, ms = 5000) {
    for (let waited = 0; waited < ms; waited += 10) {
        if (predicate()) {
            return;
        }
        await sleep(10);
    }
    throw new Error(`timed out waiting for ${what}`);
}

function commandBytes(text) {
    const area = Buffer.alloc(1024);
    area.write(text, 'latin1');
    return area;
}

async function main() {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'interop-mobiflight-'));
    const files = { port: path.join(dir, 'port'), trace: path.join(dir, 'trace.jsonl') };
    const emulator = childProcess.spawn(emulatorPath, [
        '--port', '0', '--port-file', files.port, '--trace', files.trace, '--once', '--quiet', '--frame-ms', '5',
        '--sim', '2024', '--mobiflight'], { stdio: ['ignore', 'ignore', 'pipe'] });
    let stderr = '';
    emulator.stderr.on('data', (b) => { stderr += b; });
    const exited = new Promise((resolve) => emulator.on('exit', (code) => resolve(code)));
    const guard = setTimeout(() => {
        console.error('FAIL: the test took too long; stopping the emulator');
        emulator.kill('SIGKILL');
        process.exit(1);
    }, 30000);

    await waitFor('the port file', () => fs.existsSync(files.port) && fs.readFileSync(files.port, 'utf8').endsWith('\n'));
    const port = Number(fs.readFileSync(files.port, 'utf8').trim());
    const { recvOpen, handle } = await open('msfs-panel interop', Protocol.KittyHawk, { host: '127.0.0.1', port });
    assert.equal(recvOpen.applicationName, 'SunRise');
    assert.equal(recvOpen.applicationVersionMajor, 12);
    assert.equal(recvOpen.applicationVersionMinor, 1);
    assert.equal(recvOpen.simConnectVersionMajor, 12);

    const exceptions = [];
    const responses = [];
    handle.on('exception', (e) => exceptions.push(e));
    handle.on('clientData', (d) => {
        if (d.requestID === RESPONSE) {
            responses.push(d.data.readString(1024).replace(/\0+$/, ''));
        }
    });

    handle.mapClientDataNameToID('MobiFlight.Command', COMMAND);
    handle.mapClientDataNameToID('MobiFlight.Response', RESPONSE);
    const created = handle.createClientData(COMMAND, 1024, false);
    handle.addToClientDataDefinition(COMMAND, 0, 1024, 0, 0);
    handle.addToClientDataDefinition(RESPONSE, 0, 1024, 0, 0);
    handle.requestClientData(RESPONSE, RESPONSE, RESPONSE, ON_SET, CHANGED, 0, 0, 0);
    const send = (text) => handle.setClientData(COMMAND, COMMAND, 0, 0, 1024, commandBytes(text));

    send('MF.Ping');
    await waitFor('MF.Pong', () => responses.length >= 1);
    send('MF.Version.Get');
    await waitFor('the version', () => responses.length >= 2);
    send('MF.SimVars.Set.(>H:AS530_DirectTo_Push)');
    send('MF.DummyCmd');
    send('MF.SimVars.Set.(>H:AS530_DirectTo_Push)');
    send('MF.Ping');
    await waitFor('the last MF.Pong', () => responses.length >= 3);

    assert.deepEqual(responses, ['MF.Pong', 'MF.Version.1.0.1', 'MF.Pong']);
    assert.deepEqual(exceptions.map((e) => [e.exception, e.sendId, e.index]), [[ALREADY_CREATED, created, 1]]);

    handle.close();
    const code = await exited;
    clearTimeout(guard);
    assert.equal(code, 0, stderr);
    const trace = fs.readFileSync(files.trace, 'utf8').trim().split('\n').map((l) => JSON.parse(l));
    const hEvents = trace.filter((l) => l.call === 'HEvent');
    assert.equal(hEvents.length, 2);
    assert.deepEqual(Object.keys(hEvents[0]), ['call', 'name', 't_ns']);
    assert.equal(hEvents[0].name, 'AS530_DirectTo_Push');
    const commands = trace.filter((l) => l.call === 'MobiFlight').map((l) => l.command);
    assert.deepEqual(commands, ['MF.Ping', 'MF.Version.Get', 'MF.SimVars.Set.(>H:AS530_DirectTo_Push)', 'MF.DummyCmd',
        'MF.SimVars.Set.(>H:AS530_DirectTo_Push)', 'MF.Ping']);
    fs.rmSync(dir, { recursive: true, force: true });
    console.log('node-simconnect and the MobiFlight model agree');
}

main().catch((e) => {
    console.error(`FAIL: ${e.stack || e}`);
    process.exit(1);
});
